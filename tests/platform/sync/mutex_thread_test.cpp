#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/os/last_error.h"
#include "platform/sync/critical_section.h"
#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/sync/thread.h"
#include "tests/platform/sync/isolated_home.h"

namespace kestnet::testing {
namespace {

using MutexTest = IsolatedHome;
using ThreadTest = IsolatedHome;

// Starts fn(argument) on a _beginthreadex thread.
HANDLE Start(unsigned (*fn)(void*), void* argument, unsigned flags = 0, unsigned* id = nullptr) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, fn, argument, flags, id));
}

TEST_F(MutexTest, OwnerMayAcquireRecursivelyAndMustReleaseEachTime) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_NE(mutex, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);

  auto otherCanTake = [mutex] {
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
      result = WaitForSingleObject(mutex, 0);
      if (result == WAIT_OBJECT_0) ReleaseMutex(mutex);
    });
    other.join();
    return result == WAIT_OBJECT_0;
  };
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(otherCanTake());
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(otherCanTake());
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(mutex);
}

TEST_F(MutexTest, ReleaseByAThreadThatDoesNotOwnItFails) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  BOOL released = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    released = ReleaseMutex(mutex);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(released);
  EXPECT_EQ(error, ERROR_NOT_OWNER);
  // Still owned by this thread.
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST_F(MutexTest, WaiterWakesWhenOwnerReleases) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] {
    result = WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(result.load(), WAIT_FAILED);
  ReleaseMutex(mutex);
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  CloseHandle(mutex);
}

unsigned TakeAndReturn(void* mutex) {
  return WaitForSingleObject(static_cast<HANDLE>(mutex), 0) == WAIT_OBJECT_0 ? 0 : 1;
}

TEST_F(MutexTest, ThreadEndingWhileOwningAbandonsTheMutex) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE thread = Start(TakeAndReturn, mutex);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  ASSERT_EQ(code, 0u);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE handles[2] = {event, mutex};
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_ABANDONED_0 + 1);
  // The abandoned state is reported once; the new owner then holds it normally.
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  ReleaseMutex(mutex);
  CloseHandle(event);
  CloseHandle(thread);
  CloseHandle(mutex);
}

TEST_F(MutexTest, WaitAllOnMutexAndEventTakesBothTogether) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE both[2] = {mutex, event};
  DWORD result = WAIT_FAILED;
  std::thread other([&] { result = WaitForMultipleObjects(2, both, TRUE, 20); });
  other.join();
  EXPECT_EQ(result, WAIT_TIMEOUT);
  // The failed wait-all gave the mutex back.
  std::thread taker([&] {
    result = WaitForSingleObject(mutex, 0);
    ReleaseMutex(mutex);
  });
  taker.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  SetEvent(event);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
  CloseHandle(event);
}

TEST_F(MutexTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 4000));
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  BOOL otherEntered = TRUE;
  std::thread other([&] {
    otherEntered = TryEnterCriticalSection(&section);
    if (otherEntered) LeaveCriticalSection(&section);
  });
  other.join();
  EXPECT_FALSE(otherEntered);
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  std::thread again([&] {
    otherEntered = TryEnterCriticalSection(&section);
    if (otherEntered) LeaveCriticalSection(&section);
  });
  again.join();
  EXPECT_TRUE(otherEntered);
  DeleteCriticalSection(&section);
}

unsigned WaitThenReturn(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 42;
}

TEST_F(ThreadTest, HandleIsSignalledWhenTheThreadEndsAndHoldsItsExitCode) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  unsigned id = 0;
  HANDLE thread = Start(WaitThenReturn, go, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(GetThreadId(thread), id);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(thread);
  CloseHandle(go);
}

unsigned CountRun(void* counter) {
  static_cast<std::atomic<int>*>(counter)->fetch_add(1);
  return 0;
}

TEST_F(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
  std::atomic<int> runs{0};
  HANDLE thread = Start(CountRun, &runs, CREATE_SUSPENDED);
  EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(ResumeThread(thread), 0u);
  CloseHandle(thread);
}

TEST_F(ThreadTest, SuspendingARunningThreadIsRefusedHonestly) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = Start(WaitThenReturn, go);
  EXPECT_EQ(SuspendThread(thread), static_cast<DWORD>(-1));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  SetEvent(go);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(go);
}

struct Victim {
  std::atomic<bool> release{false};
  std::atomic<bool> running{false};
  std::atomic<long> touches{0};
};

unsigned SpinUntilReleased(void* raw) {
  auto* victim = static_cast<Victim*>(raw);
  victim->running = true;
  while (!victim->release.load()) {
    victim->touches.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 5;
}

TEST_F(ThreadTest, TerminateThreadAbandonsTheThreadWithoutFreeingWhatItUses) {
  auto victim = std::make_unique<Victim>();
  HANDLE thread = Start(SpinUntilReleased, victim.get());
  ASSERT_TRUE(WaitUntil([&] { return victim->running.load(); }));
  ASSERT_TRUE(TerminateThread(thread, 7));
  // Signalled at once with the given code, though the OS thread runs on.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(CloseHandle(thread));
  long before = victim->touches.load();
  ASSERT_TRUE(WaitUntil([&] { return victim->touches.load() > before; }));
  EXPECT_EQ(platform::RunningThreadCount(), 1u);
  victim->release = true;
  ASSERT_TRUE(WaitUntil([] { return platform::RunningThreadCount() == 0; }));
}

TEST_F(ThreadTest, ClosingTheHandleOfARunningThreadDetachesIt) {
  auto victim = std::make_unique<Victim>();
  HANDLE thread = Start(SpinUntilReleased, victim.get());
  EXPECT_TRUE(CloseHandle(thread));
  ASSERT_TRUE(WaitUntil([&] { return victim->touches.load() > 0; }));
  victim->release = true;
  ASSERT_TRUE(WaitUntil([] { return platform::RunningThreadCount() == 0; }));
}

TEST_F(ThreadTest, NullStartAddressFailsWithEinval) {
  errno = 0;
  EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(errno, EINVAL);
}

std::atomic<DWORD> g_apcThread{0};
std::atomic<ULONG_PTR> g_apcData{0};

void RecordApc(ULONG_PTR data) {
  g_apcThread = GetCurrentThreadId();
  g_apcData = data;
}

struct ApcTarget {
  HANDLE queued = nullptr;
  DWORD sleepResult = 0;
};

unsigned SleepAlertably(void* raw) {
  auto* target = static_cast<ApcTarget*>(raw);
  WaitForSingleObject(target->queued, INFINITE);
  target->sleepResult = SleepEx(INFINITE, TRUE);
  return 0;
}

TEST_F(ThreadTest, QueuedApcRunsOnTheTargetInItsAlertableWait) {
  ApcTarget target;
  target.queued = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  unsigned id = 0;
  HANDLE thread = Start(SleepAlertably, &target, 0, &id);
  ASSERT_EQ(QueueUserAPC(RecordApc, thread, 1234), 1u);
  SetEvent(target.queued);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(target.sleepResult, WAIT_IO_COMPLETION);
  EXPECT_EQ(g_apcThread.load(), id);
  EXPECT_EQ(g_apcData.load(), 1234u);
  // A thread that has ended takes no more APCs.
  EXPECT_EQ(QueueUserAPC(RecordApc, thread, 1), 0u);
  CloseHandle(thread);
  CloseHandle(target.queued);
}

TEST_F(ThreadTest, CurrentThreadPseudoHandleNamesTheCallingThread) {
  EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // no effect
  HANDLE real = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  // The duplicate is a real handle that another thread can wait on.
  DWORD seenId = 0;
  std::thread([&] { seenId = GetThreadId(real); }).join();
  EXPECT_EQ(seenId, GetCurrentThreadId());
  EXPECT_TRUE(CloseHandle(real));
}

TEST_F(ThreadTest, ThreadIdsAreKernelIdsAndTicksAdvance) {
  EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(::syscall(SYS_gettid)));
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
  // The id is kept, but a child made by fork has its own.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(GetCurrentProcessId() == static_cast<DWORD>(::getpid()) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, GetCurrentThreadId());
  ULONGLONG start = GetTickCount64();
  Sleep(20);
  EXPECT_GE(GetTickCount64() - start, 20u);
  EXPECT_EQ(SleepEx(0, TRUE), 0u);
}

}  // namespace
}  // namespace kestnet::testing
