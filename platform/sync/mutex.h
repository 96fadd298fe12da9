// Mutexes: CreateMutex, OpenMutex, ReleaseMutex.
//
// Windows semantics kept: a mutex is owned by a thread, recursively (each
// successful wait by the owner counts, each ReleaseMutex undoes one); a thread
// that does not own it gets ERROR_NOT_OWNER from ReleaseMutex. When the owning
// thread ends (or its process dies, even by SIGKILL) without releasing it, the
// mutex is abandoned: the next waiter gets WAIT_ABANDONED(_0 + i) and owns it.
// Named mutexes follow the naming rules of platform/sync/event.h.
//
// Linux: a mutex is a robust, process-shared pthread mutex (in shared memory
// when named), so the kernel reports an owner that died; a thread that ends
// normally while owning mutexes abandons them on its way out.
#pragma once

#include <memory>

#include "platform/os/win_types.h"
#include "platform/sync/wait.h"

constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);

// Opens an existing named mutex; ERROR_FILE_NOT_FOUND when there is none.
HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
HANDLE OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

BOOL ReleaseMutex(HANDLE hMutex);

namespace kestnet::platform {

class MutexObject;

// A mutex handle resolved to its object once, for the owner of the handle
// (who keeps it open while this is used): a wait that finds the mutex free,
// abandoned or already held by the caller takes it at once, without a trip
// through the process's handle table, and a release goes straight to the
// object. The results, last errors, recursion counts and abandonment are
// those of WaitForSingleObject and ReleaseMutex on the handle; a wait that
// must sleep is one.
class ResolvedMutex {
 public:
  ResolvedMutex() = default;
  // Empty (and false) when the handle does not name a mutex.
  explicit ResolvedMutex(HANDLE handle);

  explicit operator bool() const { return object_ != nullptr; }
  DWORD Wait(DWORD milliseconds);
  BOOL Release();
  // Wait and Release for a holder whose every take is released by the
  // taking thread before that thread can end, with this object alive until
  // then: the take is not entered in the thread's list of owned mutexes (see
  // MutexObject::TryAcquireUnrecorded). Results are those of Wait and Release.
  DWORD WaitScoped(DWORD milliseconds);
  BOOL ReleaseScoped();

 private:
  HANDLE handle_ = nullptr;
  std::shared_ptr<MutexObject> object_;
};

}  // namespace kestnet::platform
