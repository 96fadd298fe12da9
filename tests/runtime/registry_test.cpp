// KestUtilsLib::Registry over the real registry store, with the lines it logs.
#include "runtime/registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "runtime/exceptions.h"
#include "tests/support/log_capture.h"
#include "tests/support/temporary_directory.h"

namespace {

using KestUtilsLib::Registry;

struct LogLine {
  int level;
  std::string message;
  bool operator==(const LogLine& other) const { return level == other.level && message == other.message; }
};

std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "[" << line.level << "] " << line.message;
}

class RegistryAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only now: a logger made before the home is set would share the default
    // scope's ring with every other process.
    m_capture = std::make_unique<kestnet::testing::LogCapture>("KestUtilsLib::Registry");
  }
  void TearDown() override { m_capture.reset(); }

  // The registry lines logged since the last call, in order.
  std::vector<LogLine> TakeLines() {
    std::vector<LogLine> lines;
    for (const auto& line : m_capture->TakeLines()) lines.push_back(LogLine{static_cast<int>(line.level), line.message});
    return lines;
  }

  // The raw bytes and type of a value, read with the wide call.
  static std::vector<BYTE> RawValue(const wchar_t* path, const wchar_t* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS);
    std::vector<BYTE> bytes(size);
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, bytes.data(), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    return bytes;
  }
  static void WriteRaw(const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
  }

  kestnet::testing::TemporaryHome m_home;
  std::unique_ptr<kestnet::testing::LogCapture> m_capture;
};

TEST_F(RegistryAccessTest, PathOf254CharactersIsAcceptedAnd255IsRefused) {
  const std::wstring path254 = L"Software\\" + std::wstring(245, L'k');
  ASSERT_EQ(path254.size(), 254u);
  EXPECT_TRUE(Registry::CreateKey(HKEY_CURRENT_USER, path254));
  EXPECT_TRUE(Registry::DoesKeyExist(HKEY_CURRENT_USER, path254));
  EXPECT_TRUE(TakeLines().empty());

  const std::wstring path255 = path254 + L"x";
  EXPECT_THROW(Registry::CreateKey(HKEY_CURRENT_USER, path255), KestUtils::RegKeyPathSizeException);
  const std::string narrow255(path255.begin(), path255.end());
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{1, "ValidateKeyPathLength - Registry key path " + narrow255 +
                                         " has exceeded the max character limit of 254"}}));

  // Setters check the value name against the same limit.
  EXPECT_THROW(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Named", std::wstring(255, L'n'), 1),
               KestUtils::RegKeyPathSizeException);
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, L"Software\\Named"));

  // The narrow form counts characters, not UTF-8 bytes.
  std::string narrow254 = "Software\\";
  for (int i = 0; i < 245; ++i) narrow254 += "\xC3\xA9";  // é
  EXPECT_TRUE(Registry::CreateKeyA(HKEY_CURRENT_USER, narrow254));
  TakeLines();
  EXPECT_THROW(Registry::ValidateKeyPathLengthA(narrow254 + "x"), KestUtils::RegKeyPathSizeException);
  const std::vector<LogLine> lines = TakeLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message.rfind("ValidateKeyPathLengthA - Registry key path Software\\", 0), 0u);
}

TEST_F(RegistryAccessTest, InvalidArgumentsAreLoggedAndThrown) {
  DWORD value = 0;
  EXPECT_THROW(Registry::GetDwordKeyVal(nullptr, L"Software\\X", L"v", value), KestBase::InvalidParameterException);
  EXPECT_THROW(Registry::GetDwordKeyValA(HKEY_CURRENT_USER, "", "v", value), KestBase::InvalidParameterException);
  EXPECT_THROW(Registry::SetBinaryKeyValFromString(HKEY_CURRENT_USER, L"Software\\X", L"", L"abc"),
               KestBase::InvalidParameterException);
  std::wstring text;
  EXPECT_THROW(Registry::GetKeyVal(nullptr, L"v", text), KestBase::InvalidParameterException);
  std::vector<std::wstring> names{L"stale"};
  EXPECT_THROW(Registry::GetSubKeyNames(HKEY_CURRENT_USER, L"", names), KestBase::InvalidParameterException);
  EXPECT_TRUE(names.empty());
  // A path or value name with an embedded NUL is refused whole, never cut
  // into the shorter "Software\\X".
  const std::wstring cutPath(L"Software\\X\0.poison", 18);
  EXPECT_THROW(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, cutPath, L"v", 1), KestBase::InvalidParameterException);
  EXPECT_THROW(Registry::CreateKey(HKEY_CURRENT_USER, cutPath), KestBase::InvalidParameterException);
  EXPECT_THROW(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\X", std::wstring(L"v\0w", 3), 1),
               KestBase::InvalidParameterException);
  EXPECT_THROW(Registry::DoesValNameExist(HKEY_CURRENT_USER, L"Software", std::wstring(L"v\0w", 3)),
               KestBase::InvalidParameterException);
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{
                {1, "GetDwordKeyVal - Invalid argument detected for parameter hKey or sub key path."},
                {1, "GetDwordKeyValA - Invalid argument detected for parameter hKey or sub key path."},
                {1, "SetBinaryKeyValFromString - Invalid argument detected for parameter hKey, sub key path, or "
                    "value name."},
                {1, "GetKeyVal - Invalid argument detected for parameter hKey."},
                {1, "GetSubKeyNames - Invalid argument detected for parameter hKey or sub key path."},
                {1, "SetDwordKeyVal - Invalid argument detected for parameter sub key path."},
                {1, "CreateKey - Invalid argument detected for parameter sub key path."},
                {1, "SetDwordKeyVal - Invalid argument detected for parameter value name."},
                {1, "DoesValNameExist - Invalid argument detected for parameter value name."},
            }));
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, L"Software\\X"));
}

TEST_F(RegistryAccessTest, DwordGetterChecksTypeAndMissingValuesGiveFalse) {
  ASSERT_TRUE(Registry::SetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Types", L"Name", L"text"));
  TakeLines();
  DWORD value = 7;
  EXPECT_THROW(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Types", L"Name", value),
               KestUtils::RegValueTypeMismatch);
  EXPECT_EQ(TakeLines(), (std::vector<LogLine>{{1, "GetDwordKeyVal - Registry key Software\\Types value name Name "
                                                   "type 1 is not a DWORD type"}}));

  EXPECT_FALSE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Types", L"Absent", value));
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(TakeLines(), (std::vector<LogLine>{{4, "GetValueRegType - Calling RegQueryValueExW for key "
                                                   "Software\\Types value name Absent failed with error 2"}}));

  EXPECT_FALSE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\NoSuchKey", L"v", value));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{4, "GetValueRegType - Registry key Software\\NoSuchKey does not exist"}}));

  // A DWORD value that does not hold 4 bytes is not read as one.
  const WORD shortData = 5;
  WriteRaw(L"Software\\Types", L"Short", REG_DWORD, &shortData, sizeof shortData);
  EXPECT_FALSE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Types", L"Short", value));
  EXPECT_EQ(TakeLines(), (std::vector<LogLine>{{1, "GetDwordKeyVal - Calling RegQueryValueExW for key "
                                                   "Software\\Types value name Short failed with error 13"}}));
}

TEST_F(RegistryAccessTest, SetDwordUnderMissingKeyCreatesTheKey) {
  EXPECT_TRUE(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\New\\Deep", L"Count", 42));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{4, "SetDwordKeyVal - Registry key Software\\New\\Deep does not exist"}}));
  DWORD value = 0;
  EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\New\\Deep", L"Count", value));
  EXPECT_EQ(value, 42u);
  DWORD type = 0;
  EXPECT_EQ(RawValue(L"Software\\New\\Deep", L"Count", &type).size(), 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(RegistryAccessTest, BinaryFromTextStoresSixteenBitUnitsAndTerminator) {
  EXPECT_TRUE(Registry::SetBinaryKeyValFromString(HKEY_CURRENT_USER, L"Software\\Bin", L"abc", L"abc"));
  DWORD type = 0;
  EXPECT_EQ(RawValue(L"Software\\Bin", L"abc", &type), (std::vector<BYTE>{'a', 0, 'b', 0, 'c', 0, 0, 0}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  DWORD enumeration = 0;
  EXPECT_TRUE(Registry::GetValueRegType(HKEY_CURRENT_USER, L"Software\\Bin", L"abc", enumeration));
  EXPECT_EQ(enumeration, static_cast<DWORD>(Registry::REG_VALUE_TYPE_BINARY));

  EXPECT_TRUE(Registry::SetBinaryKeyValFromString(HKEY_CURRENT_USER, L"Software\\Bin", L"empty", L""));
  EXPECT_TRUE(RawValue(L"Software\\Bin", L"empty").empty());
  // Outside the basic plane a character takes two units.
  EXPECT_TRUE(Registry::SetBinaryKeyValFromString(HKEY_CURRENT_USER, L"Software\\Bin", L"smile", L"\U0001F600"));
  EXPECT_EQ(RawValue(L"Software\\Bin", L"smile"), (std::vector<BYTE>{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
  EXPECT_TRUE(Registry::SetBinaryKeyValFromStringA(HKEY_CURRENT_USER, "Software\\Bin", "narrow", "abc"));
  EXPECT_EQ(RawValue(L"Software\\Bin", L"narrow"), (std::vector<BYTE>{'a', 'b', 'c', 0}));
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(RegistryAccessTest, MultiStringsRoundTripAndEndAtTheFirstEmptyString) {
  const std::vector<std::wstring> texts = {L"alpha", L"b\u00e9ta", L"gamma"};
  EXPECT_TRUE(Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"List", texts));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{4, "SetMultiStringKeyVal - Registry key Software\\Multi does not exist"}}));
  const wchar_t block[] = L"alpha\0b\u00e9ta\0gamma\0";
  const std::vector<BYTE> expected(reinterpret_cast<const BYTE*>(block),
                                   reinterpret_cast<const BYTE*>(block) + sizeof block);
  EXPECT_EQ(RawValue(L"Software\\Multi", L"List"), expected);
  std::vector<std::wstring> read{L"stale"};
  EXPECT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"List", read));
  EXPECT_EQ(read, texts);
  std::vector<std::string> narrow;
  EXPECT_TRUE(Registry::GetMultiStringKeyValA(HKEY_CURRENT_USER, "Software\\Multi", "list", narrow));
  EXPECT_EQ(narrow, (std::vector<std::string>{"alpha", "b\xC3\xA9ta", "gamma"}));

  // A block written by someone else with an empty string inside ends there.
  const wchar_t gap[] = L"one\0\0two\0";
  WriteRaw(L"Software\\Multi", L"Gap", REG_MULTI_SZ, gap, sizeof gap);
  EXPECT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"Gap", read));
  EXPECT_EQ(read, std::vector<std::wstring>{L"one"});

  EXPECT_TRUE(Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"None", {}));
  EXPECT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"None", read));
  EXPECT_TRUE(read.empty());
  EXPECT_TRUE(TakeLines().empty());

  // Writing such a gap would lose every later text: refused.
  EXPECT_THROW(Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"List", {L"a", L"", L"c"}),
               KestBase::InvalidParameterException);
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{1, "SetMultiStringKeyVal - Invalid argument detected for parameter p_vecValues."}}));
  EXPECT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, L"Software\\Multi", L"List", read));
  EXPECT_EQ(read, texts);
}

TEST_F(RegistryAccessTest, StringGettersReadLongAndUnterminatedTextsAndCheckTheirType) {
  const std::wstring longText(1000, L'z');
  EXPECT_TRUE(Registry::SetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Long", longText));
  std::wstring read;
  EXPECT_TRUE(Registry::GetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Long", read));
  EXPECT_EQ(read, longText);

  const wchar_t bare[] = {L'n', L'o', L'n', L'u', L'l'};
  WriteRaw(L"Software\\Str", L"Bare", REG_SZ, bare, sizeof bare);
  EXPECT_TRUE(Registry::GetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Bare", read));
  EXPECT_EQ(read, L"nonul");

  const std::wstring expandable = L"%HOME%\\mail";
  WriteRaw(L"Software\\Str", L"Exp", REG_EXPAND_SZ, expandable.c_str(),
           static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
  EXPECT_TRUE(Registry::GetExpandStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Exp", read));
  EXPECT_EQ(read, expandable);
  TakeLines();
  EXPECT_THROW(Registry::GetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Exp", read),
               KestUtils::RegValueTypeMismatch);
  EXPECT_THROW(Registry::GetExpandStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"Long", read),
               KestUtils::RegValueTypeMismatch);
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{
                {1, "GetStringKeyVal - Registry key Software\\Str value name Exp type 5 is not a string type"},
                {1, "GetExpandStringKeyVal - Registry key Software\\Str value name Long type 1 is not an expand "
                    "string type"},
            }));

  // SetKeyVal is the same writer under its own name.
  EXPECT_TRUE(Registry::SetKeyValA(HKEY_CURRENT_USER, "Software\\Str", "Narrow", "gr\xC3\xBC\xC3\x9F"));
  EXPECT_TRUE(Registry::GetStringKeyVal(HKEY_CURRENT_USER, L"Software\\Str", L"NARROW", read));
  EXPECT_EQ(read, L"gr\u00fc\u00df");
  std::string narrow;
  EXPECT_TRUE(Registry::GetStringKeyValA(HKEY_CURRENT_USER, "Software\\Str", "Long", narrow));
  EXPECT_EQ(narrow, std::string(1000, 'z'));
}

TEST_F(RegistryAccessTest, UnsupportedTypesReportZeroAndMismatchEveryGetter) {
  const ULONGLONG big = 1;
  WriteRaw(L"Software\\Odd", L"Q", REG_QWORD, &big, sizeof big);
  DWORD enumeration = 99;
  EXPECT_TRUE(Registry::GetValueRegType(HKEY_CURRENT_USER, L"Software\\Odd", L"Q", enumeration));
  EXPECT_EQ(enumeration, static_cast<DWORD>(Registry::REG_VALUE_TYPE_UNSUPPORTED));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{1, "GetValueRegType - Invalid type 11 for registry key Software\\Odd value name Q"}}));
  DWORD value = 0;
  EXPECT_THROW(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Odd", L"Q", value),
               KestUtils::RegValueTypeMismatch);

  struct Case {
    DWORD registryType;
    DWORD enumeration;
  };
  const Case cases[] = {{REG_SZ, 1}, {REG_BINARY, 2}, {REG_DWORD, 3}, {REG_MULTI_SZ, 4}, {REG_EXPAND_SZ, 5},
                        {REG_NONE, 0}};
  const DWORD zero = 0;
  for (const Case& c : cases) {
    WriteRaw(L"Software\\Odd", L"T", c.registryType, &zero, sizeof zero);
    EXPECT_TRUE(Registry::GetValueRegType(HKEY_CURRENT_USER, L"Software\\Odd", L"T", enumeration));
    EXPECT_EQ(enumeration, c.enumeration) << "registry type " << c.registryType;
  }
}

TEST_F(RegistryAccessTest, DeleteKeyRemovesANestedTreeDepthFirst) {
  EXPECT_TRUE(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Suite\\Tree\\A\\A1", L"v", 1));
  EXPECT_TRUE(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Suite\\Tree\\A\\A2\\Deep", L"v", 2));
  EXPECT_TRUE(Registry::CreateKey(HKEY_CURRENT_USER, L"Software\\Suite\\Tree\\B"));
  EXPECT_TRUE(Registry::SetDwordKeyVal(HKEY_CURRENT_USER, L"Software\\Suite\\Keep", L"v", 3));
  TakeLines();

  EXPECT_TRUE(Registry::DeleteKey(HKEY_CURRENT_USER, L"Software\\Suite\\Tree"));
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, L"Software\\Suite\\Tree"));
  EXPECT_EQ(TakeLines(), (std::vector<LogLine>{{4, "DoesKeyExist - Calling RegOpenKeyExW for key Software\\Suite\\Tree "
                                                   "failed with error 2"}}));
  std::vector<std::wstring> names;
  Registry::GetSubKeyNames(HKEY_CURRENT_USER, L"Software\\Suite", names);
  EXPECT_EQ(names, std::vector<std::wstring>{L"Keep"});

  EXPECT_FALSE(Registry::DeleteKeyA(HKEY_CURRENT_USER, "Software\\Suite\\Tree"));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{
                {1, "GetSubKeyNamesA - Calling RegOpenKeyExW for key Software\\Suite\\Tree failed with error 2"},
                {1, "DeleteKeyA - Calling RegDeleteValue for key value Software\\Suite\\Tree failed with "
                    "error 2"},
            }));
}

TEST_F(RegistryAccessTest, SubKeyNamesOfALeafAreEmptyAndStaleEntriesAreCleared) {
  EXPECT_TRUE(Registry::CreateKey(HKEY_CURRENT_USER, L"Software\\Suite\\Leaf"));
  std::vector<std::wstring> names{L"stale"};
  Registry::GetSubKeyNames(HKEY_CURRENT_USER, L"Software\\Suite\\Leaf", names);
  EXPECT_TRUE(names.empty());
  std::vector<std::string> narrowNames{"stale"};
  Registry::GetSubKeyNamesA(HKEY_CURRENT_USER, "Software\\Suite", narrowNames);
  EXPECT_EQ(narrowNames, std::vector<std::string>{"Leaf"});
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(RegistryAccessTest, ExistenceTestsLogAndNeverThrowForMissingThings) {
  EXPECT_TRUE(Registry::SetDwordKeyValA(HKEY_LOCAL_MACHINE, "Software\\Exists", "Here", 1));
  TakeLines();
  EXPECT_TRUE(Registry::DoesValNameExist(HKEY_LOCAL_MACHINE, L"Software\\Exists", L"HERE"));
  EXPECT_FALSE(Registry::DoesValNameExist(HKEY_LOCAL_MACHINE, L"Software\\Exists", L"Gone"));
  EXPECT_FALSE(Registry::DoesValNameExistA(HKEY_LOCAL_MACHINE, "Software\\Missing", "Here"));
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{
                {4, "DoesValNameExist - Calling RegQueryValueExW for key Software\\Exists value name Gone failed "
                    "with error 2"},
                {4, "DoesValNameExistA - Calling RegOpenKeyExW for key Software\\Missing failed with error 2"},
            }));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Exists", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::wstring text{L"stale"};
  EXPECT_FALSE(Registry::GetKeyVal(key, L"Gone", text));
  EXPECT_TRUE(text.empty());
  RegCloseKey(key);
  EXPECT_EQ(TakeLines(),
            (std::vector<LogLine>{{1, "GetKeyVal - Calling RegQueryValueExW for key value Gone failed with error 2"}}));
}

}  // namespace
