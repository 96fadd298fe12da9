// A fresh KESTNET_HOME per test, so the hives are new and private to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::platform::testing {

class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HKEY key : opened_) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }

  // Creates (or opens) a key that the fixture closes at the end of the test.
  HKEY Create(HKEY root, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    if (key != nullptr) opened_.push_back(key);
    return key;
  }
  HKEY Open(HKEY root, const wchar_t* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExW(root, path, 0, access, &key);
    EXPECT_EQ(rc, ERROR_SUCCESS) << "opening " << std::filesystem::path(path).string();
    if (key != nullptr) opened_.push_back(key);
    return key;
  }
  void SetString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void SetDword(HKEY key, const wchar_t* name, DWORD value) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
  }
  // Reads a string value through the wide call; empty with a failure when missing.
  std::wstring GetString(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      ADD_FAILURE() << "value missing";
      return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size), ERROR_SUCCESS);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  std::vector<std::wstring> SubkeyNames(HKEY key) { return NamesOf(key, &RegEnumKeyExW); }
  std::vector<std::wstring> ValueNames(HKEY key) { return NamesOf(key, &RegEnumValueW); }
  // Every name enumerate (RegEnumKeyExW or RegEnumValueW) lists under key.
  template <typename Enumerate>
  static std::vector<std::wstring> NamesOf(HKEY key, Enumerate enumerate) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
      wchar_t name[256];
      DWORD length = 256;
      const LONG rc = enumerate(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }

  kestnet::testing::TemporaryHome temporaryHome_;
  const std::string home_ = temporaryHome_.Path().string();
  std::vector<HKEY> opened_;
};

}  // namespace kestnet::platform::testing
