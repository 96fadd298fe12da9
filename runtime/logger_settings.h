// The logger's settings and the registry key they are read from:
// HKEY_CURRENT_USER\SOFTWARE\Tolvar\Pelwick\Logger, all REG_DWORD.
#pragma once

#include "platform/os/win_types.h"
#include "runtime/log_ring.h"

struct HKEY__;

namespace KestLog {

struct LoggerSettings {
  DWORD enableOutputDebugString = 0;                 // "EnableOutputDebugString"
  DWORD enableCriticalLogger = 1;                    // "EnableCriticalLogger"
  DWORD filterLogLevel = 255;                        // "FilterLogLevel"
  DWORD numberOfLogEntries = kDefaultLogEntryCount;  // "NumberOfLogEntries"
};

// The open settings key; the logger keeps it open for later refreshes.
class LoggerSettingsKey {
 public:
  static constexpr const wchar_t* kPath = L"SOFTWARE\\Tolvar\\Pelwick\\Logger";

  LoggerSettingsKey() = default;
  ~LoggerSettingsKey();
  LoggerSettingsKey(const LoggerSettingsKey&) = delete;
  LoggerSettingsKey& operator=(const LoggerSettingsKey&) = delete;

  // Opens the key for reading and writing, creating it when missing. False
  // when it can be neither opened nor created (the defaults then apply).
  bool Open();

  // Reads the values into p_settings; a missing value, or one that is not a
  // REG_DWORD, leaves what p_settings holds. The slot count is read only
  // with p_bIncludingEntryCount, as it matters only to a ring's creator.
  void Read(LoggerSettings& p_settings, bool p_bIncludingEntryCount) const;

 private:
  HKEY__* m_hKey = nullptr;
};

}  // namespace KestLog
