// HKEY_CLASSES_ROOT: the merged view of both hives' Software\Classes, and the
// per-process override that sends it to the user's classes.
#include <string>
#include <vector>

#include "tests/platform/registry/registry_fixture.h"

namespace kestnet::platform::testing {
namespace {

class ClassesRootTest : public RegistryTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    RegistryTest::TearDown();
  }
};

TEST_F(ClassesRootTest, ReadsPreferTheUserAndFallBackToTheMachine) {
  HKEY machine = Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Kest.Thing");
  SetString(machine, L"", L"machine default");
  SetString(machine, L"OnlyMachine", L"m");
  HKEY user = Create(HKEY_CURRENT_USER, L"Software\\Classes\\kest.thing");
  SetString(user, L"", L"user default");

  HKEY merged = Open(HKEY_CLASSES_ROOT, L"KEST.THING");
  EXPECT_EQ(GetString(merged, L""), L"user default");
  EXPECT_EQ(GetString(merged, L"onlymachine"), L"m");
  EXPECT_EQ(ValueNames(merged), (std::vector<std::wstring>{L"", L"OnlyMachine"}));
  EXPECT_EQ(RegKeyPathForDisplay(merged), L"HKEY_CLASSES_ROOT\\KEST.THING");

  // The view is live: a user value added later wins at once.
  SetString(user, L"OnlyMachine", L"u");
  EXPECT_EQ(GetString(merged, L"OnlyMachine"), L"u");
}

TEST_F(ClassesRootTest, EnumerationShowsTheUnionOnce) {
  Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Both");
  Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\MachineOnly");
  Create(HKEY_CURRENT_USER, L"Software\\Classes\\BOTH");
  Create(HKEY_CURRENT_USER, L"Software\\Classes\\UserOnly");
  HKEY root = Open(HKEY_CLASSES_ROOT, L"");
  EXPECT_EQ(SubkeyNames(root), (std::vector<std::wstring>{L"BOTH", L"MachineOnly", L"UserOnly"}));
  DWORD subkeys = 0;
  ASSERT_EQ(RegQueryInfoKeyW(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3u);
}

TEST_F(ClassesRootTest, WritesGoToTheMachineUnlessTheKeyIsOnlyTheUsers) {
  HKEY created = Create(HKEY_CLASSES_ROOT, L"Fresh.Class\\CLSID");
  SetString(created, L"", L"{1}");
  HKEY inMachine = Open(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Fresh.Class\\CLSID");
  EXPECT_EQ(GetString(inMachine, L""), L"{1}");

  Create(HKEY_CURRENT_USER, L"Software\\Classes\\Personal");
  HKEY personal = Open(HKEY_CLASSES_ROOT, L"Personal", KEY_ALL_ACCESS);
  SetString(personal, L"v", L"mine");
  HKEY sub = Create(HKEY_CLASSES_ROOT, L"Personal\\Sub");
  SetString(sub, L"w", L"below mine");
  HKEY userSub = Open(HKEY_CURRENT_USER, L"Software\\Classes\\Personal\\Sub");
  EXPECT_EQ(GetString(userSub, L"w"), L"below mine");
  EXPECT_EQ(GetString(Open(HKEY_CURRENT_USER, L"Software\\Classes\\Personal"), L"v"), L"mine");
  HKEY notInMachine = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Personal", 0, KEY_READ, &notInMachine),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ClassesRootTest, OverrideSendsEveryClassesCallToTheUserHive) {
  HKEY userClasses = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &userClasses, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses), ERROR_SUCCESS);
  // The override holds its own reference.
  ASSERT_EQ(RegCloseKey(userClasses), ERROR_SUCCESS);

  HKEY created = Create(HKEY_CLASSES_ROOT, L"PerUser.Class");
  SetString(created, L"", L"per user");
  EXPECT_EQ(GetString(Open(HKEY_CURRENT_USER, L"Software\\Classes\\PerUser.Class"), L""), L"per user");
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\PerUser.Class", 0, KEY_READ, &missing),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  // Machine-only classes are out of sight while overridden, back afterwards.
  Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\MachineWide");
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"MachineWide", 0, KEY_READ, &missing),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
  Open(HKEY_CLASSES_ROOT, L"MachineWide");
  EXPECT_EQ(RegOverridePredefKey(created, nullptr), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

// Through the view a key is the user's copy when there is one, else the
// machine's: writes and deletions reach that copy, so nothing written through
// the view hides behind the user's copy and a deletion removes what was shown.
TEST_F(ClassesRootTest, WritesAndDeletionsReachTheCopyTheViewShows) {
  Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Twice\\Inner");
  Create(HKEY_CURRENT_USER, L"Software\\Classes\\Twice\\Inner");
  HKEY twice = Open(HKEY_CLASSES_ROOT, L"Twice", KEY_ALL_ACCESS);
  SetString(twice, L"v", L"seen");
  EXPECT_EQ(GetString(twice, L"v"), L"seen");
  EXPECT_EQ(GetString(Open(HKEY_CURRENT_USER, L"Software\\Classes\\Twice"), L"v"), L"seen");

  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Twice"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"twice"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\Twice", 0, KEY_READ, &gone),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  Open(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Twice\\Inner");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"twice"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Twice", 0, KEY_READ, &gone), static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  HKEY machine = Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Val");
  HKEY user = Create(HKEY_CURRENT_USER, L"Software\\Classes\\Val");
  SetDword(machine, L"x", 1);
  SetDword(user, L"x", 2);
  HKEY merged = Open(HKEY_CLASSES_ROOT, L"Val", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteValueW(merged, L"X"), ERROR_SUCCESS);
  DWORD x = 0;
  DWORD size = sizeof x;
  EXPECT_EQ(RegQueryValueExW(merged, L"x", nullptr, nullptr, reinterpret_cast<BYTE*>(&x), &size), ERROR_SUCCESS);
  EXPECT_EQ(x, 1u);
  EXPECT_EQ(RegDeleteValueW(merged, L"X"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(merged, L"x", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  // With the key gone from both hives, the open merged handle reports it.
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Val"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Val"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(merged, L"x", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L""), static_cast<LONG>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace kestnet::platform::testing
