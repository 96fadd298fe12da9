// Privilege questions as root (the test process) and, in forked children
// that give up root, as an ordinary user and as a member of the sudo group.
#include "utils/privileges.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/os/version.h"
#include "tests/utils/utils_test_support.h"

namespace {

using kestnet::platform::VersionProfile;
using KestUtilsTest::VersionProfileTest;

struct Answers {
  bool administrator;
  bool powerUser;
  std::wstring integrity;
  bool low;
  bool elevated;
};

Answers Ask() {
  KestUtils::Privileges privileges;
  Answers answers{};
  answers.administrator = privileges.IsUserAdministrator();
  answers.powerUser = privileges.IsPowerUser();
  privileges.GetProcessIntegrityLevel(answers.integrity);
  answers.low = privileges.IsLowIntegrityProcess();
  answers.elevated = privileges.IsElevatedProcess();
  return answers;
}

// Checks made in a child process: a failed one is written, by name, to a
// pipe the parent reads and reports.
class ChildChecks {
 public:
  explicit ChildChecks(int p_fd) : m_fd(p_fd) {}
  void Expect(bool p_holds, const std::string& p_what) {
    if (p_holds) return;
    const std::string line = p_what + "\n";
    if (write(m_fd, line.data(), line.size()) < 0) _exit(102);
  }

 private:
  int m_fd;
};

class PrivilegesTest : public VersionProfileTest {
 protected:
  // Runs `body` in a child that has become "nobody" (with only the given
  // supplementary group) and has a home of its own that it can write; every
  // check the child fails is reported here by its name.
  template <typename Body>
  void RunAsNobody(gid_t p_supplementaryGroup, bool p_withGroup, Body body) {
    if (geteuid() != 0) GTEST_SKIP() << "changing user needs root";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody on this machine";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const std::filesystem::path childHome = m_home.Path() / "nobody";
    // The test's home is private to root; the child only needs to pass through it.
    std::filesystem::permissions(m_home.Path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::create_directory(childHome);
    ASSERT_EQ(chown(childHome.c_str(), uid, gid), 0);

    int failures[2];
    ASSERT_EQ(pipe(failures), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(failures[0]);
      if (setenv("KESTNET_HOME", childHome.c_str(), 1) != 0) _exit(100);
      const int groupCount = p_withGroup ? 1 : 0;
      if (setgroups(static_cast<size_t>(groupCount), &p_supplementaryGroup) != 0 || setgid(gid) != 0 ||
          setuid(uid) != 0) {
        _exit(101);
      }
      ChildChecks checks(failures[1]);
      body(checks);
      _exit(0);
    }
    close(failures[1]);
    std::string failed;
    char buffer[256];
    for (ssize_t length; (length = read(failures[0], buffer, sizeof buffer)) > 0;) failed.append(buffer, length);
    close(failures[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could not become nobody (100, 101) or report (102)";
    EXPECT_EQ(failed, "") << "checks failed as nobody";
  }
};

TEST_F(PrivilegesTest, RootIsAnElevatedAdministratorAtHighIntegrity) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root only";
  const Answers answers = Ask();
  EXPECT_TRUE(answers.administrator);
  EXPECT_FALSE(answers.powerUser);
  EXPECT_EQ(answers.integrity, L"S-1-16-12288");
  EXPECT_FALSE(answers.low);
  EXPECT_TRUE(answers.elevated);
}

// The profile's low integrity applies to ordinary users only; root stays high.
TEST_F(PrivilegesTest, LowIntegrityProfileDoesNotLowerRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root only";
  VersionProfile profile;
  profile.Integrity = static_cast<DWORD>(kestnet::platform::ProfileIntegrity::Low);
  WriteProfile(profile);
  EXPECT_EQ(Ask().integrity, L"S-1-16-12288");
}

TEST_F(PrivilegesTest, OrdinaryUserIsMediumIntegrityNotAdministratorAndLowOnlyWhenTheProfileSaysSo) {
  RunAsNobody(0, false, [](ChildChecks& p_checks) {
    Answers answers = Ask();
    p_checks.Expect(!answers.administrator, "not an administrator");
    p_checks.Expect(!answers.powerUser, "not a power user");
    p_checks.Expect(answers.integrity == L"S-1-16-8192", "medium integrity");
    p_checks.Expect(!answers.low, "not low integrity");
    p_checks.Expect(!answers.elevated, "not elevated");

    VersionProfile profile;
    profile.Integrity = static_cast<DWORD>(kestnet::platform::ProfileIntegrity::Low);
    p_checks.Expect(kestnet::platform::WriteVersionProfile(profile) == 0, "the low-integrity profile is written");
    answers = Ask();
    p_checks.Expect(answers.integrity == L"S-1-16-4096", "low integrity");
    p_checks.Expect(answers.low, "a low-integrity process");
    p_checks.Expect(!answers.elevated, "not elevated at low integrity");
    // Before XP there are no integrity levels to be low at.
    profile.MajorVersion = 5;
    profile.MinorVersion = 0;
    p_checks.Expect(kestnet::platform::WriteVersionProfile(profile) == 0, "the Windows 2000 profile is written");
    p_checks.Expect(!Ask().low, "not low integrity before XP");
  });
}

TEST_F(PrivilegesTest, SudoGroupMemberIsAdministratorButNotElevated) {
  const group* sudo = getgrnam("sudo");
  if (sudo == nullptr) GTEST_SKIP() << "no sudo group on this machine";
  const gid_t sudoGid = sudo->gr_gid;
  RunAsNobody(sudoGid, true, [](ChildChecks& p_checks) {
    const Answers answers = Ask();
    p_checks.Expect(answers.administrator, "an administrator");
    p_checks.Expect(answers.integrity == L"S-1-16-8192", "medium integrity");
    p_checks.Expect(!answers.elevated, "not elevated");
    // Before Vista, elevation is administrator rights.
    VersionProfile profile;
    profile.MajorVersion = 5;
    profile.MinorVersion = 1;
    p_checks.Expect(kestnet::platform::WriteVersionProfile(profile) == 0, "the XP profile is written");
    p_checks.Expect(Ask().elevated, "elevated before Vista");
  });
}

TEST_F(PrivilegesTest, Windows9xFamilyAnswersEveryRightTrueExceptIntegrity) {
  VersionProfile profile;
  profile.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
  profile.MajorVersion = 4;
  profile.MinorVersion = 10;
  WriteProfile(profile);
  const Answers answers = Ask();
  EXPECT_TRUE(answers.administrator);
  EXPECT_TRUE(answers.powerUser);
  EXPECT_FALSE(answers.low);
  EXPECT_TRUE(answers.elevated);
}

TEST_F(PrivilegesTest, FailedVersionQueryAnswersFalse) {
  VersionProfile profile;
  profile.VersionQueryRefused = 1;
  WriteProfile(profile);
  KestUtilsTest::LogCapture capture("KestUtils::Privileges");
  KestUtils::Privileges privileges;
  EXPECT_FALSE(privileges.IsUserAdministrator());
  EXPECT_FALSE(privileges.IsPowerUser());
  EXPECT_FALSE(privileges.IsLowIntegrityProcess());
  const std::vector<std::string> lines = capture.Take();
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0], "Privilages():  Failed to construct properly.");
  EXPECT_EQ(lines[1],
            "IsUserAdministrator():  Exception - KESTUTILSPLATFORM_GETVERSION_ERROR.  Extended Data = <>");
  EXPECT_EQ(lines[2], "IsPowerUser():  Exception - KESTUTILSPLATFORM_GETVERSION_ERROR.  Extended Data = <>");
}

}  // namespace
