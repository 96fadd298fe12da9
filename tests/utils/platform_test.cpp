// Platform identification driven through the version profile: every branch
// of the exact type classification, the predicates built on it, the service
// pack and the failures of the version query.
#include "utils/os_identification.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os/version.h"
#include "runtime/exceptions.h"
#include "tests/utils/utils_test_support.h"

namespace {

using kestnet::platform::VersionProfile;
using KestUtilsTest::LogCapture;
using KestUtilsTest::VersionProfileTest;

constexpr DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
constexpr DWORD kNT = VER_PLATFORM_WIN32_NT;
constexpr DWORD kWorkstation = VER_NT_WORKSTATION;
constexpr DWORD kServer = VER_NT_SERVER;
constexpr DWORD kAmd64 = PROCESSOR_ARCHITECTURE_AMD64;
constexpr DWORD kX86 = PROCESSOR_ARCHITECTURE_INTEL;

struct ClassificationCase {
  const char* name;
  DWORD platformId;
  DWORD major;
  DWORD minor;
  const char* servicePackText;
  DWORD suiteMask;
  DWORD productType;
  DWORD edition;
  DWORD architecture;
  DWORD expectedType;
  bool expected64Bit;
};

std::ostream& operator<<(std::ostream& out, const ClassificationCase& c) { return out << c.name; }

VersionProfile ProfileOf(const ClassificationCase& c) {
  VersionProfile profile;
  profile.PlatformId = c.platformId;
  profile.MajorVersion = c.major;
  profile.MinorVersion = c.minor;
  profile.CSDVersion = c.servicePackText;
  profile.SuiteMask = c.suiteMask;
  profile.ProductType = c.productType;
  profile.Edition = c.edition;
  profile.ProcessorArchitecture = c.architecture;
  return profile;
}

// clang-format off
const ClassificationCase kClassificationCases[] = {
    // The Windows 9x family, told apart by minor version and service text.
    {"Windows95", k9x, 4, 0, "", 0, 0, 0, kX86, 1, false},
    {"Windows95WithLetterANotCounted", k9x, 4, 0, " A", 0, 0, 0, kX86, 1, false},
    {"Windows95BFirst", k9x, 4, 0, "B", 0, 0, 0, kX86, 2, false},
    {"Windows95BSecond", k9x, 4, 0, " B", 0, 0, 0, kX86, 2, false},
    {"Windows95CSecond", k9x, 4, 0, " C", 0, 0, 0, kX86, 3, false},
    {"Windows95CWinsOverB", k9x, 4, 0, "BC", 0, 0, 0, kX86, 3, false},
    {"Windows95LetterThirdIgnored", k9x, 4, 0, "  C", 0, 0, 0, kX86, 1, false},
    {"Windows98", k9x, 4, 10, "", 0, 0, 0, kX86, 4, false},
    {"Windows98SecondEdition", k9x, 4, 10, " A ", 0, 0, 0, kX86, 5, false},
    {"Windows98MinorOne", k9x, 4, 1, "A", 0, 0, 0, kX86, 5, false},
    {"WindowsMe", k9x, 4, 90, "", 0, 0, 0, kX86, 6, false},
    {"WindowsMeMinorEleven", k9x, 4, 11, "A", 0, 0, 0, kX86, 6, false},
    // NT 4.0 and every NT version without a class of its own: 7 + pack.
    {"NT4NoPack", kNT, 4, 0, "", 0, kWorkstation, 0, kX86, 7, false},
    {"NT4Pack6", kNT, 4, 0, "Service Pack 6", 0, kWorkstation, 0, kX86, 13, false},
    {"NT4Pack7IsLast", kNT, 4, 0, "Service Pack 7", 0, kWorkstation, 0, kX86, 14, false},
    {"NT4Pack9IsLast", kNT, 4, 0, "Service Pack 9", 0, kServer, 0, kX86, 14, false},
    {"NT351Pack5", kNT, 3, 51, "Service Pack 5", 0, kWorkstation, 0, kX86, 12, false},
    // Windows 2000: base by edition, plus the pack up to 4.
    {"Windows2000Professional", kNT, 5, 0, "", 0, kWorkstation, 0, kX86, 15, false},
    {"Windows2000ProfessionalPack3", kNT, 5, 0, "Service Pack 3", 0, kWorkstation, 0, kX86, 18, false},
    {"Windows2000ProfessionalPack4", kNT, 5, 0, "Service Pack 4", 0, kWorkstation, 0, kX86, 19, false},
    {"Windows2000ProfessionalPack5", kNT, 5, 0, "Service Pack 5", 0, kWorkstation, 0, kX86, 19, false},
    {"Windows2000ServerPack2", kNT, 5, 0, "Service Pack 2", 0, kServer, 0, kX86, 22, false},
    {"Windows2000DomainControllerPack1", kNT, 5, 0, "Service Pack 1", 0, VER_NT_DOMAIN_CONTROLLER, 0, kX86, 21,
     false},
    {"Windows2000AdvancedServerPack4", kNT, 5, 0, "Service Pack 4", VER_SUITE_ENTERPRISE, kServer, 0, kX86, 29,
     false},
    {"Windows2000DatacenterPack1", kNT, 5, 0, "Service Pack 1", VER_SUITE_DATACENTER, kServer, 0, kX86, 31, false},
    {"Windows2000DatacenterWinsOverEnterprise", kNT, 5, 0, "",
     VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE, kServer, 0, kX86, 30, false},
    // Windows XP and Server 2003.
    {"XPHome", kNT, 5, 1, "Service Pack 3", VER_SUITE_PERSONAL, kWorkstation, 0, kAmd64, 35, false},
    {"XPProfessional", kNT, 5, 1, "Service Pack 3", 0, kWorkstation, 0, kAmd64, 36, false},
    {"XPProfessionalX64", kNT, 5, 2, "Service Pack 2", 0, kWorkstation, 0, kAmd64, 37, true},
    {"XP52WorkstationOnItanium", kNT, 5, 2, "", 0, kWorkstation, 0, PROCESSOR_ARCHITECTURE_IA64, 36, false},
    {"Server2003Enterprise", kNT, 5, 2, "", VER_SUITE_ENTERPRISE | VER_SUITE_DATACENTER, kServer, 0, kAmd64, 39,
     true},
    {"Server2003Datacenter", kNT, 5, 2, "", VER_SUITE_DATACENTER | VER_SUITE_BLADE, kServer, 0, kX86, 38, false},
    {"Server2003Web", kNT, 5, 2, "", VER_SUITE_BLADE, kServer, 0, kX86, 41, false},
    {"Server2003Standard", kNT, 5, 2, "Service Pack 1", 0, kServer, 0, kAmd64, 40, true},
    // Vista by edition; an unknown edition falls back to 7 + pack.
    {"VistaHomeBasic", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_HOME_BASIC, kX86, 42, false},
    {"VistaHomeBasicN", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_HOME_BASIC_N, kX86, 42, false},
    {"VistaHomePremium", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_HOME_PREMIUM, kX86, 43, false},
    {"VistaHomePremiumN", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_HOME_PREMIUM_N, kX86, 43, false},
    {"VistaBusiness", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_BUSINESS, kAmd64, 44, true},
    {"VistaBusinessN", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_BUSINESS_N, kX86, 44, false},
    {"VistaEnterprise", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_ENTERPRISE, kX86, 45, false},
    {"VistaEnterpriseN", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_ENTERPRISE_N, kX86, 45, false},
    {"VistaUltimate", kNT, 6, 0, "Service Pack 2", 0, kWorkstation, PRODUCT_ULTIMATE, kAmd64, 46, true},
    {"VistaUltimateN", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_ULTIMATE_N, kX86, 46, false},
    {"VistaUnknownEditionCountsAsNT4", kNT, 6, 0, "Service Pack 2", 0, kWorkstation, PRODUCT_PROFESSIONAL, kAmd64,
     9, true},
    {"VistaUndefinedEdition", kNT, 6, 0, "", 0, kWorkstation, PRODUCT_UNDEFINED, kX86, 7, false},
    // Any 6.x server, without the architecture test.
    {"Server2008", kNT, 6, 0, "Service Pack 2", 0, kServer, PRODUCT_ENTERPRISE, kAmd64, 47, false},
    {"Server2008R2DomainController", kNT, 6, 1, "", 0, VER_NT_DOMAIN_CONTROLLER, PRODUCT_ULTIMATE, kAmd64, 47,
     false},
    // Windows 7 by edition; any other edition is 48.
    {"Windows7HomeBasic", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_HOME_BASIC, kX86, 49, false},
    {"Windows7HomeBasicN", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_HOME_BASIC_N, kX86, 49, false},
    {"Windows7HomePremium", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_HOME_PREMIUM, kAmd64, 50, true},
    {"Windows7HomePremiumN", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_HOME_PREMIUM_N, kX86, 50, false},
    {"Windows7Professional", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_PROFESSIONAL, kAmd64, 51, true},
    {"Windows7ProfessionalN", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_PROFESSIONAL_N, kX86, 51, false},
    {"Windows7Enterprise", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_ENTERPRISE, kX86, 52, false},
    {"Windows7EnterpriseN", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_ENTERPRISE_N, kX86, 52, false},
    {"Windows7Ultimate", kNT, 6, 1, "Service Pack 1", 0, kWorkstation, PRODUCT_ULTIMATE, kAmd64, 53, true},
    {"Windows7UltimateN", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_ULTIMATE_N, kX86, 53, false},
    {"Windows7OtherEdition", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_BUSINESS, kX86, 48, false},
    {"Windows7UndefinedEdition", kNT, 6, 1, "", 0, kWorkstation, PRODUCT_UNDEFINED, kAmd64, 48, true},
    // Later systems have no class of their own.
    {"Windows8", kNT, 6, 2, "", 0, kWorkstation, PRODUCT_PROFESSIONAL, kAmd64, 7, true},
    {"Windows81WithPack", kNT, 6, 3, "Service Pack 1", 0, kWorkstation, PRODUCT_PROFESSIONAL, kX86, 8, false},
    {"Windows10", kNT, 10, 0, "", 0, kWorkstation, PRODUCT_PROFESSIONAL, kAmd64, 7, false},
};
// clang-format on

class ExactTypeTest : public VersionProfileTest, public ::testing::WithParamInterface<ClassificationCase> {};

TEST_P(ExactTypeTest, ClassifiesTheProfileAndAnswers64Bit) {
  const ClassificationCase& c = GetParam();
  WriteProfile(ProfileOf(c));
  KestUtilsLib::Platform platform;
  EXPECT_EQ(platform.ExactType(), c.expectedType);
  KestUtilsLib::Platform fresh;
  EXPECT_EQ(fresh.Is64Bit(), c.expected64Bit);
}

INSTANTIATE_TEST_SUITE_P(EveryBranch, ExactTypeTest, ::testing::ValuesIn(kClassificationCases),
                         [](const ::testing::TestParamInfo<ClassificationCase>& p_info) { return p_info.param.name; });

class PlatformTest : public VersionProfileTest {};

TEST_F(PlatformTest, DefaultProfileIsWindows7UltimateWith64BitAndOpenGates) {
  KestUtilsLib::Platform platform;
  EXPECT_EQ(platform.MajorVersion(), 6U);
  EXPECT_EQ(platform.MinorVersion(), 1U);
  EXPECT_EQ(platform.NTSP(), 1);
  EXPECT_EQ(platform.VistaProductInfo(), PRODUCT_ULTIMATE);
  EXPECT_EQ(platform.ExactType(), 53U);
  EXPECT_TRUE(platform.Is64Bit());
  EXPECT_FALSE(platform.IsWOW64());
  EXPECT_TRUE(platform.IsVistaOrLater());
  EXPECT_TRUE(platform.IsWindows7OrLater());
  EXPECT_TRUE(platform.IsNT());
  EXPECT_FALSE(platform.IsWin9x());
  EXPECT_FALSE(platform.IsVista());
  EXPECT_TRUE(KestUtilsLib::IsNTPlatform());
  EXPECT_TRUE(KestUtilsLib::IsXPOrLaterNT());
  EXPECT_TRUE(KestUtilsLib::IsVistaOrLaterNT());
  EXPECT_FALSE(KestUtilsLib::IsWin9xPlatform());
}

// A system that refuses the extended record is classified from the basic
// one, whose suite mask and product type read as zero.
TEST_F(PlatformTest, RefusedExtendedRecordClassifiesWithZeroSuiteAndProductType) {
  VersionProfile profile;
  profile.MajorVersion = 5;
  profile.MinorVersion = 0;
  profile.CSDVersion = "Service Pack 2";
  profile.SuiteMask = VER_SUITE_DATACENTER;
  profile.ProductType = VER_NT_SERVER;
  profile.ExtendedRecordRefused = 1;
  WriteProfile(profile);
  KestUtilsLib::Platform platform;
  EXPECT_EQ(platform.ExactType(), 17U);  // 2000 Professional, pack 2
  EXPECT_EQ(platform.NTSP(), 2);

  profile.MajorVersion = 5;
  profile.MinorVersion = 1;
  profile.SuiteMask = VER_SUITE_PERSONAL;
  WriteProfile(profile);
  EXPECT_EQ(platform.ExactType(), 36U);  // the Personal suite is not visible

  // A 6.x server looks like a workstation and is classified by its edition.
  profile.MajorVersion = 6;
  profile.MinorVersion = 1;
  profile.Edition = PRODUCT_ENTERPRISE;
  WriteProfile(profile);
  EXPECT_EQ(platform.ExactType(), 52U);
}

TEST_F(PlatformTest, RefusedVersionQueryThrowsAndFreeTestsAnswerFalse) {
  VersionProfile profile;
  profile.VersionQueryRefused = 1;
  WriteProfile(profile);
  LogCapture capture("KestUtilsLib::Platform");
  KestUtilsLib::Platform platform;
  EXPECT_THROW(platform.MajorVersion(), KestUtils::GetOSVersionException);
  EXPECT_THROW(platform.ExactType(), KestUtils::GetOSVersionException);
  EXPECT_THROW(platform.IsNT(), KestUtils::GetOSVersionException);
  EXPECT_THROW(KestUtilsLib::IsNTPlatform(), KestUtils::GetOSVersionException);
  EXPECT_FALSE(KestUtilsLib::IsWin9xPlatform());
  EXPECT_FALSE(KestUtilsLib::IsXPOrLaterNT());
  EXPECT_FALSE(KestUtilsLib::IsVistaOrLaterNT());

  const std::vector<std::string> lines = capture.Take();
  // MajorVersion logs both failures; ExactType only the second. Each
  // operation then logs the exception it lets out.
  ASSERT_GE(lines.size(), 5U);
  EXPECT_EQ(lines[0], "MajorVersion - GetVersionEx with OSVERSIONINFOEX2 failed with error 122");
  EXPECT_EQ(lines[1], "MajorVersion - GetVersionEx with OSVERSIONINFO failed with error 122");
  EXPECT_EQ(lines[2].rfind("Exception KESTUTILSPLATFORM_GETVERSION_ERROR File: Platform2 Line: ", 0), 0U)
      << lines[2];
  EXPECT_EQ(lines[3], "ExactType - GetVersionEx with OSVERSIONINFO failed with error 122");
}

TEST_F(PlatformTest, UnknownPlatformIdIsRefusedByExactTypeAndNTSP) {
  VersionProfile profile;
  profile.PlatformId = VER_PLATFORM_WIN32s;
  WriteProfile(profile);
  LogCapture capture("KestUtilsLib::Platform");
  KestUtilsLib::Platform platform;
  EXPECT_THROW(platform.ExactType(), KestUtils::GetOSVersionException);
  EXPECT_THROW(platform.NTSP(), KestBase::UnsupportedOSException);
  const std::vector<std::string> lines = capture.Take();
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0], "ExactType - 0 is not a supported platform ID");
  EXPECT_EQ(lines[2], "NTSP - 0 is not a supported platform ID");
  EXPECT_EQ(lines[3].rfind("Exception UNSUPPORTED_OS_ERROR File: Platform2 Line: ", 0), 0U) << lines[3];

  profile.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
  WriteProfile(profile);
  EXPECT_THROW(platform.NTSP(), KestBase::UnsupportedOSException);
}

struct ServicePackCase {
  const char* text;
  INT expected;
};

TEST_F(PlatformTest, NTSPReadsOnlyAWellFormedServicePackNumber) {
  const ServicePackCase cases[] = {
      {"Service Pack 3", 3},
      {"", 0},
      {"Beta 2", 0},
      {"Service Pack", 0},
      {"service pack 2", 0},
      {"Service Pack 2, v.3264", 2},
      {"Service Pack  4", 4},
      // A negative or overlong number is no pack; taken as a number it would
      // turn an NT system into Windows Me (7 - 1) or overflow.
      {"Service Pack -1", 0},
      {"Service Pack 99999999999", 0},
  };
  KestUtilsLib::Platform platform;
  for (const ServicePackCase& c : cases) {
    VersionProfile profile;
    profile.MajorVersion = 4;
    profile.MinorVersion = 0;
    profile.CSDVersion = c.text;
    WriteProfile(profile);
    EXPECT_EQ(platform.NTSP(), c.expected) << '"' << c.text << '"';
  }
  VersionProfile profile;
  profile.MajorVersion = 4;
  profile.CSDVersion = "Service Pack -1";
  WriteProfile(profile);
  EXPECT_EQ(platform.ExactType(), 7U);
  EXPECT_TRUE(platform.IsNT4());
}

struct VersionGateCase {
  DWORD platformId;
  DWORD major;
  DWORD minor;
  bool vistaOrLater;
  bool windows7OrLater;
  bool xpOrLaterNT;
  bool vistaOrLaterNT;
  bool win9xPlatform;
};

TEST_F(PlatformTest, VersionGatesCompareMajorAndMinor) {
  const VersionGateCase cases[] = {
      {kNT, 5, 0, false, false, false, false, false},  {kNT, 5, 1, false, false, true, false, false},
      {kNT, 5, 2, false, false, true, false, false},   {kNT, 6, 0, true, false, true, true, false},
      {kNT, 6, 1, true, true, true, true, false},      {kNT, 6, 2, true, true, true, true, false},
      {kNT, 10, 0, true, true, true, true, false},     {kNT, 4, 0, false, false, false, false, false},
      {k9x, 4, 10, false, false, false, false, true},  {k9x, 6, 1, true, true, false, false, true},
  };
  KestUtilsLib::Platform platform;
  for (const VersionGateCase& c : cases) {
    VersionProfile profile;
    profile.PlatformId = c.platformId;
    profile.MajorVersion = c.major;
    profile.MinorVersion = c.minor;
    WriteProfile(profile);
    SCOPED_TRACE(::testing::Message() << c.platformId << " " << c.major << "." << c.minor);
    EXPECT_EQ(platform.IsVistaOrLater(), c.vistaOrLater);
    EXPECT_EQ(platform.IsWindows7OrLater(), c.windows7OrLater);
    EXPECT_EQ(KestUtilsLib::IsXPOrLaterNT(), c.xpOrLaterNT);
    EXPECT_EQ(KestUtilsLib::IsVistaOrLaterNT(), c.vistaOrLaterNT);
    EXPECT_EQ(KestUtilsLib::IsWin9xPlatform(), c.win9xPlatform);
  }
}

TEST_F(PlatformTest, FamilyPredicatesFollowTheExactType) {
  struct FamilyCase {
    DWORD platformId, major, minor, suite, edition;
    bool win9x, me, nt, nt4, xpHome, vista;
  };
  const FamilyCase cases[] = {
      {k9x, 4, 0, 0, 0, true, false, false, false, false, false},
      {k9x, 4, 90, 0, 0, true, true, false, false, false, false},
      {kNT, 4, 0, 0, 0, false, false, true, true, false, false},
      {kNT, 5, 1, VER_SUITE_PERSONAL, 0, false, false, true, false, true, false},
      {kNT, 6, 0, 0, PRODUCT_BUSINESS, false, false, true, false, false, true},
      {kNT, 6, 0, 0, PRODUCT_UNDEFINED, false, false, true, true, false, false},
      {kNT, 6, 1, 0, PRODUCT_ULTIMATE, false, false, true, false, false, false},
  };
  for (const FamilyCase& c : cases) {
    VersionProfile profile;
    profile.PlatformId = c.platformId;
    profile.MajorVersion = c.major;
    profile.MinorVersion = c.minor;
    profile.SuiteMask = c.suite;
    profile.Edition = c.edition;
    profile.CSDVersion = "";
    WriteProfile(profile);
    SCOPED_TRACE(::testing::Message() << c.platformId << " " << c.major << "." << c.minor << " edition "
                                      << c.edition);
    KestUtilsLib::Platform platform;
    EXPECT_EQ(platform.IsWin9x(), c.win9x);
    EXPECT_EQ(platform.IsWindowsMe(), c.me);
    EXPECT_EQ(platform.IsNT(), c.nt);
    EXPECT_EQ(platform.IsNT4(), c.nt4);
    EXPECT_EQ(platform.IsXPHome(), c.xpHome);
    EXPECT_EQ(platform.IsVista(), c.vista);
    EXPECT_EQ(KestUtilsLib::IsNTPlatform(), c.nt);
  }
}

// native64 is set by the architecture test and never reset: a Platform that
// once saw an AMD64 workstation still answers 64-bit after the system it
// reads has become a 6.x server, where the test does not run.
TEST_F(PlatformTest, Native64StaysSetOnTheSameObjectButNotOnAFreshOne) {
  KestUtilsLib::Platform platform;
  EXPECT_TRUE(platform.Is64Bit());
  VersionProfile profile;
  profile.ProductType = VER_NT_SERVER;
  WriteProfile(profile);
  EXPECT_EQ(platform.ExactType(), 47U);
  EXPECT_TRUE(platform.Is64Bit());
  KestUtilsLib::Platform fresh;
  EXPECT_FALSE(fresh.Is64Bit());
}

TEST_F(PlatformTest, WOW64AndProductInfoComeFromTheProfile) {
  VersionProfile profile;
  profile.Wow64Process = 1;
  profile.Edition = 0x130;  // only the low byte is the edition number
  WriteProfile(profile);
  KestUtilsLib::Platform platform;
  EXPECT_TRUE(platform.IsWOW64());
  EXPECT_EQ(platform.VistaProductInfo(), 0x30);
  EXPECT_EQ(platform.ExactType(), 51U);

  // Below 6.0 the platform has no product information.
  profile.MajorVersion = 5;
  WriteProfile(profile);
  LogCapture capture("KestUtilsLib::Platform");
  EXPECT_EQ(platform.VistaProductInfo(), 0);
  const std::vector<std::string> lines = capture.Take();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], "VistaProductInfo - Failed GetProductInfo() failed with error 87");
}

}  // namespace
