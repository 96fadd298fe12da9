// Echo engine latency on loopback, each part in the same run:
//   - service: sequential IcmpSendEcho calls on one handle (the echo service
//     alone);
//   - engine: sequential requests to 127.0.0.1 through Ping, from the call
//     to EchoRequestAsync until the listener is called (a new PingThread
//     per request, as always); "wall" is the whole loop divided by the
//     count, so it also holds waking the requesting thread and reaping the
//     previous worker;
//   - worker: a bare KestMT thread started and signalling back, the floor
//     under any engine request;
//   - iputils: "ping -c N -i 0.002 -q 127.0.0.1", whose summary line gives
//     its own average round trip (measured by iputils from its send to the
//     kernel's receive time stamp).
// The parts of this program print mean, median and p99 in microseconds and
// the CPU time the process (all its threads) spent per echo, which stays
// meaningful when other load on the machine stretches the wall-clock
// figures; the load average at the start heads the output.
//
// Needs a ping or raw ICMP socket (root, CAP_NET_RAW or ping_group_range).
// Echoes go to loopback only. The program moves into a private network
// namespace of its own first where it may (root), so that the echoes, and
// iputils which it starts, never meet the machine's own loopback traffic;
// elsewhere it says so and uses the machine's loopback.
// Usage: ping_bench [count [part...]]   (parts: service engine worker iputils)
#include <arpa/inet.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "net/ping/ping.h"
#include "platform/net/icmp_echo.h"
#include "runtime/thread.h"
#include "tests/support/network_namespace.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsBetween(Clock::time_point p_start, Clock::time_point p_end) {
  return std::chrono::duration<double, std::micro>(p_end - p_start).count();
}

// CPU time of the process (every thread, ended ones included), in
// microseconds.
double CpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto micros = [](const timeval& p_time) {
    return static_cast<double>(p_time.tv_sec) * 1e6 + static_cast<double>(p_time.tv_usec);
  };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// Remembers when it was called; the requesting thread waits for that.
class WaitingListener : public KestNet::PingListener {
 public:
  void PingResponse(WORD p_wResult, const std::wstring&, const std::string&, const std::string&,
                    DWORD) override {
    Signal(p_wResult);
  }
  void Signal(WORD p_wResult) {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(m_lock);
    m_wResult = p_wResult;
    m_calledAt = now;
    m_changed.notify_one();
  }
  // The result and when the listener was called.
  WORD Wait(Clock::time_point& p_calledAt) {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_calledAt.has_value(); });
    p_calledAt = *m_calledAt;
    m_calledAt.reset();
    return m_wResult;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::optional<Clock::time_point> m_calledAt;
  WORD m_wResult = 0;
};

// Samples of one part and what they cost.
class Measurement {
 public:
  explicit Measurement(int p_count) : m_count(p_count) { m_samples.reserve(static_cast<size_t>(p_count)); }
  void Begin() {
    m_cpuStart = CpuMicroseconds();
    m_wallStart = Clock::now();
  }
  void End() {
    m_wallPerEcho = MicrosecondsBetween(m_wallStart, Clock::now()) / m_count;
    m_cpuPerEcho = (CpuMicroseconds() - m_cpuStart) / m_count;
  }
  void Add(double p_microseconds) { m_samples.push_back(p_microseconds); }
  void Fail() { ++m_failures; }

  double Mean() const {
    return std::accumulate(m_samples.begin(), m_samples.end(), 0.0) /
           static_cast<double>(std::max<size_t>(m_samples.size(), 1));
  }
  void Print(const char* p_szName) {
    std::sort(m_samples.begin(), m_samples.end());
    const auto at = [&](size_t p_percent) {
      return m_samples.empty() ? 0.0 : m_samples[(m_samples.size() * p_percent + 99) / 100 - 1];
    };
    std::printf("%-30s mean %7.1f  median %7.1f  p99 %8.1f  wall/echo %7.1f  cpu/echo %6.1f us",
                p_szName, Mean(), at(50), at(99), m_wallPerEcho, m_cpuPerEcho);
    if (m_failures != 0) std::printf("  (%d failed)", m_failures);
    std::printf("\n");
  }

 private:
  int m_count;
  std::vector<double> m_samples;
  int m_failures = 0;
  double m_cpuStart = 0;
  Clock::time_point m_wallStart;
  double m_wallPerEcho = 0;
  double m_cpuPerEcho = 0;
};

Measurement BenchService(int p_count) {
  Measurement measurement(p_count);
  HANDLE handle = IcmpCreateFile();
  std::vector<BYTE> payload(56, 0x41);
  std::array<ULONG_PTR, 1540 / sizeof(ULONG_PTR)> reply{};
  in_addr loopback{};
  inet_pton(AF_INET, "127.0.0.1", &loopback);
  measurement.Begin();
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    if (IcmpSendEcho(handle, loopback.s_addr, payload.data(), static_cast<WORD>(payload.size()), nullptr,
                     reply.data(), sizeof(reply), 5000) != 1) {
      measurement.Fail();
    }
    measurement.Add(MicrosecondsBetween(start, Clock::now()));
  }
  measurement.End();
  IcmpCloseHandle(handle);
  return measurement;
}

Measurement BenchEngine(int p_count) {
  Measurement measurement(p_count);
  WaitingListener listener;
  KestNet::Ping ping;
  measurement.Begin();
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    ping.EchoRequestAsync(L"127.0.0.1", &listener, 5000, 5000, 64, 56);
    Clock::time_point calledAt;
    if (listener.Wait(calledAt) != KestNet::PING_SUCCESS) measurement.Fail();
    measurement.Add(MicrosecondsBetween(start, calledAt));
  }
  measurement.End();
  return measurement;
}

// What one worker costs by itself: a KestMT thread started, its body
// signalling the waiting caller, as every engine request does.
class SignallingThread : public KestMT::Thread {
 public:
  explicit SignallingThread(WaitingListener& p_listener) : m_listener(p_listener) {}
  ~SignallingThread() override { Abort(kDestructorDeadlockTimeout); }
  DWORD Run() override {
    m_listener.Signal(KestNet::PING_SUCCESS);
    return 0;
  }

 private:
  WaitingListener& m_listener;
};

Measurement BenchBareWorker(int p_count) {
  Measurement measurement(p_count);
  WaitingListener listener;
  measurement.Begin();
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    auto worker = std::make_unique<SignallingThread>(listener);
    worker->Execute();
    Clock::time_point calledAt;
    listener.Wait(calledAt);
    measurement.Add(MicrosecondsBetween(start, calledAt));
    worker.reset();
  }
  measurement.End();
  return measurement;
}

// iputils' own summary: "rtt min/avg/max/mdev = a/b/c/d ms". Its average
// round trip in microseconds, or nothing when it did not run.
std::optional<double> RunIputils(int p_count) {
  const std::string command = "ping -c " + std::to_string(p_count) + " -i 0.002 -q 127.0.0.1 2>&1";
  const auto start = Clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    std::printf("iputils ping: could not be started\n");
    return std::nullopt;
  }
  std::array<char, 512> line{};
  std::string summary;
  while (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) {
    if (std::string(line.data()).find("rtt") == 0) summary = line.data();
  }
  const int status = ::pclose(pipe);
  const double wallPerEcho = MicrosecondsBetween(start, Clock::now()) / p_count;
  double minimum = 0, average = 0, maximum = 0, deviation = 0;
  if (status != 0 || std::sscanf(summary.c_str(), "rtt min/avg/max/mdev = %lf/%lf/%lf/%lf", &minimum, &average,
                                 &maximum, &deviation) != 4) {
    std::printf("iputils ping: not available or failed (exit %d)\n", status);
    return std::nullopt;
  }
  // Its CPU time says nothing here: at this interval it spins between echoes.
  std::printf("%-30s avg  %7.1f  max    %7.1f  mdev %7.1f  wall/echo %7.1f us (wall includes the 2 ms interval)\n",
              "iputils ping -i 0.002", average * 1000, maximum * 1000, deviation * 1000, wallPerEcho);
  return average * 1000;
}

// Which parts to run: all by default, or those named after the count.
bool Wanted(int argc, char** argv, const char* p_szPart) {
  if (argc <= 2) return true;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], p_szPart) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  // Before any thread starts, so that every worker is inside it too.
  kestnet::testing::NetworkNamespace network;
  std::string namespaceError;
  if (!network.Enter(namespaceError)) {
    std::printf("no private network namespace (%s): using the machine's loopback\n", namespaceError.c_str());
  }
  const std::string problem = kestnet::platform::IcmpAccessProblem();
  if (!problem.empty()) {
    std::printf("%s\n", problem.c_str());
    return 1;
  }
  // The load average goes with the figures: they are wall-clock times.
  std::array<char, 128> load{};
  if (FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(load.data(), static_cast<int>(load.size()), file) == nullptr) load[0] = '\0';
    std::fclose(file);
  }
  load[std::strcspn(load.data(), "\n")] = '\0';
  std::printf("%d sequential echoes to 127.0.0.1, 56-byte payload; load average %s\n", count, load.data());
  if (Wanted(argc, argv, "service")) BenchService(count).Print("echo service (IcmpSendEcho)");
  std::optional<double> engineMean;
  if (Wanted(argc, argv, "engine")) {
    Measurement engine = BenchEngine(count);
    engineMean = engine.Mean();
    engine.Print("engine (request to listener)");
  }
  if (Wanted(argc, argv, "worker")) BenchBareWorker(count).Print("bare worker thread (floor)");
  std::optional<double> iputilsAverage;
  if (Wanted(argc, argv, "iputils")) iputilsAverage = RunIputils(count);
  if (engineMean && iputilsAverage) {
    std::printf("engine mean over iputils average: %.1f us (target: at most 100 us)\n",
                *engineMean - *iputilsAverage);
  }
  return 0;
}
