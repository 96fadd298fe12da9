// Shared pieces of the logger tests: a private KESTNET_HOME per test, the
// logger's registry settings, and captured debugger output.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/debug_output.h"
#include "platform/registry/registry.h"
#include "runtime/logger_settings.h"
#include "tests/support/temporary_directory.h"

namespace KestLogTest {

// Sets one REG_DWORD of the logger's settings key.
inline void SetLoggerSetting(const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, KestLog::LoggerSettingsKey::kPath, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

// Collects the debugger output lines of this process while it exists.
class DebugOutputCapture {
 public:
  DebugOutputCapture() {
    kestnet::platform::SetDebugOutputHook([this](std::string_view line) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_lines.emplace_back(line);
    });
  }
  ~DebugOutputCapture() { kestnet::platform::SetDebugOutputHook({}); }
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
};

}  // namespace KestLogTest
