// The Win32 registry calls: argument rules, buffer sizing and the wide and
// narrow text forms, over the operations of key_operations.h.
#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "platform/os/security.h"
#include "platform/registry/key_operations.h"
#include "platform/registry/text.h"

using kestnet::platform::registry_store::KeyInfo;
using kestnet::platform::registry_store::KeyTable;
using kestnet::platform::registry_store::KeyTargetPtr;
using kestnet::platform::registry_store::SubkeyRecord;
using kestnet::platform::registry_store::ValueRecord;
namespace store = kestnet::platform::registry_store;

namespace {

// Largest value data the store accepts (the size Windows recommends staying under).
constexpr std::size_t kMaxValueSize = 1024 * 1024;

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Text of the caller's form to the store's UTF-8; nullopt when it cannot be
// represented (a wide unit above U+10FFFF).
std::optional<std::string> ToStore(const char* text) { return std::string(text == nullptr ? "" : text); }
std::optional<std::string> ToStore(const wchar_t* text) {
  return store::WideToUtf8(text == nullptr ? std::wstring_view() : std::wstring_view(text));
}

template <typename CharT>
std::basic_string<CharT> FromStore(const std::string& text);
template <>
std::string FromStore<char>(const std::string& text) {
  return text;
}
template <>
std::wstring FromStore<wchar_t>(const std::string& text) {
  return store::Utf8ToWide(text);
}

// Value data as the caller's form presents it: string types are wchar_t text
// for the wide calls and UTF-8 for the narrow ones; other types are raw bytes.
template <typename CharT>
std::string PresentData(const ValueRecord& value) {
  if (sizeof(CharT) == 1 || !IsStringType(value.type)) return value.data;
  const std::wstring wide = store::Utf8ToWide(value.data);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

template <typename CharT>
std::optional<std::string> AcceptData(DWORD type, const BYTE* data, DWORD size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  if (sizeof(CharT) == 1 || !IsStringType(type)) return std::string(bytes, size);
  if (size % sizeof(wchar_t) != 0) return std::nullopt;
  std::wstring units(size / sizeof(wchar_t), L'\0');
  std::memcpy(units.data(), bytes, size);
  return store::WideToUtf8(units);
}

// The common tail of the value queries: type, size query, ERROR_MORE_DATA.
LONG DeliverData(DWORD type, const std::string& bytes, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpType != nullptr) *lpType = type;
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(bytes.size());
  if (lpData == nullptr) {
    *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (size != 0) std::memcpy(lpData, bytes.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of *lpcch characters;
// ERROR_MORE_DATA when it does not fit. *lpcch becomes the length without the
// terminator.
template <typename CharT>
LONG DeliverName(const std::basic_string<CharT>& name, CharT* buffer, LPDWORD lpcch) {
  if (buffer == nullptr || lpcch == nullptr) return ERROR_INVALID_PARAMETER;
  if (*lpcch <= name.size()) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = CharT(0);
  *lpcch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// FILETIME is only declared for the callers of this file; its layout is the
// Windows one, two DWORDs, low part first.
void StoreFileTime(std::int64_t ticks, PFILETIME out) {
  const auto value = static_cast<std::uint64_t>(ticks);
  const DWORD parts[2] = {static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
  std::memcpy(static_cast<void*>(out), parts, sizeof parts);
}

// The self-relative copy of a descriptor (absolute or self-relative), as
// the bytes kept with a key; nullopt when it is not a valid descriptor.
std::optional<std::string> SelfRelativeCopy(PSECURITY_DESCRIPTOR descriptor) {
  if (!IsValidSecurityDescriptor(descriptor)) return std::nullopt;
  DWORD length = 0;
  if (MakeSelfRelativeSD(descriptor, nullptr, &length) || length == 0) return std::nullopt;
  std::string bytes(length, '\0');
  if (!MakeSelfRelativeSD(descriptor, bytes.data(), &length)) return std::nullopt;
  bytes.resize(length);
  return bytes;
}

LONG Resolve(HKEY key, KeyTargetPtr* target) { return KeyTable::Instance().Resolve(key, target); }

// Runs an API body, turning an allocation failure into its Win32 error.
template <typename Body>
LONG Api(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const store::StoreError& error) {
    return error.code;
  }
}

template <typename CharT>
LONG OpenKeyImpl(HKEY hKey, const CharT* lpSubKey, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr base;
    if (const LONG rc = Resolve(hKey, &base); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> subkey = ToStore(lpSubKey);
    if (!subkey) return ERROR_INVALID_PARAMETER;
    KeyTargetPtr opened;
    if (const LONG rc = store::OpenKey(*base, *subkey, samDesired, &opened); rc != ERROR_SUCCESS) return rc;
    *phkResult = KeyTable::Instance().Insert(std::move(opened));
    return ERROR_SUCCESS;
  });
}

template <typename CharT>
LONG CreateKeyImpl(HKEY hKey, const CharT* lpSubKey, const CharT* lpClass, DWORD dwOptions, REGSAM samDesired,
                   const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  // The store keeps every key; a volatile one would outlive the reboot that must remove it.
  if ((dwOptions & REG_OPTION_VOLATILE) != 0) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr base;
    if (const LONG rc = Resolve(hKey, &base); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> subkey = ToStore(lpSubKey);
    const std::optional<std::string> className = ToStore(lpClass);
    if (!subkey || !className) return ERROR_INVALID_PARAMETER;
    std::optional<std::string> security;
    if (lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr) {
      security = SelfRelativeCopy(lpSecurityAttributes->lpSecurityDescriptor);
      if (!security) return ERROR_INVALID_SECURITY_DESCR;
    }
    KeyTargetPtr opened;
    if (const LONG rc = store::CreateKey(*base, *subkey, *className, security, samDesired, &opened, lpdwDisposition);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    *phkResult = KeyTable::Instance().Insert(std::move(opened));
    return ERROR_SUCCESS;
  });
}

template <typename CharT>
LONG QueryValueImpl(HKEY hKey, const CharT* lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                    LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> name = ToStore(lpValueName);
    if (!name) return ERROR_INVALID_PARAMETER;
    ValueRecord value;
    if (const LONG rc = store::QueryValue(*key, *name, &value); rc != ERROR_SUCCESS) return rc;
    return DeliverData(value.type, PresentData<CharT>(value), lpType, lpData, lpcbData);
  });
}

template <typename CharT>
LONG SetValueImpl(HKEY hKey, const CharT* lpValueName, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  if (cbData > kMaxValueSize) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> name = ToStore(lpValueName);
    const std::optional<std::string> data = AcceptData<CharT>(dwType, lpData, cbData);
    if (!name || !data) return ERROR_INVALID_PARAMETER;
    return store::SetValue(*key, *name, dwType, *data);
  });
}

template <typename CharT>
LONG DeleteValueImpl(HKEY hKey, const CharT* lpValueName) {
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> name = ToStore(lpValueName);
    if (!name) return ERROR_INVALID_PARAMETER;
    return store::DeleteValue(*key, *name);
  });
}

template <typename CharT>
LONG DeleteKeyImpl(HKEY hKey, const CharT* lpSubKey, bool wholeTree) {
  if (lpSubKey == nullptr && !wholeTree) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> subkey = ToStore(lpSubKey);
    if (!subkey) return ERROR_INVALID_PARAMETER;
    return store::DeleteKey(*key, *subkey, wholeTree);
  });
}

template <typename CharT>
LONG EnumKeyImpl(HKEY hKey, DWORD dwIndex, CharT* lpName, LPDWORD lpcchName, LPDWORD lpReserved, CharT* lpClass,
                 LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    store::SubkeyList subkeys;
    if (const LONG rc = store::ListSubkeys(*key, &subkeys); rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= subkeys->size()) return ERROR_NO_MORE_ITEMS;
    const SubkeyRecord& subkey = (*subkeys)[dwIndex];
    if (const LONG rc = DeliverName(FromStore<CharT>(subkey.name), lpName, lpcchName); rc != ERROR_SUCCESS) {
      return rc;
    }
    if (lpClass != nullptr) {
      if (const LONG rc = DeliverName(FromStore<CharT>(subkey.className), lpClass, lpcchClass); rc != ERROR_SUCCESS) {
        return rc;
      }
    } else if (lpcchClass != nullptr) {
      *lpcchClass = static_cast<DWORD>(FromStore<CharT>(subkey.className).size());
    }
    if (lpftLastWriteTime != nullptr) StoreFileTime(subkey.lastWrite, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

template <typename CharT>
LONG EnumValueImpl(HKEY hKey, DWORD dwIndex, CharT* lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved != nullptr || lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    store::ValueList values;
    if (const LONG rc = store::ListValues(*key, &values); rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= values->size()) return ERROR_NO_MORE_ITEMS;
    const ValueRecord& value = (*values)[dwIndex];
    if (const LONG rc = DeliverName(FromStore<CharT>(value.name), lpValueName, lpcchValueName); rc != ERROR_SUCCESS) {
      return rc;
    }
    return DeliverData(value.type, PresentData<CharT>(value), lpType, lpData, lpcbData);
  });
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenKeyImpl(hKey, lpSubKey, samDesired, phkResult);
}
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenKeyImpl(hKey, lpSubKey, samDesired, phkResult);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return CreateKeyImpl<wchar_t>(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
                                lpdwDisposition);
}
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return CreateKeyImpl<char>(hKey, lpSubKey, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
                             lpdwDisposition);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  return QueryValueImpl(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  return QueryValueImpl(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return SetValueImpl(hKey, lpValueName, dwType, lpData, cbData);
}
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return SetValueImpl(hKey, lpValueName, dwType, lpData, cbData);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) { return DeleteValueImpl(hKey, lpValueName); }
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) { return DeleteValueImpl(hKey, lpValueName); }

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, false); }
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, false); }
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, true); }
LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) { return DeleteKeyImpl(hKey, lpSubKey, true); }

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return EnumKeyImpl(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
}
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return EnumKeyImpl(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return EnumValueImpl(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
}
LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return EnumValueImpl(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    KeyInfo info;
    if (const LONG rc = store::QueryInfo(*key, &info); rc != ERROR_SUCCESS) return rc;
    // The counts need the listing rights of a key opened with KEY_READ.
    store::SubkeyList subkeys = std::make_shared<const std::vector<SubkeyRecord>>();
    store::ValueList values;
    if (const LONG rc = store::ListSubkeys(*key, &subkeys); rc != ERROR_SUCCESS && rc != ERROR_ACCESS_DENIED) {
      return rc;
    }
    if (const LONG rc = store::ListValues(*key, &values); rc != ERROR_SUCCESS) return rc;
    DWORD maxSubkey = 0;
    DWORD maxClass = 0;
    for (const SubkeyRecord& subkey : *subkeys) {
      maxSubkey = std::max(maxSubkey, static_cast<DWORD>(store::Utf8Length(subkey.name)));
      maxClass = std::max(maxClass, static_cast<DWORD>(store::Utf8Length(subkey.className)));
    }
    DWORD maxValueName = 0;
    DWORD maxValueData = 0;
    for (const ValueRecord& value : *values) {
      maxValueName = std::max(maxValueName, static_cast<DWORD>(store::Utf8Length(value.name)));
      maxValueData = std::max(maxValueData, static_cast<DWORD>(PresentData<wchar_t>(value).size()));
    }
    if (lpClass != nullptr) {
      if (const LONG rc = DeliverName(FromStore<wchar_t>(info.className), lpClass, lpcchClass); rc != ERROR_SUCCESS) {
        return rc;
      }
    } else if (lpcchClass != nullptr) {
      *lpcchClass = static_cast<DWORD>(store::Utf8Length(info.className));
    }
    if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(subkeys->size());
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = maxClass;
    if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(values->size());
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = maxValueName;
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = maxValueData;
    if (lpcbSecurityDescriptor != nullptr) {
      *lpcbSecurityDescriptor = static_cast<DWORD>(info.security ? info.security->size() : 0);
    }
    if (lpftLastWriteTime != nullptr) StoreFileTime(info.lastWrite, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCloseKey(HKEY hKey) { return KeyTable::Instance().Close(hKey); }

LSTATUS RegFlushKey(HKEY hKey) {
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    // As on Windows, the whole hive is flushed, not only the key.
    for (const std::shared_ptr<store::Hive>& hive : {key->hive, key->user, key->machine}) {
      if (hive) hive->Flush();
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS RegGetKeySecurity(HKEY hKey, DWORD, PSECURITY_DESCRIPTOR pSecurityDescriptor,
                          LPDWORD lpcbSecurityDescriptor) {
  if (lpcbSecurityDescriptor == nullptr) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    if (!store::Allows(*key, store::kReadControlAccess)) return ERROR_ACCESS_DENIED;
    // Reading the descriptor is not a value query: give QueryInfo the right it checks.
    store::KeyTarget reader = *key;
    reader.access |= KEY_QUERY_VALUE;
    KeyInfo info;
    if (const LONG rc = store::QueryInfo(reader, &info); rc != ERROR_SUCCESS) return rc;
    const std::string descriptor = info.security.value_or(std::string());
    if (*lpcbSecurityDescriptor < descriptor.size() || (pSecurityDescriptor == nullptr && !descriptor.empty())) {
      *lpcbSecurityDescriptor = static_cast<DWORD>(descriptor.size());
      return ERROR_INSUFFICIENT_BUFFER;
    }
    if (!descriptor.empty()) std::memcpy(pSecurityDescriptor, descriptor.data(), descriptor.size());
    *lpcbSecurityDescriptor = static_cast<DWORD>(descriptor.size());
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetKeySecurity(HKEY hKey, DWORD, PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  if (pSecurityDescriptor == nullptr) return ERROR_INVALID_PARAMETER;
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> descriptor = SelfRelativeCopy(pSecurityDescriptor);
    if (!descriptor) return ERROR_INVALID_SECURITY_DESCR;
    return store::SetSecurity(*key, *descriptor);
  });
}

LSTATUS RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
  return Api([&]() -> LONG { return KeyTable::Instance().Override(hKey, hNewHKey); });
}

namespace kestnet::platform {

LSTATUS RegAddToQwordValueW(HKEY hKey, LPCWSTR lpValueName, LONGLONG lAddend, ULONGLONG* pullResult) {
  return Api([&]() -> LONG {
    KeyTargetPtr key;
    if (const LONG rc = Resolve(hKey, &key); rc != ERROR_SUCCESS) return rc;
    const std::optional<std::string> name = ToStore(lpValueName);
    if (!name) return ERROR_INVALID_PARAMETER;
    return store::AddToQword(*key, *name, lAddend, pullResult);
  });
}

std::wstring RegKeyPathForDisplay(HKEY hKey) {
  try {
    KeyTargetPtr key;
    if (Resolve(hKey, &key) != ERROR_SUCCESS) return std::wstring();
    return store::Utf8ToWide(key->displayPath);
  } catch (const std::bad_alloc&) {
    return std::wstring();
  }
}

}  // namespace kestnet::platform
