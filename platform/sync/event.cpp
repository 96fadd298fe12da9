#include "platform/sync/event.h"

#include <new>

#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/sync/futex.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/named_section.h"

namespace kestnet::platform {
namespace {

// An event's state, in the object or in the named section. Lock-free: every
// field is a 32-bit atomic, so a process dying mid-call leaves nothing locked.
struct EventState {
  std::atomic<std::uint32_t> wake;
  std::atomic<std::uint32_t> signalled;
  std::atomic<std::uint32_t> manualReset;
  // Threads inside a wait on this event; PulseEvent only acts when some are.
  std::atomic<std::uint32_t> waiters;
  // Incremented by each PulseEvent that found waiters: a waiter that saw it
  // change during its wait was pulsed.
  std::atomic<std::uint32_t> pulseCount;
  // For auto-reset events: the one release a pulse hands out.
  std::atomic<std::uint32_t> pulseToken;
};
static_assert(sizeof(EventState) <= NamedSection::kStateBytes);

void InitializeEventState(EventState* state, bool manualReset, bool initialState) {
  new (state) EventState{};
  state->manualReset.store(manualReset ? 1 : 0);
  state->signalled.store(initialState ? 1 : 0);
}

class EventObject final : public WaitableObject {
 public:
  EventObject(bool manualReset, bool initialState) : ownState_(std::make_unique<EventState>()) {
    InitializeEventState(ownState_.get(), manualReset, initialState);
    state_ = ownState_.get();
  }
  explicit EventObject(std::shared_ptr<NamedSection> section)
      : section_(std::move(section)), state_(static_cast<EventState*>(section_->State())) {}

  ObjectKind Kind() const override { return ObjectKind::Event; }
  std::atomic<std::uint32_t>& WakeWord() override { return state_->wake; }

  void BeginWait(WaitSlot& slot) override {
    state_->waiters.fetch_add(1, std::memory_order_acq_rel);
    slot.pulseSnapshot = state_->pulseCount.load(std::memory_order_acquire);
  }
  void EndWait(WaitSlot&) override { state_->waiters.fetch_sub(1, std::memory_order_acq_rel); }

  AcquireOutcome TryAcquire(WaitSlot& slot) override {
    bool manual = state_->manualReset.load(std::memory_order_relaxed) != 0;
    std::uint32_t pulses = state_->pulseCount.load(std::memory_order_acquire);
    if (pulses != slot.pulseSnapshot) {
      slot.pulseSnapshot = pulses;
      if (manual) return AcquireOutcome::Acquired;
      std::uint32_t token = 1;
      if (state_->pulseToken.compare_exchange_strong(token, 0, std::memory_order_acq_rel)) {
        slot.takenFromPulse = true;
        return AcquireOutcome::Acquired;
      }
    }
    if (manual) {
      return state_->signalled.load(std::memory_order_acquire) != 0 ? AcquireOutcome::Acquired
                                                                    : AcquireOutcome::NotReady;
    }
    std::uint32_t expected = 1;
    slot.takenFromPulse = false;
    return state_->signalled.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)
               ? AcquireOutcome::Acquired
               : AcquireOutcome::NotReady;
  }

  void UndoAcquire(WaitSlot& slot, AcquireOutcome) override {
    if (state_->manualReset.load(std::memory_order_relaxed) != 0) return;
    if (slot.takenFromPulse) {
      state_->pulseToken.store(1, std::memory_order_release);
    } else {
      state_->signalled.store(1, std::memory_order_release);
    }
    BumpAndWake(state_->wake);
  }

  void Set() {
    state_->signalled.store(1, std::memory_order_release);
    BumpAndWake(state_->wake);
  }

  void Reset() { state_->signalled.store(0, std::memory_order_release); }

  void Pulse() {
    state_->signalled.store(0, std::memory_order_release);
    if (state_->waiters.load(std::memory_order_acquire) == 0) return;
    if (state_->manualReset.load(std::memory_order_relaxed) == 0) {
      state_->pulseToken.store(1, std::memory_order_release);
    }
    state_->pulseCount.fetch_add(1, std::memory_order_acq_rel);
    BumpAndWake(state_->wake);
  }

 private:
  std::unique_ptr<EventState> ownState_;
  std::shared_ptr<NamedSection> section_;
  EventState* state_;
};

HANDLE CreateOrOpenEvent(LPSECURITY_ATTRIBUTES attributes, bool manualReset, bool initialState,
                         const std::wstring* name, bool create) {
  std::shared_ptr<EventObject> event;
  bool existed = false;
  try {
    if (name == nullptr || name->empty()) {
      event = std::make_shared<EventObject>(manualReset, initialState);
    } else {
      auto section = NamedSection::Acquire(
          *name, NamedKind::Event, create, 0, NamedObjectFileMode(attributes),
          [&](void* state) { InitializeEventState(static_cast<EventState*>(state), manualReset, initialState); },
          &existed);
      if (!section) return nullptr;
      event = std::make_shared<EventObject>(std::move(section));
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = InsertHandle(std::move(event));
  if (handle != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

std::shared_ptr<EventObject> FindEvent(HANDLE handle) {
  return LookupHandleOf<EventObject>(handle, ObjectKind::Event);
}

}  // namespace
}  // namespace kestnet::platform

using namespace kestnet::platform;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName) {
  std::wstring name = lpName != nullptr ? lpName : L"";
  return CreateOrOpenEvent(lpEventAttributes, bManualReset != FALSE, bInitialState != FALSE,
                           lpName != nullptr ? &name : nullptr, true);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
  std::wstring name = ObjectNameFromUtf8(lpName);
  return CreateOrOpenEvent(lpEventAttributes, bManualReset != FALSE, bInitialState != FALSE,
                           lpName != nullptr ? &name : nullptr, true);
}

HANDLE CreateEventExW(LPSECURITY_ATTRIBUTES lpEventAttributes, LPCWSTR lpName, DWORD dwFlags,
                      DWORD /*dwDesiredAccess*/) {
  return CreateEventW(lpEventAttributes, (dwFlags & CREATE_EVENT_MANUAL_RESET) != 0,
                      (dwFlags & CREATE_EVENT_INITIAL_SET) != 0, lpName);
}

HANDLE OpenEventW(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, LPCWSTR lpName) {
  if (lpName == nullptr || *lpName == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::wstring name = lpName;
  HANDLE handle = CreateOrOpenEvent(nullptr, false, false, &name, false);
  if (handle != nullptr) SetLastError(ERROR_SUCCESS);
  return handle;
}

HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  if (lpName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::wstring name = ObjectNameFromUtf8(lpName);
  return OpenEventW(dwDesiredAccess, bInheritHandle, name.c_str());
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = FindEvent(hEvent);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = FindEvent(hEvent);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}

BOOL PulseEvent(HANDLE hEvent) {
  auto event = FindEvent(hEvent);
  if (!event) return FALSE;
  event->Pulse();
  return TRUE;
}
