#include "platform/sync/wait.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/sync/futex.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "platform/sync/thread_object.h"
#include "platform/sync/wait_engine.h"

namespace kestnet::platform {
namespace {

struct WaitEntry {
  std::shared_ptr<WaitableObject> object;
  WaitSlot slot;
  AcquireOutcome taken = AcquireOutcome::NotReady;
};

// Calls BeginWait on construction and EndWait on every way out.
class WaitRegistration {
 public:
  explicit WaitRegistration(std::vector<WaitEntry>& entries) : entries_(entries) {
    for (WaitEntry& entry : entries_) entry.object->BeginWait(entry.slot);
  }
  ~WaitRegistration() {
    for (WaitEntry& entry : entries_) entry.object->EndWait(entry.slot);
  }
  WaitRegistration(const WaitRegistration&) = delete;
  WaitRegistration& operator=(const WaitRegistration&) = delete;

 private:
  std::vector<WaitEntry>& entries_;
};

// Wait-any: the lowest index that can be taken.
std::optional<DWORD> TryAny(std::vector<WaitEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    AcquireOutcome outcome = entries[i].object->TryAcquire(entries[i].slot);
    if (outcome == AcquireOutcome::Acquired) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    if (outcome == AcquireOutcome::Abandoned) return WAIT_ABANDONED_0 + static_cast<DWORD>(i);
  }
  return std::nullopt;
}

// Wait-all: every object or none. What was taken is given back when one
// object is not ready; the result reports the lowest abandoned mutex.
std::optional<DWORD> TryAll(std::vector<WaitEntry>& entries) {
  std::size_t taken = 0;
  for (; taken < entries.size(); ++taken) {
    entries[taken].taken = entries[taken].object->TryAcquire(entries[taken].slot);
    if (entries[taken].taken == AcquireOutcome::NotReady) break;
  }
  if (taken == entries.size()) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].taken == AcquireOutcome::Abandoned) return WAIT_ABANDONED_0 + static_cast<DWORD>(i);
    }
    return WAIT_OBJECT_0;
  }
  while (taken-- > 0) entries[taken].object->UndoAcquire(entries[taken].slot, entries[taken].taken);
  return std::nullopt;
}

}  // namespace

DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, bool alertable,
                     const ExtraWakeSource* extra) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count == 0 && extra == nullptr && !alertable) ||
      (count > 0 && handles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<WaitEntry> entries(count);
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<KernelObject> object = LookupHandle(handles[i]);
    entries[i].object = std::dynamic_pointer_cast<WaitableObject>(object);
    if (!entries[i].object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  // Wait-all with the same object twice can never be satisfied on Windows
  // either; it reports the duplicate.
  if (waitAll) {
    for (DWORD i = 0; i < count; ++i) {
      for (DWORD j = i + 1; j < count; ++j) {
        if (entries[i].object == entries[j].object) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }

  std::shared_ptr<ThreadObject> self = alertable ? CurrentThreadObject() : nullptr;
  std::optional<std::int64_t> deadline;
  if (milliseconds != INFINITE) deadline = MonotonicNowNs() + static_cast<std::int64_t>(milliseconds) * 1'000'000;

  WaitRegistration registration(entries);
  std::vector<FutexWaitEntry> words;
  words.reserve(entries.size() + 2);
  for (;;) {
    if (self && self->RunApcs()) return WAIT_IO_COMPLETION;

    // Read every wake word before looking at the objects: a change after this
    // point makes the sleep below return at once.
    words.clear();
    for (WaitEntry& entry : entries) {
      words.push_back({&entry.object->WakeWord(), entry.object->WakeWord().load(std::memory_order_acquire)});
    }
    if (extra != nullptr) words.push_back({extra->word, extra->word->load(std::memory_order_acquire)});
    if (self) words.push_back({&self->ApcWord(), self->ApcWord().load(std::memory_order_acquire)});

    if (waitAll) {
      // With an extra source, wait-all also needs input (MsgWaitForMultipleObjects).
      bool inputReady = extra == nullptr || extra->ready();
      if (inputReady && count > 0) {
        if (auto result = TryAll(entries)) return *result;
      } else if (inputReady) {
        return WAIT_OBJECT_0 + count;
      }
    } else {
      if (auto result = TryAny(entries)) return *result;
      if (extra != nullptr && extra->ready()) return WAIT_OBJECT_0 + count;
    }

    std::optional<std::int64_t> sleepUntil = deadline;
    std::int64_t now = MonotonicNowNs();
    if (deadline && now >= *deadline) return WAIT_TIMEOUT;
    for (WaitEntry& entry : entries) {
      FutexWaitEntry lockWord{};
      if (entry.object->LockWordToSleepOn(entry.slot, &lockWord)) words.push_back(lockWord);
      if (std::int64_t poll = entry.object->LivenessPollNs(); poll > 0 && (!sleepUntil || *sleepUntil > now + poll)) {
        sleepUntil = now + poll;
      }
    }
    if (extra != nullptr && extra->nextReadyNs) {
      if (std::optional<std::int64_t> due = extra->nextReadyNs(); due && (!sleepUntil || *due < *sleepUntil)) {
        sleepUntil = *due;
      }
    }
    FutexWaitAny(words, sleepUntil);
  }
}

}  // namespace kestnet::platform

using kestnet::platform::WaitForObjects;

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForObjects(1, &hHandle, false, dwMilliseconds, false, nullptr);
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  return WaitForObjects(1, &hHandle, false, dwMilliseconds, bAlertable != FALSE, nullptr);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return WaitForObjects(nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds, false, nullptr);
}

DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable) {
  return WaitForObjects(nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds, bAlertable != FALSE, nullptr);
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  if (bAlertable == FALSE) {
    if (dwMilliseconds == 0) {
      SwitchToThread();
      return 0;
    }
    std::optional<std::int64_t> deadline;
    if (dwMilliseconds != INFINITE) {
      deadline = kestnet::platform::MonotonicNowNs() + static_cast<std::int64_t>(dwMilliseconds) * 1'000'000;
    }
    while (kestnet::platform::FutexWaitAny({}, deadline)) {
    }
    return 0;
  }
  DWORD result = WaitForObjects(0, nullptr, false, dwMilliseconds, true, nullptr);
  return result == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}
