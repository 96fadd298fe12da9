#include "platform/os/shared_mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kestnet::platform {
namespace {

// A process maps a handful of shared objects (the log ring and a few named
// mutexes and events, each one page); 1024 slots leave ample room.
constexpr std::size_t kSlots = 1024;

struct Slot {
  std::atomic<std::uintptr_t> base{0};
  std::atomic<std::size_t> length{0};
  std::atomic<bool> cut{false};
};

// A slot's base while its claimer fills it in; no mapping starts there.
constexpr std::uintptr_t kClaimed = 1;

Slot g_slots[kSlots];
std::uintptr_t g_pageMask = 0;
struct sigaction g_previous {};
std::once_flag g_installed;

// Lock-free lookup, also used by the fault handler.
Slot* FindSlot(std::uintptr_t address) {
  for (Slot& slot : g_slots) {
    const std::uintptr_t base = slot.base.load(std::memory_order_acquire);
    if (base > kClaimed && address >= base && address - base < slot.length.load(std::memory_order_acquire)) {
      return &slot;
    }
  }
  return nullptr;
}

void PassToPrevious(int signal, siginfo_t* info, void* context) {
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction != nullptr) {
      g_previous.sa_sigaction(signal, info, context);
      return;
    }
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  // The default action: end the process with this signal, as it would have.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  Slot* slot = FindSlot(address);
  if (slot == nullptr || info->si_code != BUS_ADRERR) {
    PassToPrevious(signal, info, context);
    return;
  }
  // mmap is a plain system call here: nothing it does depends on state the
  // interrupted code may hold.
  void* page = reinterpret_cast<void*>(address & g_pageMask);
  if (::mmap(page, ~g_pageMask + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
      MAP_FAILED) {
    PassToPrevious(signal, info, context);
    return;
  }
  slot->cut.store(true, std::memory_order_release);
}

void Install() {
  g_pageMask = ~(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

bool GuardSharedMapping(void* base, std::size_t length) {
  if (base == nullptr || length == 0) return false;
  std::call_once(g_installed, Install);
  for (Slot& slot : g_slots) {
    // Claimed first, filled, then published: the handler never sees a base
    // with another mapping's length.
    std::uintptr_t expected = 0;
    if (!slot.base.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) continue;
    slot.length.store(length, std::memory_order_relaxed);
    slot.cut.store(false, std::memory_order_relaxed);
    slot.base.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
    return true;
  }
  return false;
}

void UnguardSharedMapping(void* base) {
  const auto wanted = reinterpret_cast<std::uintptr_t>(base);
  for (Slot& slot : g_slots) {
    std::uintptr_t expected = wanted;
    if (wanted != 0 && slot.base.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return;
  }
}

bool SharedMappingWasCut(const void* base) {
  Slot* slot = FindSlot(reinterpret_cast<std::uintptr_t>(base));
  return slot != nullptr && slot->cut.load(std::memory_order_acquire);
}

}  // namespace kestnet::platform
