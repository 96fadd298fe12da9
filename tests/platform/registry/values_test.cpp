// Typed values: round trips through the wide and narrow calls, buffer sizing,
// access rights and handles whose key went away.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/registry/registry_fixture.h"

namespace kestnet::platform::testing {
namespace {

using ValuesTest = RegistryTest;

struct RawValue {
  DWORD type = 0;
  std::vector<BYTE> bytes;
};

// The value as query (RegQueryValueExW or RegQueryValueExA) reads it: its
// size first, then its bytes.
template <typename Query, typename Char>
RawValue QueryWith(Query query, HKEY key, const Char* name) {
  RawValue value;
  DWORD size = 0;
  EXPECT_EQ(query(key, name, nullptr, &value.type, nullptr, &size), ERROR_SUCCESS);
  value.bytes.resize(size);
  EXPECT_EQ(query(key, name, nullptr, &value.type, value.bytes.data(), &size), ERROR_SUCCESS);
  value.bytes.resize(size);
  return value;
}
RawValue QueryW(HKEY key, const wchar_t* name) { return QueryWith(&RegQueryValueExW, key, name); }
RawValue QueryA(HKEY key, const char* name) { return QueryWith(&RegQueryValueExA, key, name); }

template <typename T>
std::vector<BYTE> BytesOf(const T* data, std::size_t count) {
  const auto* begin = reinterpret_cast<const BYTE*>(data);
  return std::vector<BYTE>(begin, begin + count * sizeof(T));
}

TEST_F(ValuesTest, EveryTypeReadsBackAsWrittenThroughTheWideCalls) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\RoundTrip");
  const std::wstring text = L"caf\u00e9 \U0001F600 done";
  const wchar_t multi[] = L"one\0tw\u00f6\0three\0";  // three strings and the closing terminator
  const DWORD dword = 0xDEADBEEF;
  const ULONGLONG qword = 0x0123456789ABCDEFull;
  const BYTE binary[] = {0, 1, 2, 0xFF, 0, 0x80};
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> bytes;
  };
  const std::vector<Case> cases = {
      {L"sz", REG_SZ, BytesOf(text.c_str(), text.size() + 1)},
      {L"expand", REG_EXPAND_SZ, BytesOf(L"%HOME%\\x", 9)},
      {L"multi", REG_MULTI_SZ, BytesOf(multi, sizeof multi / sizeof(wchar_t))},
      {L"dword", REG_DWORD, BytesOf(&dword, 1)},
      {L"qword", REG_QWORD, BytesOf(&qword, 1)},
      {L"binary", REG_BINARY, BytesOf(binary, sizeof binary)},
      {L"none", REG_NONE, {}},
      {L"", REG_SZ, BytesOf(L"default", 8)},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size())),
              ERROR_SUCCESS);
  }
  for (const Case& c : cases) {
    const RawValue value = QueryW(key, c.name);
    EXPECT_EQ(value.type, c.type) << std::filesystem::path(c.name).string();
    EXPECT_EQ(value.bytes, c.bytes) << std::filesystem::path(c.name).string();
  }
  // The default value is also reached with a null name.
  EXPECT_EQ(QueryW(key, nullptr).bytes, BytesOf(L"default", 8));
}

TEST_F(ValuesTest, NarrowCallsSeeUtf8AndWideCallsSeeWideText) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Forms");
  SetString(key, L"wide", L"gr\u00fc\u00df");
  const RawValue narrow = QueryA(key, "wide");
  EXPECT_EQ(narrow.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(narrow.bytes.begin(), narrow.bytes.end()), std::string("gr\xC3\xBC\xC3\x9F\0", 7));

  const char utf8[] = "\xCE\xB1\xCE\xB2";  // alpha beta
  ASSERT_EQ(RegSetValueExA(key, "narrow", 0, REG_SZ, reinterpret_cast<const BYTE*>(utf8), sizeof utf8),
            ERROR_SUCCESS);
  const RawValue wide = QueryW(key, L"narrow");
  EXPECT_EQ(wide.bytes, BytesOf(L"\u03b1\u03b2", 3));
  EXPECT_EQ(GetString(key, L"narrow"), L"\u03b1\u03b2");

  // Binary data is the same bytes in both forms.
  const BYTE binary[] = {'a', 0, 'b'};
  ASSERT_EQ(RegSetValueExA(key, "bin", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  EXPECT_EQ(QueryW(key, L"bin").bytes, BytesOf(binary, sizeof binary));
}

TEST_F(ValuesTest, TextThatIsNotValidUnicodeIsKeptOrRefusedNeverGarbled) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Odd Text");
  // Stray narrow bytes read through the wide calls as replacement characters.
  const char stray[] = "a\xFF\xC3";
  ASSERT_EQ(RegSetValueExA(key, "stray", 0, REG_SZ, reinterpret_cast<const BYTE*>(stray), sizeof stray),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryW(key, L"stray").bytes, BytesOf(L"a\uFFFD\uFFFD", 4));
  EXPECT_EQ(QueryA(key, "stray").bytes, BytesOf(stray, sizeof stray));

  // A lone surrogate is a wide unit a caller may store: it reads back as written.
  const wchar_t surrogate[] = {L'x', static_cast<wchar_t>(0xD800), 0};
  ASSERT_EQ(RegSetValueExW(key, L"surrogate", 0, REG_SZ, reinterpret_cast<const BYTE*>(surrogate), sizeof surrogate),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryW(key, L"surrogate").bytes, BytesOf(surrogate, 3));

  // Beyond U+10FFFF there is no character: refused, in data and in names.
  const wchar_t beyond[] = {static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(RegSetValueExW(key, L"beyond", 0, REG_SZ, reinterpret_cast<const BYTE*>(beyond), sizeof beyond),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, beyond, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(ValueNames(key), (std::vector<std::wstring>{L"stray", L"surrogate"}));
}

TEST_F(ValuesTest, QueryReportsNeededSizeWithMoreDataAndSizeQueries) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Sizes");
  SetString(key, L"text", L"abcdef");
  const DWORD needed = 7 * sizeof(wchar_t);

  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  BYTE small[8] = {};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, small, &size), static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, needed);

  std::vector<BYTE> exact(needed);
  size = needed;
  EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, exact.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);

  // Narrow sizes count UTF-8 bytes.
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);

  // Data without a size to go with it is refused; type alone is fine.
  EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, exact.data(), nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(ValuesTest, MissingValuesAndDeletedValuesAreFileNotFound) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Missing");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"absent", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegQueryValueExW(key, L"", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  SetDword(key, L"n", 5);
  EXPECT_EQ(RegDeleteValueW(key, L"N"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"n", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteValueW(key, L"n"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ValuesTest, OverwriteKeepsOneValueWithNewTypeAndData) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Overwrite");
  SetString(key, L"Setting", L"first");
  SetDword(key, L"SETTING", 9);
  EXPECT_EQ(ValueNames(key), std::vector<std::wstring>{L"Setting"});
  const RawValue value = QueryW(key, L"setting");
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
  DWORD nine = 9;
  EXPECT_EQ(value.bytes, BytesOf(&nine, 1));
}

TEST_F(ValuesTest, WideStringDataOfPartialCharacterIsRefused) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Partial");
  const wchar_t text[] = L"ab";
  EXPECT_EQ(RegSetValueExW(key, L"odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegSetValueExW(key, L"null", 0, REG_BINARY, nullptr, 4), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(ValueNames(key).empty());
}

TEST_F(ValuesTest, ReadOnlyHandleCannotWrite) {
  Create(HKEY_CURRENT_USER, L"Software\\Guarded");
  HKEY reader = Open(HKEY_CURRENT_USER, L"Software\\Guarded", KEY_READ);
  const DWORD value = 1;
  EXPECT_EQ(RegSetValueExW(reader, L"x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteValueW(reader, L"x"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(reader, L"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(reader, L""), static_cast<LONG>(ERROR_ACCESS_DENIED));

  HKEY writer = Open(HKEY_CURRENT_USER, L"Software\\Guarded", KEY_SET_VALUE);
  EXPECT_EQ(RegSetValueExW(writer, L"x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(writer, L"x", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegQueryValueExW(reader, L"x", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
}

TEST_F(ValuesTest, HandleOfDeletedKeyReportsKeyDeletedEvenAfterRecreation) {
  HKEY doomed = Create(HKEY_CURRENT_USER, L"Software\\Doomed");
  SetDword(doomed, L"v", 1);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Doomed"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_KEY_DELETED));
  const DWORD value = 2;
  EXPECT_EQ(RegSetValueExW(doomed, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            static_cast<LONG>(ERROR_KEY_DELETED));
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(doomed, L"c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            static_cast<LONG>(ERROR_KEY_DELETED));

  // A new key of the same name is a different key.
  HKEY reborn = Create(HKEY_CURRENT_USER, L"Software\\Doomed");
  SetDword(reborn, L"v", 3);
  EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_KEY_DELETED));
}

TEST_F(ValuesTest, ClosedAndForeignHandlesAreInvalid) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Closing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegQueryValueExW(nullptr, L"v", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegFlushKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, L"x", 0, KEY_READ, &key), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(ValuesTest, QwordCounterAddsInPlaceAndRefusesOtherTypes) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Counter");
  ULONGLONG result = 0;
  EXPECT_EQ(RegAddToQwordValueW(key, L"hits", 5, &result), ERROR_SUCCESS);
  EXPECT_EQ(result, 5u);
  EXPECT_EQ(RegAddToQwordValueW(key, L"HITS", -2, &result), ERROR_SUCCESS);
  EXPECT_EQ(result, 3u);
  SetDword(key, L"dword", 1);
  EXPECT_EQ(RegAddToQwordValueW(key, L"dword", 1, &result), static_cast<LONG>(ERROR_INVALID_DATATYPE));
  EXPECT_EQ(ValueNames(key), (std::vector<std::wstring>{L"hits", L"dword"}));
}

}  // namespace
}  // namespace kestnet::platform::testing
