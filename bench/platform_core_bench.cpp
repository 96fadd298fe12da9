// Costs of the platform core's waitable objects and message queues: an
// uncontended lock, a wake across threads and across processes, a wait over
// many handles, and posting and dispatching window messages.
// Named objects go to the scope of KESTNET_HOME; the benchmark sets it to a
// fresh temporary directory and removes the objects when it ends.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/msg/message.h"
#include "platform/os/home.h"
#include "platform/sync/critical_section.h"
#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/sync/named_objects.h"
#include "platform/sync/thread.h"

namespace {

void CriticalSectionEnterLeave(benchmark::State& state) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  for (auto _ : state) {
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
  }
  DeleteCriticalSection(&section);
}
BENCHMARK(CriticalSectionEnterLeave);

void MutexAcquireRelease(benchmark::State& state) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, state.range(0) != 0 ? L"bench mutex" : nullptr);
  for (auto _ : state) {
    WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
  }
  CloseHandle(mutex);
}
BENCHMARK(MutexAcquireRelease)->ArgName("named")->Arg(0)->Arg(1);

// One round trip: set the partner's event, wait for it to set ours.
void EventPingPongAcrossThreads(benchmark::State& state) {
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread partner([&] {
    HANDLE handles[2] = {stop, ping};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) SetEvent(pong);
  });
  for (auto _ : state) {
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  SetEvent(stop);
  partner.join();
  for (HANDLE handle : {stop, ping, pong}) CloseHandle(handle);
}
BENCHMARK(EventPingPongAcrossThreads)->UseRealTime();

// The same round trip between two processes on named events.
void NamedEventPingPongAcrossProcesses(benchmark::State& state) {
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, L"bench ping");
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, L"bench pong");
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, L"bench stop");
  pid_t child = ::fork();
  if (child == 0) {
    HANDLE handles[2] = {OpenEventW(EVENT_ALL_ACCESS, FALSE, L"bench stop"),
                         OpenEventW(EVENT_ALL_ACCESS, FALSE, L"bench ping")};
    HANDLE reply = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"bench pong");
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) SetEvent(reply);
    ::_exit(0);
  }
  for (auto _ : state) {
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  SetEvent(stop);
  int status = 0;
  ::waitpid(child, &status, 0);
  CloseHandle(ping);
  CloseHandle(pong);
  CloseHandle(stop);
}
BENCHMARK(NamedEventPingPongAcrossProcesses)->UseRealTime();

// From SIGKILL of a process holding a named mutex to a waiter obtaining it
// abandoned: how fast the death of an owner is noticed.
void AbandonedMutexNoticedAfterKill(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"bench holder ready");
    pid_t child = ::fork();
    if (child == 0) {
      HANDLE held = CreateMutexW(nullptr, TRUE, L"bench held");
      SetEvent(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"bench holder ready"));
      (void)held;
      for (;;) pause();
    }
    WaitForSingleObject(ready, INFINITE);
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"bench held");
    std::atomic<bool> waiting{false};
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
      waiting = true;
      result = WaitForSingleObject(mutex, 10000);
      if (result == WAIT_ABANDONED) ReleaseMutex(mutex);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let the waiter fall asleep
    state.ResumeTiming();
    ::kill(child, SIGKILL);
    waiter.join();
    state.PauseTiming();
    if (result != WAIT_ABANDONED) state.SkipWithError("the waiter did not get the abandoned mutex");
    int status = 0;
    ::waitpid(child, &status, 0);
    CloseHandle(mutex);
    CloseHandle(ready);
    state.ResumeTiming();
  }
}
BENCHMARK(AbandonedMutexNoticedAfterKill)->Iterations(20)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Wait-any over 64 handles where only the last is signalled.
void WaitAnyOfSixtyFour(benchmark::State& state) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (HANDLE& handle : handles) handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetEvent(handles[MAXIMUM_WAIT_OBJECTS - 1]);
  for (auto _ : state) {
    benchmark::DoNotOptimize(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, handles, FALSE, 0));
  }
  for (HANDLE handle : handles) CloseHandle(handle);
}
BENCHMARK(WaitAnyOfSixtyFour);

LRESULT CountingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) {
    ++*reinterpret_cast<long*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeCountingWindow(long* counter) {
  static const ATOM registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CountingProcedure;
    windowClass.lpszClassName = L"KestBenchWindow";
    return RegisterClassExW(&windowClass);
  }();
  (void)registered;
  HWND window = CreateWindowExW(0, L"KestBenchWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(counter));
  return window;
}

// Post one message and dispatch it on the same thread.
void PostAndDispatchOnOwner(benchmark::State& state) {
  long counter = 0;
  HWND window = MakeCountingWindow(&counter);
  MSG msg;
  for (auto _ : state) {
    PostMessageW(window, WM_USER + 1, 0, 0);
    PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    DispatchMessageW(&msg);
  }
  DestroyWindow(window);
  state.counters["dispatched"] = static_cast<double>(counter);
}
BENCHMARK(PostAndDispatchOnOwner);

// Messages per second from a posting thread to a pumping owner.
void PostFromAnotherThread(benchmark::State& state) {
  long counter = 0;
  HWND window = MakeCountingWindow(&counter);
  constexpr long kBatch = 1000;
  MSG msg;
  for (auto _ : state) {
    long target = counter + kBatch;
    std::thread poster([window] {
      for (long i = 0; i < kBatch; ++i) {
        while (!PostMessageW(window, WM_USER + 1, 0, 0)) std::this_thread::yield();  // queue full: retry
      }
    });
    while (counter < target && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    poster.join();
  }
  DestroyWindow(window);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(PostFromAnotherThread)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  ::setenv("KESTNET_HOME", pattern.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kestnet::platform::RemoveNamedObjects(kestnet::platform::NamedObjectScope());
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
