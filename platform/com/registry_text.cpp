#include "platform/com/registry_text.h"

#include <cwchar>
#include <vector>

namespace kestnet::platform {

bool ReadClassesRootText(const std::wstring& subkey, const std::wstring& name, std::wstring* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = 0;
  LPCWSTR valueName = name.empty() ? nullptr : name.c_str();
  bool ok = false;
  if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD capacity = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &capacity) ==
        ERROR_SUCCESS) {
      value->assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
      ok = true;
    }
  }
  RegCloseKey(key);
  return ok;
}

LSTATUS WriteClassesRootText(const std::wstring& subkey, const std::wstring& name, const std::wstring& value) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status;
}

}  // namespace kestnet::platform
