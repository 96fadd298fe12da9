// KestLog::Logger: the process-wide logger behind Log.
//
// Every entry goes into the machine-wide ring in shared memory (see
// runtime/log_ring.h), where a viewer in any process can read the log of every
// process; optionally to the debugger output; and, for errors (level 0), into
// the critical file on disk (runtime/critical_log_file.h).
//
// Settings come from the current user's key
// "SOFTWARE\\Tolvar\\Pelwick\\Logger" (all REG_DWORD):
//   EnableOutputDebugString  non-zero: entries that pass the filter also go
//                            to the debugger output                   (0)
//   EnableCriticalLogger     non-zero: level-0 entries also go to the
//                            critical file                            (1)
//   FilterLogLevel           entries whose level is not below it are
//                            neither stored nor sent to the debugger  (255)
//   NumberOfLogEntries       slots of a ring this process creates     (512)
// They are read when the logger starts and again whenever another party
// changes the ring's generation number.
//
// The process-wide instance is created by the first Log call and lives until
// the process ends (it is never destroyed, so that logging from other objects'
// destructors at exit stays safe). Other instances serve tests and tools; each
// maps the ring of the current object scope on its first entry.
//
// The logger is also a KestMT::Thread whose body copies new entries of the
// ring to the registered sinks; the system registers none and never starts it.
//
// Locks, in order: m_initLock (this process's start-up), the ring's named
// mutex (every process of the scope), m_sinkLock; the critical file's own
// lock is taken with none of them held.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/os/win_types.h"
#include "runtime/critical_log_file.h"
#include "runtime/critical_section.h"
#include "runtime/event.h"
#include "runtime/log_ring.h"
#include "runtime/logger_settings.h"
#include "runtime/mutex.h"
#include "runtime/thread.h"

namespace KestLog {

// Receives entries from the logger's reader loop, on the logger's thread.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void OnLogEntry(const LogEntry& p_entry) = 0;
};

class Logger : public KestMT::Thread {
 public:
  // Time-out of a writer waiting for the ring's mutex, also when it sets the
  // logger up; on time-out the entry does not reach the ring.
  static constexpr DWORD kWriteLockTimeout = 1000;

  // The process-wide logger, or null when it could not be built.
  static Logger* Instance();

  Logger();
  ~Logger() override;

  // Writes one entry; never throws. The message is cut to 511 bytes and the
  // class name to 63, each at a character boundary.
  void Write(const char* p_szClassName, BYTE p_level, const char* p_szMessage);

  // True when an entry of p_level would go nowhere under the settings in
  // force: not into the ring, not to the debugger, not to the critical file.
  // Log then skips formatting it. False until the first entry has read the
  // settings, and whenever another party has announced new settings that
  // Write has not read yet.
  bool WouldDiscard(BYTE p_level) const;

  // Maps the ring (creating it when no process has) without writing an entry;
  // false when that fails. Write does this by itself.
  bool Attach();

  // The settings in force (after the first entry: as read from the registry).
  LoggerSettings GetSettings() const;
  // Slots of the ring this logger writes to; 0 before the first entry.
  std::uint32_t GetEntryCount() const { return m_entryCount; }

  // Sinks are not owned; remove a sink before it is destroyed. The reader
  // loop delivers the entries written after the first sink was added.
  void AddSink(LogSink* p_pSink);
  void RemoveSink(LogSink* p_pSink);
  // Wakes the reader loop (each Write does so too).
  void WakeReader();

  // The reader loop: waits for a wake-up (every entry this process writes is
  // one), hands every entry written since it last looked to the sinks, other
  // processes' entries included (at most N); leaves on abort.
  DWORD Run() override;

 private:
  bool EnsureInitialized();
  void Initialize();  // the ring's mutex held
  bool MapRing(DWORD p_entryCount, bool& p_bCreated);
  void UnmapRing();
  void ReadSettings(bool p_bIncludingEntryCount);
  void Refresh();                // the ring's mutex held
  void SetNotificationEvents();  // the ring's mutex held
  void DeliverNewEntries();
  bool ReadWriteCounter(std::uint32_t& p_counter);
  // What an entry is made of, before it is laid out in a slot.
  struct EntryFields {
    const char* processName = nullptr;  // sizeof(LogEntry::processName) bytes, or none
    const char* className = "";
    const char* message = "";
    std::uint32_t time = 0;
    BYTE level = 0;
    DWORD threadId = 0;
    DWORD processId = 0;
  };
  // A whole record, every byte written.
  static void FillEntry(LogEntry& p_entry, const EntryFields& p_fields);
  // A ring slot in place: only the bytes an entry carries (see
  // OverwritePaddedText), so a short entry touches few of the slot's bytes.
  static void WriteSlot(LogEntry& p_slot, const EntryFields& p_fields);
  // Whether the entry goes to the debugger output or the critical file.
  static bool GoesOutsideRing(BYTE p_level, const LoggerSettings& p_settings);
  void WriteOutsideRing(const LogEntry& p_record, const LoggerSettings& p_settings);

  KestMT::CriticalSection m_initLock;
  std::atomic<bool> m_bInitialized{false};

  // Everything below is set once by Initialize, before m_bInitialized.
  KestMT::Mutex m_ringMutex;
  HANDLE m_hMapping = nullptr;
  LogRingHeader* m_pHeader = nullptr;
  std::atomic<std::uint32_t> m_entryCount{0};
  LoggerSettingsKey m_settingsKey;
  char m_processName[sizeof(LogEntry::processName)] = {};

  // Read by writers outside the ring's mutex, so kept as atomics; changed
  // only under the mutex by Refresh.
  std::atomic<DWORD> m_enableOutputDebugString{0};
  std::atomic<DWORD> m_enableCriticalLogger{1};
  std::atomic<DWORD> m_filterLogLevel{255};
  std::atomic<DWORD> m_numberOfLogEntries{kDefaultLogEntryCount};

  // Changed only under the ring's mutex; read without it by WouldDiscard.
  std::atomic<std::uint32_t> m_cachedGeneration{0};
  // Guarded by the ring's mutex.
  std::vector<std::unique_ptr<KestMT::Event>> m_notificationEvents;

  CriticalLogFile m_criticalFile;

  KestMT::CriticalSection m_sinkLock;  // guards the sinks and the reader position
  std::vector<LogSink*> m_sinks;
  std::uint32_t m_readerNextIndex = 0;
  bool m_bReaderPositioned = false;
  KestMT::Event m_readerWake;
  std::atomic<bool> m_bReaderActive{false};
};

}  // namespace KestLog
