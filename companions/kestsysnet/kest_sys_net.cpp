// KestSysNet: the companion server module that tells the resolver which DNS
// servers the machine uses and tells the host lookup the hardware address of
// a neighbour. Its interface, whose order callers rely on, is in
// companions/kestsysnet/kest_sys_net.h.
//
// Like every server module it links none of the COM runtime: the host that
// loads it provides the runtime's functions.
#include <atomic>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "companions/kestsysnet/kest_sys_net.h"
#include "companions/kestsysnet/sys_net_tables.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/qi_search.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/inproc_server.h"
#include "platform/com/ref_count.h"
#include "platform/com/scoped_safearray.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/os/utf8.h"

namespace {

// Late-bound names of the two operations, for scripts.
constexpr DISPID kDispIdDnsServers = 1;
constexpr DISPID kDispIdMacAddress = 2;

constexpr const wchar_t* kRegistryScript = LR"(
HKCR
{
  KestSysNet.Network.1 = s 'KestSysNetNetwork Class'
  {
    CLSID = s ')" KESTSYSNET_NETWORK_CLSID_TEXT LR"('
  }
  KestSysNet.Network = s 'KestSysNetNetwork Class'
  {
    CLSID = s ')" KESTSYSNET_NETWORK_CLSID_TEXT LR"('
    CurVer = s 'KestSysNet.Network.1'
  }
  NoRemove CLSID
  {
    ForceRemove )" KESTSYSNET_NETWORK_CLSID_TEXT LR"( = s 'KestSysNetNetwork Class'
    {
      ProgID = s 'KestSysNet.Network.1'
      VersionIndependentProgID = s 'KestSysNet.Network'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
}
)";

std::atomic<long> g_objectsAndLocks{0};

std::vector<std::wstring> WideTexts(const std::vector<std::string>& p_texts) {
  std::vector<std::wstring> wide;
  for (const std::string& text : p_texts) wide.push_back(kestnet::platform::WideFromUtf8(text));
  return wide;
}

class Network final : public IKestSysNetNetwork {
 public:
  Network() { g_objectsAndLocks.fetch_add(1); }
  ~Network() { g_objectsAndLocks.fetch_sub(1); }
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    static const QITAB kQueryTable[] = {
        QITABENTMULTI2(Network, IID_IKestSysNetNetwork, IKestSysNetNetwork),
        QITABENTMULTI2(Network, IID_IDispatch, IKestSysNetNetwork),
        {},
    };
    return QISearch(this, kQueryTable, riid, ppv);
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_POINTER;
    const std::wstring name = rgszNames[0] != nullptr ? rgszNames[0] : L"";
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    if (EqualsIgnoringCase(name, L"DNSServers")) rgDispId[0] = kDispIdDnsServers;
    if (EqualsIgnoringCase(name, L"GetMACAddress")) rgDispId[0] = kDispIdMacAddress;
    return rgDispId[0] == DISPID_UNKNOWN || cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }
  STDMETHODIMP Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                      EXCEPINFO*, UINT*) override {
    if (pDispParams == nullptr) return E_POINTER;
    VARIANT ignored;
    VariantInit(&ignored);
    VARIANT* result = pVarResult != nullptr ? pVarResult : &ignored;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    if (dispIdMember == kDispIdDnsServers && (wFlags & DISPATCH_PROPERTYGET) != 0) {
      hr = pDispParams->cArgs == 0 ? get_DNSServers(result) : DISP_E_BADPARAMCOUNT;
    } else if (dispIdMember == kDispIdMacAddress && (wFlags & DISPATCH_METHOD) != 0) {
      if (pDispParams->cArgs != 1) {
        hr = DISP_E_BADPARAMCOUNT;
      } else if (pDispParams->rgvarg[0].vt != VT_BSTR) {
        hr = DISP_E_TYPEMISMATCH;
      } else {
        hr = GetMACAddress(pDispParams->rgvarg[0].bstrVal, result);
      }
    }
    VariantClear(&ignored);
    return hr;
  }

  STDMETHODIMP get_DNSServers(VARIANT* pServers) override {
    if (pServers == nullptr) return E_POINTER;
    VariantInit(pServers);
    return kestnet::platform::CreateTextArray(
        WideTexts(kestnet::companions::ReadNameServers(kestnet::companions::ResolverConfigurationPath())), pServers);
  }

  STDMETHODIMP GetMACAddress(BSTR ipAddress, VARIANT* pAddresses) override {
    if (pAddresses == nullptr) return E_POINTER;
    VariantInit(pAddresses);
    const std::string address = kestnet::platform::Utf8FromWide({ipAddress, SysStringLen(ipAddress)});
    if (!kestnet::companions::IsDottedIPv4(address)) return E_INVALIDARG;
    const std::optional<std::string> hardware =
        kestnet::companions::LookupNeighbourAddress(kestnet::companions::NeighbourTablePath(), address);
    return kestnet::platform::CreateTextArray(
        WideTexts(hardware ? std::vector<std::string>{*hardware} : std::vector<std::string>{}), pAddresses);
  }

 private:
  static bool EqualsIgnoringCase(const std::wstring& p_a, const wchar_t* p_b) {
    const std::wstring b = p_b;
    if (p_a.size() != b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i) {
      if (std::towlower(p_a[i]) != std::towlower(b[i])) return false;
    }
    return true;
  }

  kestnet::platform::RefCount refCount_;
};

kestnet::platform::SingleClassFactory<Network> g_factory(g_objectsAndLocks);

HRESULT RunScript(bool p_bRegistering) {
  return kestnet::platform::RunModuleRegistryScript(kRegistryScript, &g_factory, p_bRegistering);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_KestSysNetNetwork) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objectsAndLocks.load() == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() { return RunScript(true); }

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() { return RunScript(false); }

}  // extern "C"
