// The version record, edition, architecture and WOW64 answers, read from the
// version profile in a private registry store.
#include "platform/os/version.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/registry/registry.h"
#include "platform/sync/wait.h"
#include "tests/support/temporary_directory.h"

namespace {

using kestnet::platform::VersionProfile;

class VersionTest : public ::testing::Test {
 protected:
  void Write(const VersionProfile& p_profile) { ASSERT_EQ(kestnet::platform::WriteVersionProfile(p_profile), 0U); }

  // Stores one raw value in the profile's key, of any type.
  void WriteRaw(const wchar_t* p_name, DWORD p_type, const void* p_data, DWORD p_size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kestnet::platform::VersionProfileKeyPath(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    EXPECT_EQ(RegSetValueExW(key, p_name, 0, p_type, static_cast<const BYTE*>(p_data), p_size), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
  }

  kestnet::testing::TemporaryHome m_home;
};

OSVERSIONINFOEXA ExtendedNarrow() {
  OSVERSIONINFOEXA record;
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(record);
  return record;
}

TEST_F(VersionTest, DefaultsDescribeWindows7UltimateServicePack1) {
  OSVERSIONINFOEXA narrow = ExtendedNarrow();
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&narrow)));
  EXPECT_EQ(narrow.dwMajorVersion, 6U);
  EXPECT_EQ(narrow.dwMinorVersion, 1U);
  EXPECT_EQ(narrow.dwBuildNumber, 7601U);
  EXPECT_EQ(narrow.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_STREQ(narrow.szCSDVersion, "Service Pack 1");
  EXPECT_EQ(narrow.wServicePackMajor, 1);
  EXPECT_EQ(narrow.wServicePackMinor, 0);
  EXPECT_EQ(narrow.wSuiteMask, VER_SUITE_SINGLEUSERTS);
  EXPECT_EQ(narrow.wProductType, VER_NT_WORKSTATION);

  OSVERSIONINFOEXW wide{};
  wide.dwOSVersionInfoSize = sizeof(wide);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&wide)));
  EXPECT_EQ(wide.dwBuildNumber, 7601U);
  EXPECT_EQ(std::wstring(wide.szCSDVersion), L"Service Pack 1");
  EXPECT_EQ(wide.wProductType, VER_NT_WORKSTATION);

  DWORD edition = 0;
  ASSERT_TRUE(GetProductInfo(6, 1, 0, 0, &edition));
  EXPECT_EQ(edition, PRODUCT_ULTIMATE);

  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
  EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(sysconf(_SC_PAGESIZE)));
  EXPECT_GE(info.dwNumberOfProcessors, 1U);

  BOOL wow64 = TRUE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_FALSE(wow64);
}

// The basic record is 148 bytes: nothing after it may be written, however
// large the caller's buffer.
TEST_F(VersionTest, BasicRecordWritesNothingBeyondItsSize) {
  OSVERSIONINFOEXA buffer;
  std::memset(&buffer, 0xA5, sizeof(buffer));
  buffer.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&buffer)));
  EXPECT_EQ(buffer.dwMajorVersion, 6U);
  const auto* tail = reinterpret_cast<const BYTE*>(&buffer) + sizeof(OSVERSIONINFOA);
  for (std::size_t i = 0; i < sizeof(OSVERSIONINFOEXA) - sizeof(OSVERSIONINFOA); ++i) {
    EXPECT_EQ(tail[i], 0xA5) << "byte " << i << " after the basic record";
  }
}

TEST_F(VersionTest, RecordOfAnotherSizeOrNoRecordIsRefused) {
  OSVERSIONINFOEXA record = ExtendedNarrow();
  record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA) - 1;
  SetLastError(0);
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&record)));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // The narrow sizes mean nothing to the wide call.
  OSVERSIONINFOEXW wide{};
  wide.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&wide)));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(GetVersionExA(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(VersionTest, RefusalSwitchesStandInForOlderPlatforms) {
  VersionProfile profile;
  profile.ExtendedRecordRefused = 1;
  Write(profile);
  OSVERSIONINFOEXA extended = ExtendedNarrow();
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&extended)));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  OSVERSIONINFOA basic{};
  basic.dwOSVersionInfoSize = sizeof(basic);
  EXPECT_TRUE(GetVersionExA(&basic));

  profile.VersionQueryRefused = 1;
  Write(profile);
  EXPECT_FALSE(GetVersionExA(&basic));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

// The service text always ends inside its 128 characters, and the narrow
// form never ends in half a character.
TEST_F(VersionTest, LongServiceTextIsCutToTheFieldAndTerminated) {
  VersionProfile profile;
  profile.CSDVersion = std::string(200, 'x');
  Write(profile);
  OSVERSIONINFOA narrow{};
  narrow.dwOSVersionInfoSize = sizeof(narrow);
  ASSERT_TRUE(GetVersionExA(&narrow));
  EXPECT_EQ(std::string(narrow.szCSDVersion), std::string(127, 'x'));
  OSVERSIONINFOW wide{};
  wide.dwOSVersionInfoSize = sizeof(wide);
  ASSERT_TRUE(GetVersionExW(&wide));
  EXPECT_EQ(std::wstring(wide.szCSDVersion), std::wstring(127, L'x'));

  // 126 ASCII bytes, then a two-byte character that would end at byte 128.
  profile.CSDVersion = std::string(126, 'y') + "\xC3\xA9" + "z";
  Write(profile);
  ASSERT_TRUE(GetVersionExA(&narrow));
  EXPECT_EQ(std::string(narrow.szCSDVersion), std::string(126, 'y'));
  ASSERT_TRUE(GetVersionExW(&wide));
  EXPECT_EQ(std::wstring(wide.szCSDVersion), std::wstring(126, L'y') + L"\u00e9");
}

TEST_F(VersionTest, ValuesOfTheWrongTypeKeepTheirDefaults) {
  const wchar_t majorText[] = L"5";
  WriteRaw(L"MajorVersion", REG_SZ, majorText, sizeof(majorText));
  const DWORD csdNumber = 3;
  WriteRaw(L"CSDVersion", REG_DWORD, &csdNumber, sizeof(csdNumber));
  const BYTE shortMinor[2] = {2, 0};
  WriteRaw(L"MinorVersion", REG_BINARY, shortMinor, sizeof(shortMinor));
  const DWORD build = 9200;
  WriteRaw(L"buildnumber", REG_DWORD, &build, sizeof(build));  // names compare without case

  const VersionProfile profile = kestnet::platform::ReadVersionProfile();
  EXPECT_EQ(profile.MajorVersion, 6U);
  EXPECT_EQ(profile.MinorVersion, 1U);
  EXPECT_EQ(profile.CSDVersion, "Service Pack 1");
  EXPECT_EQ(profile.BuildNumber, 9200U);
}

// Values the profile does not know, long names and long data around the
// fields do not disturb the fields.
TEST_F(VersionTest, OtherValuesBesideTheFieldsAreIgnored) {
  const std::wstring longName(300, L'n');
  const DWORD one = 1;
  WriteRaw(longName.c_str(), REG_DWORD, &one, sizeof(one));
  const std::vector<BYTE> large(5000, 0x41);
  WriteRaw(L"Notes", REG_BINARY, large.data(), static_cast<DWORD>(large.size()));
  const DWORD major = 10;
  WriteRaw(L"MajorVersion", REG_DWORD, &major, sizeof(major));
  const std::wstring longText = L"Service Pack 3" + std::wstring(600, L' ');
  WriteRaw(L"CSDVersion", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * sizeof(wchar_t)));

  const VersionProfile profile = kestnet::platform::ReadVersionProfile();
  EXPECT_EQ(profile.MajorVersion, 10U);
  EXPECT_EQ(profile.MinorVersion, 1U);
  EXPECT_EQ(profile.CSDVersion.size(), longText.size());
  EXPECT_EQ(profile.CSDVersion.rfind("Service Pack 3", 0), 0U);
}

TEST_F(VersionTest, ProfileRoundTripsAndResetRestoresTheDefaults) {
  VersionProfile profile;
  profile.MajorVersion = 5;
  profile.MinorVersion = 2;
  profile.BuildNumber = 3790;
  profile.CSDVersion = "Service Pack 2";
  profile.SuiteMask = VER_SUITE_ENTERPRISE;
  profile.ProductType = VER_NT_SERVER;
  profile.ProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  profile.Wow64Process = 1;
  Write(profile);

  const VersionProfile read = kestnet::platform::ReadVersionProfile();
  EXPECT_EQ(read.BuildNumber, 3790U);
  EXPECT_EQ(read.CSDVersion, "Service Pack 2");
  EXPECT_EQ(read.SuiteMask, VER_SUITE_ENTERPRISE);
  OSVERSIONINFOEXA record = ExtendedNarrow();
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&record)));
  EXPECT_EQ(record.wProductType, VER_NT_SERVER);
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_TRUE(wow64);

  EXPECT_EQ(kestnet::platform::ResetVersionProfile(), 0U);
  EXPECT_EQ(kestnet::platform::ReadVersionProfile().BuildNumber, 7601U);
  // Resetting what is not there succeeds too.
  EXPECT_EQ(kestnet::platform::ResetVersionProfile(), 0U);
}

TEST_F(VersionTest, ProductInfoOnlyForVersionSixAndLater) {
  DWORD edition = 99;
  EXPECT_FALSE(GetProductInfo(5, 1, 0, 0, &edition));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetProductInfo(6, 1, 0, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // Asked about 6.0 on a system that is older, there is nothing to report.
  VersionProfile profile;
  profile.MajorVersion = 5;
  profile.MinorVersion = 1;
  Write(profile);
  EXPECT_FALSE(GetProductInfo(6, 0, 0, 0, &edition));
  EXPECT_EQ(edition, PRODUCT_UNDEFINED);

  profile.MajorVersion = 6;
  profile.Edition = PRODUCT_UNLICENSED;
  Write(profile);
  ASSERT_TRUE(GetProductInfo(6, 1, 0, 0, &edition));
  EXPECT_EQ(edition, PRODUCT_UNLICENSED);
}

TEST_F(VersionTest, Wow64QuestionOnlyForThisProcess) {
  BOOL wow64 = FALSE;
  int notAProcess = 0;
  EXPECT_FALSE(IsWow64Process(&notAProcess, &wow64));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(IsWow64Process(GetCurrentProcess(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Reading a profile that is not there is the normal case and leaves the
// caller's last error alone.
TEST_F(VersionTest, MissingProfileLeavesTheLastErrorAlone) {
  SetLastError(1234);
  const VersionProfile profile = kestnet::platform::ReadVersionProfile();
  EXPECT_EQ(profile.MajorVersion, 6U);
  EXPECT_EQ(GetLastError(), 1234U);
}

}  // namespace
