// SIDs and the process token: texts, sizes, the thread token that exists only
// while impersonating, membership questions and handles that close.
#include "platform/os/token.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/version.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "tests/support/temporary_directory.h"

namespace {

class TokenTest : public ::testing::Test {
 protected:
  void SetUp() override { m_handlesAtStart = kestnet::platform::OpenHandleCount(); }
  void TearDown() override {
    RevertToSelf();
    EXPECT_EQ(kestnet::platform::OpenHandleCount(), m_handlesAtStart) << "a token handle was left open";
  }

  static PSID NewSid(SID_IDENTIFIER_AUTHORITY p_authority, BYTE p_count, DWORD p_first, DWORD p_second = 0) {
    PSID sid = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&p_authority, p_count, p_first, p_second, 0, 0, 0, 0, 0, 0, &sid));
    return sid;
  }

  static std::string Text(PSID p_sid) {
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(p_sid, &text)) return "<error " + std::to_string(GetLastError()) + ">";
    std::string copy = text;
    LocalFree(text);
    return copy;
  }

  kestnet::testing::TemporaryHome m_home;
  std::size_t m_handlesAtStart = 0;
};

TEST_F(TokenTest, SidsHaveWindowsTextLengthAndEquality) {
  PSID administrators = NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  PSID administratorsAgain = NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  PSID users = NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
  PSID high = NewSid(SECURITY_MANDATORY_LABEL_AUTHORITY, 1, SECURITY_MANDATORY_HIGH_RID);
  SID_IDENTIFIER_AUTHORITY wide = {{1, 2, 3, 4, 5, 6}};
  PSID wideAuthority = NewSid(wide, 1, 7);

  EXPECT_EQ(Text(administrators), "S-1-5-32-544");
  EXPECT_EQ(Text(high), "S-1-16-12288");
  EXPECT_EQ(Text(wideAuthority), "S-1-0x010203040506-7");
  LPWSTR wideText = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(users, &wideText));
  EXPECT_EQ(std::wstring(wideText), L"S-1-5-32-545");
  LocalFree(wideText);

  EXPECT_EQ(GetLengthSid(administrators), 16U);
  EXPECT_EQ(GetLengthSid(high), 12U);
  EXPECT_TRUE(EqualSid(administrators, administratorsAgain));
  EXPECT_FALSE(EqualSid(administrators, users));
  EXPECT_FALSE(EqualSid(administrators, high));

  for (PSID sid : {administrators, administratorsAgain, users, high, wideAuthority}) FreeSid(sid);
}

TEST_F(TokenTest, SidArgumentsOutsideTheCallsLimitsAreRefused) {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  EXPECT_FALSE(AllocateAndInitializeSid(&authority, 0, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(AllocateAndInitializeSid(&authority, 9, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_FALSE(AllocateAndInitializeSid(nullptr, 1, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_EQ(sid, nullptr);

  SID broken{};
  broken.Revision = 2;
  LPSTR text = nullptr;
  EXPECT_FALSE(ConvertSidToStringSidA(&broken, &text));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_SID);
  EXPECT_FALSE(IsValidSid(nullptr));
  EXPECT_EQ(GetLengthSid(&broken), 0U);
}

// Groups come back in one block: a size query first, then the list with
// its SIDs behind it in the caller's buffer.
TEST_F(TokenTest, GroupsAnswerASizeQueryThenFillTheCallersBuffer) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token));
  DWORD needed = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(needed, sizeof(TOKEN_GROUPS));

  std::vector<std::uintptr_t> buffer(needed / sizeof(std::uintptr_t) + 1);
  DWORD returned = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), needed - 1, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(returned, needed);
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), needed, &returned));

  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  const auto* begin = reinterpret_cast<const BYTE*>(buffer.data());
  std::vector<std::string> texts;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    const auto* sid = static_cast<const BYTE*>(groups->Groups[i].Sid);
    EXPECT_GE(sid, begin);
    EXPECT_LE(sid + GetLengthSid(groups->Groups[i].Sid), begin + needed);
    texts.push_back(Text(groups->Groups[i].Sid));
  }
  const bool root = geteuid() == 0;
  std::vector<std::string> expected = {"S-1-1-0"};
  if (root) expected.push_back("S-1-5-32-544");
  expected.push_back("S-1-5-32-545");
  expected.push_back(root ? "S-1-16-12288" : "S-1-16-8192");
  EXPECT_EQ(texts, expected);
  EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokenTest, IntegrityAndElevationFollowTheEffectiveUser) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<std::uintptr_t> buffer(16);
  DWORD returned = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenIntegrityLevel, buffer.data(),
                                  static_cast<DWORD>(buffer.size() * sizeof(std::uintptr_t)), &returned));
  const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
  EXPECT_EQ(Text(label->Label.Sid), geteuid() == 0 ? "S-1-16-12288" : "S-1-16-8192");
  EXPECT_EQ(label->Label.Attributes, SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED);

  TOKEN_ELEVATION elevation{};
  ASSERT_TRUE(GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &returned));
  EXPECT_EQ(returned, sizeof(elevation));
  EXPECT_EQ(elevation.TokenIsElevated, geteuid() == 0 ? 1U : 0U);

  EXPECT_FALSE(GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(3), buffer.data(), 64, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokenTest, ThreadTokenExistsOnlyWhileTheThreadImpersonates) {
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
  EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  // Impersonation belongs to the thread that asked for it.
  DWORD otherThreadError = 0;
  std::thread other([&otherThreadError] {
    HANDLE otherToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &otherToken)) otherThreadError = GetLastError();
  });
  other.join();
  EXPECT_EQ(otherThreadError, ERROR_NO_TOKEN);

  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_TRUE(RevertToSelf());
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
  EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
}

TEST_F(TokenTest, MembershipWantsAnImpersonationTokenOrNone) {
  PSID administrators = NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  PSID powerUsers = NewSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_POWER_USERS);
  PSID integrity = NewSid(SECURITY_MANDATORY_LABEL_AUTHORITY, 1,
                          geteuid() == 0 ? SECURITY_MANDATORY_HIGH_RID : SECURITY_MANDATORY_MEDIUM_RID);
  BOOL member = TRUE;

  HANDLE primary = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &primary));
  EXPECT_FALSE(CheckTokenMembership(primary, administrators, &member));
  EXPECT_EQ(GetLastError(), ERROR_NO_IMPERSONATION_TOKEN);
  EXPECT_TRUE(CloseHandle(primary));

  ASSERT_TRUE(CheckTokenMembership(nullptr, powerUsers, &member));
  EXPECT_FALSE(member);
  // The integrity label is listed but is no enabled group.
  ASSERT_TRUE(CheckTokenMembership(nullptr, integrity, &member));
  EXPECT_FALSE(member);

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  HANDLE impersonation = nullptr;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &impersonation));
  ASSERT_TRUE(CheckTokenMembership(impersonation, administrators, &member));
  if (geteuid() == 0) {
    EXPECT_TRUE(member);
  }
  EXPECT_TRUE(CloseHandle(impersonation));
  EXPECT_TRUE(RevertToSelf());

  for (PSID sid : {administrators, powerUsers, integrity}) FreeSid(sid);
}

TEST_F(TokenTest, ClosedOrForeignHandlesAreNoTokens) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_TRUE(CloseHandle(token));
  TOKEN_ELEVATION elevation{};
  DWORD returned = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &returned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // An event handle is not a token, and a token is nothing to wait for.
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(GetTokenInformation(event, TokenElevation, &elevation, sizeof(elevation), &returned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(event));
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(WaitForSingleObject(token, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(token));

  int notAProcess = 0;
  EXPECT_FALSE(OpenProcessToken(&notAProcess, TOKEN_QUERY, &token));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
