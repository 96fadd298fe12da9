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
// The two kinds of batch run in turn (the order swapped each time), since a
// batch's time swings with the machine's load far more than the automation
// layer costs; the overhead per event is the median of the paired
// differences. Times are per name: a batch's wall time, or the whole
// process's CPU time, divided by 1000. A second run sends 1000 results
// straight into the object's listener from a worker thread, with no network
// at all: the event path alone, per event.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
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
#include "platform/os/utf8.h"
#include "tests/automation/apartment_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/network_namespace.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temporary_directory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNames = 1000;
constexpr const char* kServer = "127.0.0.53";
constexpr LONG kNoCache = KestNet::DNS_RESOLVE_NAME_ALWAYS_QUERY | KestNet::DNS_RESOLVE_NAME_DONT_CACHE;
constexpr DISPID kDispSetDNSServers = 2;
constexpr DISPID kDispResolveNameAdvanced = 7;
constexpr DISPID kDispOnResolveNameComplete = 1;

std::wstring NameOf(int index) { return L"host" + std::to_wstring(index) + L".bench.test"; }

// Seconds per name of one batch.
struct BatchTime {
  double wall = 0;
  double cpu = 0;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs batch and returns its time per name; false from batch is a failure.
template <typename Batch>
bool TimeBatch(Batch&& batch, BatchTime& time) {
  const auto start = Clock::now();
  const double cpuStart = ProcessCpuSeconds();
  if (!batch()) return false;
  time.wall = std::chrono::duration<double>(Clock::now() - start).count() / kNames;
  time.cpu = (ProcessCpuSeconds() - cpuStart) / kNames;
  return true;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Median per-name times of each run, for the summary at the end.
struct Summary {
  double directWall = 0, directCpu = 0;
  double objectWall = 0, objectCpu = 0;
  double overheadWall = 0, overheadCpu = 0;
  double eventPathWall = 0, eventPathCpu = 0;
};
Summary g_summary;

void MedianPerName(const std::vector<BatchTime>& batches, double& wall, double& cpu) {
  std::vector<double> walls;
  std::vector<double> cpus;
  for (const BatchTime& batch : batches) {
    walls.push_back(batch.wall);
    cpus.push_back(batch.cpu);
  }
  wall = Median(walls);
  cpu = Median(cpus);
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

// The thousand names through KestNet::Dns::ResolveNameAsync, all started at
// once; a batch ends when the last has reported.
class DirectBatches {
 public:
  DirectBatches() {
    m_dns.SetDnsServers({kServer});
    m_dns.SetListener(&m_listener);
    for (int i = 0; i < kNames; ++i) m_names.push_back(NameOf(i));
  }
  bool operator()() {
    m_listener.Reset();
    for (const std::wstring& name : m_names) m_dns.ResolveNameAsync(name, 5000, kNoCache, 0);
    return m_listener.WaitForAll();
  }
  int Failed() { return m_listener.Failed(); }

 private:
  CountingListener m_listener;
  KestNet::Dns m_dns;
  std::vector<std::wstring> m_names;
};

// --- The same names through KestNetDNS ------------------------------------------

// Pumps the apartment until sink has heard count events (or a minute passed).
bool PumpUntilEvents(const kestnet::testing::RecordingSink& sink, int count) {
  return kestnet::testing::PumpUntil([&] { return sink.Count() >= static_cast<size_t>(count); },
                                     std::chrono::seconds(60));
}

// A DNS object as its factory makes it, with a counting sink advised on its
// events. Valid() is false when any step failed.
class DnsObjectUnderTest {
 public:
  DnsObjectUnderTest() {
    // OnResolveNameComplete(Result, ...): a result other than 0 is a failure.
    m_sink->onEvent = [this](const kestnet::testing::FiredEvent& p_event) {
      const bool resolved = p_event.dispid == kDispOnResolveNameComplete && p_event.arguments.size() == 3 &&
                            p_event.arguments[0].vt == VT_INT && p_event.arguments[0].intVal == 0;
      if (!resolved) ++m_failed;
    };
    ATL::CComObject<KestAXLib::CDNS>* created = nullptr;
    if (ATL::CComObject<KestAXLib::CDNS>::CreateInstance(&created) != S_OK) return;
    created->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dns));
    m_object = created;
    ATL::CComQIPtr<IConnectionPointContainer> container(m_dns);
    ATL::CComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    m_valid = container != nullptr && container->FindConnectionPoint(IID_IKestNetDNSEvents, &point) == S_OK &&
              point->Advise(m_sink, &cookie) == S_OK;
  }
  bool Valid() const { return m_valid; }
  IDispatch* Dispatch() const { return m_dns; }
  KestAXLib::CDNS* Object() const { return m_object; }
  const kestnet::testing::RecordingSink& Sink() const { return *m_sink.p; }
  int Failed() const { return m_failed; }

 private:
  ATL::CComPtr<kestnet::testing::RecordingSink> m_sink =
      kestnet::testing::RecordingSink::Create(IID_IKestNetDNSEvents);
  std::atomic<int> m_failed{0};
  ATL::CComPtr<IDispatch> m_dns;
  KestAXLib::CDNS* m_object = nullptr;
  bool m_valid = false;
};

// The thousand names through the object: ResolveNameAdvanced(name, always
// query | don't cache, 0) by IDispatch::Invoke for each, then the apartment
// pumps until every OnResolveNameComplete has reached the sink.
class ObjectBatches {
 public:
  ObjectBatches() : m_calls(kNames, std::vector<VARIANT>(3)) {
    for (int i = 0; i < kNames; ++i) {
      std::vector<VARIANT>& arguments = m_calls[static_cast<size_t>(i)];  // last argument first
      for (VARIANT& argument : arguments) VariantInit(&argument);
      arguments[0].vt = VT_I4;
      arguments[0].lVal = 0;
      arguments[1].vt = VT_I4;
      arguments[1].lVal = kNoCache;
      arguments[2].vt = VT_BSTR;
      arguments[2].bstrVal = SysAllocString(NameOf(i).c_str());
    }
    if (!m_object.Valid()) return;
    // SetDNSServers with its default delimiter, as a script calls it.
    VARIANT server;
    VariantInit(&server);
    server.vt = VT_BSTR;
    server.bstrVal = SysAllocString(L"127.0.0.53");
    DISPPARAMS params{&server, nullptr, 1, 0};
    m_ready = SUCCEEDED(m_object.Dispatch()->Invoke(kDispSetDNSServers, IID_NULL, LOCALE_USER_DEFAULT,
                                                    DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    VariantClear(&server);
  }
  ~ObjectBatches() {
    for (std::vector<VARIANT>& arguments : m_calls) {
      for (VARIANT& argument : arguments) VariantClear(&argument);
    }
  }
  ObjectBatches(const ObjectBatches&) = delete;
  ObjectBatches& operator=(const ObjectBatches&) = delete;

  bool Ready() const { return m_ready; }
  bool operator()() {
    for (std::vector<VARIANT>& arguments : m_calls) {
      DISPPARAMS params{arguments.data(), nullptr, 3, 0};
      m_object.Dispatch()->Invoke(kDispResolveNameAdvanced, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                  nullptr, nullptr, nullptr);
    }
    m_expected += kNames;
    return PumpUntilEvents(m_object.Sink(), m_expected);
  }
  int Failed() const { return m_object.Failed(); }

 private:
  DnsObjectUnderTest m_object;
  std::vector<std::vector<VARIANT>> m_calls;
  int m_expected = 0;
  bool m_ready = false;
};

// The two kinds of batch taken in turn, the order swapped every time, so
// that a machine whose load changes during the run weighs on both alike.
// The overhead is the median of the per-pair differences.
void BM_ThousandNamesObjectAgainstResolver(benchmark::State& state) {
  DirectBatches direct;
  ObjectBatches object;
  if (!object.Ready()) {
    state.SkipWithError("no DNS object");
    return;
  }
  std::vector<BatchTime> directTimes;
  std::vector<BatchTime> objectTimes;
  std::vector<double> wallDifferences;
  std::vector<double> cpuDifferences;
  bool objectFirst = false;
  for (auto _ : state) {
    BatchTime directTime;
    BatchTime objectTime;
    const bool ran = objectFirst ? TimeBatch(object, objectTime) && TimeBatch(direct, directTime)
                                 : TimeBatch(direct, directTime) && TimeBatch(object, objectTime);
    if (!ran) {
      state.SkipWithError("a name did not report");
      return;
    }
    objectFirst = !objectFirst;
    directTimes.push_back(directTime);
    objectTimes.push_back(objectTime);
    wallDifferences.push_back(objectTime.wall - directTime.wall);
    cpuDifferences.push_back(objectTime.cpu - directTime.cpu);
  }
  MedianPerName(directTimes, g_summary.directWall, g_summary.directCpu);
  MedianPerName(objectTimes, g_summary.objectWall, g_summary.objectCpu);
  g_summary.overheadWall = Median(wallDifferences);
  g_summary.overheadCpu = Median(cpuDifferences);
  state.counters["resolver_per_name"] = benchmark::Counter(g_summary.directWall);
  state.counters["object_per_name"] = benchmark::Counter(g_summary.objectWall);
  state.counters["overhead_per_event"] = benchmark::Counter(g_summary.overheadWall);
  state.counters["cpu_overhead_per_event"] = benchmark::Counter(g_summary.overheadCpu);
  state.counters["failed"] = direct.Failed() + object.Failed();
}
BENCHMARK(BM_ThousandNamesObjectAgainstResolver)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The event path alone: a worker thread reports 1000 results (one address
// each) to the object's listener, as the resolver's threads do, while the
// apartment pumps and fires them. No network, no resolver.
void BM_EventPathThousandResults(benchmark::State& state) {
  DnsObjectUnderTest object;
  if (!object.Valid()) {
    state.SkipWithError("no DNS object");
    return;
  }
  std::vector<std::wstring> names;
  for (int i = 0; i < kNames; ++i) names.push_back(NameOf(i));
  std::vector<BatchTime> times;
  int expected = 0;
  for (auto _ : state) {
    BatchTime time;
    expected += kNames;
    const bool heard = TimeBatch(
        [&] {
          std::thread worker([&] {
            for (const std::wstring& name : names) {
              KestNet::DnsRecordList records;
              KestNet::DnsRecord answer;
              answer.type = KestNet::kDnsRecordTypeA;
              answer.address.Set("10.0.0.1");
              records.push_back(answer);
              object.Object()->OnResolveNameComplete(name, KestNet::DNS_SUCCESS, records);
            }
          });
          const bool all = PumpUntilEvents(object.Sink(), expected);
          worker.join();
          return all;
        },
        time);
    if (!heard) {
      state.SkipWithError("an event did not come");
      return;
    }
    times.push_back(time);
  }
  MedianPerName(times, g_summary.eventPathWall, g_summary.eventPathCpu);
  state.counters["per_event"] = benchmark::Counter(g_summary.eventPathWall);
  state.counters["cpu_per_event"] = benchmark::Counter(g_summary.eventPathCpu);
}
BENCHMARK(BM_EventPathThousandResults)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// --- The server --------------------------------------------------------------------

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
                               kestnet::platform::Utf8FromWide(name));
  }
  options.extraArguments = {"--dns-forward-max=2000"};
  kestnet::testing::DnsmasqServer server;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "dnsmasq did not start: %s\n", error.c_str());
    return 1;
  }
  if (!server.DeepenReceiveBuffer(8 << 20, error)) {
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
  if (g_summary.directWall > 0 && g_summary.objectWall > 0) {
    std::printf("\n1000 names, median per name over the batches:\n");
    std::printf("  through KestNetDNS (Invoke + event)  %8.2f us wall  %8.2f us CPU\n", g_summary.objectWall * 1e6,
                g_summary.objectCpu * 1e6);
    std::printf("  through the resolver directly         %8.2f us wall  %8.2f us CPU\n", g_summary.directWall * 1e6,
                g_summary.directCpu * 1e6);
    std::printf("  automation overhead per event         %8.2f us wall  %8.2f us CPU  (median of paired batches)\n",
                g_summary.overheadWall * 1e6, g_summary.overheadCpu * 1e6);
  }
  if (g_summary.eventPathWall > 0) {
    std::printf("  event path alone, listener to sink    %8.2f us wall  %8.2f us CPU\n", g_summary.eventPathWall * 1e6,
                g_summary.eventPathCpu * 1e6);
  }
  KestNet::UninitializeSockets();
  KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000);
  KestAXLib::SetInvokeGateFactory(nullptr);
  CoUninitialize();
  server.Stop();
  network.Leave();
  return 0;
}
