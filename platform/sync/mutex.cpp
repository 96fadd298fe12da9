#include "platform/sync/mutex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/sync/futex.h"
#include "platform/sync/mutex_object.h"
#include "platform/sync/thread.h"
#include "platform/sync/thread_object.h"
#include "platform/sync/wait_engine.h"

namespace kestnet::platform {

static_assert(sizeof(MutexState) <= NamedSection::kStateBytes);

namespace {

bool InitializeLock(pthread_mutex_t* lock) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  int rc = pthread_mutex_init(lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
  return rc == 0;
}

}  // namespace

bool InitializeMutexState(MutexState* state) {
  new (state) MutexState{};
  return InitializeLock(&state->lock);
}

MutexObject::MutexObject() : ownState_(std::make_unique<MutexState>()) {
  if (InitializeMutexState(ownState_.get())) state_ = ownState_.get();
}

MutexObject::MutexObject(std::shared_ptr<NamedSection> section)
    : section_(std::move(section)), state_(static_cast<MutexState*>(section_->State())) {}

MutexObject::~MutexObject() {
  // Only an unnamed mutex's lock is ours to destroy; it is free by now, since
  // an owning thread keeps the object alive.
  if (ownState_ && state_ != nullptr) pthread_mutex_destroy(&state_->lock);
}

namespace {

// The kernel's robust-futex protocol (linux/futex.h): the lock word of a
// robust pthread mutex holds the owner's thread id; when the owner dies the
// kernel sets FUTEX_OWNER_DIED and, if FUTEX_WAITERS is set, wakes one sleeper
// on the word. glibc keeps that word as the first field of pthread_mutex_t.
constexpr std::uint32_t kLockWaiters = FUTEX_WAITERS;
constexpr std::uint32_t kLockOwnerDied = FUTEX_OWNER_DIED;
constexpr std::uint32_t kLockTidMask = FUTEX_TID_MASK;

std::atomic<std::uint32_t>* LockWord(pthread_mutex_t* lock) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(lock->__data.__lock));
  return reinterpret_cast<std::atomic<std::uint32_t>*>(&lock->__data.__lock);
}

// Checks once that the C library keeps the lock word as expected: a locked
// robust mutex shows the owner's thread id, an unlocked one 0. Without it,
// waits fall back to re-checking named mutexes every 50 ms.
bool LockWordUsable() {
  static const bool usable = [] {
    MutexState probe;
    if (!InitializeMutexState(&probe)) return false;
    bool ok = pthread_mutex_lock(&probe.lock) == 0 &&
              (LockWord(&probe.lock)->load() & kLockTidMask) == static_cast<std::uint32_t>(::gettid());
    ok = pthread_mutex_unlock(&probe.lock) == 0 && ok && LockWord(&probe.lock)->load() == 0;
    pthread_mutex_destroy(&probe.lock);
    return ok;
  }();
  return usable;
}

// How often a wait re-checks a named mutex held in another process, whose
// death would otherwise go unseen: seldom when the kernel wakes the lock word,
// often when it cannot.
constexpr std::int64_t kSafetyPollNs = 1'000'000'000;
constexpr std::int64_t kFallbackPollNs = 50'000'000;

}  // namespace

bool MutexObject::LockWordNamesCaller() {
  if (!LockWordUsable()) return false;
  // Only the owner writes its own id into the word, so the caller finds its
  // id there exactly when it holds the lock.
  return (LockWord(&state_->lock)->load(std::memory_order_relaxed) & kLockTidMask) == GetCurrentThreadId();
}

AcquireOutcome MutexObject::TryAcquire(WaitSlot& slot) { return Take(slot, true); }

AcquireOutcome MutexObject::TryAcquireUnrecorded(WaitSlot& slot) { return Take(slot, false); }

AcquireOutcome MutexObject::Take(WaitSlot& slot, bool recordOwner) {
  slot.acquiredRecursively = false;
  slot.taken = false;
  if (LockWordNamesCaller()) {
    // The owner again: a count, without a trip through the C library.
    ++state_->recursion;
    slot.acquiredRecursively = true;
    slot.taken = true;
    return AcquireOutcome::Acquired;
  }
  int rc = pthread_mutex_trylock(&state_->lock);
  if (rc == EBUSY && ClaimFromVanishedOwner()) rc = pthread_mutex_trylock(&state_->lock);
  if (rc == ENOTRECOVERABLE) {
    // Every owner here marks an abandoned mutex consistent again, so only a
    // hand writing the shared state directly leaves it unrecoverable: start
    // the lock afresh rather than fail every wait from now on.
    state_->abandoned.store(1, std::memory_order_release);
    if (InitializeLock(&state_->lock)) rc = pthread_mutex_trylock(&state_->lock);
  }
  switch (rc) {
    case EDEADLK:  // the caller owns it already
      ++state_->recursion;
      slot.acquiredRecursively = true;
      slot.taken = true;
      return AcquireOutcome::Acquired;
    case EOWNERDEAD:  // the owner's process died (or its thread ended unseen)
      pthread_mutex_consistent(&state_->lock);
      state_->abandoned.store(1, std::memory_order_release);
      [[fallthrough]];
    case 0: {
      state_->recursion = 0;
      state_->ownerProcess.store(static_cast<std::int32_t>(GetCurrentProcessId()), std::memory_order_release);
      if (recordOwner) NoteMutexOwned(shared_from_this());
      slot.taken = true;
      // Only an owner sets the flag, so the new owner reads it before it
      // pays for a write.
      const bool abandoned = state_->abandoned.load(std::memory_order_acquire) != 0;
      if (abandoned) state_->abandoned.store(0, std::memory_order_release);
      return abandoned ? AcquireOutcome::Abandoned : AcquireOutcome::Acquired;
    }
    default:  // EBUSY: another thread owns it
      return AcquireOutcome::NotReady;
  }
}

void MutexObject::UndoAcquire(WaitSlot& slot, AcquireOutcome outcome) {
  slot.taken = false;
  if (slot.acquiredRecursively) {
    --state_->recursion;
    return;
  }
  // The abandonment was not reported to anyone: the next owner still sees it.
  if (outcome == AcquireOutcome::Abandoned) state_->abandoned.store(1, std::memory_order_release);
  NoteMutexReleased(this);
  Unlock();
}

bool MutexObject::ClaimFromVanishedOwner() {
  if (!section_ || !LockWordUsable()) return false;
  std::atomic<std::uint32_t>* word = LockWord(&state_->lock);
  std::uint32_t value = word->load(std::memory_order_acquire);
  const auto owner = static_cast<pid_t>(value & kLockTidMask);
  if (owner == 0) return false;
  // pidfd_open fails with ESRCH only when no task has the id (a thread that
  // is not a process leader gives EINVAL): the owner is gone. The id is read
  // in this process's PID name space, the one its owners share.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, owner, 0));
  if (pidfd >= 0) {
    ::close(pidfd);
    return false;
  }
  if (errno != ESRCH) return false;
  // The kernel frees a robust lock only for an owner it saw take it; a word
  // naming a thread that never existed (written straight into the file) or
  // one that ended unseen is marked as the kernel marks a dead owner's.
  return word->compare_exchange_strong(value, (value & kLockWaiters) | kLockOwnerDied, std::memory_order_acq_rel);
}

bool MutexObject::LockWordToSleepOn(WaitSlot& slot, FutexWaitEntry* entry) {
  if (!section_ || !LockWordUsable()) return false;
  std::atomic<std::uint32_t>* word = LockWord(&state_->lock);
  std::uint32_t value = word->load(std::memory_order_acquire);
  for (;;) {
    if ((value & kLockTidMask) == 0) {
      // Free, or its owner died: nothing to sleep on; an expected value the
      // word does not hold makes the sleep return at once.
      *entry = FutexWaitEntry{word, value ^ 1u, false};
      return true;
    }
    if ((value & kLockWaiters) != 0) break;
    if (word->compare_exchange_weak(value, value | kLockWaiters, std::memory_order_acq_rel)) {
      value |= kLockWaiters;
      break;
    }
  }
  slot.sleptOnLockWord = true;
  *entry = FutexWaitEntry{word, value, false};
  return true;
}

void MutexObject::EndWait(WaitSlot& slot) {
  // The kernel wakes one sleeper when an owner dies. If that was this wait and
  // it ended without taking the mutex, the news goes on to the next sleeper.
  if (!slot.sleptOnLockWord || slot.taken) return;
  std::atomic<std::uint32_t>* word = LockWord(&state_->lock);
  if ((word->load(std::memory_order_acquire) & kLockOwnerDied) != 0) FutexWakeOne(word);
}

std::int64_t MutexObject::LivenessPollNs() const {
  if (!section_) return 0;
  return LockWordUsable() ? kSafetyPollNs : kFallbackPollNs;
}

void MutexObject::Unlock() {
  state_->ownerProcess.store(0, std::memory_order_release);
  pthread_mutex_unlock(&state_->lock);
  BumpAndWake(state_->wake);
}

bool MutexObject::CallerOwns() {
  if (LockWordNamesCaller()) return true;
  if (LockWordUsable()) return false;
  int rc = pthread_mutex_trylock(&state_->lock);
  if (rc == EDEADLK) return true;
  if (rc == 0 || rc == EOWNERDEAD) {
    // It was free (or just abandoned) and the probe took it: put it back as it was.
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&state_->lock);
      state_->abandoned.store(1, std::memory_order_release);
    }
    pthread_mutex_unlock(&state_->lock);
    BumpAndWake(state_->wake);
  }
  return false;
}

bool MutexObject::Release() { return Give(false); }

bool MutexObject::ReleaseUnrecorded() { return Give(true); }

bool MutexObject::Give(bool keptAliveByCaller) {
  if (!CallerOwns()) {
    SetLastError(ERROR_NOT_OWNER);
    return false;
  }
  if (state_->recursion > 0) {
    --state_->recursion;
    return true;
  }
  // The release outlives the unlock: its wake-up still touches the object,
  // and the thread that takes the mutex next may destroy it (handle and all)
  // at once, as any mutex's next owner may. The reference this thread kept as
  // owner keeps it alive until then. A take that had to wait went through
  // the wait engine, which records every owner: its record goes here too.
  std::shared_ptr<MutexObject> keepAlive = NoteMutexReleased(this);
  if (!keepAlive && !keptAliveByCaller) keepAlive = shared_from_this();
  Unlock();
  return true;
}

void MutexObject::AbandonByExitingThread() {
  // Only a mutex this thread really holds (a forked child's copy of the
  // parent's bookkeeping does not).
  if (!CallerOwns()) return;
  state_->recursion = 0;
  state_->abandoned.store(1, std::memory_order_release);
  Unlock();
}

namespace {

HANDLE CreateOrOpenMutex(LPSECURITY_ATTRIBUTES attributes, bool initialOwner, const std::wstring* name,
                         bool create) {
  std::shared_ptr<MutexObject> mutex;
  bool existed = false;
  try {
    if (name == nullptr || name->empty()) {
      mutex = std::make_shared<MutexObject>();
      if (!mutex->Valid()) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
      }
    } else {
      bool initialized = true;
      auto section = NamedSection::Acquire(
          *name, NamedKind::Mutex, create, 0, NamedObjectFileMode(attributes),
          [&](void* state) { initialized = InitializeMutexState(static_cast<MutexState*>(state)); }, &existed);
      if (!section) return nullptr;
      if (!initialized) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
      }
      mutex = std::make_shared<MutexObject>(std::move(section));
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Windows takes initial ownership only when this call created the mutex.
  if (initialOwner && !existed) {
    WaitSlot slot;
    mutex->TryAcquire(slot);
  }
  HANDLE handle = InsertHandle(std::move(mutex));
  if (handle != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace

ResolvedMutex::ResolvedMutex(HANDLE handle) : object_(LookupHandleOf<MutexObject>(handle, ObjectKind::Mutex)) {
  if (object_) handle_ = handle;
}

namespace {

DWORD WaitResult(AcquireOutcome outcome, HANDLE handle, DWORD milliseconds) {
  switch (outcome) {
    case AcquireOutcome::Acquired:
      return WAIT_OBJECT_0;
    case AcquireOutcome::Abandoned:
      return WAIT_ABANDONED_0;
    case AcquireOutcome::NotReady:
      break;
  }
  return milliseconds == 0 ? WAIT_TIMEOUT : WaitForObjects(1, &handle, false, milliseconds, false, nullptr);
}

}  // namespace

DWORD ResolvedMutex::Wait(DWORD milliseconds) {
  WaitSlot slot;
  return WaitResult(object_->TryAcquire(slot), handle_, milliseconds);
}

BOOL ResolvedMutex::Release() { return object_->Release() ? TRUE : FALSE; }

DWORD ResolvedMutex::WaitScoped(DWORD milliseconds) {
  WaitSlot slot;
  return WaitResult(object_->TryAcquireUnrecorded(slot), handle_, milliseconds);
}

BOOL ResolvedMutex::ReleaseScoped() { return object_->ReleaseUnrecorded() ? TRUE : FALSE; }

}  // namespace kestnet::platform

using namespace kestnet::platform;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  std::wstring name = lpName != nullptr ? lpName : L"";
  return CreateOrOpenMutex(lpMutexAttributes, bInitialOwner != FALSE, lpName != nullptr ? &name : nullptr, true);
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  std::wstring name = ObjectNameFromUtf8(lpName);
  return CreateOrOpenMutex(lpMutexAttributes, bInitialOwner != FALSE, lpName != nullptr ? &name : nullptr, true);
}

HANDLE OpenMutexW(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, LPCWSTR lpName) {
  if (lpName == nullptr || *lpName == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::wstring name = lpName;
  HANDLE handle = CreateOrOpenMutex(nullptr, false, &name, false);
  if (handle != nullptr) SetLastError(ERROR_SUCCESS);
  return handle;
}

HANDLE OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  if (lpName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::wstring name = ObjectNameFromUtf8(lpName);
  return OpenMutexW(dwDesiredAccess, bInheritHandle, name.c_str());
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupHandleOf<MutexObject>(hMutex, ObjectKind::Mutex);
  if (!mutex) return FALSE;
  return mutex->Release() ? TRUE : FALSE;
}
