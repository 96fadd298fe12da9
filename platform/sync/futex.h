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
  // A wake word (see kFutexSleepersBit) is marked before the sleep; another
  // word (a lock word with its own protocol) is slept on as it is.
  bool isWakeWord = true;
};

// A wake word is a 31-bit change counter plus this bit, which a sleeper sets
// before it sleeps, so that a change nobody sleeps on costs no system call.
constexpr std::uint32_t kFutexSleepersBit = 0x80000000u;
constexpr std::uint32_t kFutexCounterMask = ~kFutexSleepersBit;

// Sleeps until one of the words changes from its expected value (read before
// the caller last looked at the objects) or until the deadline
// (CLOCK_MONOTONIC nanoseconds; nullopt = no limit). Returns false on time-out.
// Spurious returns are possible: callers re-check.
bool FutexWaitAny(std::span<const FutexWaitEntry> entries, std::optional<std::int64_t> deadlineNs);

// Wakes every sleeper on the word, or just one.
void FutexWakeAll(std::atomic<std::uint32_t>* word);
void FutexWakeOne(std::atomic<std::uint32_t>* word);

// Counts a change on the word and wakes its sleepers, if any: the way every
// object announces a change of state.
inline void BumpAndWake(std::atomic<std::uint32_t>& word) {
  std::uint32_t old = word.load(std::memory_order_relaxed);
  while (!word.compare_exchange_weak(old, (old + 1) & kFutexCounterMask, std::memory_order_acq_rel)) {
  }
  if ((old & kFutexSleepersBit) != 0) FutexWakeAll(&word);
}

// CLOCK_MONOTONIC now, in nanoseconds.
std::int64_t MonotonicNowNs();

}  // namespace kestnet::platform
