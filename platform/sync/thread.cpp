#include "platform/sync/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/sync/futex.h"
#include "platform/sync/mutex_object.h"
#include "platform/sync/thread_object.h"

namespace kestnet::platform {
namespace {

std::atomic<std::size_t> g_runningThreads{0};

// Process-wide exit callbacks: a fixed table, filled once by each library
// that needs one, read by every ending thread without a lock.
constexpr std::size_t kMaxExitCallbacks = 8;
std::atomic<ThreadExitCallback> g_exitCallbacks[kMaxExitCallbacks];
std::atomic<std::size_t> g_exitCallbackCount{0};
std::mutex g_exitCallbackMutex;

// Per-thread state; its destructor does the housekeeping for threads that
// were not started by _beginthreadex (and is a no-op for those that were).
struct ThreadLocalState {
  std::shared_ptr<ThreadObject> self;
  std::vector<std::shared_ptr<MutexObject>> ownedMutexes;
  std::optional<DWORD> exitThreadCode;
  bool startedByUs = false;
  bool housekeepingDone = false;

  ~ThreadLocalState();
};

// Set once the thread's ThreadLocalState is destroyed: other thread-local
// destructors that run later must not touch it. Trivially destructible, so it
// stays readable to the end.
thread_local bool t_localStateGone = false;

ThreadLocalState& Local() {
  thread_local ThreadLocalState state;
  return state;
}

ThreadLocalState::~ThreadLocalState() {
  RunThreadExitHousekeeping();
  if (self && !startedByUs) self->MarkEnded(0);
  t_localStateGone = true;
}

// The calling thread's kernel id, 0 until asked: gettid is a system call, and
// every mutex acquisition and release asks who the caller is.
thread_local pid_t t_threadId = 0;

// A child made by fork has only the forking thread: what that thread owned
// belongs to the parent, and the parent's other threads do not exist here.
void ForgetParentThreadsAfterFork() {
  t_threadId = 0;
  ThreadLocalState& local = Local();
  local.ownedMutexes.clear();
  local.self.reset();
  local.startedByUs = false;
  g_runningThreads.store(0, std::memory_order_release);
}

[[maybe_unused]] const bool g_forkHandlerInstalled =
    pthread_atfork(nullptr, nullptr, ForgetParentThreadsAfterFork) == 0;

struct StartBlock {
  unsigned (*start)(void*);
  void* argument;
  std::shared_ptr<ThreadObject> object;
};

// Ends the thread's bookkeeping on the way out, whether the start routine
// returned or ExitThread unwound it.
class ThreadFinisher {
 public:
  explicit ThreadFinisher(std::shared_ptr<ThreadObject> object) : object_(std::move(object)) {}
  ~ThreadFinisher() {
    ThreadLocalState& local = Local();
    DWORD code = local.exitThreadCode.value_or(exitCode_);
    RunThreadExitHousekeeping();
    object_->MarkEnded(code);
    g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
  }
  ThreadFinisher(const ThreadFinisher&) = delete;
  ThreadFinisher& operator=(const ThreadFinisher&) = delete;
  void SetExitCode(DWORD code) { exitCode_ = code; }

 private:
  std::shared_ptr<ThreadObject> object_;
  DWORD exitCode_ = 0;
};

void* ThreadEntry(void* raw) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(raw));
  ThreadLocalState& local = Local();
  local.self = block->object;
  local.startedByUs = true;
  block->object->SetThreadId(static_cast<DWORD>(::gettid()));
  ThreadFinisher finisher(block->object);
  block->object->WaitUntilResumed();
  // A thread terminated before it was ever resumed never runs.
  if (!block->object->HasEnded()) finisher.SetExitCode(block->start(block->argument));
  return nullptr;
}

}  // namespace

void ThreadObject::SetThreadId(DWORD id) {
  threadId_.store(id, std::memory_order_release);
  FutexWakeAll(&threadId_);
}

DWORD ThreadObject::WaitForThreadId() {
  for (;;) {
    DWORD id = threadId_.load(std::memory_order_acquire);
    if (id != 0) return id;
    FutexWaitEntry entry{&threadId_, 0, false};
    FutexWaitAny(std::span<const FutexWaitEntry>(&entry, 1), std::nullopt);
  }
}

bool ThreadObject::MarkEnded(DWORD exitCode) {
  {
    std::lock_guard lock(gateMutex_);
    if (ended_.load(std::memory_order_acquire)) return false;
    exitCode_.store(exitCode, std::memory_order_release);
    ended_.store(true, std::memory_order_release);
  }
  BumpAndWake(wake_);
  // Wakes an alertable wait of the thread too, so nothing sleeps on a dead queue.
  BumpAndWake(apcWake_);
  return true;
}

DWORD ThreadObject::Resume() {
  std::lock_guard lock(gateMutex_);
  DWORD previous = suspendCount_;
  if (suspendCount_ > 0 && --suspendCount_ == 0) gate_.notify_all();
  return previous;
}

void ThreadObject::WaitUntilResumed() {
  std::unique_lock lock(gateMutex_);
  gate_.wait(lock, [this] { return suspendCount_ == 0; });
}

bool ThreadObject::QueueApc(PAPCFUNC function, ULONG_PTR data) {
  {
    std::lock_guard lock(apcMutex_);
    if (ended_.load(std::memory_order_acquire)) return false;
    apcs_.emplace_back(function, data);
  }
  BumpAndWake(apcWake_);
  return true;
}

bool ThreadObject::RunApcs() {
  bool ran = false;
  for (;;) {
    std::pair<PAPCFUNC, ULONG_PTR> apc;
    {
      std::lock_guard lock(apcMutex_);
      if (apcs_.empty()) return ran;
      apc = apcs_.front();
      apcs_.pop_front();
    }
    apc.first(apc.second);
    ran = true;
  }
}

std::shared_ptr<ThreadObject> CurrentThreadObject() {
  if (t_localStateGone) {  // the thread is ending: an object of its own, already ended
    auto ending = std::make_shared<ThreadObject>();
    ending->SetThreadId(static_cast<DWORD>(::gettid()));
    ending->MarkEnded(0);
    return ending;
  }
  ThreadLocalState& local = Local();
  if (!local.self) {
    local.self = std::make_shared<ThreadObject>();
    local.self->SetThreadId(static_cast<DWORD>(::gettid()));
  }
  return local.self;
}

void RegisterThreadExitCallback(ThreadExitCallback callback) {
  std::lock_guard lock(g_exitCallbackMutex);
  std::size_t count = g_exitCallbackCount.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < count; ++i) {
    if (g_exitCallbacks[i].load(std::memory_order_acquire) == callback) return;
  }
  if (count == kMaxExitCallbacks) return;  // a fixed set of libraries; never reached
  g_exitCallbacks[count].store(callback, std::memory_order_release);
  g_exitCallbackCount.store(count + 1, std::memory_order_release);
}

void RunThreadExitHousekeeping() {
  if (t_localStateGone) return;
  ThreadLocalState& local = Local();
  if (local.housekeepingDone) return;
  local.housekeepingDone = true;
  std::size_t count = g_exitCallbackCount.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < count; ++i) g_exitCallbacks[i].load(std::memory_order_acquire)();
  std::vector<std::shared_ptr<MutexObject>> owned = std::move(local.ownedMutexes);
  local.ownedMutexes.clear();
  for (const auto& mutex : owned) mutex->AbandonByExitingThread();
}

void NoteMutexOwned(std::shared_ptr<MutexObject> mutex) {
  // A mutex taken by a thread-local destructor after the housekeeping is
  // abandoned by the kernel's robust-mutex handling when the thread ends.
  if (t_localStateGone) return;
  Local().ownedMutexes.push_back(std::move(mutex));
}

std::shared_ptr<MutexObject> NoteMutexReleased(const MutexObject* mutex) {
  if (t_localStateGone) return nullptr;
  auto& owned = Local().ownedMutexes;
  // Mutexes are mostly released in the reverse order of their taking.
  auto found = std::find_if(owned.rbegin(), owned.rend(), [mutex](const auto& entry) { return entry.get() == mutex; });
  if (found == owned.rend()) return nullptr;
  std::shared_ptr<MutexObject> reference = std::move(*found);
  owned.erase(std::next(found).base());
  return reference;
}

std::size_t RunningThreadCount() { return g_runningThreads.load(std::memory_order_acquire); }

}  // namespace kestnet::platform

using namespace kestnet::platform;

std::uintptr_t _beginthreadex(void* /*security*/, unsigned stack_size, unsigned (*start_address)(void*),
                              void* arglist, unsigned initflag, unsigned* thrdaddr) {
  if (start_address == nullptr) {
    errno = EINVAL;
    return 0;
  }
  std::shared_ptr<ThreadObject> object;
  StartBlock* block = nullptr;
  try {
    object = std::make_shared<ThreadObject>();
    block = new StartBlock{start_address, arglist, object};
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return 0;
  }
  if ((initflag & CREATE_SUSPENDED) != 0) object->SetInitialSuspendCount(1);

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) {
    std::size_t size = std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attributes, (size + 4095) & ~static_cast<std::size_t>(4095));
  }
  g_runningThreads.fetch_add(1, std::memory_order_acq_rel);
  pthread_t thread;
  int rc = pthread_create(&thread, &attributes, ThreadEntry, block);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    delete block;
    errno = rc;
    return 0;
  }
  // The id comes from the new thread itself; wait the moment it takes to
  // publish it, so callers can use it at once.
  DWORD id = object->WaitForThreadId();
  if (thrdaddr != nullptr) *thrdaddr = id;
  HANDLE handle = InsertHandle(object);
  if (handle == nullptr) {
    // The thread runs on detached, as if its handle had been closed at once.
    object->Resume();
    errno = ENOMEM;
    return 0;
  }
  return reinterpret_cast<std::uintptr_t>(handle);
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

// Kept per thread; a child made by fork asks again (ForgetParentThreadsAfterFork).
DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = ::gettid();
  return static_cast<DWORD>(t_threadId);
}

namespace {
// getpid is a system call, and every mutex acquisition records its owner's
// process: the id is kept, and forgotten in a child made by fork.
std::atomic<pid_t> g_processId{0};
void ForgetProcessId() { g_processId.store(0, std::memory_order_relaxed); }
}  // namespace

DWORD GetCurrentProcessId() {
  pid_t id = g_processId.load(std::memory_order_relaxed);
  if (id == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, ForgetProcessId);
    (void)registered;
    id = ::getpid();
    g_processId.store(id, std::memory_order_relaxed);
  }
  return static_cast<DWORD>(id);
}

DWORD GetThreadId(HANDLE Thread) {
  auto object = LookupHandleOf<ThreadObject>(Thread, ObjectKind::Thread);
  return object ? object->ThreadId() : 0;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto object = LookupHandleOf<ThreadObject>(hThread, ObjectKind::Thread);
  if (!object) return FALSE;
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = object->HasEnded() ? object->ExitCode() : STILL_ACTIVE;
  return TRUE;
}

DWORD SuspendThread(HANDLE hThread) {
  auto object = LookupHandleOf<ThreadObject>(hThread, ObjectKind::Thread);
  if (!object) return static_cast<DWORD>(-1);
  // Stopping a running thread at an arbitrary instruction is not safe on Linux.
  SetLastError(ERROR_NOT_SUPPORTED);
  return static_cast<DWORD>(-1);
}

DWORD ResumeThread(HANDLE hThread) {
  auto object = LookupHandleOf<ThreadObject>(hThread, ObjectKind::Thread);
  if (!object) return static_cast<DWORD>(-1);
  return object->Resume();
}

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  auto object = LookupHandleOf<ThreadObject>(hThread, ObjectKind::Thread);
  if (!object) return FALSE;
  object->MarkEnded(dwExitCode);
  // A thread still held at its start gate is let go only to finish at once.
  object->Resume();
  return TRUE;
}

void ExitThread(DWORD dwExitCode) {
  if (!t_localStateGone) Local().exitThreadCode = dwExitCode;
  pthread_exit(nullptr);
}

void Sleep(DWORD dwMilliseconds) { SleepEx(dwMilliseconds, FALSE); }

BOOL SwitchToThread() { return sched_yield() == 0 ? TRUE : FALSE; }

ULONGLONG GetTickCount64() { return static_cast<ULONGLONG>(MonotonicNowNs() / 1000000); }

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData) {
  auto object = LookupHandleOf<ThreadObject>(hThread, ObjectKind::Thread);
  if (!object) return 0;
  if (pfnAPC == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!object->QueueApc(pfnAPC, dwData)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return 1;
}
