#include "runtime/logger.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/os/debug_output.h"
#include "platform/os/process.h"
#include "platform/shm/file_mapping.h"
#include "platform/sync/thread.h"
#include "runtime/exceptions.h"
#include "runtime/log_error_state.h"
#include "runtime/log_ring_reader.h"
#include "runtime/log_text.h"
#include "runtime/mt_log.h"

namespace KestLog {
namespace {

// The process and thread ids of an entry. Each is a system call here, and
// every entry needs both, so they are kept: the process id for the process,
// the thread id per thread. A fork gives the child new ids; the fork count
// tells a cache that it is stale.
class EntryIds {
 public:
  static DWORD ProcessId() {
    Cache& cache = Current();
    return cache.processId;
  }
  static DWORD ThreadId() {
    Cache& cache = Current();
    return cache.threadId;
  }

 private:
  struct Cache {
    std::uint32_t forkCount = ~0u;
    DWORD processId = 0;
    DWORD threadId = 0;
  };

  static std::atomic<std::uint32_t>& ForkCount() {
    static std::atomic<std::uint32_t> count{0};
    static std::once_flag registered;
    std::call_once(registered, [] {
      pthread_atfork(nullptr, nullptr, [] { count.fetch_add(1, std::memory_order_relaxed); });
    });
    return count;
  }

  static Cache& Current() {
    thread_local Cache cache;
    const std::uint32_t forks = ForkCount().load(std::memory_order_relaxed);
    if (cache.forkCount != forks) {
      cache.processId = GetCurrentProcessId();
      cache.threadId = GetCurrentThreadId();
      cache.forkCount = forks;
    }
    return cache;
  }
};

// The executable's file name without its directory.
void ReadProcessName(char (&name)[sizeof(LogEntry::processName)]) {
  char path[4096] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) {
    CopyBoundedText(name, "");
    return;
  }
  CopyBoundedText(name, KestMT::SourceFileName(path));
}

}  // namespace

Logger* Logger::Instance() {
  // Built by the first caller (thread-safe by the language) and never
  // destroyed: entries logged while other statics are torn down at exit still
  // find a working logger.
  static Logger* const instance = []() -> Logger* {
    try {
      return new Logger();
    } catch (...) {
      OutputDebugStringA("Logger::Logger(void) - Unknown Exception.");
      return nullptr;
    }
  }();
  return instance;
}

Logger::Logger() {
  try {
    EveryoneSecurityAttributes everyone;
    m_ringMutex.Config(kLogMutexName, everyone.Get());
    // Every take is a scoped lock inside one call of this logger, and a
    // logger outlives its calls.
    m_ringMutex.DeclareScopedTakesOnly();
  } catch (...) {
    OutputDebugStringA("Logger::Logger(void) - Unknown Exception.");
  }
}

Logger::~Logger() {
  try {
    Abort(INFINITE);
  } catch (...) {
    OutputDebugStringA("Logger::~Logger(void) - Unknown Exception.");
  }
  try {
    UnmapRing();
  } catch (...) {
    OutputDebugStringA("Logger::~Logger(void) - Unknown Exception.");
  }
}

LoggerSettings Logger::GetSettings() const {
  LoggerSettings settings;
  settings.enableOutputDebugString = m_enableOutputDebugString.load(std::memory_order_relaxed);
  settings.enableCriticalLogger = m_enableCriticalLogger.load(std::memory_order_relaxed);
  settings.filterLogLevel = m_filterLogLevel.load(std::memory_order_relaxed);
  settings.numberOfLogEntries = m_numberOfLogEntries.load(std::memory_order_relaxed);
  return settings;
}

void Logger::ReadSettings(bool p_bIncludingEntryCount) {
  // From the defaults each time: a value deleted since the last read counts
  // as missing again.
  LoggerSettings settings;
  m_settingsKey.Read(settings, p_bIncludingEntryCount);
  m_enableOutputDebugString.store(settings.enableOutputDebugString, std::memory_order_relaxed);
  m_enableCriticalLogger.store(settings.enableCriticalLogger, std::memory_order_relaxed);
  m_filterLogLevel.store(settings.filterLogLevel, std::memory_order_relaxed);
  if (p_bIncludingEntryCount) {
    // A ring of no slots could hold nothing (and every slot number would be a
    // division by zero); one too large for its 32-bit size cannot be created.
    const DWORD count = settings.numberOfLogEntries;
    m_numberOfLogEntries.store(
        (count == 0 || count > kMaxLogEntryCount) ? kDefaultLogEntryCount : count,
        std::memory_order_relaxed);
  }
}

bool Logger::MapRing(DWORD p_entryCount, bool& p_bCreated) {
  EveryoneSecurityAttributes everyone;
  const std::uint64_t wantedSize = LogRingSize(p_entryCount);
  m_hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, everyone.Get(), PAGE_READWRITE,
                                  static_cast<DWORD>(wantedSize >> 32),
                                  static_cast<DWORD>(wantedSize), kLogMappingNameW);
  if (m_hMapping == nullptr) return false;
  p_bCreated = GetLastError() != ERROR_ALREADY_EXISTS;
  // Windows also gives both objects a low integrity label here, so that
  // low-integrity processes may log; file modes have no such levels, and the
  // null DACL (mode 0666) already lets every process in.

  std::uint32_t entryCount = p_entryCount;
  if (!p_bCreated) {
    // An existing ring keeps its creator's size, whatever this process asked
    // for: read the slot count from its header before mapping the rest.
    const auto* header = static_cast<const LogRingHeader*>(
        MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, sizeof(LogRingHeader)));
    if (header == nullptr) {
      UnmapRing();
      return false;
    }
    entryCount = header->entryCount;
    UnmapViewOfFile(header);
    if (entryCount == 0) {
      // Its creator ended before setting it up (which happens under this same
      // mutex): the ring is ours to set up.
      entryCount = p_entryCount;
      p_bCreated = true;
    } else if (entryCount > kMaxLogEntryCount) {
      UnmapRing();
      return false;
    }
  }
  m_pHeader = static_cast<LogRingHeader*>(MapViewOfFile(
      m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(LogRingSize(entryCount))));
  if (m_pHeader == nullptr) {
    UnmapRing();
    return false;
  }
  if (p_bCreated) {
    std::memset(m_pHeader, 0, static_cast<size_t>(LogRingSize(entryCount)));
    m_pHeader->entryCount = entryCount;
    SetRingGeneration(m_pHeader, 1);
  }
  m_entryCount.store(entryCount, std::memory_order_relaxed);
  return true;
}

void Logger::UnmapRing() {
  if (m_pHeader != nullptr) UnmapViewOfFile(m_pHeader);
  if (m_hMapping != nullptr) CloseHandle(m_hMapping);
  m_pHeader = nullptr;
  m_hMapping = nullptr;
}

void Logger::Initialize() {
  // 1. Settings; the key stays open for later refreshes.
  m_settingsKey.Open();
  ReadSettings(true);

  // 2. Who is writing.
  ReadProcessName(m_processName);

  // 3-5. The ring, at the creator's size when it exists already.
  bool created = false;
  if (!MapRing(m_numberOfLogEntries.load(std::memory_order_relaxed), created)) {
    OutputDebugStringA("Logger::Initialize() - Failed to create log map.");
    throw KestBase::InvalidObjectException();
  }

  // 6. Settings and notification slots as the ring's generation has them.
  Refresh();
}

bool Logger::EnsureInitialized() {
  if (m_bInitialized.load(std::memory_order_acquire)) return true;
  KestMT::AutoCriticalSection onlyOnce(&m_initLock);
  if (m_bInitialized.load(std::memory_order_relaxed)) return true;
  {
    // Bounded like a write: every account may open the ring's mutex, so one
    // that holds it for ever must cost each entry a second, not the process
    // its logging. A time-out throws; the next entry tries again.
    KestMT::AutoLockMutex lock(&m_ringMutex, kWriteLockTimeout);
    Initialize();
  }
  m_bInitialized.store(true, std::memory_order_release);
  return true;
}

bool Logger::Attach() {
  try {
    return EnsureInitialized();
  } catch (...) {
    return false;
  }
}

void Logger::Refresh() {
  ReadSettings(false);
  m_cachedGeneration.store(RingGeneration(m_pHeader), std::memory_order_release);
  m_notificationEvents.clear();
  for (const LogNotificationSlot& slot : m_pHeader->notificationSlots) {
    if (!slot.active) continue;
    char name[sizeof slot.eventName];
    std::memcpy(name, slot.eventName, sizeof name);
    name[sizeof name - 1] = '\0';  // a slot without its NUL is still one name
    if (name[0] == '\0') continue;
    auto event = std::make_unique<KestMT::Event>();
    EveryoneSecurityAttributes everyone;
    event->Config(name, everyone.Get());
    m_notificationEvents.push_back(std::move(event));
  }
}

void Logger::SetNotificationEvents() {
  for (const auto& event : m_notificationEvents) {
    try {
      event->Set();
    } catch (...) {
      // A listener whose event cannot be opened misses the wake-up, not the entry.
    }
  }
}

bool Logger::WouldDiscard(BYTE p_level) const {
  if (!m_bInitialized.load(std::memory_order_acquire)) return false;
  // The debugger output takes only entries that pass the filter too.
  if (p_level < m_filterLogLevel.load(std::memory_order_relaxed)) return false;
  // Errors (level 0) go to the critical file whatever the filter says.
  if (p_level == 0 && m_enableCriticalLogger.load(std::memory_order_relaxed) != 0) return false;
  return RingGeneration(m_pHeader) == m_cachedGeneration.load(std::memory_order_acquire);
}

void Logger::Write(const char* p_szClassName, BYTE p_level, const char* p_szMessage) {
  CallerErrorStateKeeper keepCallerErrorState;
  try {
    EntryFields fields;
    fields.className = p_szClassName != nullptr ? p_szClassName : "";
    fields.message = p_szMessage != nullptr ? p_szMessage : "";
    fields.time = static_cast<std::uint32_t>(std::time(nullptr));
    fields.level = p_level;
    fields.threadId = EntryIds::ThreadId();
    fields.processId = EntryIds::ProcessId();

    bool inRing = false;
    try {
      if (EnsureInitialized()) {
        fields.processName = m_processName;
        KestMT::AutoLockMutex lock(&m_ringMutex, kWriteLockTimeout);
        if (RingGeneration(m_pHeader) != m_cachedGeneration.load(std::memory_order_relaxed)) Refresh();
        if (p_level < m_filterLogLevel.load(std::memory_order_relaxed)) {
          // Written in place: the slot is the only copy the ring needs.
          const std::uint32_t counter = m_pHeader->writeCounter;
          WriteSlot(LogRingEntries(m_pHeader)[counter % m_entryCount], fields);
          m_pHeader->writeCounter = counter + 1;
          SetNotificationEvents();
        }
        inRing = true;
      }
    } catch (...) {
      // Mutex time-out or no ring: the entry does not reach the ring.
    }
    if (!inRing && m_bInitialized.load(std::memory_order_acquire)) fields.processName = m_processName;

    const LoggerSettings settings = GetSettings();
    if (GoesOutsideRing(p_level, settings)) {
      LogEntry record;
      FillEntry(record, fields);
      WriteOutsideRing(record, settings);
    }
    if (inRing) WakeReader();
  } catch (...) {
    // Logging never fails its caller.
  }
}

bool Logger::GoesOutsideRing(BYTE p_level, const LoggerSettings& p_settings) {
  return (p_settings.enableOutputDebugString != 0 && p_level < p_settings.filterLogLevel) ||
         (p_level == 0 && p_settings.enableCriticalLogger != 0);
}

void Logger::FillEntry(LogEntry& p_entry, const EntryFields& p_fields) {
  // A record of its own: every byte is written, unused ones as zeros.
  std::memset(&p_entry, 0, sizeof p_entry);
  WriteSlot(p_entry, p_fields);
}

void Logger::WriteSlot(LogEntry& p_slot, const EntryFields& p_fields) {
  // The fields the layout leaves unwritten stay as the ring was made (zero),
  // and the texts stay NUL-padded, so no stale bytes of an older entry remain.
  if (p_fields.processName != nullptr) {
    std::memcpy(p_slot.processName, p_fields.processName, sizeof p_slot.processName);
  } else {
    std::memset(p_slot.processName, 0, sizeof p_slot.processName);
  }
  OverwritePaddedText(p_slot.className, p_fields.className);
  p_slot.time = p_fields.time;
  p_slot.level = p_fields.level;
  p_slot.threadId = p_fields.threadId;
  p_slot.processId = p_fields.processId;
  OverwritePaddedText(p_slot.message, p_fields.message);
}

void Logger::WriteOutsideRing(const LogEntry& p_record, const LoggerSettings& p_settings) {
  const bool toDebugger =
      p_settings.enableOutputDebugString != 0 && p_record.level < p_settings.filterLogLevel;
  const bool toCriticalFile = p_record.level == 0 && p_settings.enableCriticalLogger != 0;

  const std::string line = FormatLogLine(p_record);
  if (toDebugger) OutputDebugStringA(line.c_str());
  if (toCriticalFile) m_criticalFile.Append(line);
}

void Logger::AddSink(LogSink* p_pSink) {
  if (p_pSink == nullptr) return;
  // The first sink fixes where the reader starts: it hears of every entry
  // written from now on.
  std::uint32_t startIndex = 0;
  const bool positioned = Attach() && ReadWriteCounter(startIndex);
  KestMT::AutoCriticalSection guard(&m_sinkLock);
  if (!m_bReaderPositioned && positioned) {
    m_readerNextIndex = startIndex;
    m_bReaderPositioned = true;
  }
  if (std::find(m_sinks.begin(), m_sinks.end(), p_pSink) == m_sinks.end()) {
    m_sinks.push_back(p_pSink);
  }
}

bool Logger::ReadWriteCounter(std::uint32_t& p_counter) {
  try {
    KestMT::AutoLockMutex lock(&m_ringMutex, kWriteLockTimeout);
    p_counter = m_pHeader->writeCounter;
    return true;
  } catch (...) {
    return false;
  }
}

void Logger::RemoveSink(LogSink* p_pSink) {
  KestMT::AutoCriticalSection guard(&m_sinkLock);
  m_sinks.erase(std::remove(m_sinks.begin(), m_sinks.end(), p_pSink), m_sinks.end());
}

void Logger::WakeReader() {
  if (!m_bReaderActive.load(std::memory_order_acquire)) return;
  try {
    m_readerWake.Set();
  } catch (...) {
  }
}

void Logger::DeliverNewEntries() {
  if (!Attach()) return;
  std::uint32_t nextIndex = 0;
  {
    KestMT::AutoCriticalSection guard(&m_sinkLock);
    if (!m_bReaderPositioned) return;  // no sink yet: nothing to deliver to
    nextIndex = m_readerNextIndex;
  }
  LogRingRead read;
  {
    KestMT::AutoLockMutex lock(&m_ringMutex, kWriteLockTimeout, this);
    read = CopyEntriesSince(m_pHeader, m_entryCount, &nextIndex, m_entryCount);
  }
  // Only this thread moves the position once it is set, so nothing changed
  // it while the ring was being read.
  KestMT::AutoCriticalSection guard(&m_sinkLock);
  m_readerNextIndex = nextIndex;
  for (const LogEntry& entry : read.entries) {
    for (LogSink* sink : m_sinks) sink->OnLogEntry(entry);
  }
}

DWORD Logger::Run() {
  m_bReaderActive.store(true, std::memory_order_release);
  try {
    for (;;) {
      try {
        DeliverNewEntries();
      } catch (const KestMT::ThreadAbortException&) {
        throw;
      } catch (...) {
        // A busy ring or a failing sink: the next wake-up tries again.
      }
      m_readerWake.Wait(INFINITE, this);
      m_readerWake.Reset();
    }
  } catch (const KestMT::ThreadAbortException&) {
    // Abort is how the loop ends.
  }
  m_bReaderActive.store(false, std::memory_order_release);
  return 0;
}

}  // namespace KestLog
