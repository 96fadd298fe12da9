// KestSysNet: the companion server module that tells the resolver which DNS
// servers the machine uses and tells the host lookup the hardware address of
// a neighbour. Callers reach its two operations by their place in the
// interface's function table, so the order of IKestSysNetNetwork is fixed:
// the IUnknown and IDispatch methods (0-6), reserved members (7-36), the DNS
// server getter (37), reserved members (38-45), the ARP lookup (46).
//
// Like every server module it links none of the COM runtime: the host that
// loads it provides the runtime's functions.
#include <atomic>
#include <cwctype>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "companions/sys_net_tables.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/inproc_server.h"
#include "platform/com/safearray.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace {


// {f7808d00-b85d-4584-8255-a6e52b042fde}
constexpr CLSID CLSID_KestSysNetNetwork = {
    0xf7808d00, 0xb85d, 0x4584, {0x82, 0x55, 0xa6, 0xe5, 0x2b, 0x04, 0x2f, 0xde}};
// {01bb2f8b-a412-4c6b-adc7-aa6e77fad1a4}
constexpr IID IID_IKestSysNetNetwork = {
    0x01bb2f8b, 0xa412, 0x4c6b, {0xad, 0xc7, 0xaa, 0x6e, 0x77, 0xfa, 0xd1, 0xa4}};

// Late-bound names of the two operations, for scripts.
constexpr DISPID kDispIdDnsServers = 1;
constexpr DISPID kDispIdMacAddress = 2;

constexpr const wchar_t* kRegistryScript = LR"(
HKCR
{
  KestSysNet.Network.1 = s 'KestSysNetNetwork Class'
  {
    CLSID = s '{F7808D00-B85D-4584-8255-A6E52B042FDE}'
  }
  KestSysNet.Network = s 'KestSysNetNetwork Class'
  {
    CLSID = s '{F7808D00-B85D-4584-8255-A6E52B042FDE}'
    CurVer = s 'KestSysNet.Network.1'
  }
  NoRemove CLSID
  {
    ForceRemove {F7808D00-B85D-4584-8255-A6E52B042FDE} = s 'KestSysNetNetwork Class'
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

#define KESTSYSNET_RESERVED(index) \
  STDMETHOD(Reserved##index)() { return E_NOTIMPL; }

// The interface as callers see it. Reserved members answer E_NOTIMPL; they
// keep the two operations at their places.
struct IKestSysNetNetwork : IDispatch {
  KESTSYSNET_RESERVED(7) KESTSYSNET_RESERVED(8) KESTSYSNET_RESERVED(9) KESTSYSNET_RESERVED(10)
  KESTSYSNET_RESERVED(11) KESTSYSNET_RESERVED(12) KESTSYSNET_RESERVED(13) KESTSYSNET_RESERVED(14)
  KESTSYSNET_RESERVED(15) KESTSYSNET_RESERVED(16) KESTSYSNET_RESERVED(17) KESTSYSNET_RESERVED(18)
  KESTSYSNET_RESERVED(19) KESTSYSNET_RESERVED(20) KESTSYSNET_RESERVED(21) KESTSYSNET_RESERVED(22)
  KESTSYSNET_RESERVED(23) KESTSYSNET_RESERVED(24) KESTSYSNET_RESERVED(25) KESTSYSNET_RESERVED(26)
  KESTSYSNET_RESERVED(27) KESTSYSNET_RESERVED(28) KESTSYSNET_RESERVED(29) KESTSYSNET_RESERVED(30)
  KESTSYSNET_RESERVED(31) KESTSYSNET_RESERVED(32) KESTSYSNET_RESERVED(33) KESTSYSNET_RESERVED(34)
  KESTSYSNET_RESERVED(35) KESTSYSNET_RESERVED(36)
  // 37: the machine's IPv4 DNS servers, an array of VARIANT BSTRs.
  STDMETHOD(get_DNSServers)(VARIANT* pServers) = 0;
  KESTSYSNET_RESERVED(38) KESTSYSNET_RESERVED(39) KESTSYSNET_RESERVED(40) KESTSYSNET_RESERVED(41)
  KESTSYSNET_RESERVED(42) KESTSYSNET_RESERVED(43) KESTSYSNET_RESERVED(44) KESTSYSNET_RESERVED(45)
  // 46: the neighbour's hardware address for a dotted IPv4 address, as an
  // array of VARIANT BSTRs holding it, or an empty array when unknown.
  STDMETHOD(GetMACAddress)(BSTR ipAddress, VARIANT* pAddresses) = 0;

 protected:
  ~IKestSysNetNetwork() = default;
};

#undef KESTSYSNET_RESERVED

std::wstring Widen(const std::string& p_text) { return std::wstring(p_text.begin(), p_text.end()); }

std::string Narrow(BSTR p_text) {
  std::string narrow;
  for (UINT i = 0; i < SysStringLen(p_text); ++i) {
    const wchar_t c = p_text[i];
    narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return narrow;
}

// Fills p_pResult with a VT_ARRAY|VT_VARIANT of BSTRs.
HRESULT MakeTextArray(const std::vector<std::string>& p_texts, VARIANT* p_pResult) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(p_texts.size()));
  if (array == nullptr) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(p_texts.size()); ++i) {
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_BSTR;
    element.bstrVal = SysAllocString(Widen(p_texts[static_cast<std::size_t>(i)]).c_str());
    const HRESULT hr = element.bstrVal == nullptr ? E_OUTOFMEMORY : SafeArrayPutElement(array, &i, &element);
    VariantClear(&element);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  p_pResult->vt = VT_ARRAY | VT_VARIANT;
  p_pResult->parray = array;
  return S_OK;
}

class Network final : public IKestSysNetNetwork {
 public:
  Network() { g_objectsAndLocks.fetch_add(1); }
  ~Network() { g_objectsAndLocks.fetch_sub(1); }
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKestSysNetNetwork) {
      *ppv = static_cast<IKestSysNetNetwork*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(m_references.fetch_add(1) + 1); }
  STDMETHODIMP_(ULONG) Release() override {
    const long left = m_references.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

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
    return MakeTextArray(kestnet::companions::ReadNameServers(kestnet::companions::ResolverConfigurationPath()),
                         pServers);
  }

  STDMETHODIMP GetMACAddress(BSTR ipAddress, VARIANT* pAddresses) override {
    if (pAddresses == nullptr) return E_POINTER;
    VariantInit(pAddresses);
    const std::string address = Narrow(ipAddress);
    if (!kestnet::companions::IsDottedIPv4(address)) return E_INVALIDARG;
    const std::optional<std::string> hardware =
        kestnet::companions::LookupNeighbourAddress(kestnet::companions::NeighbourTablePath(), address);
    return MakeTextArray(hardware ? std::vector<std::string>{*hardware} : std::vector<std::string>{}, pAddresses);
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

  std::atomic<long> m_references{1};
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
