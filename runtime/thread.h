// KestMT::Thread: the base class of every worker thread, with cooperative abort.
//
// A worker derives from Thread and overrides Run. Execute starts Run on a new OS
// thread; Abort asks it to stop by setting the abort flag and signalling the
// thread's yield event. Every wait that is bound to the thread (Event::Wait,
// Mutex::Acquire, WaitForThreadToEnd with the thread passed in, Sleep, Yield)
// wakes on that event and throws KestMT::ThreadAbortException inside the thread,
// which unwinds the body; ThreadWrapper swallows it and records exit code 1.
// When the body does not end within the caller's deadlock time-out, Abort ends
// it by force, records exit code 0xFFFFFFFF and throws
// KestMT::ThreadDeadlockException to the caller.
//
// Linux cannot kill one thread of a process. A forced end therefore abandons
// the OS thread: its handle is signalled and it runs on, detached, until its
// body returns. Everything that thread can still reach through this class lives
// in a run state block shared (by shared_ptr) between the Thread object and the
// running ThreadWrapper: the flags, the exit code, the handles, the yield event
// and the lock guarding them. The Thread object may therefore be destroyed
// while an abandoned body still runs, and ThreadWrapper still records its end
// safely; the abandoned run's outcome is ignored (the exit code stays
// 0xFFFFFFFF) and a later Execute starts with a fresh block and yield event.
// The object itself is the derived class's business: a body that ignores
// abort must not touch its object (its members, nor Yield or a wait bound to
// it, which are calls on the object) once that may have been destroyed. Every
// worker of the system yields, and a derived destructor that owns state the
// body uses should call Abort itself before that state goes. A body may also
// destroy its own object and return: nothing here touches it afterwards.
//
// Code of a worker also runs outside its body: a socket notification or a
// completion on another thread (a DNS answer is read and reported on a socket
// event thread). Such a call holds a CallbackScope for its whole span; an
// owner that destroys workers once they have ended (KestThreadManager) asks
// IsReapable, which is true only when the body has ended AND no callback is
// in progress, so a callback that reaches the owner (and makes it reap) never
// has its own object destroyed under it. A worker starts callbacks only while
// its body runs or while another of its callbacks is in progress (the DNS
// query closes its socket before its body ends), so a thread found reapable
// stays so.
//
// Locks: m_executeLock (serialises Execute) is taken before a run block's
// critical section, and released before it, because a new body waits for the
// block's lock and may destroy this object once it runs. m_runGuard only
// protects the m_run pointer and is never held while taking another lock.
// The callback tracker's lock is a leaf.
#pragma once

#include <memory>
#include <mutex>

#include "platform/os/win_types.h"

namespace KestMT {

class Event;
struct ThreadRunState;
struct ThreadCallbackTracker;

class Thread {
 public:
  // Exit code of a thread whose body had to be ended by force.
  static constexpr DWORD kForcedExitCode = 0xFFFFFFFFu;
  // Exit code recorded when an exception escapes the body.
  static constexpr DWORD kUncaughtExceptionExitCode = 1;
  // Deadlock time-out the destructor gives a running body.
  static constexpr DWORD kDestructorDeadlockTimeout = 5000;
  // Stack a body gets (on top of what the C library keeps for thread-local
  // storage): what Windows gives a thread by default, which every worker of
  // the system is written for. (The C library's default here is 8 MB; at
  // 1 MB its cache of finished threads' stacks holds about forty of them, so
  // a busy engine reuses stacks instead of mapping and clearing new ones.)
  static constexpr unsigned kStackSize = 1u << 20;

  // Throws KestBase::InvalidObjectException when the yield event cannot be
  // created and KestBase::NullPointerException when the lock cannot.
  Thread();
  // Aborts a running body with a 5000 ms deadlock time-out; never throws.
  virtual ~Thread();

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The thread body; its return value is the exit code.
  virtual DWORD Run() = 0;

  // Starts Run on a new OS thread. False when a thread is already running (it
  // keeps running) or the OS thread cannot be started.
  virtual bool Execute();
  virtual bool IsRunning() const;
  // May fail (false) where the platform cannot suspend threads.
  virtual bool Suspend();
  virtual bool IsSuspended() const;
  virtual bool Resume();
  // Asks the body to stop and waits up to p_dwDeadlockTimeout ms (INFINITE for
  // no limit) for it to end; throws ThreadDeadlockException after a forced end.
  // Called from the body itself it only requests the abort (it cannot wait for
  // its own end); the next bound wait or Yield of the body then throws.
  virtual void Abort(DWORD p_dwDeadlockTimeout);
  // Abortable sleep for the body: waits on the yield event, then throws
  // ThreadAbortException if an abort was requested.
  virtual void Sleep(DWORD p_dwMilliseconds);
  // An abort check: Sleep(0).
  virtual void Yield();
  virtual DWORD GetExitCode() const;
  virtual HANDLE GetHandle() const;
  virtual DWORD GetThreadId() const;
  virtual HANDLE GetYieldEvent() const;
  // Waits for this thread to end: true when it ended (or was not running),
  // false on time-out. With p_pEvent or p_pBoundThread, that event being
  // signalled or that thread being aborted throws ThreadAbortException.
  // Called from this thread's own body it throws InvalidOperationException.
  virtual bool WaitForThreadToEnd(DWORD p_dwTimeout, Event* p_pEvent = nullptr,
                                  Thread* p_pBoundThread = nullptr);

  // True once a body has ended or been aborted, until the next Execute.
  bool IsFinished() const;

  // Marks a call into this object from outside its body (a socket
  // notification, a completion) for the scope's lifetime. Declared first in
  // the call, before anything that touches the object, and outside its
  // exception handlers. The scope keeps its own share of the tracker, so its
  // end never touches the object, which may be destroyed at once after it.
  class CallbackScope {
   public:
    explicit CallbackScope(const Thread& p_thread);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    std::shared_ptr<ThreadCallbackTracker> m_tracker;
  };

  // True while a CallbackScope of this object is alive on any thread.
  bool IsInCallback() const;
  // True while a CallbackScope of this object is alive on the calling thread.
  bool IsInCallbackOnThisThread() const;
  // Waits until no CallbackScope of this object is alive on a thread other
  // than the calling one.
  void WaitForCallbacksOnOtherThreads() const;
  // Whether an owner may destroy the object now: the body is not running and
  // no callback of it is in progress.
  bool IsReapable() const;

 private:
  struct WrapperArgument;

  // The OS thread's entry: runs the body and records how it ended.
  static unsigned ThreadWrapper(void* p_pArgument);

  // The block of the run this call concerns: the calling body's own block when
  // called from a body of this object (an abandoned body keeps its own),
  // otherwise the object's current block.
  std::shared_ptr<ThreadRunState> CurrentRun() const;
  bool StartLocked(const std::shared_ptr<ThreadRunState>& p_run);
  bool SuspendOrResumeLocked(ThreadRunState& p_run, bool p_bSuspend);

  mutable std::mutex m_runGuard;
  std::shared_ptr<ThreadRunState> m_run;
  std::mutex m_executeLock;
  const std::shared_ptr<ThreadCallbackTracker> m_callbacks;
};

}  // namespace KestMT
