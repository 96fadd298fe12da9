#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os/debug_output.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/process.h"
#include "platform/os/security.h"
#include "tests/support/second_account.h"
#include "tests/support/temporary_directory.h"

namespace {

// Each test gets its own KESTNET_HOME and no debug output target.
class OsServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("KESTNET_DEBUG_OUTPUT"); }
  void TearDown() override {
    kestnet::platform::SetDebugOutputHook(nullptr);
    ::unsetenv("KESTNET_DEBUG_OUTPUT");
  }
  kestnet::testing::TemporaryHome temporaryHome_;
  const std::string home_ = temporaryHome_.Path().string();
};

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(OsServicesTest, DebugOutputHookSeesLinesWithoutTheirNewline) {
  std::vector<std::string> seen;
  kestnet::platform::SetDebugOutputHook([&](std::string_view line) { seen.emplace_back(line); });
  SetLastError(ERROR_ACCESS_DENIED);
  OutputDebugStringA("plain");
  OutputDebugStringA("ended\n");
  OutputDebugStringW(L"wide \u00e9");
  OutputDebugStringA(nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // output never changes the caller's error
  EXPECT_EQ(seen, (std::vector<std::string>{"plain", "ended", "wide \xC3\xA9"}));
}

TEST_F(OsServicesTest, DebugOutputFileGetsOneCompleteLinePerCallFromEveryProcess) {
  std::string path = home_ + "/debug.log";
  ::setenv("KESTNET_DEBUG_OUTPUT", path.c_str(), 1);
  constexpr int kProcesses = 4;
  constexpr int kLines = 300;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(kestnet::testing::StartChild([p] {
      std::string line(200, static_cast<char>('a' + p));
      for (int i = 0; i < kLines; ++i) OutputDebugStringA(line.c_str());
      return 0;
    }));
  }
  for (pid_t child : children) ASSERT_EQ(kestnet::testing::WaitForChild(child), 0);
  std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kLines));
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), 200u);
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "interleaved line";
  }
}

TEST_F(OsServicesTest, DebugOutputUnsetDiscardsAndHookStillSees) {
  int seen = 0;
  kestnet::platform::SetDebugOutputHook([&](std::string_view) { ++seen; });
  OutputDebugStringA("nowhere");
  ::setenv("KESTNET_DEBUG_OUTPUT", "", 1);
  OutputDebugStringA("still nowhere");
  EXPECT_EQ(seen, 2);
  EXPECT_TRUE(std::filesystem::is_empty(home_));
}

TEST_F(OsServicesTest, DebugOutputIsObservedOnlyWhileAHookOrATargetIsSet) {
  EXPECT_FALSE(kestnet::platform::IsDebugOutputObserved());
  ::setenv("KESTNET_DEBUG_OUTPUT", "", 1);
  EXPECT_FALSE(kestnet::platform::IsDebugOutputObserved());
  ::setenv("KESTNET_DEBUG_OUTPUT", "stderr", 1);
  EXPECT_TRUE(kestnet::platform::IsDebugOutputObserved());
  ::unsetenv("KESTNET_DEBUG_OUTPUT");
  kestnet::platform::SetDebugOutputHook([](std::string_view) {});
  EXPECT_TRUE(kestnet::platform::IsDebugOutputObserved());
  kestnet::platform::SetDebugOutputHook(nullptr);
  EXPECT_FALSE(kestnet::platform::IsDebugOutputObserved());
}

TEST_F(OsServicesTest, NullDaclMeansEveryoneAndSelfRelativeCopyKeepsTheAcl) {
  SECURITY_DESCRIPTOR absolute;
  ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_FALSE(InitializeSecurityDescriptor(&absolute, 2));
  EXPECT_TRUE(IsValidSecurityDescriptor(&absolute));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &absolute, FALSE};
  EXPECT_EQ(kestnet::platform::NamedObjectFileMode(&attributes), 0600u);  // no DACL: creator's default
  EXPECT_EQ(kestnet::platform::NamedObjectFileMode(nullptr), 0600u);
  ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE));
  EXPECT_EQ(kestnet::platform::NamedObjectFileMode(&attributes), 0666u);

  alignas(8) BYTE aclBytes[16] = {};
  auto* acl = reinterpret_cast<ACL*>(aclBytes);
  acl->AclRevision = 2;
  acl->AclSize = sizeof aclBytes;
  aclBytes[sizeof(ACL)] = 0x7E;
  ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE));
  EXPECT_EQ(kestnet::platform::NamedObjectFileMode(&attributes), 0600u);
  DWORD length = GetSecurityDescriptorLength(&absolute);
  EXPECT_EQ(length, sizeof(SECURITY_DESCRIPTOR) + sizeof aclBytes);

  DWORD small = 8;
  std::vector<BYTE> buffer(small);
  EXPECT_FALSE(MakeSelfRelativeSD(&absolute, buffer.data(), &small));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(small, length);
  buffer.assign(length, 0);
  ASSERT_TRUE(MakeSelfRelativeSD(&absolute, buffer.data(), &small));
  // The copy stands on its own: it survives the original ACL's change.
  aclBytes[sizeof(ACL)] = 0;
  BOOL present = FALSE;
  BOOL defaulted = TRUE;
  PACL copied = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(buffer.data(), &present, &copied, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(reinterpret_cast<BYTE*>(copied)[sizeof(ACL)], 0x7E);
  EXPECT_EQ(GetSecurityDescriptorLength(buffer.data()), length);
  EXPECT_FALSE(SetSecurityDescriptorDacl(buffer.data(), TRUE, nullptr, FALSE));  // self-relative is read-only
}

TEST_F(OsServicesTest, ModuleFileNameFollowsWin32Truncation) {
  char full[4096];
  DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::string(full), std::filesystem::canonical("/proc/self/exe").string());
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(full, 4));
  wchar_t wide[4096];
  EXPECT_EQ(GetModuleFileNameW(nullptr, wide, 4096), length);
  EXPECT_EQ(GetACP(), 65001u);
}

TEST_F(OsServicesTest, CommonAppDataLivesUnderTheMachineDirectory) {
  std::string folder = kestnet::platform::CommonAppDataFolder();
  EXPECT_EQ(folder, home_ + "/machine/ProgramData");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

}  // namespace
