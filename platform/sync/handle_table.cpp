#include <mutex>
#include <shared_mutex>
#include <new>
#include <unordered_map>

#include "platform/os/last_error.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread_object.h"
#include "platform/sync/thread.h"

namespace kestnet::platform {
namespace {

// Process-wide: the one table of handles, created on first use and kept until
// the process ends (handles may be closed from static destructors).
class HandleTable {
 public:
  static HandleTable& Instance() {
    static HandleTable* table = new HandleTable();
    return *table;
  }

  HANDLE Insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(mutex_);
    // Multiples of 4 as on Windows; values grow and are never reused.
    std::uintptr_t value = next_;
    next_ += 4;
    entries_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::shared_lock lock(mutex_);
    auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == entries_.end() ? nullptr : found->second;
  }

  std::shared_ptr<KernelObject> Remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == entries_.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    entries_.erase(found);
    return object;
  }

  std::size_t Count() {
    std::shared_lock lock(mutex_);
    return entries_.size();
  }

 private:
  // Waits look handles up all the time; only opening and closing write.
  std::shared_mutex mutex_;
  std::uintptr_t next_ = 0x1000;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> entries_;
};

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  try {
    return HandleTable::Instance().Insert(std::move(object));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  if (handle == GetCurrentThread()) return CurrentThreadObject();
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return HandleTable::Instance().Find(handle);
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || handle == GetCurrentThread()) return nullptr;
  return HandleTable::Instance().Remove(handle);
}

std::size_t OpenHandleCount() { return HandleTable::Instance().Count(); }

void SetLastInvalidHandle() { SetLastError(ERROR_INVALID_HANDLE); }

}  // namespace kestnet::platform

using namespace kestnet::platform;

BOOL CloseHandle(HANDLE hObject) {
  // Closing a pseudo handle has no effect, as on Windows.
  if (hObject == GetCurrentThread() || hObject == GetCurrentProcess()) return TRUE;
  std::shared_ptr<KernelObject> object = RemoveHandle(hObject);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }

BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     HANDLE* lpTargetHandle, DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, DWORD dwOptions) {
  if (hSourceProcessHandle != GetCurrentProcess() || hTargetProcessHandle != GetCurrentProcess()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::shared_ptr<KernelObject> object = LookupHandle(hSourceHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((dwOptions & DUPLICATE_CLOSE_SOURCE) != 0) RemoveHandle(hSourceHandle);
  if (lpTargetHandle == nullptr) return TRUE;
  HANDLE copy = InsertHandle(std::move(object));
  if (copy == nullptr) return FALSE;
  *lpTargetHandle = copy;
  return TRUE;
}
