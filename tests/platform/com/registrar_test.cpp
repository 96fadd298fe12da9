// The registrar: script parsing, registration and exact removal, on a real
// registry store in a private KESTNET_HOME.
#include <gtest/gtest.h>

#include "tests/platform/com/com_test_support.h"
#include "tests/platform/com/registry_snapshot.h"

namespace kestnet::platform::testing {
namespace {

constexpr const wchar_t* kClassScript = LR"(
HKCR
{
  Kest.Sample.1 = s 'Sample Class'
  {
    CLSID = s '{7F5EF417-B9EF-4cd1-972F-BAAE33D8523F}'
  }
  NoRemove CLSID
  {
    ForceRemove {7F5EF417-B9EF-4cd1-972F-BAAE33D8523F} = s 'Sample Class'
    {
      ProgID = s 'Kest.Sample.1'
      ForceRemove 'Programmable'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
      val AppID = s '%APPID%'
      val Flags = d '0x20'
      val Blob = b '00FF10'
      val Names = m 'one\0two'
    }
  }
  NoRemove AppID
  {
    '%APPID%' = s 'It''s KestNetX'
  }
}
)";

class RegistrarTest : public ComTest {
 protected:
  Registrar MakeRegistrar() {
    Registrar registrar;
    registrar.AddReplacement(L"MODULE", L"libSample.so");
    registrar.AddReplacement(L"appid", L"{4D912A20-7BAB-4353-8A03-FEFE588E8503}");
    return registrar;
  }
};

TEST_F(RegistrarTest, RegistersKeysValuesAndReplacements) {
  Registrar registrar = MakeRegistrar();
  ASSERT_EQ(registrar.StringRegister(kClassScript), S_OK);
  const std::wstring clsidKey = L"CLSID\\{7F5EF417-B9EF-4cd1-972F-BAAE33D8523F}";
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Kest.Sample.1", nullptr), L"Sample Class");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Kest.Sample.1\\CLSID", nullptr), L"{7F5EF417-B9EF-4cd1-972F-BAAE33D8523F}");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr), L"libSample.so");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, clsidKey, L"AppID"), L"{4D912A20-7BAB-4353-8A03-FEFE588E8503}");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsidKey + L"\\Programmable"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"AppID\\{4D912A20-7BAB-4353-8A03-FEFE588E8503}", nullptr),
            L"It's KestNetX");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, clsidKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD flags = 0;
  DWORD size = sizeof flags;
  EXPECT_EQ(RegQueryValueExW(key, L"Flags", nullptr, &type, reinterpret_cast<BYTE*>(&flags), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(flags, 0x20u);
  BYTE blob[8] = {};
  size = sizeof blob;
  EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, blob, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(blob[1], 0xFF);
  wchar_t names[32] = {};
  size = sizeof names;
  EXPECT_EQ(RegQueryValueExW(key, L"Names", nullptr, &type, reinterpret_cast<BYTE*>(names), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(std::wstring(names, size / sizeof(wchar_t)), std::wstring(L"one\0two\0\0", 9));
  RegCloseKey(key);
}

TEST_F(RegistrarTest, RemovalRestoresTheStoreExceptNoRemoveKeys) {
  // Someone else's class under the same NoRemove parent, and foreign data
  // under a key the script also writes to.
  Registrar other;
  ASSERT_EQ(other.StringRegister(L"HKCR { NoRemove CLSID { {11111111-2222-3333-4444-555555555555} = s 'Other' } "
                                 L"Kest.Sample.1 { val Foreign = s 'keep me' } }"),
            S_OK);
  std::set<std::wstring> before = Snapshot(HKEY_CLASSES_ROOT);

  Registrar registrar = MakeRegistrar();
  ASSERT_EQ(registrar.StringRegister(kClassScript), S_OK);
  ASSERT_EQ(registrar.StringUnregister(kClassScript), S_OK);

  std::set<std::wstring> after = Snapshot(HKEY_CLASSES_ROOT);
  // AppID is NoRemove: the key the script created stays, empty.
  std::set<std::wstring> expected = before;
  expected.insert(L"\\AppID");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Kest.Sample.1", L"Foreign"), L"keep me");
  // The script's default value on the shared key went with the removal.
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Kest.Sample.1", nullptr), L"<no value>");
}

TEST_F(RegistrarTest, ForceRemoveClearsStaleContentOnRegistration) {
  Registrar registrar = MakeRegistrar();
  ASSERT_EQ(registrar.StringRegister(
                L"HKCR { NoRemove CLSID { {7F5EF417-B9EF-4cd1-972F-BAAE33D8523F} { Stale = s 'old' } } }"),
            S_OK);
  ASSERT_EQ(registrar.StringRegister(kClassScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{7F5EF417-B9EF-4cd1-972F-BAAE33D8523F}\\Stale"));
}

TEST_F(RegistrarTest, RemovalOfWhatIsNotThereSucceeds) {
  Registrar registrar = MakeRegistrar();
  EXPECT_EQ(registrar.StringUnregister(kClassScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Kest.Sample.1"));
}

TEST_F(RegistrarTest, DeleteKeywordRemovesAtRegistrationOnly) {
  Registrar registrar;
  ASSERT_EQ(registrar.StringRegister(L"HKCU { Software { Kest { Old { Child = s 'x' } } } }"), S_OK);
  ASSERT_EQ(registrar.StringRegister(L"HKCU { NoRemove Software { NoRemove Kest { Delete Old } } }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Kest\\Old"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Kest"));
}

struct BadScript {
  const char* name;
  const wchar_t* text;
};

class RegistrarSyntax : public RegistrarTest, public ::testing::WithParamInterface<BadScript> {};

TEST_P(RegistrarSyntax, RefusesBeforeWritingAnything) {
  std::set<std::wstring> before = Snapshot(HKEY_CLASSES_ROOT);
  Registrar registrar = MakeRegistrar();
  EXPECT_EQ(registrar.StringRegister(GetParam().text), DISP_E_EXCEPTION);
  EXPECT_FALSE(registrar.LastParseError().message.empty());
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), before);
}

const BadScript kBadScripts[] = {
    {"UnknownRoot", L"HKXX { A = s 'b' }"},
    {"MissingClosingBrace", L"HKCR { Good = s 'x' { Inner = s 'y' }"},
    {"UnterminatedQuote", L"HKCR { A = s 'never ends }"},
    {"UnknownType", L"HKCR { A = q 'x' }"},
    {"BadDword", L"HKCR { A { val V = d 'twelve' } }"},
    {"NegativeDword", L"HKCR { A { val V = d '-1' } }"},
    {"OddBinary", L"HKCR { A { val V = b '0FF' } }"},
    {"UnknownVariable", L"HKCR { A = s '%NOSUCH%' }"},
    {"UnterminatedVariable", L"HKCR { A = s '%MODULE' }"},
    {"KeyNameWithBackslash", L"HKCR { 'A\\B' = s 'x' }"},
    {"ValueAtRootLevel", L"HKCR { val V = s 'x' }"},
    {"WritesBeforeTheError", L"HKCR { Written = s 'x' } HKCR { Broken = }"},
};

INSTANTIATE_TEST_SUITE_P(Table, RegistrarSyntax, ::testing::ValuesIn(kBadScripts),
                         [](const ::testing::TestParamInfo<BadScript>& param) { return std::string(param.param.name); });

TEST_F(RegistrarTest, ReplacementTableDrivesRegistrationAndRemoval) {
  const _ATL_REGMAP_ENTRY entries[] = {{L"MODULE", L"libTable.so"}, {nullptr, nullptr}};
  const wchar_t* script = L"HKCR { Kest.Table = s '%MODULE%' }";
  ASSERT_EQ(UpdateRegistryFromScript(script, TRUE, entries), S_OK);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Kest.Table", nullptr), L"libTable.so");
  ASSERT_EQ(UpdateRegistryFromScript(script, FALSE, entries), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Kest.Table"));
  EXPECT_EQ(UpdateRegistryFromScript(script, TRUE, nullptr), DISP_E_EXCEPTION);
}

TEST_F(RegistrarTest, PercentPercentIsALiteralPercent) {
  Registrar registrar;
  ASSERT_EQ(registrar.StringRegister(L"HKCU { Software { Pct = s '100%%' } }"), S_OK);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, L"Software\\Pct", nullptr), L"100%");
  EXPECT_EQ(registrar.StringRegister(nullptr), E_POINTER);
}

}  // namespace
}  // namespace kestnet::platform::testing
