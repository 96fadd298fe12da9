#include "runtime/log_ring_reader.h"

#include <cstring>
#include <ctime>

#include "platform/os/last_error.h"
#include "platform/shm/file_mapping.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"

namespace KestLog {
namespace {

// A reader more than 2^31 entries behind is taken to be ahead instead.
constexpr std::uint32_t kReaderAheadThreshold = 0x80000000u;

template <size_t N>
void TerminateField(char (&field)[N]) {
  field[N - 1] = '\0';
}

// Why opening the ring's mapping failed: a file that is no mapping this
// layer made, or one smaller than its header says, is a damaged ring.
LogRingOpenFailure FailureOfOpen(DWORD p_error) {
  if (p_error == ERROR_FILE_NOT_FOUND) return LogRingOpenFailure::kMissing;
  if (p_error == ERROR_ACCESS_DENIED) return LogRingOpenFailure::kAccessDenied;
  return LogRingOpenFailure::kUnusable;
}

}  // namespace

EveryoneSecurityAttributes::EveryoneSecurityAttributes() {
  InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE);
  m_attributes.nLength = sizeof m_attributes;
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  m_attributes.bInheritHandle = FALSE;
}

LogRingRead CopyEntriesSince(const LogRingHeader* p_pHeader, std::uint32_t p_entryCount,
                             std::uint32_t* p_pNextIndex, std::uint32_t p_maxEntries) {
  LogRingRead read;
  const std::uint32_t counter = p_pHeader->writeCounter;
  // Unsigned differences stay right across the counter's wrap at 2^32.
  std::uint32_t pending = counter - *p_pNextIndex;
  if (pending > kReaderAheadThreshold) {
    // The reader stands ahead of the counter: the ring was created anew since
    // it last looked. Everything the new ring still holds is new to it.
    pending = counter < p_entryCount ? counter : p_entryCount;
  }
  if (pending > p_entryCount) {
    read.missed = pending - p_entryCount;
    pending = p_entryCount;
  }
  const std::uint32_t wanted = pending < p_maxEntries ? pending : p_maxEntries;

  read.firstIndex = counter - wanted;
  read.entries.resize(wanted);
  const LogEntry* slots = LogRingEntries(p_pHeader);
  for (std::uint32_t i = 0; i < wanted; ++i) {
    LogEntry& entry = read.entries[i];
    std::memcpy(&entry, &slots[(read.firstIndex + i) % p_entryCount], sizeof entry);
    TerminateField(entry.processName);
    TerminateField(entry.className);
    TerminateField(entry.message);
  }
  *p_pNextIndex = counter;
  return read;
}

const char* DescribeLogRingOpenFailure(LogRingOpenFailure p_failure) {
  static constexpr struct {
    LogRingOpenFailure failure;
    const char* text;
  } kTexts[] = {
      {LogRingOpenFailure::kNone, "the log ring is open"},
      {LogRingOpenFailure::kMissing,
       "no log ring exists (no process of this scope holds one open)"},
      {LogRingOpenFailure::kAccessDenied, "the log ring exists but this account may not read it"},
      {LogRingOpenFailure::kUnusable, "the log ring cannot be read (not set up, or damaged)"},
      {LogRingOpenFailure::kBusy, "the log ring's mutex stayed taken; try again"},
  };
  for (const auto& entry : kTexts) {
    if (entry.failure == p_failure) return entry.text;
  }
  return "the log ring cannot be read";
}

std::unique_ptr<LogRingReader> LogRingReader::OpenExisting(LogRingOpenFailure* p_pFailure) {
  auto fail = [p_pFailure](LogRingOpenFailure why) -> std::unique_ptr<LogRingReader> {
    if (p_pFailure != nullptr) *p_pFailure = why;
    return nullptr;
  };
  if (p_pFailure != nullptr) *p_pFailure = LogRingOpenFailure::kNone;

  std::unique_ptr<LogRingReader> reader(new LogRingReader());
  reader->m_hMapping = OpenFileMappingW(FILE_MAP_READ, FALSE, kLogMappingNameW);
  if (reader->m_hMapping == nullptr) return fail(FailureOfOpen(GetLastError()));

  // The header first, to learn the creator's slot count; then the whole ring.
  auto* header = static_cast<const LogRingHeader*>(
      MapViewOfFile(reader->m_hMapping, FILE_MAP_READ, 0, 0, sizeof(LogRingHeader)));
  if (header == nullptr) return fail(LogRingOpenFailure::kUnusable);

  EveryoneSecurityAttributes everyone;
  reader->m_ringMutex.Config(kLogMutexName, everyone.Get());
  std::uint32_t entryCount = 0;
  try {
    KestMT::AutoLockMutex lock(&reader->m_ringMutex, kReadLockTimeout);
    entryCount = header->entryCount;
  } catch (const KestBase::BaseException&) {
    UnmapViewOfFile(header);
    return fail(LogRingOpenFailure::kBusy);
  }
  UnmapViewOfFile(header);
  if (entryCount == 0 || entryCount > kMaxLogEntryCount) {
    return fail(LogRingOpenFailure::kUnusable);
  }

  reader->m_pHeader = static_cast<const LogRingHeader*>(MapViewOfFile(
      reader->m_hMapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(LogRingSize(entryCount))));
  if (reader->m_pHeader == nullptr) return fail(LogRingOpenFailure::kUnusable);
  reader->m_entryCount = entryCount;
  return reader;
}

LogRingReader::~LogRingReader() {
  if (m_pHeader != nullptr) UnmapViewOfFile(m_pHeader);
  if (m_hMapping != nullptr) CloseHandle(m_hMapping);
}

std::uint32_t LogRingReader::GetWriteCounter() {
  KestMT::AutoLockMutex lock(&m_ringMutex, kReadLockTimeout);
  return m_pHeader->writeCounter;
}

LogRingRead LogRingReader::ReadNewest(std::uint32_t p_count) {
  KestMT::AutoLockMutex lock(&m_ringMutex, kReadLockTimeout);
  const std::uint32_t counter = m_pHeader->writeCounter;
  std::uint32_t take = p_count < m_entryCount ? p_count : m_entryCount;
  if (take > counter) take = counter;  // a young ring holds only what was written
  std::uint32_t from = counter - take;
  return CopyEntriesSince(m_pHeader, m_entryCount, &from, take);
}

LogRingRead LogRingReader::ReadSince(std::uint32_t* p_pNextIndex) {
  KestMT::AutoLockMutex lock(&m_ringMutex, kReadLockTimeout);
  return CopyEntriesSince(m_pHeader, m_entryCount, p_pNextIndex, m_entryCount);
}

bool AnnounceLogSettingsChange(LogRingOpenFailure* p_pFailure) {
  auto fail = [p_pFailure](LogRingOpenFailure why) {
    if (p_pFailure != nullptr) *p_pFailure = why;
    return false;
  };
  if (p_pFailure != nullptr) *p_pFailure = LogRingOpenFailure::kNone;
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kLogMappingNameW);
  if (mapping == nullptr) return fail(FailureOfOpen(GetLastError()));
  // Only the header is touched, so only the header is mapped.
  auto* header = static_cast<LogRingHeader*>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LogRingHeader)));
  if (header == nullptr) {
    CloseHandle(mapping);
    return fail(LogRingOpenFailure::kUnusable);
  }
  bool announced = false;
  try {
    KestMT::Mutex ringMutex;
    EveryoneSecurityAttributes everyone;
    ringMutex.Config(kLogMutexName, everyone.Get());
    KestMT::AutoLockMutex lock(&ringMutex, LogRingReader::kReadLockTimeout);
    if (header->entryCount != 0) {
      // Writers compare for inequality only, so wrapping past 2^32 is fine;
      // 0 is skipped so that no value ever reads as "never set up".
      const std::uint32_t next = RingGeneration(header) + 1;
      SetRingGeneration(header, next == 0 ? 1 : next);
      announced = true;
    }
  } catch (const KestBase::BaseException&) {
    UnmapViewOfFile(header);
    CloseHandle(mapping);
    return fail(LogRingOpenFailure::kBusy);
  }
  UnmapViewOfFile(header);
  CloseHandle(mapping);
  return announced ? true : fail(LogRingOpenFailure::kUnusable);
}

std::string FormatEntryTime(std::uint32_t p_time) {
  std::time_t when = static_cast<std::time_t>(p_time);
  std::tm local{};
  localtime_r(&when, &local);
  char text[80];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%.2d/%.2d/%d %.2d:%.2d:%.2d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace KestLog
