// The version record, edition and architecture, answered from the version
// profile in the registry store.
#include "platform/os/version.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <thread>
#include <type_traits>

#include "platform/os/last_error.h"
#include "platform/os/utf8.h"
#include "platform/registry/registry.h"
#include "platform/sync/wait.h"

namespace kestnet::platform {
namespace {

// One DWORD field of the profile and the registry value that holds it; the
// one list both the reader and the writer walk.
struct DwordField {
  const wchar_t* valueName;
  DWORD VersionProfile::*member;
};

constexpr DwordField kDwordFields[] = {
    {L"MajorVersion", &VersionProfile::MajorVersion},
    {L"MinorVersion", &VersionProfile::MinorVersion},
    {L"BuildNumber", &VersionProfile::BuildNumber},
    {L"PlatformId", &VersionProfile::PlatformId},
    {L"ServicePackMajor", &VersionProfile::ServicePackMajor},
    {L"ServicePackMinor", &VersionProfile::ServicePackMinor},
    {L"SuiteMask", &VersionProfile::SuiteMask},
    {L"ProductType", &VersionProfile::ProductType},
    {L"Edition", &VersionProfile::Edition},
    {L"ProcessorArchitecture", &VersionProfile::ProcessorArchitecture},
    {L"Wow64Process", &VersionProfile::Wow64Process},
    {L"Integrity", &VersionProfile::Integrity},
    {L"ExtendedRecordRefused", &VersionProfile::ExtendedRecordRefused},
    {L"VersionQueryRefused", &VersionProfile::VersionQueryRefused},
};

constexpr const wchar_t* kCsdVersionValue = L"CSDVersion";

class KeyCloser {
 public:
  explicit KeyCloser(HKEY key) : m_key(key) {}
  ~KeyCloser() { RegCloseKey(m_key); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  HKEY m_key;
};

bool SameValueName(const wchar_t* left, const wchar_t* right) {
  for (; *left != L'\0' && *right != L'\0'; ++left, ++right) {
    if (std::towlower(static_cast<wint_t>(*left)) != std::towlower(static_cast<wint_t>(*right))) return false;
  }
  return *left == *right;
}

void ReadText(HKEY key, const wchar_t* name, std::string& target) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != static_cast<LONG>(ERROR_SUCCESS) ||
      type != REG_SZ) {
    return;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bufferSize = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &bufferSize) !=
          static_cast<LONG>(ERROR_SUCCESS) ||
      type != REG_SZ) {
    return;
  }
  text.resize(std::wcslen(text.c_str()));
  target = Utf8FromWide(text);
}

// Takes one enumerated value into the profile when it is a field of the
// right type.
void TakeValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size, bool dataComplete,
               VersionProfile& profile) {
  if (SameValueName(name, kCsdVersionValue)) {
    if (type != REG_SZ) return;
    if (!dataComplete) {
      ReadText(key, kCsdVersionValue, profile.CSDVersion);
      return;
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    profile.CSDVersion = Utf8FromWide(text);
    return;
  }
  for (const DwordField& field : kDwordFields) {
    if (!SameValueName(name, field.valueName)) continue;
    if (type == REG_DWORD && dataComplete && size == sizeof(DWORD)) {
      std::memcpy(&(profile.*field.member), data, sizeof(DWORD));
    }
    return;
  }
}

// Copies UTF-8 text into a fixed field, always NUL-terminated, never cutting a
// character in two.
void CopyNarrowText(const std::string& text, CHAR (&field)[128]) {
  std::size_t length = std::min(text.size(), sizeof(field) - 1);
  // Step back over continuation bytes of a character the cut would split.
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

void CopyWideText(const std::string& text, WCHAR (&field)[128]) {
  std::wstring wide = WideFromUtf8(text);
  std::size_t length = std::min(wide.size(), std::size(field) - 1);
  std::wmemcpy(field, wide.data(), length);
  field[length] = L'\0';
}

// The shared part of GetVersionExA and GetVersionExW: checks the size field
// against the two record sizes of the caller's character type and fills the
// record. Returns false with the last error set when the record is refused.
template <typename Basic, typename Extended>
BOOL FillVersionRecord(Basic* record) {
  if (record == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool extended = record->dwOSVersionInfoSize == sizeof(Extended);
  if (!extended && record->dwOSVersionInfoSize != sizeof(Basic)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const VersionProfile profile = ReadVersionProfile();
  if (profile.VersionQueryRefused != 0 || (extended && profile.ExtendedRecordRefused != 0)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  record->dwMajorVersion = profile.MajorVersion;
  record->dwMinorVersion = profile.MinorVersion;
  record->dwBuildNumber = profile.BuildNumber;
  record->dwPlatformId = profile.PlatformId;
  if constexpr (std::is_same_v<Basic, OSVERSIONINFOA>) {
    CopyNarrowText(profile.CSDVersion, record->szCSDVersion);
  } else {
    CopyWideText(profile.CSDVersion, record->szCSDVersion);
  }
  if (extended) {
    auto* full = reinterpret_cast<Extended*>(record);
    full->wServicePackMajor = static_cast<WORD>(profile.ServicePackMajor);
    full->wServicePackMinor = static_cast<WORD>(profile.ServicePackMinor);
    full->wSuiteMask = static_cast<WORD>(profile.SuiteMask);
    full->wProductType = static_cast<BYTE>(profile.ProductType);
    full->wReserved = 0;
  }
  return TRUE;
}

}  // namespace

const wchar_t* VersionProfileKeyPath() { return L"Software\\KestNetX\\Platform\\VersionProfile"; }

VersionProfile ReadVersionProfile() {
  VersionProfile profile;
  HKEY key = nullptr;
  const DWORD savedError = GetLastError();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, VersionProfileKeyPath(), 0, KEY_READ, &key) ==
      static_cast<LONG>(ERROR_SUCCESS)) {
    KeyCloser closer(key);
    // One pass over the key's values: the store keeps a key's value listing
    // until the hive changes, so a version query costs one open and a walk
    // over memory rather than a lookup per field.
    wchar_t name[256];
    alignas(DWORD) BYTE data[1024];
    for (DWORD index = 0;; ++index) {
      DWORD nameLength = static_cast<DWORD>(std::size(name));
      DWORD type = REG_NONE;
      DWORD size = sizeof(data);
      const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size);
      if (status == static_cast<LONG>(ERROR_SUCCESS)) {
        TakeValue(key, name, type, data, size, true, profile);
        continue;
      }
      if (status != static_cast<LONG>(ERROR_MORE_DATA)) break;
      // The name or the data did not fit. Asked again without data, a name
      // that fits comes back and the value is read on its own; a name too
      // long for the buffer belongs to no field.
      nameLength = static_cast<DWORD>(std::size(name));
      if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, nullptr) ==
          static_cast<LONG>(ERROR_SUCCESS)) {
        TakeValue(key, name, type, nullptr, 0, false, profile);
      }
    }
  }
  // A missing profile is the normal case; it must not disturb the caller's
  // last error.
  SetLastError(savedError);
  return profile;
}

DWORD WriteVersionProfile(const VersionProfile& profile) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, VersionProfileKeyPath(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, nullptr);
  if (status != static_cast<LONG>(ERROR_SUCCESS)) return static_cast<DWORD>(status);
  KeyCloser closer(key);
  for (const DwordField& field : kDwordFields) {
    const DWORD value = profile.*field.member;
    status = RegSetValueExW(key, field.valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
    if (status != static_cast<LONG>(ERROR_SUCCESS)) return static_cast<DWORD>(status);
  }
  const std::wstring text = WideFromUtf8(profile.CSDVersion);
  status = RegSetValueExW(key, kCsdVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  return static_cast<DWORD>(status);
}

DWORD ResetVersionProfile() {
  LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, VersionProfileKeyPath());
  if (status == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return ERROR_SUCCESS;
  return static_cast<DWORD>(status);
}

}  // namespace kestnet::platform

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  return kestnet::platform::FillVersionRecord<OSVERSIONINFOA, OSVERSIONINFOEXA>(lpVersionInformation);
}

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  return kestnet::platform::FillVersionRecord<OSVERSIONINFOW, OSVERSIONINFOEXW>(lpVersionInformation);
}

BOOL GetProductInfo(DWORD dwOSMajorVersion, DWORD /*dwOSMinorVersion*/, DWORD /*dwSpMajorVersion*/,
                    DWORD /*dwSpMinorVersion*/, DWORD* pdwReturnedProductType) {
  if (pdwReturnedProductType == nullptr || dwOSMajorVersion < 6) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const kestnet::platform::VersionProfile profile = kestnet::platform::ReadVersionProfile();
  // Windows has no edition to report for a system older than 6.0.
  if (profile.PlatformId != VER_PLATFORM_WIN32_NT || profile.MajorVersion < 6) {
    *pdwReturnedProductType = PRODUCT_UNDEFINED;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  *pdwReturnedProductType = profile.Edition;
  return TRUE;
}

void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (lpSystemInfo == nullptr) return;
  const kestnet::platform::VersionProfile profile = kestnet::platform::ReadVersionProfile();
  *lpSystemInfo = SYSTEM_INFO{};
  lpSystemInfo->wProcessorArchitecture = static_cast<WORD>(profile.ProcessorArchitecture);
  const long pageSize = sysconf(_SC_PAGESIZE);
  lpSystemInfo->dwPageSize = pageSize > 0 ? static_cast<DWORD>(pageSize) : 4096;
  lpSystemInfo->dwAllocationGranularity = 65536;
  lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(0x10000));
  lpSystemInfo->lpMaximumApplicationAddress =
      reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(sizeof(void*) == 8 ? 0x7FFFFFFEFFFFULL : 0x7FFEFFFFULL));
  const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
  lpSystemInfo->dwNumberOfProcessors = processors;
  lpSystemInfo->dwActiveProcessorMask =
      processors >= sizeof(DWORD_PTR) * 8 ? ~DWORD_PTR{0} : ((DWORD_PTR{1} << processors) - 1);
}

BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) {
  if (hProcess != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (Wow64Process == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *Wow64Process = kestnet::platform::ReadVersionProfile().Wow64Process != 0 ? TRUE : FALSE;
  return TRUE;
}
