// The shared-memory log ring: the exact layout every process of the machine
// (and every viewer) reads and writes.
//
// One named mapping "KestLogger::Logger::Mapping::3.0" of 292 + N x 692 bytes,
// guarded by the named mutex "KestLogger::Logger::Mutex::3.0": a LogRingHeader
// followed by N LogEntry slots. Entry k (counting from 0 since the ring was
// created) lives in slot k mod N, so the write counter alone tells a reader
// which slots hold the newest entries and whether it fell behind.
// All numbers are little-endian; the layout is fixed by the processes already
// running with it, so none of these offsets may change.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace KestLog {

inline constexpr const char* kLogMappingName = "KestLogger::Logger::Mapping::3.0";
inline constexpr const wchar_t* kLogMappingNameW = L"KestLogger::Logger::Mapping::3.0";
inline constexpr const char* kLogMutexName = "KestLogger::Logger::Mutex::3.0";

inline constexpr std::uint32_t kDefaultLogEntryCount = 512;
inline constexpr std::size_t kNotificationSlotCount = 7;

// A party that wants to hear of new entries puts a named manual-reset event in
// a free slot and changes the header's generation; writers set every active
// slot's event after each entry.
struct LogNotificationSlot {
  char eventName[32];  // NUL-terminated
  std::uint8_t active;
  std::uint8_t reserved[7];
};

struct LogRingHeader {
  // Set to 1 by the creator; whoever changes the settings or the notification
  // slots changes it, and every writer that sees a new value re-reads them.
  std::uint32_t generation;
  // Number of entries ever written; the next one goes to slot writeCounter mod N.
  std::uint32_t writeCounter;
  // N, fixed by the process that created the mapping.
  std::uint32_t entryCount;
  LogNotificationSlot notificationSlots[kNotificationSlotCount];
};

struct LogEntry {
  char processName[32];  // executable file name, at most 31 characters
  char className[64];    // logging component, at most 63 characters
  char unused1[64];      // never written
  std::uint32_t time;    // seconds since 1970
  std::uint8_t level;
  std::uint8_t unused2[7];  // never written
  std::uint32_t threadId;
  std::uint32_t processId;
  char message[512];  // at most 511 characters
};

static_assert(std::endian::native == std::endian::little,
              "the ring is little-endian and is read in place");

static_assert(sizeof(LogNotificationSlot) == 40);
static_assert(offsetof(LogNotificationSlot, active) == 32);

static_assert(sizeof(LogRingHeader) == 292);
static_assert(offsetof(LogRingHeader, generation) == 0);
static_assert(offsetof(LogRingHeader, writeCounter) == 4);
static_assert(offsetof(LogRingHeader, entryCount) == 8);
static_assert(offsetof(LogRingHeader, notificationSlots) == 12);

// The header's generation is changed under the ring's mutex but read without
// it by writers deciding whether an entry may be skipped, so every access
// after set-up is one atomic 32-bit load or store.
inline std::uint32_t RingGeneration(LogRingHeader* p_pHeader) {
  return std::atomic_ref<std::uint32_t>(p_pHeader->generation).load(std::memory_order_acquire);
}
inline void SetRingGeneration(LogRingHeader* p_pHeader, std::uint32_t p_generation) {
  std::atomic_ref<std::uint32_t>(p_pHeader->generation).store(p_generation, std::memory_order_release);
}

static_assert(sizeof(LogEntry) == 692);
static_assert(offsetof(LogEntry, processName) == 0);
static_assert(offsetof(LogEntry, className) == 32);
static_assert(offsetof(LogEntry, unused1) == 96);
static_assert(offsetof(LogEntry, time) == 160);
static_assert(offsetof(LogEntry, level) == 164);
static_assert(offsetof(LogEntry, unused2) == 165);
static_assert(offsetof(LogEntry, threadId) == 172);
static_assert(offsetof(LogEntry, processId) == 176);
static_assert(offsetof(LogEntry, message) == 180);

// Entries follow the header without padding, so every entry stays 4-aligned.
static_assert(sizeof(LogRingHeader) % alignof(LogEntry) == 0);

// Bytes of a ring with entryCount slots.
constexpr std::uint64_t LogRingSize(std::uint32_t entryCount) {
  return sizeof(LogRingHeader) + static_cast<std::uint64_t>(entryCount) * sizeof(LogEntry);
}

// Largest slot count a ring may have: its size must fit the 32-bit size the
// mapping is created with.
inline constexpr std::uint32_t kMaxLogEntryCount =
    static_cast<std::uint32_t>((0xFFFFFFFFull - sizeof(LogRingHeader)) / sizeof(LogEntry));

// The first of the N slots that follow the header.
inline LogEntry* LogRingEntries(LogRingHeader* header) {
  return reinterpret_cast<LogEntry*>(reinterpret_cast<unsigned char*>(header) +
                                     sizeof(LogRingHeader));
}
inline const LogEntry* LogRingEntries(const LogRingHeader* header) {
  return reinterpret_cast<const LogEntry*>(reinterpret_cast<const unsigned char*>(header) +
                                           sizeof(LogRingHeader));
}

}  // namespace KestLog
