// Futex waits on one or several 32-bit words, private or in shared memory.
//
// For the platform layer only. Every word is used with the shared (not
// FUTEX_PRIVATE) operations, so a word may live in memory shared between
// processes, and wakers and sleepers always agree.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

namespace kestnet::platform {

struct FutexWaitEntry {
  std::atomic<std::uint32_t>* word;
  std::uint32_t expected;
};

// Sleeps until one of the words is woken or differs from its expected value,
// or until the deadline (CLOCK_MONOTONIC nanoseconds; nullopt = no limit).
// Returns false on time-out. Spurious returns are possible: callers re-check.
bool FutexWaitAny(std::span<const FutexWaitEntry> entries, std::optional<std::int64_t> deadlineNs);

// Wakes every sleeper on the word.
void FutexWakeAll(std::atomic<std::uint32_t>* word);

// Increments the word and wakes its sleepers: the way every object announces a
// change of state.
inline void BumpAndWake(std::atomic<std::uint32_t>& word) {
  word.fetch_add(1, std::memory_order_acq_rel);
  FutexWakeAll(&word);
}

// CLOCK_MONOTONIC now, in nanoseconds.
std::int64_t MonotonicNowNs();

}  // namespace kestnet::platform
