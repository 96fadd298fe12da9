// Reading the shared log ring: what a viewer (`kestnet log`) and the logger's
// own reader loop need.
//
// Entries are numbered from 0 by the ring's write counter; entry k sits in slot
// k mod N until entry k + N overwrites it. A reader keeps the number of the
// next entry it wants and copies, under the ring's mutex, everything from
// there to the counter. Entries already overwritten are reported as missed,
// never returned half-old, half-new.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/security.h"
#include "platform/os/win_types.h"
#include "runtime/log_ring.h"
#include "runtime/mutex.h"

namespace KestLog {

// What one read produced.
struct LogRingRead {
  std::vector<LogEntry> entries;  // oldest first
  std::uint32_t firstIndex = 0;   // entry number of entries.front()
  std::uint32_t missed = 0;       // entries overwritten before they could be read
};

// Copies the entries from *p_pNextIndex up to the write counter (at most
// p_maxEntries, the newest ones) and advances *p_pNextIndex past them. The
// caller holds the ring's mutex. Every string field of a returned entry is
// NUL-terminated, whatever the slot held.
LogRingRead CopyEntriesSince(const LogRingHeader* p_pHeader, std::uint32_t p_entryCount,
                             std::uint32_t* p_pNextIndex, std::uint32_t p_maxEntries);

// Why a ring could not be opened for reading.
enum class LogRingOpenFailure {
  kNone,
  kMissing,       // no process of this scope holds a ring
  kAccessDenied,  // the ring exists but this account may not open it
  kUnusable,      // it cannot be mapped, or its header is not set up
  kBusy,          // its mutex stayed taken for kReadLockTimeout
};

// A text for each failure, for messages to the user.
const char* DescribeLogRingOpenFailure(LogRingOpenFailure p_failure);

// A read-only view of the ring of the current object scope, opened only if
// some process already created it.
class LogRingReader {
 public:
  // Null when the ring cannot be opened; p_pFailure, when given, says why.
  static std::unique_ptr<LogRingReader> OpenExisting(LogRingOpenFailure* p_pFailure = nullptr);
  ~LogRingReader();

  LogRingReader(const LogRingReader&) = delete;
  LogRingReader& operator=(const LogRingReader&) = delete;

  std::uint32_t GetEntryCount() const { return m_entryCount; }

  // The write counter, read under the ring's mutex.
  std::uint32_t GetWriteCounter();

  // The newest p_count entries (all that exist when fewer), oldest first.
  LogRingRead ReadNewest(std::uint32_t p_count);
  // Everything written since entry *p_pNextIndex, advancing it.
  LogRingRead ReadSince(std::uint32_t* p_pNextIndex);

  // How long a read waits for the ring's mutex before giving up.
  static constexpr DWORD kReadLockTimeout = 5000;

 private:
  LogRingReader() = default;

  KestMT::Mutex m_ringMutex;
  HANDLE m_hMapping = nullptr;
  const LogRingHeader* m_pHeader = nullptr;
  std::uint32_t m_entryCount = 0;
};

// Changes the generation of the ring of the current object scope, so that
// every process writing to it reads its settings (and the notification slots)
// again before its next entry. False when there is no ring to tell.
bool AnnounceLogSettingsChange(LogRingOpenFailure* p_pFailure = nullptr);

// Security attributes with a null DACL: the ring and its mutex are opened by
// processes of every account on the machine.
class EveryoneSecurityAttributes {
 public:
  EveryoneSecurityAttributes();
  EveryoneSecurityAttributes(const EveryoneSecurityAttributes&) = delete;
  EveryoneSecurityAttributes& operator=(const EveryoneSecurityAttributes&) = delete;
  SECURITY_ATTRIBUTES* Get() { return &m_attributes; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{};
};

// The formatted time of an entry: month/day/year hour:minute:second, local.
std::string FormatEntryTime(std::uint32_t p_time);

}  // namespace KestLog
