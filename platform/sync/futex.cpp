#include "platform/sync/futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace kestnet::platform {
namespace {

constexpr unsigned kFutex2SizeU32 = 0x02;

timespec ToTimespec(std::int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

// Single-word fallback for kernels without futex_waitv (before 5.16): sleep on
// the first word in slices, so changes of the others are seen within 5 ms.
bool WaitSliced(std::span<const FutexWaitEntry> entries, std::optional<std::int64_t> deadlineNs) {
  std::int64_t now = MonotonicNowNs();
  std::int64_t slice = 5'000'000;
  if (deadlineNs) {
    if (*deadlineNs <= now) return false;
    if (*deadlineNs - now < slice) slice = *deadlineNs - now;
  }
  for (const FutexWaitEntry& entry : entries) {
    std::uint32_t mask = entry.isWakeWord ? kFutexCounterMask : ~0u;
    if (((entry.word->load(std::memory_order_acquire) ^ entry.expected) & mask) != 0) return true;
  }
  timespec relative = ToTimespec(slice);
  syscall(SYS_futex, entries.front().word, FUTEX_WAIT, entries.front().expected, &relative, nullptr, 0);
  return !deadlineNs || MonotonicNowNs() < *deadlineNs;
}

}  // namespace

std::int64_t MonotonicNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool FutexWaitAny(std::span<const FutexWaitEntry> entries, std::optional<std::int64_t> deadlineNs) {
  static std::atomic<bool> waitvMissing{false};
  if (entries.empty()) {
    // Nothing to wake on: a plain sleep until the deadline.
    if (!deadlineNs) {
      for (;;) pause();
    }
    timespec until = ToTimespec(*deadlineNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    return false;
  }
  // Announce the sleep on every word; a word that changed since the caller
  // read it means there is something to look at already.
  std::vector<FutexWaitEntry> marked(entries.begin(), entries.end());
  for (FutexWaitEntry& entry : marked) {
    if (!entry.isWakeWord) continue;
    std::uint32_t current = entry.word->fetch_or(kFutexSleepersBit, std::memory_order_acq_rel);
    if (((current ^ entry.expected) & kFutexCounterMask) != 0) return true;
    entry.expected = current | kFutexSleepersBit;
  }
  if (waitvMissing.load(std::memory_order_relaxed) || marked.size() > FUTEX_WAITV_MAX) {
    return WaitSliced(marked, deadlineNs);
  }
  std::vector<futex_waitv> waiters(marked.size());
  for (std::size_t i = 0; i < marked.size(); ++i) {
    waiters[i].val = marked[i].expected;
    waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(marked[i].word);
    waiters[i].flags = kFutex2SizeU32;
    waiters[i].__reserved = 0;
  }
  timespec deadline{};
  if (deadlineNs) deadline = ToTimespec(*deadlineNs);
  long rc = syscall(SYS_futex_waitv, waiters.data(), static_cast<unsigned>(waiters.size()), 0,
                    deadlineNs ? &deadline : nullptr, CLOCK_MONOTONIC);
  if (rc >= 0) return true;
  switch (errno) {
    case ETIMEDOUT:
      return false;
    case ENOSYS:
      waitvMissing.store(true, std::memory_order_relaxed);
      return WaitSliced(marked, deadlineNs);
    default:  // EAGAIN (a word already changed), EINTR: the caller re-checks.
      return true;
  }
}

void FutexWakeAll(std::atomic<std::uint32_t>* word) {
  syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<std::uint32_t>* word) { syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0); }

}  // namespace kestnet::platform
