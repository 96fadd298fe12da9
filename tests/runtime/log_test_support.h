// Shared pieces of the logger tests: a private KESTNET_HOME per test, the
// logger's registry settings, and captured debugger output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/debug_output.h"
#include "platform/os/home.h"
#include "platform/registry/registry.h"
#include "platform/sync/named_objects.h"
#include "runtime/logger_settings.h"

namespace KestLogTest {

// Points KESTNET_HOME at a fresh directory for the life of the object, so the
// test has its own registry hives, critical file and named objects.
class PrivateHome {
 public:
  PrivateHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-log-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_directory = pattern;
    if (const char* previous = std::getenv("KESTNET_HOME")) m_previous = previous;
    ::setenv("KESTNET_HOME", m_directory.c_str(), 1);
    m_scope = kestnet::platform::NamedObjectScope();
  }
  ~PrivateHome() {
    RemoveFiles();
    if (m_previous.empty()) {
      ::unsetenv("KESTNET_HOME");
    } else {
      ::setenv("KESTNET_HOME", m_previous.c_str(), 1);
    }
  }
  PrivateHome(const PrivateHome&) = delete;
  PrivateHome& operator=(const PrivateHome&) = delete;

  const std::string& Directory() const { return m_directory; }

  // Removes the directory and the named objects of its scope; a process that
  // ends without running destructors calls it first.
  void RemoveFiles() {
    kestnet::platform::RemoveNamedObjects(m_scope);
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
  }

 private:
  std::string m_directory;
  std::string m_previous;
  std::string m_scope;
};

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
