// Echo engine latency on loopback:
//   - 1000 sequential requests to 127.0.0.1 through Ping (request to
//     listener call, wall time per echo: mean and p99);
//   - 1000 sequential IcmpSendEcho calls on one handle (the echo service
//     alone: mean and p99);
//   - iputils "ping -c 1000 -i 0.002 -q 127.0.0.1" in the same run, whose
//     summary line gives its own average round trip.
// The engine's own round-trip figure is in whole milliseconds, so the
// microsecond figures here are measured around the calls.
//
// Needs a ping or raw ICMP socket (root, CAP_NET_RAW or ping_group_range).
// Echoes go to loopback only. Usage: ping_bench [count]
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "net/ping/ping.h"
#include "platform/net/icmp_echo.h"
#include "runtime/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

class WaitingListener : public KestNet::PingListener {
 public:
  void PingResponse(WORD p_wResult, const std::wstring&, const std::string&, const std::string&,
                    DWORD) override {
    std::lock_guard lock(m_lock);
    m_wResult = p_wResult;
    m_bDone = true;
    m_changed.notify_one();
  }
  WORD Wait() {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_bDone; });
    m_bDone = false;
    return m_wResult;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_bDone = false;
  WORD m_wResult = 0;
};

struct Summary {
  double meanMicroseconds;
  double p99Microseconds;
  int failures;
};

Summary Summarise(std::vector<double>& p_samples, int p_failures) {
  std::sort(p_samples.begin(), p_samples.end());
  const double mean = std::accumulate(p_samples.begin(), p_samples.end(), 0.0) /
                      static_cast<double>(std::max<size_t>(p_samples.size(), 1));
  const size_t p99Index = p_samples.empty() ? 0 : (p_samples.size() * 99 + 99) / 100 - 1;
  return {mean, p_samples.empty() ? 0.0 : p_samples[p99Index], p_failures};
}

double MicrosecondsSince(Clock::time_point p_start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - p_start).count();
}

Summary BenchEngine(int p_count) {
  KestNet::Ping ping;
  WaitingListener listener;
  std::vector<double> samples;
  int failures = 0;
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    ping.EchoRequestAsync(L"127.0.0.1", &listener, 5000, 5000, 64, 56);
    if (listener.Wait() != KestNet::PING_SUCCESS) ++failures;
    samples.push_back(MicrosecondsSince(start));
  }
  return Summarise(samples, failures);
}

// What one worker costs by itself: a KestMT thread started, its body
// signalling the waiting caller, as every engine request does.
class SignallingThread : public KestMT::Thread {
 public:
  explicit SignallingThread(WaitingListener& p_listener) : m_listener(p_listener) {}
  ~SignallingThread() override { Abort(kDestructorDeadlockTimeout); }
  DWORD Run() override {
    m_listener.PingResponse(KestNet::PING_SUCCESS, L"", "", "", 0);
    return 0;
  }

 private:
  WaitingListener& m_listener;
};

Summary BenchBareWorker(int p_count) {
  WaitingListener listener;
  std::vector<double> samples;
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    auto worker = std::make_unique<SignallingThread>(listener);
    worker->Execute();
    listener.Wait();
    samples.push_back(MicrosecondsSince(start));
    worker.reset();
  }
  return Summarise(samples, 0);
}

Summary BenchService(int p_count) {
  HANDLE handle = IcmpCreateFile();
  std::vector<BYTE> payload(56, 0x41);
  std::array<ULONG_PTR, 1540 / sizeof(ULONG_PTR)> reply{};
  in_addr loopback{};
  inet_pton(AF_INET, "127.0.0.1", &loopback);
  std::vector<double> samples;
  int failures = 0;
  for (int i = 0; i < p_count; ++i) {
    const auto start = Clock::now();
    if (IcmpSendEcho(handle, loopback.s_addr, payload.data(), static_cast<WORD>(payload.size()), nullptr,
                     reply.data(), sizeof(reply), 5000) != 1) {
      ++failures;
    }
    samples.push_back(MicrosecondsSince(start));
  }
  IcmpCloseHandle(handle);
  return Summarise(samples, failures);
}

// iputils' own summary: "rtt min/avg/max/mdev = a/b/c/d ms".
void RunIputils(int p_count) {
  const std::string command =
      "ping -c " + std::to_string(p_count) + " -i 0.002 -q 127.0.0.1 2>&1";
  const auto start = Clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    std::printf("iputils ping: could not be started\n");
    return;
  }
  std::array<char, 512> line{};
  std::string summary;
  while (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) {
    if (std::string(line.data()).find("rtt") == 0) summary = line.data();
  }
  const int status = ::pclose(pipe);
  const double wallPerEcho = MicrosecondsSince(start) / p_count;
  if (status != 0 || summary.empty()) {
    std::printf("iputils ping: not available or failed (exit %d)\n", status);
    return;
  }
  double minimum = 0, average = 0, maximum = 0, deviation = 0;
  if (std::sscanf(summary.c_str(), "rtt min/avg/max/mdev = %lf/%lf/%lf/%lf", &minimum, &average, &maximum,
                  &deviation) == 4) {
    std::printf("%-34s avg rtt %8.1f us   max %8.1f us   wall/echo %8.1f us (incl. 2 ms interval)\n",
                "iputils ping -i 0.002", average * 1000, maximum * 1000, wallPerEcho);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const std::string problem = kestnet::platform::IcmpAccessProblem();
  if (!problem.empty()) {
    std::printf("%s\n", problem.c_str());
    return 1;
  }
  std::printf("%d sequential echoes to 127.0.0.1, 56-byte payload\n", count);
  const Summary service = BenchService(count);
  std::printf("%-34s mean %8.1f us   p99 %8.1f us   failures %d\n", "echo service (IcmpSendEcho)",
              service.meanMicroseconds, service.p99Microseconds, service.failures);
  const Summary engine = BenchEngine(count);
  std::printf("%-34s mean %8.1f us   p99 %8.1f us   failures %d\n", "engine (request to listener)",
              engine.meanMicroseconds, engine.p99Microseconds, engine.failures);
  const Summary worker = BenchBareWorker(count);
  std::printf("%-34s mean %8.1f us   p99 %8.1f us\n", "bare worker thread (baseline)",
              worker.meanMicroseconds, worker.p99Microseconds);
  RunIputils(count);
  return 0;
}
