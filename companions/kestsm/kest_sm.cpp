// KestSM: the site-trust companion the objects of KestNetX ask before they
// run a script's call. It answers two questions from the policy in the
// registry store (trust_policy.h): is the container (the program hosting the
// objects) trusted, and is the site of the page that holds them trusted for
// the vendor id.
//
// Reached late-bound through IDispatch, or placed on a page and found there
// by its interface {168D9474-3653-44EA-9C25-2A0F713846EE}:
//   1   TrustedSiteDataFileURL  put/get (recorded; the policy is the store's)
//   2   VendorID                put/get (KestNetX until a caller sets one)
//   12  IsCurrentSiteTrusted()  the site's top-level browser location, as
//                               scheme://host[:port], listed for the vendor id
//   16  IsContainerTrusted(List) this program's file name listed in the
//                               store or in List (';'-separated names), and
//                               no page location reached from the site
//
// Like every server module it links none of the COM runtime or registry: the
// host that loads it provides them. Registration also lists the kestnet host
// as a trusted container for the registering user.
#include <atomic>
#include <cwctype>
#include <new>
#include <string>

#include "platform/com/web_browser.h"
#include "companions/kestsm/trust_policy.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/inproc_server.h"
#include "platform/com/ole_site.h"
#include "platform/com/qi_search.h"
#include "platform/com/ref_count.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/registry/registry.h"

namespace {

using kestnet::companions::TrustKind;

// {9A3D1F52-6C0E-4B7A-8E21-5F4C3B2A1D07}
constexpr CLSID CLSID_KestSM = {0x9A3D1F52, 0x6C0E, 0x4B7A, {0x8E, 0x21, 0x5F, 0x4C, 0x3B, 0x2A, 0x1D, 0x07}};
constexpr IID IID_IKestSM = {0x168D9474, 0x3653, 0x44EA, {0x9C, 0x25, 0x2A, 0x0F, 0x71, 0x38, 0x46, 0xEE}};

constexpr DISPID kDispTrustedSiteDataFileUrl = 1;
constexpr DISPID kDispVendorId = 2;
constexpr DISPID kDispIsCurrentSiteTrusted = 12;
constexpr DISPID kDispIsContainerTrusted = 16;

struct MemberName {
  const wchar_t* name;
  DISPID dispid;
};
constexpr MemberName kMembers[] = {{L"TrustedSiteDataFileURL", kDispTrustedSiteDataFileUrl},
                                   {L"VendorID", kDispVendorId},
                                   {L"IsCurrentSiteTrusted", kDispIsCurrentSiteTrusted},
                                   {L"IsContainerTrusted", kDispIsContainerTrusted}};

constexpr const wchar_t* kRegistryScript = LR"(
HKCR
{
  KestSM.KestSM.1 = s 'KestSM Class'
  {
    CLSID = s '{9A3D1F52-6C0E-4B7A-8E21-5F4C3B2A1D07}'
  }
  KestSM.KestSM = s 'KestSM Class'
  {
    CLSID = s '{9A3D1F52-6C0E-4B7A-8E21-5F4C3B2A1D07}'
    CurVer = s 'KestSM.KestSM.1'
  }
  NoRemove CLSID
  {
    ForceRemove {9A3D1F52-6C0E-4B7A-8E21-5F4C3B2A1D07} = s 'KestSM Class'
    {
      ProgID = s 'KestSM.KestSM.1'
      VersionIndependentProgID = s 'KestSM.KestSM'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
)";

std::atomic<long> g_objectsAndLocks{0};

bool EqualsIgnoringCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
  }
  return *a == *b;
}

std::wstring TextOf(BSTR text) { return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text)); }

HRESULT ReturnText(const std::wstring& text, VARIANT* result) {
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (result->bstrVal == nullptr) {
    result->vt = VT_EMPTY;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void ReturnBool(bool value, VARIANT* result) {
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The one argument of a put or a method, as text.
HRESULT TextArgument(const DISPPARAMS* params, std::wstring* text) {
  if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
  const VARIANT& argument = params->rgvarg[0];
  if (argument.vt == VT_BSTR) {
    *text = TextOf(argument.bstrVal);
    return S_OK;
  }
  if (argument.vt == (VT_BSTR | VT_BYREF) && argument.pbstrVal != nullptr) {
    *text = TextOf(*argument.pbstrVal);
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

class KestSM final : public IDispatch, public IObjectWithSite {
 public:
  KestSM() { g_objectsAndLocks.fetch_add(1); }
  ~KestSM() {
    if (m_site != nullptr) m_site->Release();
    g_objectsAndLocks.fetch_sub(1);
  }
  KestSM(const KestSM&) = delete;
  KestSM& operator=(const KestSM&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    static const QITAB kQueryTable[] = {
        QITABENTMULTI2(KestSM, IID_IKestSM, IDispatch),
        QITABENTMULTI2(KestSM, IID_IDispatch, IDispatch),
        QITABENTMULTI2(KestSM, IID_IObjectWithSite, IObjectWithSite),
        {},
    };
    return QISearch(this, kQueryTable, riid, ppv);
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const MemberName& member : kMembers) {
      if (names[0] != nullptr && EqualsIgnoringCase(names[0], member.name)) ids[0] = member.dispid;
    }
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_POINTER;
    VARIANT ignored;
    VariantInit(&ignored);
    VARIANT* out = result != nullptr ? result : &ignored;
    VariantInit(out);
    HRESULT hr = Dispatch(dispid, flags, params, out);
    VariantClear(&ignored);
    return hr;
  }

  STDMETHODIMP SetSite(IUnknown* site) override {
    if (site != nullptr) site->AddRef();
    if (m_site != nullptr) m_site->Release();
    m_site = site;
    return S_OK;
  }
  STDMETHODIMP GetSite(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (m_site == nullptr) return E_FAIL;
    return m_site->QueryInterface(riid, ppv);
  }

 private:
  HRESULT Dispatch(DISPID dispid, WORD flags, const DISPPARAMS* params, VARIANT* out) {
    const bool isGet = (flags & DISPATCH_PROPERTYGET) != 0 && params->cArgs == 0;
    const bool isPut = (flags & DISPATCH_PROPERTYPUT) != 0;
    const bool isMethod = (flags & DISPATCH_METHOD) != 0;
    switch (dispid) {
      case kDispTrustedSiteDataFileUrl:
      case kDispVendorId: {
        std::wstring& property = dispid == kDispVendorId ? m_vendorId : m_trustedSiteDataFileUrl;
        if (isPut) {
          std::wstring value;
          HRESULT hr = TextArgument(params, &value);
          if (FAILED(hr)) return hr;
          // An empty vendor id would match no site list; keep the default.
          if (dispid == kDispVendorId && value.empty()) return E_INVALIDARG;
          property = value;
          return S_OK;
        }
        if (isGet) return ReturnText(property, out);
        return DISP_E_MEMBERNOTFOUND;
      }
      case kDispIsContainerTrusted: {
        if (!isMethod) return DISP_E_MEMBERNOTFOUND;
        std::wstring list;
        HRESULT hr = TextArgument(params, &list);
        if (FAILED(hr)) return hr;
        ReturnBool(IsContainerTrusted(list), out);
        return S_OK;
      }
      case kDispIsCurrentSiteTrusted:
        if (!isMethod) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        ReturnBool(IsCurrentSiteTrusted(), out);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // A listed container is trusted only while it hosts no page: once the
  // objects sit on a page with a location, that site decides.
  bool IsContainerTrusted(const std::wstring& list) const {
    if (!SiteLocation().empty()) return false;
    const std::wstring container = kestnet::companions::CurrentContainerName();
    if (container.empty()) return false;
    return kestnet::companions::ListNamesContainer(list, container) ||
           kestnet::companions::IsListed(TrustKind::Container, L"", container);
  }

  bool IsCurrentSiteTrusted() const {
    const std::wstring location = SiteLocation();
    if (location.empty()) return false;
    return kestnet::companions::IsListed(TrustKind::Site, m_vendorId, location);
  }

  // The location of the top-level browser reached from the site, or empty.
  std::wstring SiteLocation() const {
    if (m_site == nullptr) return {};
    IServiceProvider* provider = nullptr;
    if (FAILED(m_site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))) ||
        provider == nullptr) {
      return {};
    }
    IServiceProvider* topLevel = nullptr;
    HRESULT hr =
        provider->QueryService(SID_STopLevelBrowser, IID_IServiceProvider, reinterpret_cast<void**>(&topLevel));
    provider->Release();
    if (FAILED(hr) || topLevel == nullptr) return {};
    IWebBrowser2* browser = nullptr;
    hr = topLevel->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
    topLevel->Release();
    if (FAILED(hr) || browser == nullptr) return {};
    BSTR location = nullptr;
    hr = browser->get_LocationURL(&location);
    browser->Release();
    std::wstring text = SUCCEEDED(hr) ? TextOf(location) : std::wstring();
    SysFreeString(location);
    return text;
  }

  kestnet::platform::RefCount refCount_;
  IUnknown* m_site = nullptr;
  std::wstring m_vendorId = kestnet::companions::kDefaultVendorId;
  std::wstring m_trustedSiteDataFileUrl;
};

kestnet::platform::SingleClassFactory<KestSM> g_factory(g_objectsAndLocks);

HRESULT RunScript(bool registering) {
  return kestnet::platform::RunModuleRegistryScript(kRegistryScript, &g_factory, registering);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_KestSM) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objectsAndLocks.load() == 0 ? S_OK : S_FALSE;
}

// Registers the class and lists the kestnet host as a trusted container for
// the registering user: a local script host with no site is trusted by default.
__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  HRESULT hr = RunScript(true);
  if (FAILED(hr)) return hr;
  LSTATUS status = kestnet::companions::AddTrusted(HKEY_CURRENT_USER, TrustKind::Container, L"",
                                                   kestnet::companions::kKestNetHostContainer);
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// The policy is the user's data and stays; only the class goes.
__attribute__((visibility("default"))) HRESULT DllUnregisterServer() { return RunScript(false); }

}  // extern "C"
