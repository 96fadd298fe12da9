// Keys: names without regard to case, path rules, enumeration order, the
// delete rules, key information and key security.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os/security.h"
#include "tests/platform/registry/registry_fixture.h"

namespace kestnet::platform::testing {
namespace {

using KeysTest = RegistryTest;

TEST_F(KeysTest, NonAsciiKeyAndValueNamesMatchInAnyCaseAndKeepTheirSpelling) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\\u00c4rger\\\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3");
  SetString(key, L"\u00c9t\u00c9", L"summer");

  // Lower case, and the Greek final sigma, which folds like any sigma.
  HKEY same = Open(HKEY_CURRENT_USER, L"SOFTWARE\\\u00e4rger\\\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2");
  EXPECT_EQ(GetString(same, L"\u00e9t\u00e9"), L"summer");
  EXPECT_EQ(ValueNames(same), std::vector<std::wstring>{L"\u00c9t\u00c9"});
  HKEY parent = Open(HKEY_CURRENT_USER, L"software\\\u00c4RGER");
  EXPECT_EQ(SubkeyNames(parent), std::vector<std::wstring>{L"\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3"});

  // Creating with another case opens the same key.
  HKEY created = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\\u00e4RGER", 0, nullptr, 0, KEY_READ, nullptr, &created,
                            &disposition),
            ERROR_SUCCESS);
  opened_.push_back(created);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // Narrow names are UTF-8 and meet the same keys.
  HKEY narrow = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\\xC3\xA4rger", 0, KEY_READ, &narrow), ERROR_SUCCESS);
  opened_.push_back(narrow);
  char name[64];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(narrow, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5\xCE\xA6\xCE\x9F\xCE\xA3");
}

TEST_F(KeysTest, DispositionTellsCreatedFromOpened) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  opened_.push_back(key);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  opened_.push_back(key);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
}

TEST_F(KeysTest, SeparatorsFollowWindowsRules) {
  Create(HKEY_CURRENT_USER, L"Software\\Paths\\Inner");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"\\Software\\Paths", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_BAD_PATHNAME));
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"\\Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            static_cast<LONG>(ERROR_BAD_PATHNAME));
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\\\Paths", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_BAD_PATHNAME));
  // Trailing separators are ignored.
  Open(HKEY_CURRENT_USER, L"Software\\Paths\\Inner\\\\");
  // An empty or null path opens the key itself.
  HKEY paths = Open(HKEY_CURRENT_USER, L"Software\\Paths");
  HKEY again = Open(paths, L"");
  EXPECT_EQ(SubkeyNames(again), std::vector<std::wstring>{L"Inner"});
  Open(paths, nullptr);
  EXPECT_EQ(RegOpenKeyExW(paths, L"Missing", 0, KEY_READ, &key), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegOpenKeyExW(paths, L"x", 0, KEY_READ, nullptr), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegCreateKeyExW(paths, L"v", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  const std::wstring tooLong(256, L'k');
  EXPECT_EQ(RegCreateKeyExW(paths, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
}

TEST_F(KeysTest, SubkeysEnumerateInNameOrderAndValuesInCreationOrder) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Order");
  for (const wchar_t* name : {L"delta", L"Bravo", L"alpha", L"Charlie"}) {
    Create(key, name);
    SetDword(key, name, 1);
  }
  EXPECT_EQ(SubkeyNames(key), (std::vector<std::wstring>{L"alpha", L"Bravo", L"Charlie", L"delta"}));
  EXPECT_EQ(ValueNames(key), (std::vector<std::wstring>{L"delta", L"Bravo", L"alpha", L"Charlie"}));

  // A name buffer that leaves no room for the terminator gives ERROR_MORE_DATA.
  wchar_t name[5];
  DWORD length = 5;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), static_cast<LONG>(ERROR_MORE_DATA));
  length = 6;
  wchar_t fits[6];
  EXPECT_EQ(RegEnumKeyExW(key, 0, fits, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(length, 5u);

  // Enumerating a value also gives its data, with the same sizing rules as a query.
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  length = 6;
  ASSERT_EQ(RegEnumValueW(key, 2, fits, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(fits, length), L"alpha");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, 1u);
  BYTE small[2];
  size = sizeof small;
  length = 6;
  EXPECT_EQ(RegEnumValueW(key, 2, fits, &length, nullptr, &type, small, &size), static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 4u);

  EXPECT_EQ(RegEnumValueW(key, 4, fits, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_NO_MORE_ITEMS));
  HKEY listOnly = Open(HKEY_CURRENT_USER, L"Software\\Order", KEY_QUERY_VALUE);
  length = 6;
  EXPECT_EQ(RegEnumKeyExW(listOnly, 0, fits, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
}

TEST_F(KeysTest, DeleteKeyRefusesKeysWithSubkeysAndDeleteTreeRemovesAll) {
  HKEY top = Create(HKEY_CURRENT_USER, L"Software\\Tree");
  HKEY leaf = Create(HKEY_CURRENT_USER, L"Software\\Tree\\Branch\\Leaf");
  SetDword(leaf, L"v", 1);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Tree"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(top, L"Branch"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(top, L"branch\\LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(top, L"Branch\\Leaf"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  Create(top, L"Branch\\Leaf\\Deeper");
  SetDword(top, L"kept", 1);
  // RegDeleteTree with no subkey empties the key and keeps it.
  EXPECT_EQ(RegDeleteTreeW(top, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(SubkeyNames(top).empty());
  EXPECT_TRUE(ValueNames(top).empty());
  Create(top, L"Branch\\Leaf\\Deeper");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tree"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tree", 0, KEY_READ, &gone),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  // A key deletes itself with an empty subkey; hive roots never do.
  HKEY self = Create(HKEY_CURRENT_USER, L"Software\\Self");
  EXPECT_EQ(RegDeleteKeyW(self, L""), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Self", 0, KEY_READ, &gone),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, nullptr), static_cast<LONG>(ERROR_INVALID_PARAMETER));
}

// Windows keeps a tree to 512 levels below its hive's root. A file another
// tool made far deeper still deletes whole, without exhausting the stack.
TEST_F(KeysTest, TreesStopAt512LevelsAndDeeperFilesStillDelete) {
  std::wstring path = L"Deep";
  for (int level = 2; level <= 512; ++level) path += L"\\k";
  HKEY deepest = Create(HKEY_CURRENT_USER, path.c_str());
  HKEY refused = nullptr;
  EXPECT_EQ(RegCreateKeyExW(deepest, L"k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((std::filesystem::path(home_) / "user" / "registry.sqlite3").c_str(), &db), SQLITE_OK);
  std::string chain = "BEGIN;";
  for (int level = 0; level < 200000; ++level) {
    chain += "INSERT INTO keys(parent, name, folded, written) SELECT max(id), 'k', 'k', 0 FROM keys;";
  }
  chain += "COMMIT;";
  EXPECT_EQ(sqlite3_exec(db, chain.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(RegCreateKeyExW(deepest, L"k\\k\\new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Deep"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Deep", 0, KEY_READ, &refused), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(SubkeyNames(Open(HKEY_CURRENT_USER, L"")).empty());
}

TEST_F(KeysTest, QueryInfoCountsSubkeysAndValuesWithWideSizes) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Info");
  Create(key, L"short");
  Create(key, L"a-longer-name");
  SetString(key, L"value-name", L"0123456789");
  SetDword(key, L"n", 1);
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxValue = 0, security = 99;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxValueName,
                             &maxValue, &security, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSubkey, 13u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 10u);
  EXPECT_EQ(maxValue, 11 * sizeof(wchar_t));
  EXPECT_EQ(security, 0u);
}

TEST_F(KeysTest, KeySecurityIsKeptWithTheKey) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Secured");
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  ASSERT_EQ(RegSetKeySecurity(key, 4, &descriptor), ERROR_SUCCESS);

  HKEY reader = Open(HKEY_LOCAL_MACHINE, L"Software\\Secured", KEY_READ);
  DWORD size = 0;
  ASSERT_EQ(RegGetKeySecurity(reader, 4, nullptr, &size), static_cast<LONG>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(size, 0u);
  std::vector<BYTE> copy(size);
  ASSERT_EQ(RegGetKeySecurity(reader, 4, copy.data(), &size), ERROR_SUCCESS);
  EXPECT_TRUE(IsValidSecurityDescriptor(copy.data()));
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(GetSecurityDescriptorDacl(copy.data(), &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(dacl, nullptr);

  // Setting security needs WRITE_DAC, which a reader lacks.
  EXPECT_EQ(RegSetKeySecurity(reader, 4, &descriptor), static_cast<LONG>(ERROR_ACCESS_DENIED));
  BYTE garbage[64] = {};
  EXPECT_EQ(RegSetKeySecurity(key, 4, garbage), static_cast<LONG>(ERROR_INVALID_SECURITY_DESCR));
}

TEST_F(KeysTest, HivesAreSeparateFilesUnderTheHome) {
  HKEY machine = Create(HKEY_LOCAL_MACHINE, L"Software\\Where");
  SetDword(machine, L"m", 1);
  HKEY user = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Where", 0, KEY_READ, &user),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(home_) / "machine" / "registry.sqlite3"));
  EXPECT_EQ(RegKeyPathForDisplay(machine), L"HKEY_LOCAL_MACHINE\\Software\\Where");
}

TEST_F(KeysTest, CorruptHiveFileIsReportedNotTrusted) {
  const std::filesystem::path userHive = std::filesystem::path(home_) / "user" / "registry.sqlite3";
  std::filesystem::create_directories(userHive.parent_path());
  {
    std::FILE* file = std::fopen(userHive.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string garbage(8192, 'x');
    std::fwrite(garbage.data(), 1, garbage.size(), file);
    std::fclose(file);
  }
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_REGISTRY_CORRUPT));
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            static_cast<LONG>(ERROR_REGISTRY_CORRUPT));
  // The other hive is unaffected.
  Create(HKEY_LOCAL_MACHINE, L"Software\\Fine");
}

}  // namespace
}  // namespace kestnet::platform::testing
