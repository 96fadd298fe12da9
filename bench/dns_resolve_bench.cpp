// Resolver throughput and latency against a real server: dnsmasq on
// 127.0.0.53:53 inside a private network namespace, answering 1000 names
// from its hosts file. The cache is bypassed (always query, never store), so
// every name is a query.
//
//   dns_resolve_bench            (needs root or unprivileged user namespaces)
//
// The thousand-name runs start every name at once, as a client with a batch
// of names would: ResolveNameAsync for each, a bare thread for each (the
// design floor of a thread per query), and c-ares with all of them
// outstanding on its channel. Counters: per_name is the batch's wall time
// divided by 1000; mean_latency and p99_latency are over each name's own time
// from its start to its answer. The single-name runs resolve one name at a
// time, waiting for each answer. CPU time is the whole process's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "bench/dns_thread_per_query_floor.h"
#include "net/dns/dns.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "platform/os/utf8.h"
#include "runtime/registry.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/network_namespace.h"
#include "tests/support/temporary_directory.h"
#if KESTNET_BENCH_CARES
#include "bench/dns_cares_client.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using kestnet::bench::ThreadPerQueryFloor;

constexpr int kNames = 1000;
constexpr const char* kServer = "127.0.0.53";
constexpr WORD kNoCache = KestNet::DNS_RESOLVE_NAME_ALWAYS_QUERY | KestNet::DNS_RESOLVE_NAME_DONT_CACHE;

std::wstring NameOf(int p_index) { return L"host" + std::to_wstring(p_index) + L".bench.test"; }

// The index back from "host<N>.bench.test"; -1 for any other name.
int IndexOf(const std::wstring& p_name) {
  int index = -1;
  if (std::swscanf(p_name.c_str(), L"host%d.", &index) != 1 || index < 0 || index >= kNames) return -1;
  return index;
}

// Mean and 99th percentile of the latencies, in seconds, as counters.
void SetLatencyCounters(benchmark::State& p_state, std::vector<Clock::duration> p_latencies) {
  if (p_latencies.empty()) return;
  std::sort(p_latencies.begin(), p_latencies.end());
  const auto total = std::accumulate(p_latencies.begin(), p_latencies.end(), Clock::duration::zero());
  const auto seconds = [](Clock::duration p_d) { return std::chrono::duration<double>(p_d).count(); };
  const std::size_t p99 = std::min(p_latencies.size() - 1, (p_latencies.size() * 99 + 99) / 100 - 1);
  p_state.counters["mean_latency"] = seconds(total) / static_cast<double>(p_latencies.size());
  p_state.counters["p99_latency"] = seconds(p_latencies[p99]);
}

// Seconds per name of the batch, printed with its unit prefix ("910u" is 910 us).
void SetPerNameCounter(benchmark::State& p_state) {
  p_state.counters["per_name"] =
      benchmark::Counter(static_cast<double>(kNames) * static_cast<double>(p_state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

class TimingListener : public KestNet::DNSListener {
 public:
  virtual ~TimingListener() = default;
  void OnResolveNameComplete(const std::wstring& p_name, DWORD p_dwResult, KestNet::DnsRecordList&) override {
    const Clock::time_point now = Clock::now();
    const int index = IndexOf(p_name);
    std::lock_guard<std::mutex> lock(m_lock);
    if (index >= 0) m_finished[static_cast<std::size_t>(index)] = now;
    ++m_completed;
    m_failed += p_dwResult == KestNet::DNS_SUCCESS ? 0 : 1;
    if (m_completed >= m_expected) m_changed.notify_all();
  }
  void Reset(int p_expected) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_completed = 0;
    m_failed = 0;
    m_expected = p_expected;
    m_started.assign(kNames, Clock::time_point{});
    m_finished.assign(kNames, Clock::time_point{});
  }
  void Started(int p_index) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_lock);
    m_started[static_cast<std::size_t>(p_index)] = now;
  }
  bool WaitForAll() {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_completed >= m_expected; });
  }
  int Failed() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_failed;
  }
  std::vector<Clock::duration> Latencies() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<Clock::duration> latencies;
    for (std::size_t i = 0; i < m_started.size(); ++i) {
      if (m_finished[i] != Clock::time_point{}) latencies.push_back(m_finished[i] - m_started[i]);
    }
    return latencies;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  int m_expected = 0;
  int m_completed = 0;
  int m_failed = 0;
  std::vector<Clock::time_point> m_started;
  std::vector<Clock::time_point> m_finished;
};

// Every name started at once; the batch ends when the last one has reported.
void BM_ResolveNameAsyncThousandNames(benchmark::State& p_state) {
  TimingListener listener;
  KestNet::Dns dns;
  dns.SetDnsServers({kServer});
  dns.SetListener(&listener);
  std::vector<std::wstring> names;
  for (int i = 0; i < kNames; ++i) names.push_back(NameOf(i));
  for (auto _ : p_state) {
    listener.Reset(kNames);
    for (int i = 0; i < kNames; ++i) {
      listener.Started(i);
      dns.ResolveNameAsync(names[static_cast<std::size_t>(i)], 5000, kNoCache, 0);
    }
    if (!listener.WaitForAll()) {
      p_state.SkipWithError("a name did not report");
      break;
    }
  }
  p_state.counters["failed"] = listener.Failed();
  SetPerNameCounter(p_state);
  SetLatencyCounters(p_state, listener.Latencies());
}
BENCHMARK(BM_ResolveNameAsyncThousandNames)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

// One name at a time, each waited for: the latency of a lone query.
void BM_ResolveNameSingle(benchmark::State& p_state) {
  KestNet::Dns dns;
  dns.SetDnsServers({kServer});
  std::vector<std::wstring> addresses;
  int failed = 0;
  for (auto _ : p_state) {
    failed += dns.ResolveName(NameOf(7), 5000, addresses, kNoCache, 0) == KestNet::DNS_SUCCESS ? 0 : 1;
  }
  p_state.counters["failed"] = failed;
}
BENCHMARK(BM_ResolveNameSingle)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// A name with three addresses, whose cached list every hit rotates and writes back.
constexpr const wchar_t* kRotatingName = L"rotating.bench.test";

void BM_ResolveNameFromCache(benchmark::State& p_state, const std::wstring& p_name) {
  KestNet::Dns dns;
  dns.SetDnsServers({kServer});
  std::vector<std::wstring> addresses;
  dns.ResolveName(p_name, 5000, addresses, KestNet::DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, 3600);
  for (auto _ : p_state) {
    benchmark::DoNotOptimize(dns.ResolveName(p_name, 5000, addresses, 0, 0));
  }
}
BENCHMARK_CAPTURE(BM_ResolveNameFromCache, OneAddress, NameOf(8))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_ResolveNameFromCache, ThreeAddressesRotated, kRotatingName)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The batch through a client of the bench's own (ResolveAll of every name at
// once), with the counters of the resolver's batch.
template <class Client>
void ResolveThousandNames(benchmark::State& p_state, Client& p_client) {
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) {
    const std::wstring name = NameOf(i);
    names.emplace_back(name.begin(), name.end());
  }
  int failed = 0;
  std::vector<Clock::duration> latencies;
  for (auto _ : p_state) failed += p_client.ResolveAll(names, latencies);
  p_state.counters["failed"] = failed;
  SetPerNameCounter(p_state);
  SetLatencyCounters(p_state, latencies);
}

// What a thread per query costs by itself: the batch with none of the
// resolver's code, each thread doing a query's steps up to an extent
// (dns_thread_per_query_floor.h).
void BM_ThreadPerQueryFloorThousandNames(benchmark::State& p_state, ThreadPerQueryFloor::Steps p_steps) {
  ThreadPerQueryFloor floor(kServer, p_steps);
  ResolveThousandNames(p_state, floor);
}
BENCHMARK_CAPTURE(BM_ThreadPerQueryFloorThousandNames, EventThread, ThreadPerQueryFloor::Steps::kEventThread)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_ThreadPerQueryFloorThousandNames, OwnPoll, ThreadPerQueryFloor::Steps::kOwnPoll)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_ThreadPerQueryFloorThousandNames, ThreadOnly, ThreadPerQueryFloor::Steps::kThreadOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

#if KESTNET_BENCH_CARES
void BM_CaresThousandNames(benchmark::State& p_state) {
  kestnet::bench::CaresClient client(kServer);
  ResolveThousandNames(p_state, client);
}
BENCHMARK(BM_CaresThousandNames)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

void BM_CaresSingle(benchmark::State& p_state) {
  kestnet::bench::CaresClient client(kServer);
  int failed = 0;
  for (auto _ : p_state) failed += client.Resolve("host7.bench.test") ? 0 : 1;
  p_state.counters["failed"] = failed;
}
BENCHMARK(BM_CaresSingle)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
#endif

// The server's socket as /proc/net/udp lists it: "3500007F:0035" for
// 127.0.0.53:53, with its inode and drop counter.
struct ServerSocket {
  unsigned long inode = 0;
  unsigned long drops = 0;
};

bool FindServerSocket(ServerSocket& p_socket) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode, references,
        pointer, drops;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode >>
        references >> pointer >> drops;
    if (local == "3500007F:0035") {
      p_socket.inode = std::stoul(inode);
      p_socket.drops = std::stoul(drops);
      return true;
    }
  }
  return false;
}

unsigned long ServerDrops() {
  ServerSocket socket;
  return FindServerSocket(socket) ? socket.drops : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // --log_filter=N stores FilterLogLevel N for this run's logger (default:
  // the logger's own default, every entry stored).
  long logFilter = -1;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--log_filter=", 13) == 0) {
      logFilter = std::strtol(argv[i] + 13, nullptr, 10);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  kestnet::testing::TemporaryHome home;
  if (logFilter >= 0) {
    KestUtilsLib::Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"SOFTWARE\\Tolvar\\Pelwick\\Logger",
                                           L"FilterLogLevel", static_cast<DWORD>(logFilter));
    benchmark::AddCustomContext("FilterLogLevel", std::to_string(logFilter));
  }
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
  for (const char* address : {"10.9.0.1", "10.9.0.2", "10.9.0.3"}) {
    options.hosts.emplace_back(address, kestnet::platform::Utf8FromWide(kRotatingName));
  }
  // dnsmasq answers the whole batch; its own cache of the hosts file is not
  // what is measured, the resolver path is.
  options.extraArguments = {"--dns-forward-max=2000"};
  kestnet::testing::DnsmasqServer server;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "dnsmasq did not start: %s\n", error.c_str());
    return 1;
  }
  // A batch of 1000 queries arrives faster than dnsmasq reads it; with its
  // default receive buffer most would be dropped and the batch would measure
  // retransmission time-outs.
  if (!server.DeepenReceiveBuffer(8 << 20, error)) {
    std::fprintf(stderr, "The server keeps its default receive buffer (%s); a batch may lose queries.\n",
                 error.c_str());
  }
  KestNet::InitializeSockets();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const unsigned long drops = ServerDrops();
  if (drops != 0) std::fprintf(stderr, "The server dropped %lu queries.\n", drops);
  KestNet::UninitializeSockets();
  KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000);
  server.Stop();
  network.Leave();
  return 0;
}
