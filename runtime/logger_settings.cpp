#include "runtime/logger_settings.h"

#include "platform/registry/registry.h"

namespace KestLog {
namespace {

// The values, their names in the key, and where each is kept.
struct SettingValue {
  const wchar_t* name;
  DWORD LoggerSettings::*field;
  bool onlyForCreator;
};
constexpr SettingValue kSettingValues[] = {
    {L"EnableOutputDebugString", &LoggerSettings::enableOutputDebugString, false},
    {L"EnableCriticalLogger", &LoggerSettings::enableCriticalLogger, false},
    {L"FilterLogLevel", &LoggerSettings::filterLogLevel, false},
    {L"NumberOfLogEntries", &LoggerSettings::numberOfLogEntries, true},
};

}  // namespace

LoggerSettingsKey::~LoggerSettingsKey() {
  if (m_hKey != nullptr) RegCloseKey(m_hKey);
}

bool LoggerSettingsKey::Open() {
  if (m_hKey != nullptr) return true;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  m_hKey = key;
  return true;
}

void LoggerSettingsKey::Read(LoggerSettings& p_settings, bool p_bIncludingEntryCount) const {
  if (m_hKey == nullptr) return;
  for (const SettingValue& value : kSettingValues) {
    if (value.onlyForCreator && !p_bIncludingEntryCount) continue;
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LSTATUS status = RegQueryValueExW(m_hKey, value.name, nullptr, &type,
                                            reinterpret_cast<LPBYTE>(&data), &size);
    if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof data) {
      p_settings.*value.field = data;
    }
  }
}

}  // namespace KestLog
