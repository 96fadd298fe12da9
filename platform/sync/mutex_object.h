// The object behind a mutex handle (platform layer only).
#pragma once

#include <pthread.h>

#include <memory>

#include "platform/sync/kernel_object.h"
#include "platform/sync/named_section.h"

namespace kestnet::platform {

// The state of a mutex: in the object for an unnamed mutex, in the named
// section's header page for a named one. The pthread mutex is robust,
// process-shared and error-checking: its owner is the owning thread, the kernel
// marks it when the owner dies, and trylock tells the owner from the others.
struct MutexState {
  pthread_mutex_t lock;
  std::atomic<std::uint32_t> wake;
  // Acquisitions by the owner beyond the first; only the owner touches it.
  std::uint32_t recursion;
  // Set when the last owner ended without releasing; the next owner reads and
  // clears it.
  std::atomic<std::uint32_t> abandoned;
  // Process of the owner, 0 when free: tells whether a waiter must watch for
  // the owner's death.
  std::atomic<std::int32_t> ownerProcess;
};

// Initialises a state in place (memory zeroed or fresh); false if the pthread
// mutex could not be made.
bool InitializeMutexState(MutexState* state);

class MutexObject final : public WaitableObject, public std::enable_shared_from_this<MutexObject> {
 public:
  // Unnamed: owns its state.
  MutexObject();
  // Named: the state lives in the section.
  explicit MutexObject(std::shared_ptr<NamedSection> section);
  ~MutexObject() override;

  bool Valid() const { return state_ != nullptr; }
  ObjectKind Kind() const override { return ObjectKind::Mutex; }
  std::atomic<std::uint32_t>& WakeWord() override { return state_->wake; }
  AcquireOutcome TryAcquire(WaitSlot& slot) override;
  void UndoAcquire(WaitSlot& slot, AcquireOutcome outcome) override;
  void EndWait(WaitSlot& slot) override;
  bool LockWordToSleepOn(WaitSlot& slot, FutexWaitEntry* entry) override;
  std::int64_t LivenessPollNs() const override;

  // ReleaseMutex: false with ERROR_NOT_OWNER when the caller is not the owner.
  bool Release();

  // TryAcquire and Release for a take that the calling thread gives back
  // before it can end, while the caller's own reference keeps the object
  // alive: the take is not entered in the thread's list of owned mutexes
  // (which abandons them at thread end and keeps each alive through its
  // release). A thread killed while holding it still leaves a named mutex
  // abandoned: the kernel marks the robust lock of any thread that dies.
  AcquireOutcome TryAcquireUnrecorded(WaitSlot& slot);
  bool ReleaseUnrecorded();
  // The owning thread is ending: the mutex becomes free and abandoned.
  void AbandonByExitingThread();

 private:
  AcquireOutcome Take(WaitSlot& slot, bool recordOwner);
  bool Give(bool keptAliveByCaller);
  // Whether the calling thread owns the mutex, asked without changing it.
  bool CallerOwns();
  // Whether the lock word holds the caller's thread id; false also when the
  // C library's lock word cannot be read (see LockWordUsable).
  bool LockWordNamesCaller();
  // A named mutex whose lock word names a thread that no longer exists is
  // marked abandoned, so that the next trylock takes it.
  bool ClaimFromVanishedOwner();
  void Unlock();
  std::unique_ptr<MutexState> ownState_;
  std::shared_ptr<NamedSection> section_;
  MutexState* state_ = nullptr;
};

}  // namespace kestnet::platform
