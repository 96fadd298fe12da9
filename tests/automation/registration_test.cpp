// Registration of the module: exactly the keys of the class scripts and the
// application id script, what unregistration leaves, the calling thread's
// locale, and the shared library's exports used the way a host uses them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "automation/module.h"
#include "automation/registry_scripts.h"
#include "automation/thread_locale.h"
#include "automation/typelib_ids.h"
#include "tests/automation/probe_object.h"
#include "tests/platform/com/registry_snapshot.h"

namespace probe {
namespace {

using KestAXLib::CKestNetXModule;
using kestnet::platform::testing::KeyExists;
using kestnet::platform::testing::Snapshot;

constexpr const wchar_t* kPingClsid = L"{2E13BB93-7F91-4dfb-B754-5135B0453D22}";
constexpr const wchar_t* kDnsClsid = L"{7F5EF417-B9EF-4cd1-972F-BAAE33D8523F}";
// KestNetMessageData is in the object map of every build (message_data.cpp).
constexpr const wchar_t* kMessageDataClsid = L"{D8BBD5A6-E1C1-46b0-B0AA-06312AF38940}";
// KestNetTcpClientSocket likewise (tcp_client_socket_object.cpp).
constexpr const wchar_t* kTcpClientSocketClsid = L"{E0537AC6-146B-499e-8680-917BAE9706A1}";
// And the mail objects (pop3_object.cpp, smtp_object.cpp and their secure variants).
constexpr const wchar_t* kPop3Clsid = L"{63C75619-EC16-4095-9B0A-E615E47B3978}";
constexpr const wchar_t* kSmtpClsid = L"{08A3018D-4E94-4b14-BE09-E188C04BF3A1}";
constexpr const wchar_t* kPop3ExClsid = L"{07F5B4EE-E21B-49c8-B49F-21D0CE33380D}";
constexpr const wchar_t* kSmtpExClsid = L"{DC75A096-D389-401b-8601-B2C600E22424}";
// And the Windows network object with the host object its lookups hand out.
constexpr const wchar_t* kWindowsNetworkClsid = L"{1C6FA6AF-3627-4571-A17B-B10C77157EFE}";
constexpr const wchar_t* kWindowsNetworkHostClsid = L"{3B04BC59-D506-475c-9474-050DF64B13EC}";
constexpr const wchar_t* kAppId = L"{4D912A20-7BAB-4353-8A03-FEFE588E8503}";
constexpr const wchar_t* kLibId = L"{E1171533-559F-422a-BF2E-6B624534523D}";

// The lines of the snapshot under the keys a class or AppID script writes.
std::set<std::wstring> ScriptedLines() {
  std::set<std::wstring> lines;
  for (const std::wstring& line : Snapshot(HKEY_CLASSES_ROOT)) {
    if (line.starts_with(L"\\KestNet.") || line.starts_with(L"\\CLSID") || line.starts_with(L"\\AppID")) {
      lines.insert(line);
    }
  }
  return lines;
}

// Every key and value one class script writes, as snapshot lines.
std::set<std::wstring> ClassLines(const std::wstring& coclass, const std::wstring& clsid,
                                  const std::wstring& modulePath) {
  const std::wstring versioned = L"KestNet." + coclass + L".1";
  const std::wstring independent = L"KestNet." + coclass;
  const std::wstring description = coclass + L" Class";
  const std::wstring key = L"\\CLSID\\" + clsid;
  return {
      L"\\" + versioned,
      L"\\" + versioned + L" [] 1 " + description,
      L"\\" + versioned + L"\\CLSID",
      L"\\" + versioned + L"\\CLSID [] 1 " + clsid,
      L"\\" + independent,
      L"\\" + independent + L" [] 1 " + description,
      L"\\" + independent + L"\\CLSID",
      L"\\" + independent + L"\\CLSID [] 1 " + clsid,
      L"\\" + independent + L"\\CurVer",
      L"\\" + independent + L"\\CurVer [] 1 " + versioned,
      key,
      key + L" [] 1 " + description,
      key + L" [AppID] 1 " + kAppId,
      key + L"\\ProgID",
      key + L"\\ProgID [] 1 " + versioned,
      key + L"\\VersionIndependentProgID",
      key + L"\\VersionIndependentProgID [] 1 " + independent,
      key + L"\\Programmable",
      key + L"\\InprocServer32",
      key + L"\\InprocServer32 [] 1 " + modulePath,
      key + L"\\InprocServer32 [ThreadingModel] 1 Apartment",
      key + L"\\TypeLib",
      key + L"\\TypeLib [] 1 " + kLibId,
  };
}

class RegistrationTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    // Two classes of the table enter the map, served by the probe.
    auto& module = CKestNetXModule::Instance();
    module.AddObjectMapEntry({&CLSID_KestNetPing, &CProbe::_CreatorClass::CreateInstance});
    module.AddObjectMapEntry({&CLSID_KestNetDNS, &CProbe::_CreatorClass::CreateInstance});
    modulePath_ = std::wstring(home_.begin(), home_.end()) + L"/libKestNetX.so";
  }

  std::wstring modulePath_;
};

TEST_F(RegistrationTest, WritesExactlyTheKeysOfTheClassScriptsAndTheAppId) {
  ASSERT_EQ(ScriptedLines(), std::set<std::wstring>{});
  ASSERT_EQ(CKestNetXModule::Instance().RegisterServer(modulePath_), S_OK);

  std::set<std::wstring> expected = {
      L"\\AppID",
      std::wstring(L"\\AppID\\") + kAppId,
      std::wstring(L"\\AppID\\") + kAppId + L" [] 1 KestNetX",
      L"\\AppID\\KestNetX.DLL",
      std::wstring(L"\\AppID\\KestNetX.DLL [AppID] 1 ") + kAppId,
      L"\\CLSID",
  };
  expected.merge(ClassLines(L"KestNetPing", kPingClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetDNS", kDnsClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetMessageData", kMessageDataClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetTcpClientSocket", kTcpClientSocketClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetPOP3", kPop3Clsid, modulePath_));
  expected.merge(ClassLines(L"KestNetSMTP", kSmtpClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetPOP3Ex", kPop3ExClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetSMTPEx", kSmtpExClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetWindowsNetworkHost", kWindowsNetworkHostClsid, modulePath_));
  expected.merge(ClassLines(L"KestNetWindowsNetwork", kWindowsNetworkClsid, modulePath_));
  EXPECT_EQ(ScriptedLines(), expected);

  // The type library is registered with the module's path.
  BSTR path = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KestNet, 1, 0, 0, &path), S_OK);
  EXPECT_EQ(std::wstring(path), modulePath_);
  SysFreeString(path);
}

TEST_F(RegistrationTest, UnregistrationLeavesTheNoRemoveKeysAndNothingElse) {
  ASSERT_EQ(CKestNetXModule::Instance().RegisterServer(modulePath_), S_OK);
  // Someone else's class under CLSID and entry under AppID must survive.
  kestnet::platform::Registrar other;
  ASSERT_EQ(other.StringRegister(LR"(HKCR
{
  NoRemove CLSID { '{11111111-2222-3333-4444-555555555555}' = s 'Other Class' }
  NoRemove AppID { 'Other.DLL' { val AppID = s 'other' } }
})"),
            S_OK);
  ASSERT_EQ(CKestNetXModule::Instance().UnregisterServer(modulePath_), S_OK);
  EXPECT_EQ(ScriptedLines(), (std::set<std::wstring>{
                                 L"\\AppID",
                                 L"\\AppID\\Other.DLL",
                                 L"\\AppID\\Other.DLL [AppID] 1 other",
                                 L"\\CLSID",
                                 L"\\CLSID\\{11111111-2222-3333-4444-555555555555}",
                                 L"\\CLSID\\{11111111-2222-3333-4444-555555555555} [] 1 Other Class",
                             }));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId));
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredSucceeds) {
  EXPECT_EQ(CKestNetXModule::Instance().UnregisterServer(modulePath_), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KestNet.KestNetPing"));
}

TEST_F(RegistrationTest, TheCallersThreadLocaleIsUnchangedAfterEitherAlsoOnFailure) {
  constexpr LCID kCallerLocale = 0x0409;
  ASSERT_TRUE(SetThreadLocale(kCallerLocale));
  auto& module = CKestNetXModule::Instance();
  EXPECT_EQ(module.RegisterServer(modulePath_), S_OK);
  EXPECT_EQ(GetThreadLocale(), kCallerLocale);
  EXPECT_EQ(module.UnregisterServer(modulePath_), S_OK);
  EXPECT_EQ(GetThreadLocale(), kCallerLocale);

  // A class whose script is broken stops registration at that class; the
  // classes before it stay registered.
  const KestAXLib::KestNetClassInfo* ping = KestAXLib::FindKestNetClass(CLSID_KestNetPing);
  const KestAXLib::KestNetClassInfo* dns = KestAXLib::FindKestNetClass(CLSID_KestNetDNS);
  std::vector<KestAXLib::ClassRegistration> classes = {
      {ping, KestAXLib::ClassRegistryScript(*ping)},
      {dns, L"HKCR { KestNet.KestNetDNS = s 'unterminated }"},
  };
  EXPECT_TRUE(FAILED(module.RegisterClasses(modulePath_, classes)));
  EXPECT_EQ(GetThreadLocale(), kCallerLocale);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kPingClsid));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kDnsClsid));
  EXPECT_TRUE(FAILED(module.UnregisterClasses(modulePath_, classes)));
  EXPECT_EQ(GetThreadLocale(), kCallerLocale);
  SetThreadLocale(LOCALE_USER_DEFAULT);
}

TEST(RegistryScriptTest, ScriptsAreFoundByResourceIdWithTheThirdGuidGroupInLowerCase) {
  EXPECT_EQ(KestAXLib::ScriptGuidText(CLSID_KestNetDNS), kDnsClsid);
  EXPECT_EQ(KestAXLib::ScriptGuidText(LIBID_KestNet), kLibId);
  EXPECT_EQ(KestAXLib::RegistryScript(101), KestAXLib::AppIdRegistryScript());
  const std::wstring tcp = KestAXLib::RegistryScript(215);
  EXPECT_NE(tcp.find(L"ForceRemove {E0537AC6-146B-499e-8680-917BAE9706A1} = s 'KestNetTcpClientSocket Class'"),
            std::wstring::npos);
  EXPECT_NE(KestAXLib::RegistryScript(233).find(L"KestNet.KestNetWindowsNetworkHost.1"), std::wstring::npos);
  EXPECT_EQ(KestAXLib::RegistryScript(207), L"");
  EXPECT_EQ(KestAXLib::KestNetClasses().size(), 11u);
}

TEST(ThreadLocaleTest, EachThreadHasItsOwnLocaleAndZeroIsRefused) {
  EXPECT_EQ(GetThreadLocale(), LOCALE_USER_DEFAULT);
  {
    KestAXLib::ScopedThreadLocale scoped(LOCALE_SYSTEM_DEFAULT);
    EXPECT_EQ(GetThreadLocale(), LOCALE_SYSTEM_DEFAULT);
    std::thread other([] { EXPECT_EQ(GetThreadLocale(), LOCALE_USER_DEFAULT); });
    other.join();
  }
  EXPECT_EQ(GetThreadLocale(), LOCALE_USER_DEFAULT);
  EXPECT_FALSE(SetThreadLocale(0));
  EXPECT_EQ(GetThreadLocale(), LOCALE_USER_DEFAULT);
}

// The shared library, loaded and called the way a host and regsvr do.
class SharedModuleTest : public RegistrationTest {
 protected:
  void SetUp() override {
    RegistrationTest::SetUp();
    handle_ = dlopen(KESTNET_AUTOMATION_MODULE, RTLD_NOW);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
    RegistrationTest::TearDown();
  }
  template <typename Function>
  Function Export(const char* name) {
    return reinterpret_cast<Function>(dlsym(handle_, name));
  }

  void* handle_ = nullptr;
};

TEST_F(SharedModuleTest, ExportsRegisterTheModuleWithItsOwnPathAndItsTypeLibrary) {
  auto registerServer = Export<DllRegisterServerFunction>("DllRegisterServer");
  auto unregisterServer = Export<DllRegisterServerFunction>("DllUnregisterServer");
  auto canUnload = Export<DllCanUnloadNowFunction>("DllCanUnloadNow");
  auto getClassObject = Export<DllGetClassObjectFunction>("DllGetClassObject");
  ASSERT_NE(registerServer, nullptr);
  ASSERT_NE(unregisterServer, nullptr);
  ASSERT_NE(canUnload, nullptr);
  ASSERT_NE(getClassObject, nullptr);

  ASSERT_EQ(registerServer(), S_OK);
  std::string narrow = std::filesystem::canonical(KESTNET_AUTOMATION_MODULE).string();
  std::wstring modulePath(narrow.begin(), narrow.end());
  EXPECT_EQ(kestnet::platform::testing::ReadText(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kPingClsid +
                                                                        L"\\InprocServer32",
                                                 nullptr),
            modulePath);

  // The type library loads from the module by its registration.
  ATL::CComPtr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(LIBID_KestNet, 1, 0, 0, &library), S_OK);
  EXPECT_EQ(library->GetTypeInfoCount(), 31u);
  library.Release();

  // A class of the map is created through the registry, as a script creates it.
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"KestNet.KestNetDNS", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_KestNetDNS);
  ATL::CComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  // Samba's client libraries wait for a Windows networking call to need them.
  for (const char* samba : {"libsmbclient.so.0", "libnetapi.so.1"}) {
    EXPECT_EQ(dlopen(samba, RTLD_NOW | RTLD_NOLOAD), nullptr) << samba << " loaded with the module";
  }
  object.Release();
  EXPECT_EQ(canUnload(), S_OK);

  void* factory = nullptr;
  EXPECT_EQ(getClassObject(CLSID_KestNetWindowsNetwork2, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kPingClsid));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
}

}  // namespace
}  // namespace probe
