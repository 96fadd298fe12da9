// The object behind a thread handle, and per-thread housekeeping.
//
// For the platform layer only. Every thread that asks (GetCurrentThread, an
// alertable wait, a mutex it owns) has one ThreadObject; threads started by
// _beginthreadex get theirs before they run. The running thread holds a
// reference, so the object outlives every handle closed or "terminated" under it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/sync/kernel_object.h"
#include "platform/sync/wait.h"

namespace kestnet::platform {

class ThreadObject final : public WaitableObject {
 public:
  ObjectKind Kind() const override { return ObjectKind::Thread; }
  std::atomic<std::uint32_t>& WakeWord() override { return wake_; }
  AcquireOutcome TryAcquire(WaitSlot&) override {
    return ended_.load(std::memory_order_acquire) ? AcquireOutcome::Acquired : AcquireOutcome::NotReady;
  }
  void UndoAcquire(WaitSlot&, AcquireOutcome) override {}

  // Marks the thread ended with this exit code unless it was already (a
  // TerminateThread came first). Returns whether this call ended it.
  bool MarkEnded(DWORD exitCode);
  bool HasEnded() const { return ended_.load(std::memory_order_acquire); }
  DWORD ExitCode() const { return exitCode_.load(std::memory_order_acquire); }

  DWORD ThreadId() const { return threadId_.load(std::memory_order_acquire); }
  // Publishes the id and wakes WaitForThreadId.
  void SetThreadId(DWORD id);
  // Sleeps until the new thread has published its id.
  DWORD WaitForThreadId();

  // Start gate for CREATE_SUSPENDED: the thread waits in WaitUntilResumed
  // while the suspend count is above 0.
  void SetInitialSuspendCount(DWORD count) { suspendCount_ = count; }
  DWORD Resume();  // previous count
  void WaitUntilResumed();

  // User APCs.
  bool QueueApc(PAPCFUNC function, ULONG_PTR data);
  // Runs every queued APC on the calling (owning) thread; true if any ran.
  bool RunApcs();
  std::atomic<std::uint32_t>& ApcWord() { return apcWake_; }

 private:
  std::atomic<std::uint32_t> wake_{0};
  std::atomic<bool> ended_{false};
  std::atomic<DWORD> exitCode_{STILL_ACTIVE_CODE};
  std::atomic<DWORD> threadId_{0};

  std::mutex gateMutex_;
  std::condition_variable gate_;
  DWORD suspendCount_ = 0;

  std::mutex apcMutex_;
  std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs_;
  std::atomic<std::uint32_t> apcWake_{0};

  static constexpr DWORD STILL_ACTIVE_CODE = 259;
};

// The calling thread's object, made on first use.
std::shared_ptr<ThreadObject> CurrentThreadObject();

// Work to do when any thread ends, before its handle is signalled (the message
// layer tears down the thread's queue and windows). Registered once per
// process; runs on the ending thread, in registration order.
using ThreadExitCallback = void (*)();
void RegisterThreadExitCallback(ThreadExitCallback callback);

// Runs the exit callbacks and abandons the mutexes the thread owns; called by
// the thread wrapper, and by a thread-local guard for threads not started by
// _beginthreadex. Runs at most once per thread.
void RunThreadExitHousekeeping();

// A mutex owned by the calling thread, abandoned if the thread ends owning it.
class MutexObject;
void NoteMutexOwned(std::shared_ptr<MutexObject> mutex);
// Returns the thread's reference to the mutex (null when it kept none), so
// that a release can keep the object alive until its unlock is done.
std::shared_ptr<MutexObject> NoteMutexReleased(const MutexObject* mutex);

}  // namespace kestnet::platform
