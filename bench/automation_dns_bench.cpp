// What the scriptable DNS object adds to the resolver: 1000 distinct names
// resolved asynchronously through KestNetDNS, called through IDispatch the
// way a script calls it and heard through an event sink (the apartment pumps
// its messages until every OnResolveNameComplete has been fired), against the
// same 1000 names through KestNet::Dns::ResolveNameAsync with a plain
// listener. Both ask dnsmasq on 127.0.0.53 in a private network namespace,
// with the cache bypassed (always query, never store), so the difference is
// the automation layer: Invoke, the record, the posted message, the array of
// addresses and the fired event.
//
//   automation_dns_bench         (needs root or unprivileged user namespaces)
//
// A third run sends 1000 results straight into the object's listener from a
// worker thread, no network at all: the event path alone, per event.
//
// per_name is the batch's wall time divided by 1000; cpu_per_name the
// process's CPU time likewise. At the end the overhead per event is printed:
// the object's per-name time minus the resolver's.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "automation/dns_object.h"
#include "automation/invoke_gate.h"
#include "net/dns/dns.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/com.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/network_namespace.h"
#include "tests/support/temporary_directory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNames = 1000;
constexpr const char* kServer = "127.0.0.53";
constexpr LONG kNoCache = KestNet::DNS_RESOLVE_NAME_ALWAYS_QUERY | KestNet::DNS_RESOLVE_NAME_DONT_CACHE;
constexpr DISPID kDispResolveNameAdvanced = 7;
constexpr DISPID kDispOnResolveNameComplete = 1;

std::wstring NameOf(int index) { return L"host" + std::to_wstring(index) + L".bench.test"; }

// Seconds per name of each run, for the summary at the end.
struct RunTimes {
  double wallPerName = 0;
  double cpuPerName = 0;
};
RunTimes g_direct;
RunTimes g_object;
RunTimes g_eventPath;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void SetPerNameCounters(benchmark::State& state, double wallSeconds, double cpuSeconds, RunTimes& times) {
  const double names = static_cast<double>(kNames) * static_cast<double>(state.iterations());
  times.wallPerName = wallSeconds / names;
  times.cpuPerName = cpuSeconds / names;
  state.counters["per_name"] = benchmark::Counter(times.wallPerName);
  state.counters["cpu_per_name"] = benchmark::Counter(times.cpuPerName);
}

// The scripts' trust decision is not what is measured.
class OpenGate final : public KestAXLib::InvokeGate {
 public:
  HRESULT Admit(const KestAXLib::InvokeGateCall&) override { return S_OK; }
  std::string VendorId() const override { return {}; }
};

// --- The resolver on its own ---------------------------------------------------

class CountingListener final : public KestNet::DNSListener {
 public:
  virtual ~CountingListener() = default;
  void OnResolveNameComplete(const std::wstring&, DWORD result, KestNet::DnsRecordList&) override {
    std::lock_guard lock(m_lock);
    ++m_completed;
    m_failed += result == KestNet::DNS_SUCCESS ? 0 : 1;
    if (m_completed >= kNames) m_changed.notify_all();
  }
  void Reset() {
    std::lock_guard lock(m_lock);
    m_completed = 0;
  }
  bool WaitForAll() {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_completed >= kNames; });
  }
  int Failed() {
    std::lock_guard lock(m_lock);
    return m_failed;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  int m_completed = 0;
  int m_failed = 0;
};

void BM_ResolverThousandNames(benchmark::State& state) {
  CountingListener listener;
  KestNet::Dns dns;
  dns.SetDnsServers({kServer});
  dns.SetListener(&listener);
  std::vector<std::wstring> names;
  for (int i = 0; i < kNames; ++i) names.push_back(NameOf(i));
  double wall = 0;
  double cpu = 0;
  for (auto _ : state) {
    listener.Reset();
    const auto start = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    for (const std::wstring& name : names) dns.ResolveNameAsync(name, 5000, kNoCache, 0);
    if (!listener.WaitForAll()) {
      state.SkipWithError("a name did not report");
      break;
    }
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    cpu += ProcessCpuSeconds() - cpuStart;
  }
  state.counters["failed"] = listener.Failed();
  SetPerNameCounters(state, wall, cpu, g_direct);
}
BENCHMARK(BM_ResolverThousandNames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// --- The same names through KestNetDNS ------------------------------------------

// Counts OnResolveNameComplete; called on the apartment's thread only.
class CountingSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKestNetDNSEvents) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (dispid != kDispOnResolveNameComplete || params == nullptr || params->cArgs != 3) return E_INVALIDARG;
    ++events;
    // rgvarg[2] is Result, the first parameter.
    if (params->rgvarg[2].vt != VT_INT || params->rgvarg[2].intVal != 0) ++failed;
    return S_OK;
  }

  int events = 0;
  int failed = 0;

 private:
  virtual ~CountingSink() = default;
  std::atomic<ULONG> m_references{1};
};

// Pumps the apartment until sink has heard count events (or a minute passed).
bool PumpUntilEvents(const CountingSink& sink, int count) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (sink.events < count && Clock::now() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (sink.events >= count) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  return sink.events >= count;
}

// A DNS object as its factory makes it, with sink advised on its events.
ATL::CComPtr<IDispatch> MakeDnsObject(CountingSink* sink, KestAXLib::CDNS** object = nullptr) {
  ATL::CComObject<KestAXLib::CDNS>* created = nullptr;
  if (ATL::CComObject<KestAXLib::CDNS>::CreateInstance(&created) != S_OK) return nullptr;
  ATL::CComPtr<IDispatch> dns;
  created->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dns));
  ATL::CComQIPtr<IConnectionPointContainer> container(dns);
  ATL::CComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (container == nullptr || container->FindConnectionPoint(IID_IKestNetDNSEvents, &point) != S_OK ||
      point->Advise(sink, &cookie) != S_OK) {
    return nullptr;
  }
  if (object != nullptr) *object = created;
  return dns;
}

void BM_DnsObjectThousandNames(benchmark::State& state) {
  ATL::CComPtr<CountingSink> sinkReference;
  sinkReference.Attach(new CountingSink());
  CountingSink* sink = sinkReference;
  {
    ATL::CComPtr<IDispatch> dns = MakeDnsObject(sink);
    if (dns == nullptr) {
      state.SkipWithError("no DNS object");
      return;
    }
    // SetDNSServers(kServer) with its default delimiter, as a script calls it.
    VARIANT server;
    VariantInit(&server);
    server.vt = VT_BSTR;
    server.bstrVal = SysAllocString(L"127.0.0.53");
    DISPPARAMS serverParams{&server, nullptr, 1, 0};
    HRESULT set = dns->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &serverParams, nullptr, nullptr,
                              nullptr);
    VariantClear(&server);
    if (FAILED(set)) {
      state.SkipWithError("SetDNSServers failed");
      return;
    }
    // Arguments of ResolveNameAdvanced(name, flags, cache time), last first.
    std::vector<std::vector<VARIANT>> calls(kNames, std::vector<VARIANT>(3));
    for (int i = 0; i < kNames; ++i) {
      std::vector<VARIANT>& arguments = calls[static_cast<size_t>(i)];
      for (VARIANT& argument : arguments) VariantInit(&argument);
      arguments[0].vt = VT_I4;
      arguments[0].lVal = 0;
      arguments[1].vt = VT_I4;
      arguments[1].lVal = kNoCache;
      arguments[2].vt = VT_BSTR;
      arguments[2].bstrVal = SysAllocString(NameOf(i).c_str());
    }
    double wall = 0;
    double cpu = 0;
    int expected = 0;
    for (auto _ : state) {
      const auto start = Clock::now();
      const double cpuStart = ProcessCpuSeconds();
      for (std::vector<VARIANT>& arguments : calls) {
        DISPPARAMS params{arguments.data(), nullptr, 3, 0};
        dns->Invoke(kDispResolveNameAdvanced, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                    nullptr, nullptr);
      }
      expected += kNames;
      if (!PumpUntilEvents(*sink, expected)) {
        state.SkipWithError("an event did not come");
        break;
      }
      wall += std::chrono::duration<double>(Clock::now() - start).count();
      cpu += ProcessCpuSeconds() - cpuStart;
    }
    for (std::vector<VARIANT>& arguments : calls) {
      for (VARIANT& argument : arguments) VariantClear(&argument);
    }
    state.counters["failed"] = sink->failed;
    SetPerNameCounters(state, wall, cpu, g_object);
  }
}
BENCHMARK(BM_DnsObjectThousandNames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The event path alone: a worker thread reports 1000 results (one address
// each) to the object's listener, as the resolver's threads do, while the
// apartment pumps and fires them.
void BM_DnsObjectEventPathThousandResults(benchmark::State& state) {
  ATL::CComPtr<CountingSink> sinkReference;
  sinkReference.Attach(new CountingSink());
  CountingSink* sink = sinkReference;
  {
    KestAXLib::CDNS* object = nullptr;
    ATL::CComPtr<IDispatch> dns = MakeDnsObject(sink, &object);
    if (dns == nullptr) {
      state.SkipWithError("no DNS object");
      return;
    }
    std::vector<std::wstring> names;
    for (int i = 0; i < kNames; ++i) names.push_back(NameOf(i));
    double wall = 0;
    double cpu = 0;
    int expected = 0;
    for (auto _ : state) {
      const auto start = Clock::now();
      const double cpuStart = ProcessCpuSeconds();
      std::thread worker([&] {
        for (const std::wstring& name : names) {
          KestNet::DnsRecordList records;
          KestNet::DnsRecord answer;
          answer.type = KestNet::kDnsRecordTypeA;
          answer.address.Set("10.0.0.1");
          records.push_back(answer);
          object->OnResolveNameComplete(name, KestNet::DNS_SUCCESS, records);
        }
      });
      expected += kNames;
      const bool heard = PumpUntilEvents(*sink, expected);
      worker.join();
      if (!heard) {
        state.SkipWithError("an event did not come");
        break;
      }
      wall += std::chrono::duration<double>(Clock::now() - start).count();
      cpu += ProcessCpuSeconds() - cpuStart;
    }
    SetPerNameCounters(state, wall, cpu, g_eventPath);
  }
}
BENCHMARK(BM_DnsObjectEventPathThousandResults)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// --- The server --------------------------------------------------------------------

// A batch of 1000 queries arrives faster than dnsmasq reads it, and its
// socket's default receive buffer holds about 250: the rest would be dropped
// and the batch would measure retransmission time-outs instead. The server's
// socket is taken from its process (root in the namespace may) and given a
// buffer deep enough for the batch.
bool DeepenServerReceiveBuffer(std::string& error) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // the heading
  std::string inode;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (local == "3500007F:0035") break;  // 127.0.0.53:53
    inode.clear();
  }
  if (inode.empty()) {
    error = "the server's socket is not in /proc/net/udp";
    return false;
  }
  const std::string wanted = "socket:[" + inode + "]";
  std::error_code ignored;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string pid = process.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    for (const auto& descriptor : std::filesystem::directory_iterator(process.path() / "fd", ignored)) {
      if (std::filesystem::read_symlink(descriptor.path(), ignored).string() != wanted) continue;
      const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, std::stoi(pid), 0));
      if (pidfd < 0) {
        error = std::string("pidfd_open: ") + std::strerror(errno);
        return false;
      }
      const int fd = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, std::stoi(descriptor.path().filename()), 0));
      close(pidfd);
      if (fd < 0) {
        error = std::string("pidfd_getfd: ") + std::strerror(errno);
        return false;
      }
      const int size = 8 << 20;
      const bool set = setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) == 0;
      if (!set) error = std::string("SO_RCVBUFFORCE: ") + std::strerror(errno);
      close(fd);
      return set;
    }
  }
  error = "no process holds the server's socket";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kestnet::testing::TemporaryHome home;
  kestnet::testing::NetworkNamespace network;
  std::string error;
  if (!network.Enter(error)) {
    std::fprintf(stderr, "No private network namespace: %s\n", error.c_str());
    return 1;
  }
  kestnet::testing::DnsmasqOptions options;
  options.listenAddress = kServer;
  options.localTtl = 300;
  for (int i = 0; i < kNames; ++i) {
    const std::wstring name = NameOf(i);
    options.hosts.emplace_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1),
                               std::string(name.begin(), name.end()));
  }
  options.extraArguments = {"--dns-forward-max=2000"};
  kestnet::testing::DnsmasqServer server;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "dnsmasq did not start: %s\n", error.c_str());
    return 1;
  }
  if (!DeepenServerReceiveBuffer(error)) {
    std::fprintf(stderr, "The server keeps its default receive buffer (%s); a batch may lose queries.\n",
                 error.c_str());
  }
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) {
    std::fprintf(stderr, "No apartment.\n");
    return 1;
  }
  KestAXLib::SetInvokeGateFactory([] { return std::unique_ptr<KestAXLib::InvokeGate>(new OpenGate); });
  KestNet::InitializeSockets();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_direct.wallPerName > 0 && g_object.wallPerName > 0) {
    std::printf("\nAutomation overhead per event (KestNetDNS minus the resolver, 1000 names):\n");
    std::printf("  wall time  %8.2f us   (%.2f us per name through the object, %.2f us directly)\n",
                (g_object.wallPerName - g_direct.wallPerName) * 1e6, g_object.wallPerName * 1e6,
                g_direct.wallPerName * 1e6);
    std::printf("  CPU time   %8.2f us   (%.2f us per name through the object, %.2f us directly)\n",
                (g_object.cpuPerName - g_direct.cpuPerName) * 1e6, g_object.cpuPerName * 1e6,
                g_direct.cpuPerName * 1e6);
  }
  if (g_eventPath.wallPerName > 0) {
    std::printf("  event path alone (listener to sink): %.2f us wall, %.2f us CPU per event\n",
                g_eventPath.wallPerName * 1e6, g_eventPath.cpuPerName * 1e6);
  }
  KestNet::UninitializeSockets();
  KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000);
  KestAXLib::SetInvokeGateFactory(nullptr);
  CoUninitialize();
  server.Stop();
  network.Leave();
  return 0;
}
