// kestnet regsvr and kestnet setup: modules registered and unregistered per
// machine and per user, as seen by activation and by the registry store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/host/kestnet_process.h"

namespace kestnet::host::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kCreateWidget = "new ActiveXObject('KestTest.Widget'); WScript.Echo('created');";

class RegsvrVerbTest : public KestnetTest {
 protected:
  int Query(const std::string& key) { return Kestnet({"reg", "query", key}).exitCode; }
};

TEST_F(RegsvrVerbTest, RegisterThenUnregisterPerMachine) {
  EXPECT_EQ(RunScript(kCreateWidget).exitCode, 1);  // nothing registered yet

  ProcessResult registered = Kestnet({"regsvr", ComTestServerModule()});
  EXPECT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_EQ(registered.out, "DllRegisterServer in " + ComTestServerModule() + " succeeded.\n");
  EXPECT_EQ(Query("HKLM\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_NE(Query("HKCU\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_EQ(RunScript(kCreateWidget).out, "created\n");

  ProcessResult unregistered = Kestnet({"regsvr", "-u", ComTestServerModule()});
  EXPECT_EQ(unregistered.exitCode, 0) << unregistered.err;
  EXPECT_EQ(unregistered.out, "DllUnregisterServer in " + ComTestServerModule() + " succeeded.\n");
  EXPECT_NE(Query("HKCR\\KestTest.Widget"), 0);
  EXPECT_EQ(RunScript(kCreateWidget).exitCode, 1);
}

TEST_F(RegsvrVerbTest, PerUserRegistrationGoesToTheUsersClassesOnly) {
  ProcessResult registered = Kestnet({"regsvr", "--user", ComTestServerModule()});
  EXPECT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_EQ(Query("HKCU\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_NE(Query("HKLM\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_EQ(RunScript(kCreateWidget).out, "created\n");

  EXPECT_EQ(Kestnet({"regsvr", "-u", "--user", ComTestServerModule()}).exitCode, 0);
  EXPECT_NE(Query("HKCU\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_EQ(RunScript(kCreateWidget).exitCode, 1);
}

TEST_F(RegsvrVerbTest, ModulesThatCannotBeUsedAreReported) {
  ProcessResult absent = Kestnet({"regsvr", (scripts_ / "libAbsent.so").string()});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_THAT(absent.err, HasSubstr("failed to load"));

  std::string notAModule = WriteScript("libText.so", "just text");
  ProcessResult text = Kestnet({"regsvr", notAModule});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_THAT(text.err, HasSubstr("failed to load"));

  EXPECT_EQ(Kestnet({"regsvr"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"regsvr", "--bogus", ComTestServerModule()}).exitCode, 2);
  EXPECT_EQ(Kestnet({"regsvr", ComTestServerModule(), ComTestServerModule()}).exitCode, 2);
}

// The machine hive is one store for every account, changed only by root: a
// registration root made serves an ordinary account, which writes its own
// hive but is refused every change of the machine's.
TEST_F(RegsvrVerbTest, RootsRegistrationServesEveryAccountAndOnlyRootChangesTheMachine) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as a second account needs root";
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no account nobody on this machine";
  Register(ComTestServerModule());

  // The other account passes through the test's folders and has a home of its own.
  const std::filesystem::path otherHome = scripts_ / "nobody";
  for (const std::filesystem::path& folder : {home_, scripts_}) {
    std::filesystem::permissions(folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  }
  std::filesystem::create_directory(otherHome);
  ASSERT_EQ(::chown(otherHome.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  runAs_ = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
            "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "/usr/bin/env", "HOME=" + otherHome.string()};

  const ProcessResult created = RunScript(kCreateWidget);
  EXPECT_EQ(created.out, "created\n") << created.err;
  const ProcessResult machineWrite = Kestnet({"reg", "add", "HKLM\\Software\\Mine", "/v", "x", "/d", "1", "/f"});
  EXPECT_EQ(machineWrite.exitCode, 1);
  EXPECT_THAT(machineWrite.err, HasSubstr("Access is denied."));
  const ProcessResult userWrite = Kestnet({"reg", "add", "HKCU\\Software\\Mine", "/v", "x", "/d", "1", "/f"});
  EXPECT_EQ(userWrite.exitCode, 0) << userWrite.err;
  const ProcessResult unregister = Kestnet({"regsvr", "-u", ComTestServerModule()});
  EXPECT_EQ(unregister.exitCode, 1);
  EXPECT_THAT(unregister.err, HasSubstr("Access is denied"));
  const ProcessResult policy = Kestnet({"trust", "add", "site", "https://example.org", "--machine"});
  EXPECT_EQ(policy.exitCode, 1);
  EXPECT_THAT(policy.err, HasSubstr("access denied"));

  runAs_.clear();
  EXPECT_EQ(Query("HKLM\\Software\\Classes\\KestTest.Widget"), 0);
  EXPECT_NE(Query("HKLM\\Software\\Mine"), 0);
  EXPECT_NE(Query("HKCU\\Software\\Mine"), 0);
}

TEST_F(RegsvrVerbTest, SetupRegistersTheProjectModuleFromTheBuildTree) {
  ProcessResult setup = Kestnet({"setup"});
  EXPECT_EQ(setup.exitCode, 0) << setup.err;
  EXPECT_THAT(setup.out, HasSubstr("DllRegisterServer in "));
  EXPECT_THAT(setup.out, HasSubstr("libKestNetX.so succeeded.\n"));

  ProcessResult removed = Kestnet({"setup", "-u"});
  EXPECT_EQ(removed.exitCode, 0) << removed.err;
  EXPECT_THAT(removed.out, HasSubstr("DllUnregisterServer in "));
}

}  // namespace
}  // namespace kestnet::host::testing
