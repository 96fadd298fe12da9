#include "runtime/thread.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/sync/event.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "runtime/critical_section.h"
#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"

namespace KestMT {

namespace {

constexpr const char* kThreadClass = "KestMT::Thread";

// What to ask the OS for so that a body gets kStackSize of stack. The C
// library carves the thread's static thread-local storage out of the same
// mapping (three quarters of a megabyte under the thread sanitizer), and says
// how much through the private __pthread_get_minstack, which other runtimes
// ask for the same reason; without it the reservation is kStackSize alone.
unsigned StackReservation() {
  static const unsigned reservation = [] {
    using MinimumStack = std::size_t (*)(const pthread_attr_t*);
    std::size_t carved = 0;
    if (auto minimum = reinterpret_cast<MinimumStack>(dlsym(RTLD_DEFAULT, "__pthread_get_minstack"))) {
      pthread_attr_t attributes;
      if (pthread_attr_init(&attributes) == 0) {
        carved = minimum(&attributes);
        pthread_attr_destroy(&attributes);
      }
    }
    constexpr std::size_t kMostCarved = std::size_t{64} << 20;  // a sane bound on a private answer
    return static_cast<unsigned>(Thread::kStackSize + std::min(carved, kMostCarved));
  }();
  return reservation;
}

// Handles are logged by their value, as 32-bit numbers like the thread id.
unsigned HandleValue(HANDLE p_handle) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p_handle));
}

}  // namespace

// Everything a running body and its ThreadWrapper can reach, kept alive by both
// the Thread object and the wrapper (see the class comment).
struct ThreadRunState : std::enable_shared_from_this<ThreadRunState> {
  ThreadRunState(const Thread* p_pOwner, HANDLE p_hYieldEvent) : owner(p_pOwner), yieldEvent(p_hYieldEvent) {}
  ~ThreadRunState() {
    if (threadHandle != nullptr) {
      CloseHandle(threadHandle);
    }
    if (yieldEvent != nullptr) {
      CloseHandle(yieldEvent);
    }
  }
  ThreadRunState(const ThreadRunState&) = delete;
  ThreadRunState& operator=(const ThreadRunState&) = delete;

  // Identifies the calling body's own block; compared, never dereferenced.
  const Thread* const owner;
  CriticalSection lock;  // guards every field below
  bool abortRequested = false;
  bool suspended = false;
  bool running = false;
  bool finished = false;
  DWORD exitCode = 0;
  HANDLE threadHandle = nullptr;
  DWORD threadId = 0;
  // Manual-reset, unnamed; signalled by Abort and left signalled until the
  // next Execute, so every later bound wait of an aborted body throws at once.
  HANDLE yieldEvent;
  // Set when Abort had to end the body by force: the OS thread may still run,
  // but its outcome no longer counts and this block is never started again.
  bool abandoned = false;
};

// The callbacks of one Thread object in progress, by the thread running each
// (a thread may nest them). Shared with every CallbackScope, so that ending a
// scope never touches the object.
struct ThreadCallbackTracker {
  mutable std::mutex lock;  // leaf; guards callers
  std::condition_variable ended;
  std::vector<std::thread::id> callers;

  bool HasCallerOtherThan(std::thread::id p_self) const {
    return std::any_of(callers.begin(), callers.end(), [p_self](std::thread::id p_id) { return p_id != p_self; });
  }
};

struct Thread::WrapperArgument {
  Thread* self;
  std::shared_ptr<ThreadRunState> run;
};

namespace {

// The block of the body running on this OS thread, set by ThreadWrapper.
thread_local ThreadRunState* t_pCurrentRun = nullptr;

// Stores how a run ended, under the block's lock, when ThreadWrapper leaves
// its body: by return, by a swallowed exception, or by ExitThread's unwinding.
class RunEndRecorder {
 public:
  RunEndRecorder(const std::shared_ptr<ThreadRunState>& p_run, const DWORD& p_exitCode, HANDLE p_hThread,
                 DWORD p_threadId)
      : m_run(*p_run), m_exitCode(p_exitCode), m_hThread(p_hThread), m_threadId(p_threadId) {
    t_pCurrentRun = &m_run;
  }
  ~RunEndRecorder() {
    try {
      AutoCriticalSection lock(&m_run.lock);
      // After a forced end the caller of Abort has already recorded 0xFFFFFFFF
      // and the finished state; a late end of the body changes nothing.
      if (!m_run.abandoned) {
        m_run.exitCode = m_exitCode;
        m_run.running = false;
        m_run.abortRequested = true;
        m_run.finished = true;
      }
    } catch (...) {
      // The lock was created with the block; it cannot fail here.
    }
    MTLog(kThreadClass, 2, "ThreadWrapper exiting. Exit Code = %u. Thread HANDLE = %u. Thread Id = %u.",
          m_exitCode, HandleValue(m_hThread), m_threadId);
    t_pCurrentRun = nullptr;
  }
  RunEndRecorder(const RunEndRecorder&) = delete;
  RunEndRecorder& operator=(const RunEndRecorder&) = delete;

 private:
  ThreadRunState& m_run;
  const DWORD& m_exitCode;  // the wrapper's, read when the run ends
  HANDLE m_hThread;
  DWORD m_threadId;
};

enum class RunStateFailure { kNone, kYieldEvent, kLock };

// Creates a run block with its own yield event; null when the event or the
// lock cannot be created (p_failure says which).
std::shared_ptr<ThreadRunState> NewRunState(const Thread* p_pOwner, RunStateFailure& p_failure) {
  HANDLE hYieldEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (hYieldEvent == nullptr) {
    MTLog(kThreadClass, 0, "Internel CreateEvent call failed. GetLastError = %u.", GetLastError());
    p_failure = RunStateFailure::kYieldEvent;
    return nullptr;
  }
  auto run = std::make_shared<ThreadRunState>(p_pOwner, hYieldEvent);
  if (!run->lock.IsInitialized()) {
    p_failure = RunStateFailure::kLock;
    return nullptr;
  }
  p_failure = RunStateFailure::kNone;
  return run;
}

}  // namespace

Thread::Thread() : m_callbacks(std::make_shared<ThreadCallbackTracker>()) {
  RunStateFailure failure = RunStateFailure::kNone;
  m_run = NewRunState(this, failure);
  if (failure == RunStateFailure::kYieldEvent) {
    ThrowLogged<KestBase::InvalidObjectException>(kThreadClass);
  }
  if (failure == RunStateFailure::kLock) {
    ThrowLogged<KestBase::NullPointerException>(kThreadClass);
  }
}

Thread::~Thread() {
  try {
    MTLog(kThreadClass, 2,
          "Destructor running, aborting any underlying thread with a deadlock timeout value = %u "
          "(milliseconds).",
          kDestructorDeadlockTimeout);
    Abort(kDestructorDeadlockTimeout);
  } catch (...) {
    MTLog(kThreadClass, 0, "Unhandled unknown exception detected. File: %s Line: %d.",
          SourceFileName(__FILE__), __LINE__);
  }
  // The run block (handles, yield event, lock) goes with the last of this
  // object and a still-running ThreadWrapper.
}

std::shared_ptr<ThreadRunState> Thread::CurrentRun() const {
  if (t_pCurrentRun != nullptr && t_pCurrentRun->owner == this) {
    // The body of this object asks about itself: it keeps the block it was
    // started with, even after an abandonment and a new Execute. Its wrapper
    // holds that block for as long as the body runs.
    return t_pCurrentRun->shared_from_this();
  }
  std::lock_guard<std::mutex> guard(m_runGuard);
  return m_run;
}

namespace {

// Holds a run block's lock and leaves it on destruction. Execute declares it
// before its own object lock, so the block is left last: the new body (which
// waits for this lock) may destroy the Thread object as soon as it runs, and
// by then Execute no longer touches it.
class RunBlockLock {
 public:
  RunBlockLock() = default;
  ~RunBlockLock() { Release(); }
  RunBlockLock(const RunBlockLock&) = delete;
  RunBlockLock& operator=(const RunBlockLock&) = delete;

  void Take(const std::shared_ptr<ThreadRunState>& p_run) {
    Release();
    p_run->lock.Enter();
    m_run = p_run;
  }
  void Release() {
    if (m_run != nullptr) {
      m_run->lock.Leave();
      m_run.reset();
    }
  }

 private:
  std::shared_ptr<ThreadRunState> m_run;
};

}  // namespace

bool Thread::Execute() {
  RunBlockLock blockLock;
  std::lock_guard<std::mutex> serialise(m_executeLock);
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  blockLock.Take(run);
  if (run->running) {
    MTLog(kThreadClass, 1,
          "Execute call failure because this thread object is already associate with a running "
          "thread.");
    return false;
  }
  if (!run->abandoned) {
    return StartLocked(run);
  }
  blockLock.Release();
  // The previous body was abandoned and may still run against its block and
  // wait on its yield event, which must stay signalled for it: the new body
  // gets a block of its own.
  RunStateFailure failure = RunStateFailure::kNone;
  std::shared_ptr<ThreadRunState> fresh = NewRunState(this, failure);
  if (fresh == nullptr) {
    return false;
  }
  blockLock.Take(fresh);
  {
    std::lock_guard<std::mutex> guard(m_runGuard);
    m_run = fresh;
  }
  return StartLocked(fresh);
}

bool Thread::StartLocked(const std::shared_ptr<ThreadRunState>& p_run) {
  ThreadRunState& run = *p_run;
  run.abortRequested = false;
  if (run.threadHandle != nullptr) {
    CloseHandle(run.threadHandle);
    run.threadHandle = nullptr;
  }
  run.threadId = 0;
  if (!ResetEvent(run.yieldEvent)) {
    MTLog(kThreadClass, 0, "Internel ResetEvent call failed for our internal yield event. GetLastError = %u.",
          GetLastError());
    return false;
  }
  run.running = true;
  run.suspended = false;
  run.finished = false;

  // The wrapper reads the handle and id under this lock, so it waits until
  // they are stored below.
  auto* pArgument = new WrapperArgument{this, p_run};
  unsigned threadId = 0;
  errno = 0;
  const std::uintptr_t handle = _beginthreadex(nullptr, StackReservation(), &Thread::ThreadWrapper, pArgument, 0, &threadId);
  if (handle == 0) {
    const int startError = errno;
    delete pArgument;
    run.running = false;
    MTLog(kThreadClass, 0, "Internel _beginthreadex call failed. strerror(errno) = %s.",
          std::strerror(startError));
    return false;
  }
  run.threadHandle = reinterpret_cast<HANDLE>(handle);
  run.threadId = threadId;
  MTLog(kThreadClass, 2, "Internel thread creation successful. Thread HANDLE = %u. Thread ID = %u.",
        HandleValue(run.threadHandle), run.threadId);
  return true;
}

// The null check of the undefined-behaviour sanitizer is off here only: the
// unwinding of ExitThread is caught by reference (to let it go on), and its
// object is null by design.
[[gnu::no_sanitize("null")]] unsigned Thread::ThreadWrapper(void* p_pArgument) {
  std::unique_ptr<WrapperArgument> argument(static_cast<WrapperArgument*>(p_pArgument));
  // This reference keeps the block alive until the body really ends, even when
  // the Thread object is destroyed first.
  const std::shared_ptr<ThreadRunState> run = std::move(argument->run);
  Thread* const self = argument->self;
  argument.reset();

  HANDLE hThread = nullptr;
  DWORD threadId = 0;
  {
    AutoCriticalSection lock(&run->lock);
    hThread = run->threadHandle;
    threadId = run->threadId;
  }
  MTLog(kThreadClass, 2, "ThreadWrapper running. Thread HANDLE = %u. Thread Id = %u.", HandleValue(hThread),
        threadId);

  DWORD exitCode = kUncaughtExceptionExitCode;
  {
    // Records the end even when the body leaves by ExitThread, which unwinds
    // the stack and must not be swallowed.
    RunEndRecorder recorder(run, exitCode, hThread, threadId);
    try {
      exitCode = self->Run();
    } catch (const ThreadAbortException&) {
      MTLog(kThreadClass, 0, "Unhandled unknown exception detected. File: %s Line: %d.",
            SourceFileName(__FILE__), __LINE__);
      MTLog(kThreadClass, 1,
            "ThreadWrapper uncaught KestMT::ThreadAbortException caught. The exception is "
            "swallowed, the thread will exit. Thread HANDLE = %u. Thread Id = %u.",
            HandleValue(hThread), threadId);
    } catch (const ThreadDeadlockException&) {
      MTLog(kThreadClass, 0, "Unhandled unknown exception detected. File: %s Line: %d.",
            SourceFileName(__FILE__), __LINE__);
      MTLog(kThreadClass, 1,
            "ThreadWrapper uncaught KestMT::ThreadDeadlockException caught. The exception is "
            "swallowed, the thread will exit. Thread HANDLE = %u. Thread Id = %u.",
            HandleValue(hThread), threadId);
    } catch (abi::__forced_unwind&) {
      // The stack unwinding of ExitThread, which has to go on to end the thread.
      MTLog(kThreadClass, 1,
            "ThreadWrapper detected the underlying thread exiting from its body. Thread HANDLE = %u. "
            "Thread Id = %u.",
            HandleValue(hThread), threadId);
      throw;
    } catch (...) {
      MTLog(kThreadClass, 0, "Unhandled unknown exception detected. File: %s Line: %d.",
            SourceFileName(__FILE__), __LINE__);
      MTLog(kThreadClass, 1,
            "ThreadWrapper uncaught unhandled exception caught. The exception is swallowed, the "
            "thread will exit. Thread HANDLE = %u. Thread Id = %u.",
            HandleValue(hThread), threadId);
    }
  }
  return exitCode;
}

bool Thread::IsRunning() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->running;
}

bool Thread::IsSuspended() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->suspended;
}

bool Thread::IsFinished() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->finished;
}

DWORD Thread::GetExitCode() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->exitCode;
}

HANDLE Thread::GetHandle() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->threadHandle;
}

DWORD Thread::GetThreadId() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->threadId;
}

HANDLE Thread::GetYieldEvent() const {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return run->yieldEvent;
}

bool Thread::SuspendOrResumeLocked(ThreadRunState& p_run, bool p_bSuspend) {
  if (p_run.suspended == p_bSuspend) {
    return true;
  }
  constexpr DWORD kFailed = static_cast<DWORD>(-1);
  if (p_bSuspend) {
    if (SuspendThread(p_run.threadHandle) == kFailed) {
      MTLog(kThreadClass, 1, "Internel SuspendThread call failed. GetLastError = %u.", GetLastError());
      return false;
    }
  } else if (ResumeThread(p_run.threadHandle) == kFailed) {
    MTLog(kThreadClass, 1, "Internel ResumeThread call failed. GetLastError = %u.", GetLastError());
    return false;
  }
  p_run.suspended = p_bSuspend;
  return true;
}

bool Thread::Suspend() {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return SuspendOrResumeLocked(*run, true);
}

bool Thread::Resume() {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  AutoCriticalSection lock(&run->lock);
  return SuspendOrResumeLocked(*run, false);
}

void Thread::Abort(DWORD p_dwDeadlockTimeout) {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  HANDLE hThread = nullptr;
  HANDLE hYieldEvent = nullptr;
  bool bSelf = false;
  {
    AutoCriticalSection lock(&run->lock);
    if (run->threadHandle == nullptr) {
      return;
    }
    run->abortRequested = true;
    if (run->suspended) {
      SuspendOrResumeLocked(*run, false);
    }
    hThread = run->threadHandle;
    hYieldEvent = run->yieldEvent;
    bSelf = run->running && run->threadId == GetCurrentThreadId();
  }

  if (bSelf) {
    // A body cannot wait for its own end. The request stands: its next bound
    // wait or Yield throws ThreadAbortException.
    MTLog(kThreadClass, 1,
          "Abort called by the underlying thread on itself; the abort is requested, the thread is "
          "not waited for.");
    if (!SetEvent(hYieldEvent)) {
      MTLog(kThreadClass, 1,
            "Failed to signal our internal Yield Event. We will attempt to continue anyway. "
            "SetEvent call failed with GetLastError = %u.",
            GetLastError());
    }
    return;
  }

  MTLog(kThreadClass, 2,
        "Aborting underlying thread managed by this KestMT::Thread object. Deadlock timeout "
        "interval = %u (in milliseconds).",
        p_dwDeadlockTimeout);
  if (!SetEvent(hYieldEvent)) {
    MTLog(kThreadClass, 1,
          "Failed to signal our internal Yield Event. We will attempt to continue anyway. SetEvent "
          "call failed with GetLastError = %u.",
          GetLastError());
  }

  const DWORD waitResult = WaitForSingleObject(hThread, p_dwDeadlockTimeout);
  if (waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED_0) {
    AutoCriticalSection lock(&run->lock);
    run->running = false;
    run->finished = true;
    MTLog(kThreadClass, 2, "Successfully aborted underlying thread managed by this KestMT::Thread object.");
    return;
  }
  if (waitResult != WAIT_TIMEOUT) {
    MTLog(kThreadClass, 0, "Wait for the end of the underlying thread failed. GetLastError = %u.",
          GetLastError());
    ThrowLogged<KestBase::InvalidObjectException>(kThreadClass);
  }

  MTLog(kThreadClass, 1,
        "Timeout encountered waiting for clean thread death. TerminateThread (evil as it is) will "
        "be used to force the issue. Timeout interval: %u (in milliseconds).",
        p_dwDeadlockTimeout);
  if (!TerminateThread(hThread, 0)) {
    MTLog(kThreadClass, 1, "Internal TerminateThread call failure. GetLastError = %u.", GetLastError());
  }
  {
    AutoCriticalSection lock(&run->lock);
    run->running = false;
    run->finished = true;
    run->exitCode = kForcedExitCode;
    run->abandoned = true;
  }
  ThrowLogged<ThreadDeadlockException>(kThreadClass);
}

void Thread::Sleep(DWORD p_dwMilliseconds) {
  std::shared_ptr<ThreadRunState> run = CurrentRun();
  HANDLE hYieldEvent = nullptr;
  {
    AutoCriticalSection lock(&run->lock);
    hYieldEvent = run->yieldEvent;
    MTLog(kThreadClass, 2,
          "KestMT::Thread putting the underlying thread to sleep for %u milliseconds. Thread "
          "HANDLE = %u. Thread Id = %u.",
          p_dwMilliseconds, HandleValue(run->threadHandle), run->threadId);
  }
  WaitForSingleObject(hYieldEvent, p_dwMilliseconds);
  bool bAbort = false;
  {
    AutoCriticalSection lock(&run->lock);
    bAbort = run->abortRequested;
  }
  if (bAbort) {
    ThrowLogged<ThreadAbortException>(kThreadClass);
  }
}

void Thread::Yield() { Sleep(0); }

Thread::CallbackScope::CallbackScope(const Thread& p_thread) : m_tracker(p_thread.m_callbacks) {
  std::lock_guard<std::mutex> lock(m_tracker->lock);
  m_tracker->callers.push_back(std::this_thread::get_id());
}

Thread::CallbackScope::~CallbackScope() {
  {
    std::lock_guard<std::mutex> lock(m_tracker->lock);
    auto& callers = m_tracker->callers;
    callers.erase(std::find(callers.begin(), callers.end(), std::this_thread::get_id()));
  }
  m_tracker->ended.notify_all();
}

bool Thread::IsInCallback() const {
  std::lock_guard<std::mutex> lock(m_callbacks->lock);
  return !m_callbacks->callers.empty();
}

bool Thread::IsInCallbackOnThisThread() const {
  std::lock_guard<std::mutex> lock(m_callbacks->lock);
  const auto& callers = m_callbacks->callers;
  return std::find(callers.begin(), callers.end(), std::this_thread::get_id()) != callers.end();
}

void Thread::WaitForCallbacksOnOtherThreads() const {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(m_callbacks->lock);
  m_callbacks->ended.wait(lock, [&] { return !m_callbacks->HasCallerOtherThan(self); });
}

bool Thread::IsReapable() const { return !IsRunning() && !IsInCallback(); }

bool Thread::WaitForThreadToEnd(DWORD p_dwTimeout, Event* p_pEvent, Thread* p_pBoundThread) {
  std::vector<HANDLE> handles;
  {
    std::shared_ptr<ThreadRunState> run = CurrentRun();
    AutoCriticalSection lock(&run->lock);
    if (!run->running) {
      return true;
    }
    if (run->threadId == GetCurrentThreadId()) {
      // The body waiting for its own end would wait for ever.
      MTLog(kThreadClass, 0, "WaitForThreadToEnd(): Error - A thread cannot wait for its own end.");
      ThrowLogged<KestBase::InvalidOperationException>(kThreadClass);
    }
    handles.push_back(run->threadHandle);
  }
  if (p_pBoundThread != nullptr) {
    HANDLE hBound = p_pBoundThread->GetHandle();
    if (hBound == nullptr) {
      MTLog(kThreadClass, 0, "WaitForThreadToEnd(): Error - Invalid Thread HANDLE.");
      ThrowLogged<KestBase::InvalidOperationException>(kThreadClass);
    }
    HANDLE hBoundYield = p_pBoundThread->GetYieldEvent();
    if (hBoundYield == nullptr) {
      MTLog(kThreadClass, 0, "WaitForThreadToEnd(): Error - Invalid Thread yield event.");
      ThrowLogged<KestBase::InvalidOperationException>(kThreadClass);
    }
    handles.push_back(hBound);
    handles.push_back(hBoundYield);
  }
  if (p_pEvent != nullptr) {
    HANDLE hEvent = p_pEvent->GetHandle();
    if (hEvent == nullptr) {
      MTLog(kThreadClass, 0, "WaitForThreadToEnd(): Error - Invalid Event Object.");
      ThrowLogged<KestBase::InvalidOperationException>(kThreadClass);
    }
    handles.push_back(hEvent);
  }

  const auto count = static_cast<DWORD>(handles.size());
  const DWORD waitResult = WaitForMultipleObjects(count, handles.data(), FALSE, p_dwTimeout);
  if (waitResult == WAIT_TIMEOUT) {
    return false;
  }
  if (waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED_0) {
    return true;
  }
  const bool bOtherSignalled = waitResult > WAIT_OBJECT_0 && waitResult < WAIT_OBJECT_0 + count;
  const bool bOtherAbandoned = waitResult > WAIT_ABANDONED_0 && waitResult < WAIT_ABANDONED_0 + count;
  if (bOtherSignalled || bOtherAbandoned) {
    ThrowLogged<ThreadAbortException>(kThreadClass);
  }
  MTLog(kThreadClass, 0, "WaitForThreadToEnd(): Error - Unhandled return code from wait.");
  ThrowLogged<KestBase::InvalidObjectException>(kThreadClass);
}

}  // namespace KestMT
