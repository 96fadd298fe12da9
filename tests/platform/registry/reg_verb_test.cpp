// `kestnet reg`, run as a user runs it, against the fixture's private store.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>

#include "tests/platform/registry/registry_fixture.h"

namespace kestnet::platform::testing {
namespace {

struct RunResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error, in order
};

class RegVerbTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    const char* binaryDir = std::getenv("KESTNET_TEST_BINARY_DIR");
    if (binaryDir == nullptr) GTEST_SKIP() << "KESTNET_TEST_BINARY_DIR is not set";
    binary_ = std::string(binaryDir) + "/host/kestnet";
    if (!std::filesystem::exists(binary_)) GTEST_SKIP() << "the kestnet host is not built";
  }

  // Runs `kestnet reg ARGUMENTS` through the shell (arguments quoted by the
  // caller), with `input` on standard input.
  RunResult Reg(const std::string& arguments, const std::string& input = "") {
    const std::string command =
        "printf '%s' '" + input + "' | '" + binary_ + "' reg " + arguments + " 2>&1";
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer;
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), read);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  std::string binary_;
};

TEST_F(RegVerbTest, AddedValuesQueryInRegExeLayout) {
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Demo' /v Name /d 'h\xC3\xA9llo'").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Demo' -v Count --type REG_DWORD -d 0x2a").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Demo' /ve /t REG_BINARY /d 00ff10").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Demo\\Sub' /v List /t REG_MULTI_SZ /d 'a\\0b\\0c'").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Demo\\Sub' /v Big /t REG_QWORD /d 18446744073709551615").exitCode, 0);

  const RunResult flat = Reg("query 'HKCU\\Software\\Demo'");
  EXPECT_EQ(flat.exitCode, 0);
  EXPECT_EQ(flat.output,
            "\nHKEY_CURRENT_USER\\Software\\Demo\n"
            "    Name    REG_SZ    h\xC3\xA9llo\n"
            "    Count    REG_DWORD    0x2a\n"
            "    (Default)    REG_BINARY    00FF10\n"
            "\nHKEY_CURRENT_USER\\Software\\Demo\\Sub\n");

  const RunResult deep = Reg("query 'HKEY_CURRENT_USER\\software\\demo\\sub' /s");
  EXPECT_EQ(deep.exitCode, 0);
  EXPECT_EQ(deep.output,
            "\nHKEY_CURRENT_USER\\software\\demo\\sub\n"
            "    List    REG_MULTI_SZ    a\\0b\\0c\n"
            "    Big    REG_QWORD    0xffffffffffffffff\n");

  const RunResult one = Reg("query 'HKCU\\Software\\Demo' /v count");
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.output, "\nHKEY_CURRENT_USER\\Software\\Demo\n    count    REG_DWORD    0x2a\n");
}

TEST_F(RegVerbTest, VerbAndLibraryShareTheStore) {
  ASSERT_EQ(Reg("add 'HKLM\\Software\\Shared' /v Port /t REG_DWORD /d 110").exitCode, 0);
  HKEY key = Open(HKEY_LOCAL_MACHINE, L"Software\\Shared", KEY_ALL_ACCESS);
  DWORD port = 0;
  DWORD size = sizeof port;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"Port", nullptr, &type, reinterpret_cast<BYTE*>(&port), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(port, 110u);

  SetString(key, L"Host", L"mail.example");
  const RunResult query = Reg("query 'HKLM\\Software\\Shared' /v HOST");
  EXPECT_EQ(query.exitCode, 0);
  EXPECT_NE(query.output.find("REG_SZ    mail.example\n"), std::string::npos) << query.output;

  // Multi-strings arrive as the wide block the library expects.
  ASSERT_EQ(Reg("add 'HKLM\\Software\\Shared' /v Servers /t REG_MULTI_SZ /s , /d one,two").exitCode, 0);
  const wchar_t expected[] = L"one\0two\0";
  size = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"Servers", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof expected);
}

TEST_F(RegVerbTest, OverwriteAndDeleteAskWithoutForce) {
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Ask' /v v /d first").exitCode, 0);
  const RunResult refused = Reg("add 'HKCU\\Software\\Ask' /v v /d second", "no\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("The operation was cancelled."), std::string::npos);
  EXPECT_EQ(GetString(Open(HKEY_CURRENT_USER, L"Software\\Ask"), L"v"), L"first");

  EXPECT_EQ(Reg("add 'HKCU\\Software\\Ask' /v v /d second", "yes\n").exitCode, 0);
  EXPECT_EQ(GetString(Open(HKEY_CURRENT_USER, L"Software\\Ask"), L"v"), L"second");

  // No answer at all (standard input closed) also cancels.
  EXPECT_EQ(Reg("delete 'HKCU\\Software\\Ask'").exitCode, 1);
  Open(HKEY_CURRENT_USER, L"Software\\Ask");
}

TEST_F(RegVerbTest, DeleteRemovesValuesOrTheWholeTree) {
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Del\\Child' /v c /d 1").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Del' /v a /d 1").exitCode, 0);
  ASSERT_EQ(Reg("add 'HKCU\\Software\\Del' /v b /d 2").exitCode, 0);

  EXPECT_EQ(Reg("delete 'HKCU\\Software\\Del' /v A /f").exitCode, 0);
  EXPECT_EQ(ValueNames(Open(HKEY_CURRENT_USER, L"Software\\Del")), std::vector<std::wstring>{L"b"});
  EXPECT_EQ(Reg("delete 'HKCU\\Software\\Del' /va /f").exitCode, 0);
  HKEY del = Open(HKEY_CURRENT_USER, L"Software\\Del");
  EXPECT_TRUE(ValueNames(del).empty());
  EXPECT_EQ(SubkeyNames(del), std::vector<std::wstring>{L"Child"});

  EXPECT_EQ(Reg("delete 'HKCU\\Software\\Del' /f").exitCode, 0);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Del", 0, KEY_READ, &gone),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  const RunResult again = Reg("delete 'HKCU\\Software\\Del' /f");
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.output, "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(Reg("delete HKCU /f").exitCode, 1);
}

TEST_F(RegVerbTest, BadInputFailsWithAMessageAndChangesNothing) {
  struct Case {
    const char* arguments;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"", 2, "missing operation"},
      {"frobnicate HKCU", 2, "unknown operation"},
      {"query 'HKXX\\Software'", 2, "does not start with HKLM, HKCU or HKCR"},
      {"query HKCU /x", 2, "unknown option"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_FOO", 2, "unsupported type"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_DWORD /d 4294967296", 1, "not valid data for REG_DWORD"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_DWORD /d -1", 1, "not valid data for REG_DWORD"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_BINARY /d ABC", 1, "not valid data for REG_BINARY"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_BINARY /d 0x11", 1, "hex digits without 0x"},
      {"add 'HKCU\\Software\\Bad' /v n /t REG_MULTI_SZ /d 'a\\0\\0b'", 1, "cannot contain an empty string"},
      {"add 'HKCU\\Software\\Bad' /v n /ve", 2, "choose one of"},
      {"add 'HKCU\\Software\\Bad' /d x", 2, "need /v NAME or /ve"},
      {"query 'HKCU\\Software\\Bad' /d x", 2, "belong to add"},
      {"query 'HKCU\\Software\\Bad' /v", 2, "needs an argument"},
      {"query 'HKCU\\Software\\Missing'", 1, "unable to find"},
  };
  for (const Case& c : cases) {
    const RunResult result = Reg(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << "\n" << result.output;
  }
  HKEY bad = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Bad", 0, KEY_READ, &bad),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Reg("--help").exitCode, 0);
}

}  // namespace
}  // namespace kestnet::platform::testing
