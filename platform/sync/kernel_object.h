// The objects behind HANDLEs, and the process's handle table.
//
// For the platform layer only: callers above it use the Win32 functions.
// A handle value is a reference to one KernelObject; several handles may name
// the same object (DuplicateHandle, reopening a named object in this process),
// and an object lives while a handle, a mapped view or a running thread holds
// a reference. Handle values are never reused within a process, so a stale
// handle fails cleanly with ERROR_INVALID_HANDLE instead of reaching another
// object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/os/win_types.h"
#include "platform/sync/futex.h"

namespace kestnet::platform {

enum class ObjectKind { Event, Mutex, Thread, FileMapping };

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual ObjectKind Kind() const = 0;
};

// What a wait keeps per object while it waits (see WaitableObject).
struct WaitSlot {
  std::uint32_t pulseSnapshot = 0;
  bool acquiredRecursively = false;
  bool takenFromPulse = false;
  // The wait took the object (a mutex: it owns it now).
  bool taken = false;
  // The wait slept on the object's lock word as well (named mutexes).
  bool sleptOnLockWord = false;
};

enum class AcquireOutcome { NotReady, Acquired, Abandoned };

// An object a thread can wait for. Every change that may satisfy a waiter
// increments WakeWord() and wakes it (a futex word, possibly in shared memory),
// so a waiter that read the word before TryAcquire failed sleeps on exactly the
// changes it has not yet seen.
class WaitableObject : public KernelObject {
 public:
  virtual std::atomic<std::uint32_t>& WakeWord() = 0;
  // Called once before and once after a wait that includes this object.
  virtual void BeginWait(WaitSlot&) {}
  virtual void EndWait(WaitSlot&) {}
  // Takes the object for the calling thread if it is signalled: consumes an
  // auto-reset event, takes ownership of a mutex.
  virtual AcquireOutcome TryAcquire(WaitSlot& slot) = 0;
  // Gives back what TryAcquire took, for a wait-all that could not take every
  // object at once.
  virtual void UndoAcquire(WaitSlot& slot, AcquireOutcome outcome) = 0;
  // A second word to sleep on, for a change that nobody announces on the wake
  // word: the kernel wakes a named mutex's lock word when its owner's process
  // dies. Called after TryAcquire failed, just before the sleep.
  virtual bool LockWordToSleepOn(WaitSlot&, FutexWaitEntry*) { return false; }
  // True when such a change can happen and cannot be slept on: the wait
  // re-checks the object at the returned interval (nanoseconds, 0 = never).
  virtual std::int64_t LivenessPollNs() const { return 0; }
};

// Adds a handle for the object; nullptr (last error ERROR_NOT_ENOUGH_MEMORY)
// only when memory runs out.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object a handle names, or nullptr. GetCurrentThread()'s pseudo handle
// names the calling thread.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The object if it is of that kind; otherwise nullptr with last error
// ERROR_INVALID_HANDLE.
template <typename T>
std::shared_ptr<T> LookupHandleOf(HANDLE handle, ObjectKind kind);

// Removes a handle; the object goes when its last reference does. Returns the
// removed reference (so the caller decides where the object is destroyed), or
// nullptr when the handle was not open.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Number of open handles in this process (tests check they closed everything).
std::size_t OpenHandleCount();

void SetLastInvalidHandle();

template <typename T>
std::shared_ptr<T> LookupHandleOf(HANDLE handle, ObjectKind kind) {
  std::shared_ptr<KernelObject> object = LookupHandle(handle);
  if (!object || object->Kind() != kind) {
    SetLastInvalidHandle();
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

}  // namespace kestnet::platform
