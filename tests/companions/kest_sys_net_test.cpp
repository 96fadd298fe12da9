// The KestSysNet module through COM, as the resolver and the host lookup use
// it: created by class id, asked for its interface, called by vtable slot.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns.h"
#include "platform/com/com.h"
#include "platform/os/utf8.h"
#include "platform/registry/registry.h"
#include "tests/companions/sys_net_module.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::companions::testing {

HRESULT (kestnet::platform::Registrar::*g_hostRegistrar)(LPCOLESTR) = &kestnet::platform::Registrar::StringRegister;

namespace {

using DnsServersGetter = HRESULT (*)(void*, VARIANT*);
using MacAddressLookup = HRESULT (*)(void*, BSTR, VARIANT*);

constexpr const wchar_t* kClassId = L"{f7808d00-b85d-4584-8255-a6e52b042fde}";
constexpr const wchar_t* kInterfaceId = L"{01bb2f8b-a412-4c6b-adc7-aa6e77fad1a4}";

std::vector<std::wstring> TextsOf(const VARIANT& p_array) {
  std::vector<std::wstring> texts;
  EXPECT_EQ(p_array.vt, VT_ARRAY | VT_VARIANT);
  if (p_array.vt != (VT_ARRAY | VT_VARIANT)) return texts;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(p_array.parray, 1, &lower);
  SafeArrayGetUBound(p_array.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    VARIANT element;
    VariantInit(&element);
    EXPECT_EQ(SafeArrayGetElement(p_array.parray, &i, &element), S_OK);
    EXPECT_EQ(element.vt, VT_BSTR);
    if (element.vt == VT_BSTR) texts.emplace_back(element.bstrVal, SysStringLen(element.bstrVal));
    VariantClear(&element);
  }
  return texts;
}

class KestSysNetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override {
    if (m_pNetwork != nullptr) m_pNetwork->Release();
    m_module.Unload();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  void CreateNetwork() {
    CLSID clsid{};
    IID iid{};
    ASSERT_EQ(CLSIDFromString(kClassId, &clsid), S_OK);
    ASSERT_EQ(IIDFromString(kInterfaceId, &iid), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(unknown->QueryInterface(iid, reinterpret_cast<void**>(&m_pNetwork)), S_OK);
    unknown->Release();
  }
  template <typename Function>
  Function Slot(int p_index) {
    return reinterpret_cast<Function>((*reinterpret_cast<void***>(m_pNetwork))[p_index]);
  }

  kestnet::testing::TemporaryHome m_home;
  SysNetModule m_module;
  IUnknown* m_pNetwork = nullptr;
};

TEST_F(KestSysNetTest, SlotThirtySevenAnswersTheConfiguredIPv4ServersInOrder) {
  ASSERT_TRUE(m_module.Load("nameserver 10.0.0.53\nnameserver ::1\nnameserver 10.0.0.54\n", ""));
  CreateNetwork();
  VARIANT servers;
  VariantInit(&servers);
  ASSERT_EQ(Slot<DnsServersGetter>(37)(m_pNetwork, &servers), S_OK);
  EXPECT_EQ(TextsOf(servers), (std::vector<std::wstring>{L"10.0.0.53", L"10.0.0.54"}));
  VariantClear(&servers);
  // A member kept only for its place answers "not implemented".
  EXPECT_EQ(Slot<HRESULT (*)(void*)>(36)(m_pNetwork), E_NOTIMPL);
}

TEST_F(KestSysNetTest, SlotFortySixAnswersACompleteNeighbourOrAnEmptyArray) {
  ASSERT_TRUE(m_module.Load("",
                            "IP address HW type Flags HW address Mask Device\n"
                            "10.0.0.1 0x1 0x2 AA:bb:cc:dd:ee:01 * eth0\n"
                            "10.0.0.2 0x1 0x0 00:00:00:00:00:00 * eth0\n"));
  CreateNetwork();
  const auto lookup = Slot<MacAddressLookup>(46);
  VARIANT found;
  VariantInit(&found);
  BSTR address = SysAllocString(L"10.0.0.1");
  ASSERT_EQ(lookup(m_pNetwork, address, &found), S_OK);
  EXPECT_EQ(TextsOf(found), (std::vector<std::wstring>{L"aa:bb:cc:dd:ee:01"}));
  VariantClear(&found);
  SysFreeString(address);

  address = SysAllocString(L"10.0.0.2");
  ASSERT_EQ(lookup(m_pNetwork, address, &found), S_OK);
  EXPECT_TRUE(TextsOf(found).empty());
  VariantClear(&found);
  SysFreeString(address);

  address = SysAllocString(L"not an address");
  EXPECT_EQ(lookup(m_pNetwork, address, &found), E_INVALIDARG);
  SysFreeString(address);
}

TEST_F(KestSysNetTest, ScriptsReachTheServersByName) {
  ASSERT_TRUE(m_module.Load("nameserver 10.0.0.53\n", ""));
  CreateNetwork();
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(m_pNetwork->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"dnsservers")};
  DISPID id = DISPID_UNKNOWN;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                             nullptr),
            S_OK);
  EXPECT_EQ(TextsOf(result), (std::vector<std::wstring>{L"10.0.0.53"}));
  VariantClear(&result);
  dispatch->Release();
}

TEST_F(KestSysNetTest, TheResolverTakesItsServersFromTheCompanionOnce) {
  ASSERT_TRUE(m_module.Load("nameserver 10.0.0.53\nnameserver 10.0.0.54\n", ""));
  KestNet::Dns dns;
  EXPECT_EQ(dns.GetDnsServers(), (std::vector<std::string>{"10.0.0.53", "10.0.0.54"}));
  // Set servers replace the companion's; Initialize does not run again.
  dns.SetDnsServers({"10.0.0.99"});
  EXPECT_EQ(dns.GetDnsServers(), (std::vector<std::string>{"10.0.0.99"}));
}

TEST_F(KestSysNetTest, AfterUnregistrationTheResolverHasNoServers) {
  ASSERT_TRUE(m_module.Load("nameserver 10.0.0.53\n", ""));
  ASSERT_EQ(m_module.Unregister(), S_OK);
  KestNet::Dns dns;
  EXPECT_TRUE(dns.GetDnsServers().empty());
  std::vector<std::wstring> addresses;
  EXPECT_EQ(dns.ResolveName(L"host.test", 500, addresses, 0, 0), KestNet::DNS_ERROR_NO_SERVERS);
}

// A module installed under a folder whose name is not ASCII registers its
// real path, and COM loads it from there.
TEST_F(KestSysNetTest, AModuleUnderANonAsciiFolderRegistersItsRealPath) {
  kestnet::testing::TemporaryDirectory folder("kestnet-m\xC3\xB3" "dulo-\xE6\xA8\xA1-XXXXXX");
  ASSERT_FALSE(folder.Path().empty());
  const std::filesystem::path copy = folder.Path() / "libKestSysNet.so";
  std::filesystem::copy_file(SysNetModule::ModulePath(), copy);
  ASSERT_TRUE(m_module.Load("nameserver 10.0.0.53\n", "", copy.string()));

  const std::wstring key = std::wstring(L"CLSID\\") + kClassId + L"\\InprocServer32";
  HKEY server = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server), ERROR_SUCCESS);
  wchar_t registered[1024] = {};
  DWORD size = sizeof registered - sizeof(wchar_t);
  EXPECT_EQ(RegQueryValueExW(server, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(registered), &size),
            ERROR_SUCCESS);
  RegCloseKey(server);
  EXPECT_EQ(std::wstring(registered), kestnet::platform::WideFromUtf8(copy.string()));
  CreateNetwork();
}

}  // namespace
}  // namespace kestnet::companions::testing
