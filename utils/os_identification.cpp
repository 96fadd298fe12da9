// Platform identification: the version query and the exact type
// classification.
#include "utils/os_identification.h"

#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/os/last_error.h"
#include "platform/os/version.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestUtilsLib {
namespace {

constexpr const char* kLogClass = "KestUtilsLib::Platform";
// The source name the library's exception lines quote.
constexpr const char* kSourceName = "Platform2";

// Exact type numbers named by the classification; the ranges between them
// are base + service pack.
constexpr DWORD kWindows95 = 1;
constexpr DWORD kWindows95OSR2 = 2;
constexpr DWORD kWindows95OSR25 = 3;
constexpr DWORD kWindows98 = 4;
constexpr DWORD kWindows98SE = 5;
constexpr DWORD kWindowsMe = 6;
constexpr DWORD kNT4Base = 7;
constexpr DWORD kNT4Last = 14;
constexpr DWORD kWindows2000ProBase = 15;
constexpr DWORD kWindows2000ServerBase = 20;
constexpr DWORD kWindows2000AdvancedBase = 25;
constexpr DWORD kWindows2000DatacenterBase = 30;
constexpr DWORD kXPHome = 35;
constexpr DWORD kXPProfessional = 36;
constexpr DWORD kXPProfessionalX64 = 37;
constexpr DWORD kServer2003Datacenter = 38;
constexpr DWORD kServer2003Enterprise = 39;
constexpr DWORD kServer2003Standard = 40;
constexpr DWORD kServer2003Web = 41;
constexpr DWORD kVistaFirst = 42;
constexpr DWORD kVistaLast = 46;
constexpr DWORD kServer6x = 47;
constexpr DWORD kWindows7Other = 48;
constexpr DWORD kLastExactType = 53;

// Editions of GetProductInfo to exact types, one table per 6.x version.
struct EditionType {
  DWORD edition;
  DWORD exactType;
};

constexpr EditionType kVistaEditions[] = {
    {PRODUCT_HOME_BASIC, 42},    {PRODUCT_HOME_BASIC_N, 42}, {PRODUCT_HOME_PREMIUM, 43},
    {PRODUCT_HOME_PREMIUM_N, 43}, {PRODUCT_BUSINESS, 44},     {PRODUCT_BUSINESS_N, 44},
    {PRODUCT_ENTERPRISE, 45},    {PRODUCT_ENTERPRISE_N, 45}, {PRODUCT_ULTIMATE, 46},
    {PRODUCT_ULTIMATE_N, 46},
};

constexpr EditionType kWindows7Editions[] = {
    {PRODUCT_HOME_BASIC, 49},     {PRODUCT_HOME_BASIC_N, 49},   {PRODUCT_HOME_PREMIUM, 50},
    {PRODUCT_HOME_PREMIUM_N, 50}, {PRODUCT_PROFESSIONAL, 51},   {PRODUCT_PROFESSIONAL_N, 51},
    {PRODUCT_ENTERPRISE, 52},     {PRODUCT_ENTERPRISE_N, 52},   {PRODUCT_ULTIMATE, 53},
    {PRODUCT_ULTIMATE_N, 53},
};

template <std::size_t N>
DWORD ExactTypeOfEdition(const EditionType (&table)[N], DWORD edition, DWORD otherwise) {
  for (const EditionType& entry : table) {
    if (entry.edition == edition) return entry.exactType;
  }
  return otherwise;
}

// True when the service text is non-empty and its first or second character
// is `letter` (how Windows 95 and 98 name their releases: " C", "A ").
bool ServiceTextMarks(const CHAR (&text)[128], char letter) {
  return text[0] != '\0' && (text[0] == letter || text[1] == letter);
}

// Logs a library exception or an unknown one the way every operation of the
// class does, and throws the one callers see.
template <typename Body>
auto Guarded(int line, Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const KestBase::BaseException& exception) {
    Log(kLogClass, kLogLevelWarning, "Exception %S File: %s Line: %d", exception.GetErrorName().c_str(),
        kSourceName, line);
    const std::string extendedData = exception.GetExtendedData();
    if (!extendedData.empty()) {
      Log(kLogClass, kLogLevelWarning, "Exception Extended Data - %s", extendedData.c_str());
    }
    throw;
  } catch (...) {
    Log(kLogClass, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.", kSourceName,
        line);
    throw KestBase::UnknownException();
  }
}

// The version query: the extended record first, the basic one when the
// platform refuses it (its extension fields then stay zero).
OSVERSIONINFOEXA QueryVersion(const char* operation, bool logFirstFailure) {
  OSVERSIONINFOEXA record;
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  if (GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&record))) return record;
  if (logFirstFailure) {
    Log(kLogClass, kLogLevelWarning, "%s - GetVersionEx with %s failed with error %d", operation,
        "OSVERSIONINFOEX2", static_cast<int>(GetLastError()));
  }
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  if (GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&record))) return record;
  Log(kLogClass, kLogLevelWarning, "%s - GetVersionEx with %s failed with error %d", operation, "OSVERSIONINFO",
      static_cast<int>(GetLastError()));
  throw KestUtils::GetOSVersionException();
}

template <typename Exception>
[[noreturn]] void ThrowUnsupportedPlatformId(const char* operation, DWORD platformId) {
  Log(kLogClass, kLogLevelWarning, "%s - %d is not a supported platform ID", operation,
      static_cast<int>(platformId));
  throw Exception();
}

// "Service Pack <n>" to n; anything else is 0. A pack number is never
// negative, and one too large for the number type is no pack number either.
INT ServicePackFromText(const CHAR (&text)[128]) {
  constexpr std::string_view kPrefix = "Service Pack ";
  const std::string_view service(text, strnlen(text, sizeof(text)));
  if (service.substr(0, kPrefix.size()) != kPrefix) return 0;
  std::string_view digits = service.substr(kPrefix.size());
  // The scan of the original format skips white space before the number and
  // stops at the first character that is not part of it.
  while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  INT number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  (void)end;
  if (error != std::errc() || number < 0) return 0;
  return number;
}

DWORD AddServicePack(DWORD base, INT servicePack, INT lastCountedPack, DWORD last) {
  return servicePack <= lastCountedPack ? base + static_cast<DWORD>(servicePack) : last;
}

}  // namespace

DWORD Platform::MajorVersion() const {
  return Guarded(__LINE__, [] { return QueryVersion("MajorVersion", true).dwMajorVersion; });
}

DWORD Platform::MinorVersion() const {
  return Guarded(__LINE__, [] { return QueryVersion("MinorVersion", true).dwMinorVersion; });
}

INT Platform::NTSP() const {
  return Guarded(__LINE__, [] {
    const OSVERSIONINFOEXA record = QueryVersion("NTSP", true);
    if (record.dwPlatformId != VER_PLATFORM_WIN32_NT) {
      ThrowUnsupportedPlatformId<KestBase::UnsupportedOSException>("NTSP", record.dwPlatformId);
    }
    return ServicePackFromText(record.szCSDVersion);
  });
}

bool Platform::IsWOW64() const {
  return Guarded(__LINE__, [] {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
      Log(kLogClass, kLogLevelWarning, "IsWOW64 failed with error (%d)", static_cast<int>(GetLastError()));
      return false;
    }
    return wow64 != FALSE;
  });
}

WORD Platform::VistaProductInfo() const {
  return Guarded(__LINE__, [this] {
    DWORD edition = PRODUCT_UNDEFINED;
    if (!GetProductInfo(MajorVersion(), MinorVersion(), 0, 0, &edition)) {
      Log(kLogClass, kLogLevelWarning, "%s - Failed GetProductInfo() failed with error %d", "VistaProductInfo",
          static_cast<int>(GetLastError()));
      return WORD{0};
    }
    return static_cast<WORD>(edition & 0xFF);
  });
}

WORD Platform::TestNativeArchitecture() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) native64 = true;
  return info.wProcessorArchitecture;
}

DWORD Platform::ExactType() {
  return Guarded(__LINE__, [this]() -> DWORD {
    const OSVERSIONINFOEXA record = QueryVersion("ExactType", false);

    if (record.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
      if (record.dwMinorVersion > 10) return kWindowsMe;
      if (record.dwMinorVersion >= 1) {
        return ServiceTextMarks(record.szCSDVersion, 'A') ? kWindows98SE : kWindows98;
      }
      if (ServiceTextMarks(record.szCSDVersion, 'C')) return kWindows95OSR25;
      if (ServiceTextMarks(record.szCSDVersion, 'B')) return kWindows95OSR2;
      return kWindows95;
    }
    if (record.dwPlatformId != VER_PLATFORM_WIN32_NT) {
      ThrowUnsupportedPlatformId<KestUtils::GetOSVersionException>("ExactType", record.dwPlatformId);
    }

    // Only a record that names a server counts as one: the basic record has no
    // product type (it reads 0), and such a system is classified as a
    // workstation.
    const bool workstation =
        record.wProductType != VER_NT_SERVER && record.wProductType != VER_NT_DOMAIN_CONTROLLER;
    if (record.dwMajorVersion == 6) {
      if (!workstation) return kServer6x;
      TestNativeArchitecture();
      if (record.dwMinorVersion == 0) {
        const DWORD type = ExactTypeOfEdition(kVistaEditions, VistaProductInfo(), 0);
        if (type != 0) return type;
        // An unknown Vista edition is classified by its service pack below.
      } else if (record.dwMinorVersion == 1) {
        return ExactTypeOfEdition(kWindows7Editions, VistaProductInfo(), kWindows7Other);
      }
    } else if (record.dwMajorVersion == 5) {
      if (record.dwMinorVersion == 1) {
        return (record.wSuiteMask & VER_SUITE_PERSONAL) != 0 ? kXPHome : kXPProfessional;
      }
      if (record.dwMinorVersion == 2) {
        const WORD architecture = TestNativeArchitecture();
        if (!workstation) {
          if ((record.wSuiteMask & VER_SUITE_ENTERPRISE) != 0) return kServer2003Enterprise;
          if ((record.wSuiteMask & VER_SUITE_DATACENTER) != 0) return kServer2003Datacenter;
          if ((record.wSuiteMask & VER_SUITE_BLADE) != 0) return kServer2003Web;
          return kServer2003Standard;
        }
        // A 5.2 workstation is XP Professional x64 on AMD64; on any other
        // architecture (the Itanium edition) it is still XP Professional.
        return architecture == PROCESSOR_ARCHITECTURE_AMD64 ? kXPProfessionalX64 : kXPProfessional;
      }
      const INT servicePack = NTSP();
      DWORD base = kWindows2000ProBase;
      if ((record.wSuiteMask & VER_SUITE_DATACENTER) != 0) {
        base = kWindows2000DatacenterBase;
      } else if ((record.wSuiteMask & VER_SUITE_ENTERPRISE) != 0) {
        base = kWindows2000AdvancedBase;
      } else if (!workstation) {
        base = kWindows2000ServerBase;
      }
      return AddServicePack(base, servicePack, 3, base + 4);
    }
    return AddServicePack(kNT4Base, NTSP(), 6, kNT4Last);
  });
}

bool Platform::IsVistaOrLater() const { return MajorVersion() >= 6; }

bool Platform::IsWindows7OrLater() const {
  const DWORD major = MajorVersion();
  return major > 6 || (major == 6 && MinorVersion() >= 1);
}

bool Platform::IsWin9x() {
  const DWORD type = ExactType();
  return type >= kWindows95 && type <= kWindowsMe;
}

bool Platform::IsWindowsMe() { return ExactType() == kWindowsMe; }

bool Platform::IsNT() {
  const DWORD type = ExactType();
  return type >= kNT4Base && type <= kLastExactType;
}

bool Platform::IsNT4() {
  const DWORD type = ExactType();
  return type >= kNT4Base && type <= kNT4Last;
}

bool Platform::IsXPHome() { return ExactType() == kXPHome; }

bool Platform::IsVista() {
  const DWORD type = ExactType();
  return type >= kVistaFirst && type <= kVistaLast;
}

bool Platform::Is64Bit() {
  const DWORD type = ExactType();
  return type == kXPProfessionalX64 || native64;
}

bool IsNTPlatform() {
  Platform platform;
  return platform.IsNT();
}

namespace {

// The basic record, or false when the platform refuses it.
bool QueryBasicVersion(OSVERSIONINFOA& record) {
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return GetVersionExA(&record) != FALSE;
}

}  // namespace

bool IsWin9xPlatform() {
  OSVERSIONINFOA record;
  return QueryBasicVersion(record) && record.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool IsXPOrLaterNT() {
  OSVERSIONINFOA record;
  if (!QueryBasicVersion(record) || record.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  return record.dwMajorVersion >= 6 || (record.dwMajorVersion >= 5 && record.dwMinorVersion != 0);
}

bool IsVistaOrLaterNT() {
  OSVERSIONINFOA record;
  return QueryBasicVersion(record) && record.dwPlatformId == VER_PLATFORM_WIN32_NT && record.dwMajorVersion >= 6;
}

}  // namespace KestUtilsLib
