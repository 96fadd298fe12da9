// The operating-system version record, edition and processor architecture.
//
// Windows semantics kept: GetVersionExA/W fill an OSVERSIONINFO or
// OSVERSIONINFOEX record chosen by its size field and fail with
// ERROR_INSUFFICIENT_BUFFER for any other size; GetProductInfo fails for a
// version below 6.0 and reports PRODUCT_UNDEFINED for an edition it does not
// know; GetNativeSystemInfo reports the machine's processor architecture;
// IsWow64Process tells whether a 32-bit process runs on a 64-bit system.
//
// Linux: the answers come from a Windows version profile kept in the registry
// store under HKEY_LOCAL_MACHINE\Software\KestNetX\Platform\VersionProfile and
// read on every call, one value per field (see VersionProfile below). A value
// that is missing or of the wrong type keeps its default; the defaults describe
// Windows 7 Ultimate 6.1 build 7601 with Service Pack 1 on a 64-bit machine, so
// the version gates of the system open. Two switches let tests stand in for
// platforms that refuse the extended record or every version query.
#pragma once

#include <string>

#include "platform/os/win_types.h"

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;
static_assert(sizeof(OSVERSIONINFOA) == 148);

struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
using LPOSVERSIONINFOEXA = OSVERSIONINFOEXA*;
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

// The wide records hold wchar_t text (4 bytes here), so their sizes differ
// from Windows; callers set the size field with sizeof, as they do there.
struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
using LPOSVERSIONINFOW = OSVERSIONINFOW*;

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
using LPOSVERSIONINFOEXW = OSVERSIONINFOEXW*;

// dwPlatformId values.
constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// wProductType values.
constexpr BYTE VER_NT_WORKSTATION = 1;
constexpr BYTE VER_NT_DOMAIN_CONTROLLER = 2;
constexpr BYTE VER_NT_SERVER = 3;

// wSuiteMask bits.
constexpr WORD VER_SUITE_SMALLBUSINESS = 0x0001;
constexpr WORD VER_SUITE_ENTERPRISE = 0x0002;
constexpr WORD VER_SUITE_BACKOFFICE = 0x0004;
constexpr WORD VER_SUITE_TERMINAL = 0x0010;
constexpr WORD VER_SUITE_DATACENTER = 0x0080;
constexpr WORD VER_SUITE_SINGLEUSERTS = 0x0100;
constexpr WORD VER_SUITE_PERSONAL = 0x0200;
constexpr WORD VER_SUITE_BLADE = 0x0400;

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);

// GetProductInfo editions (the ones the system tells apart, and the two
// markers Windows answers with).
constexpr DWORD PRODUCT_UNDEFINED = 0x00000000;
constexpr DWORD PRODUCT_ULTIMATE = 0x00000001;
constexpr DWORD PRODUCT_HOME_BASIC = 0x00000002;
constexpr DWORD PRODUCT_HOME_PREMIUM = 0x00000003;
constexpr DWORD PRODUCT_ENTERPRISE = 0x00000004;
constexpr DWORD PRODUCT_HOME_BASIC_N = 0x00000005;
constexpr DWORD PRODUCT_BUSINESS = 0x00000006;
constexpr DWORD PRODUCT_BUSINESS_N = 0x00000010;
constexpr DWORD PRODUCT_HOME_PREMIUM_N = 0x0000001A;
constexpr DWORD PRODUCT_ENTERPRISE_N = 0x0000001B;
constexpr DWORD PRODUCT_ULTIMATE_N = 0x0000001C;
constexpr DWORD PRODUCT_PROFESSIONAL = 0x00000030;
constexpr DWORD PRODUCT_PROFESSIONAL_N = 0x00000031;
constexpr DWORD PRODUCT_UNLICENSED = 0xABCDABCD;

// Fails (last error ERROR_INVALID_PARAMETER) when pdwReturnedProductType is
// null or dwOSMajorVersion is below 6; otherwise reports the profile's edition.
BOOL GetProductInfo(DWORD dwOSMajorVersion, DWORD dwOSMinorVersion, DWORD dwSpMajorVersion,
                    DWORD dwSpMinorVersion, DWORD* pdwReturnedProductType);

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// The architecture is the profile's; page size and processor count are this
// machine's.
void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);

// hProcess must be GetCurrentProcess() (the pseudo handle); any other handle
// fails with ERROR_INVALID_HANDLE, a null Wow64Process with
// ERROR_INVALID_PARAMETER.
BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process);

namespace kestnet::platform {

// Integrity level a process token reports for a user that is not root.
enum class ProfileIntegrity : DWORD { Medium = 0, Low = 1 };

// The Windows version this machine reports. Each member is one registry
// value of the same name under VersionProfileKeyPath(); all are REG_DWORD
// except CSDVersion (REG_SZ).
struct VersionProfile {
  DWORD MajorVersion = 6;
  DWORD MinorVersion = 1;
  DWORD BuildNumber = 7601;
  DWORD PlatformId = VER_PLATFORM_WIN32_NT;
  std::string CSDVersion = "Service Pack 1";
  DWORD ServicePackMajor = 1;
  DWORD ServicePackMinor = 0;
  DWORD SuiteMask = VER_SUITE_SINGLEUSERTS;
  DWORD ProductType = VER_NT_WORKSTATION;
  DWORD Edition = PRODUCT_ULTIMATE;               // what GetProductInfo reports
  DWORD ProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  DWORD Wow64Process = 0;                          // IsWow64Process's answer
  DWORD Integrity = static_cast<DWORD>(ProfileIntegrity::Medium);
  DWORD ExtendedRecordRefused = 0;                 // non-zero: OSVERSIONINFOEX sizes fail
  DWORD VersionQueryRefused = 0;                   // non-zero: every GetVersionEx fails
};

// "Software\\KestNetX\\Platform\\VersionProfile" under HKEY_LOCAL_MACHINE.
const wchar_t* VersionProfileKeyPath();

// The profile as stored now; defaults for every value that is missing or of
// the wrong type (also when the key itself is missing).
VersionProfile ReadVersionProfile();

// Writes every value of the profile (creating the key). Returns a Win32 error
// number.
DWORD WriteVersionProfile(const VersionProfile& profile);

// Removes the stored profile, so that the defaults apply again.
DWORD ResetVersionProfile();

}  // namespace kestnet::platform
