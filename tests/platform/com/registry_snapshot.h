// A flat, comparable picture of a registry subtree: one line per key and one
// per value, so a test can prove that removal restored exactly what was there.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace kestnet::platform::testing {

inline void SnapshotKey(HKEY key, const std::wstring& path, std::set<std::wstring>* lines) {
  lines->insert(path);
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLength = 512;
    DWORD type = 0;
    BYTE data[2048];
    DWORD dataLength = sizeof data;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    std::wstring text;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      text.assign(reinterpret_cast<const wchar_t*>(data), dataLength / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
    } else {
      for (DWORD b = 0; b < dataLength; ++b) text += std::to_wstring(data[b]) + L",";
    }
    lines->insert(path + L" [" + std::wstring(name, nameLength) + L"] " + std::to_wstring(type) + L" " + text);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLength = 512;
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, nameLength);
  }
  for (const std::wstring& child : children) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    SnapshotKey(sub, path + L"\\" + child, lines);
    RegCloseKey(sub);
  }
}

inline std::set<std::wstring> Snapshot(HKEY root) {
  std::set<std::wstring> lines;
  SnapshotKey(root, L"", &lines);
  return lines;
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline std::wstring ReadText(HKEY root, const std::wstring& path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return L"<no value>";
  return buffer;
}

}  // namespace kestnet::platform::testing
