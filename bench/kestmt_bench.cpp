// Costs of the KestMT primitives the workers lean on: taking a lock, waking a
// bound waiter, starting a thread, and aborting one blocked in a bound wait.
// Run with KESTNET_HOME pointing at a scratch directory (named mutexes are
// created in its object scope).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "runtime/critical_section.h"
#include "runtime/event.h"
#include "runtime/mutex.h"
#include "runtime/thread.h"

namespace {

class IdleThread : public KestMT::Thread {
 public:
  DWORD Run() override { return 0; }
};

// Waits, bound to itself, on an event that is never set until aborted.
class BlockedThread : public KestMT::Thread {
 public:
  ~BlockedThread() override {
    try {
      Abort(kDestructorDeadlockTimeout);
    } catch (...) {
    }
  }
  DWORD Run() override {
    m_started.Set();
    m_never.Wait(INFINITE, this);
    return 0;
  }
  KestMT::Event m_started;
  KestMT::Event m_never;
};

void CriticalSectionEnterLeave(benchmark::State& state) {
  KestMT::CriticalSection section;
  for (auto _ : state) {
    KestMT::AutoCriticalSection lock(&section);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CriticalSectionEnterLeave);

void AutoLockMutexUncontended(benchmark::State& state) {
  KestMT::Mutex mutex;
  if (state.range(0) != 0) {
    mutex.Config("KestMT::Bench::Mutex", nullptr);
  }
  for (auto _ : state) {
    KestMT::AutoLockMutex lock(&mutex, 1000);
    benchmark::ClobberMemory();
  }
  state.SetLabel(state.range(0) != 0 ? "named" : "unnamed");
}
BENCHMARK(AutoLockMutexUncontended)->Arg(0)->Arg(1);

// One round trip: this thread sets the ping event, the partner (in a bound
// wait) wakes, resets it and sets the pong event.
void EventPingPong(benchmark::State& state) {
  KestMT::Event ping;
  KestMT::Event pong;
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    for (;;) {
      ping.Wait(INFINITE);
      ping.Reset();
      if (stop.load()) {
        return;
      }
      pong.Set();
    }
  });
  for (auto _ : state) {
    ping.Set();
    pong.Wait(INFINITE);
    pong.Reset();
  }
  stop = true;
  ping.Set();
  partner.join();
}
BENCHMARK(EventPingPong)->UseRealTime();

void ExecuteAndWaitForEnd(benchmark::State& state) {
  IdleThread thread;
  for (auto _ : state) {
    thread.Execute();
    thread.WaitForThreadToEnd(INFINITE);
  }
}
BENCHMARK(ExecuteAndWaitForEnd)->UseRealTime();

void AbortBoundWaiter(benchmark::State& state) {
  BlockedThread thread;
  for (auto _ : state) {
    state.PauseTiming();
    thread.m_started.Reset();
    thread.Execute();
    thread.m_started.Wait(INFINITE);
    state.ResumeTiming();
    thread.Abort(INFINITE);
  }
}
BENCHMARK(AbortBoundWaiter)->UseRealTime();

void YieldWithoutAbort(benchmark::State& state) {
  // Yield is the abort check a worker makes in its loops; it logs one debug
  // line each time, which is most of its cost.
  class Yielder : public KestMT::Thread {
   public:
    DWORD Run() override { return 0; }
  } thread;
  for (auto _ : state) {
    thread.Yield();
  }
}
BENCHMARK(YieldWithoutAbort);

}  // namespace

BENCHMARK_MAIN();
