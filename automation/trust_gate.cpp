#include "automation/trust_gate.h"

#include <atomic>
#include <cstdio>

#include "automation/tol_lock.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/memory.h"
#include "platform/com/ole_site.h"
#include "platform/com/variant.h"
#include "platform/os/utf8.h"
#include "platform/registry/registry.h"
#include "utils/os_identification.h"

namespace KestAXLib {
namespace {

constexpr const wchar_t* kKestSMProgId = L"KestSM.KestSM";
constexpr const wchar_t* kControlKey = L"Software\\Tolvar\\Pelwick\\Config\\KestLock\\Control";
constexpr const wchar_t* kDisableOSVersionCheck = L"DisableOSVersionCheck";
// Embeddings, links and others: every object the document holds.
constexpr DWORD kEnumerateEveryObject = OLECONTF_EMBEDDINGS | OLECONTF_LINKS | OLECONTF_OTHERS;

// The platform id as the system's platform identification reports it.
DWORD ReportedPlatformId() {
  return KestUtilsLib::IsWin9xPlatform() ? kVerPlatformWin32Windows : kVerPlatformWin32NT;
}

std::atomic<KestTrustGate::PlatformIdSource> g_platformIdSource{&ReportedPlatformId};

void DebugOutput(const char* message) { TolLockDebugOutput(message); }

// message ends in "HRESULT: "; the result follows as "%x.".
void DebugOutputWithResult(const char* message, HRESULT hr) {
  char line[320];
  std::snprintf(line, sizeof line, "%s%x.", message, static_cast<unsigned>(hr));
  TolLockDebugOutputWithResult(line);
}

// Calls member dispid of the companion the way the gate always does: LCID
// 0x0400, IID_NULL, no EXCEPINFO.
HRESULT CallKestSM(IDispatch* kestSM, DISPID dispid, WORD flags, VARIANT* arguments, UINT argumentCount,
                   VARIANT* result) {
  DISPID propertyPut = DISPID_PROPERTYPUT;
  DISPPARAMS params{arguments, nullptr, argumentCount, 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &propertyPut;
    params.cNamedArgs = 1;
  }
  return kestSM->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

// Puts a text property of the companion.
HRESULT PutKestSMText(IDispatch* kestSM, DISPID dispid, const std::wstring& text) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (argument.bstrVal == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = CallKestSM(kestSM, dispid, DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
  VariantClear(&argument);
  return hr;
}

// A boolean answer of the companion. A result that is not a boolean (nor
// converts to one) is a failed question, not a "no".
HRESULT AskKestSM(IDispatch* kestSM, DISPID dispid, VARIANT* arguments, UINT argumentCount, bool* answer) {
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = CallKestSM(kestSM, dispid, DISPATCH_METHOD, arguments, argumentCount, &result);
  if (SUCCEEDED(hr)) {
    VARIANT asBool;
    VariantInit(&asBool);
    hr = VariantChangeType(&asBool, &result, 0, VT_BOOL);
    if (SUCCEEDED(hr)) *answer = asBool.boolVal != VARIANT_FALSE;
    VariantClear(&asBool);
  }
  VariantClear(&result);
  return hr;
}

void FillUnsupportedOS(const CLSID* clsid, EXCEPINFO* excepInfo) {
  if (excepInfo == nullptr) return;
  *excepInfo = EXCEPINFO{};
  LPOLESTR progId = nullptr;
  if (clsid != nullptr && SUCCEEDED(ProgIDFromCLSID(*clsid, &progId)) && progId != nullptr) {
    excepInfo->bstrSource = SysAllocString(progId);
    CoTaskMemFree(progId);
  }
  excepInfo->bstrDescription = SysAllocString(L"UNSUPPORTED_OS_ERROR");
  excepInfo->scode = DISP_E_EXCEPTION;
}

}  // namespace

bool IsOSVersionCheckDisabled() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kControlKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  LSTATUS status = RegQueryValueExW(key, kDisableOSVersionCheck, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value != 0;
}

void KestTrustGate::SetPlatformIdSource(PlatformIdSource source) {
  g_platformIdSource.store(source != nullptr ? source : &ReportedPlatformId);
}

KestTrustGate::KestTrustGate() {
  m_oldPlatform = g_platformIdSource.load()() == kVerPlatformWin32Windows;
  if (m_oldPlatform) m_osCheckDisabled = IsOSVersionCheckDisabled();
}

HRESULT KestTrustGate::Admit(const InvokeGateCall& call) {
  if (m_oldPlatform && !m_osCheckDisabled) {
    FillUnsupportedOS(call.clsid, call.excepInfo);
    return DISP_E_EXCEPTION;
  }
  if (!m_loaded) LoadTrustState(call);
  if (!m_trusted) {
    DebugOutput("Invoke Override: Container and Site are NOT TRUSTED. Returning HRESULT E_ACCESSDENIED.");
    return E_ACCESSDENIED;
  }
  return S_OK;
}

ATL::CComPtr<IDispatch> KestTrustGate::FindKestSM(IUnknown* site) {
  DebugOutput("FindKestSM: enumerating OLE objects, searching this document for instances of KestSM");
  ATL::CComPtr<IOleClientSite> clientSite;
  if (site == nullptr || FAILED(site->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&clientSite))) ||
      clientSite == nullptr) {
    DebugOutput("FindKestSM: Failed to obtain the client site.");
    return {};
  }
  ATL::CComPtr<IOleContainer> container;
  if (FAILED(clientSite->GetContainer(&container)) || container == nullptr) {
    DebugOutput("FindKestSM: Failed to obtain our client site's container.");
    return {};
  }
  ATL::CComPtr<IEnumUnknown> objects;
  if (FAILED(container->EnumObjects(kEnumerateEveryObject, &objects)) || objects == nullptr) {
    DebugOutput("FindKestSM: failed to enumerate OLE objects in our container.");
    return {};
  }
  for (;;) {
    ATL::CComPtr<IUnknown> object;
    ULONG fetched = 0;
    if (objects->Next(1, &object, &fetched) != S_OK || fetched != 1 || object == nullptr) break;
    ATL::CComPtr<IUnknown> kestSM;
    if (FAILED(object->QueryInterface(IID_IKestSM, reinterpret_cast<void**>(&kestSM))) || kestSM == nullptr) continue;
    ATL::CComPtr<IDispatch> dispatch;
    if (FAILED(kestSM->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || dispatch == nullptr) {
      continue;
    }
    DebugOutput("FindKestSM: KestSM instance found in our container.");
    return dispatch;
  }
  return {};
}

ATL::CComPtr<IDispatch> KestTrustGate::GetKestSM(IUnknown* site, bool* createdHere) {
  *createdHere = false;
  ATL::CComPtr<IDispatch> kestSM = FindKestSM(site);
  if (kestSM != nullptr) return kestSM;
  DebugOutput("GetKestSM: Failed to find existing instance from our site. Must attempt to create.");
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(kKestSMProgId, &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&kestSM))) ||
      kestSM == nullptr) {
    DebugOutput("GetKestSM: Failed to CoCreate workhorse component.");
    return {};
  }
  *createdHere = true;
  return kestSM;
}

bool KestTrustGate::SetSiteOnKestSM(IUnknown* site) {
  ATL::CComPtr<IObjectWithSite> withSite;
  HRESULT hr = m_kestSM->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
  if (SUCCEEDED(hr) && withSite != nullptr) hr = withSite->SetSite(site);
  if (FAILED(hr)) {
    DebugOutputWithResult(
        "SetSiteOnKestSM: Failure occurred calling IObjectWithSite::SetSite on KestSM.  Cannot continue. "
        "HRESULT: ",
        hr);
    return false;
  }
  return true;
}

bool KestTrustGate::SetTrustDataFileOnKestSM(BSTR trustedSiteDataFileUrl) {
  if (trustedSiteDataFileUrl != nullptr) {
    HRESULT hr = PutKestSMText(m_kestSM, kKestSMTrustedSiteDataFileUrl,
                               std::wstring(trustedSiteDataFileUrl, SysStringLen(trustedSiteDataFileUrl)));
    if (FAILED(hr)) {
      DebugOutputWithResult(
          "SetTrustDataFileOnKestSM: Failure occurred calling TrustedSiteDataFileURL property on KestSM. Cannot "
          "continue. HRESULT: ",
          hr);
      return false;
    }
  }
  if (!m_vendorId.empty()) {
    HRESULT hr = PutKestSMText(m_kestSM, kKestSMVendorId, kestnet::platform::WideFromUtf8(m_vendorId));
    if (FAILED(hr)) {
      DebugOutputWithResult(
          "SetTrustDataFileOnKestSM: Failure occurred calling VendorID property on KestSM. Cannot continue. "
          "HRESULT: ",
          hr);
      return false;
    }
  }
  return true;
}

bool KestTrustGate::GetVendorIDOnKestSM() {
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = CallKestSM(m_kestSM, kKestSMVendorId, DISPATCH_PROPERTYGET, nullptr, 0, &result);
  if (SUCCEEDED(hr) && result.vt != VT_BSTR) hr = DISP_E_TYPEMISMATCH;
  if (FAILED(hr)) {
    VariantClear(&result);
    DebugOutputWithResult(
        "GetVendorIDOnKestSM: Failure occurred calling VendorID property on KestSM. Cannot continue. HRESULT: ",
        hr);
    return false;
  }
  if (result.bstrVal != nullptr) {
    m_vendorId = kestnet::platform::Utf8FromWide(std::wstring_view(result.bstrVal, SysStringLen(result.bstrVal)));
  }
  VariantClear(&result);
  return true;
}

void KestTrustGate::LoadLocalContainerTrustList() {
  // The list would come from the module's string resource 230; this module
  // carries none, so the list stays empty and nothing is logged.
  if (m_moduleContainerTrustList.empty()) return;
  std::string line = "LoadLocalContainerTrustList: Successfully grabbed module-specific container trust list. Data: " +
                     kestnet::platform::Utf8FromWide(m_moduleContainerTrustList) + ".";
  DebugOutput(line.c_str());
}

bool KestTrustGate::IsContainerTrustedViaKestSM(bool* trusted) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal =
      SysAllocStringLen(m_moduleContainerTrustList.data(), static_cast<UINT>(m_moduleContainerTrustList.size()));
  HRESULT hr = argument.bstrVal == nullptr ? E_OUTOFMEMORY
                                           : AskKestSM(m_kestSM, kKestSMIsContainerTrusted, &argument, 1, trusted);
  VariantClear(&argument);
  if (FAILED(hr)) {
    DebugOutputWithResult("IsContainerTrustedViaKestSM: Failure calling IsContainerTrusted function. HRESULT: ", hr);
    return false;
  }
  return true;
}

bool KestTrustGate::IsCurrentSiteTrustedViaKestSM(bool* trusted) {
  HRESULT hr = AskKestSM(m_kestSM, kKestSMIsCurrentSiteTrusted, nullptr, 0, trusted);
  if (FAILED(hr)) {
    DebugOutputWithResult("IsCurrentSiteTrustedViaKestSM: Failure calling IsCurrentSiteTrusted function. HRESULT: ",
                          hr);
    return false;
  }
  return true;
}

void KestTrustGate::LoadTrustState(const InvokeGateCall& call) {
  m_trusted = false;
  bool createdHere = false;
  m_kestSM = GetKestSM(call.site, &createdHere);
  // The companion is held only while the questions are asked.
  struct ReleaseCompanion {
    ATL::CComPtr<IDispatch>& companion;
    ~ReleaseCompanion() { companion.Release(); }
  } releaseCompanion{m_kestSM};

  if (m_kestSM == nullptr) {
    DebugOutput("LoadTrustState: Failed to obtain KestSM instance (existing, created, or otherwise.");
    return;
  }
  if (createdHere) {
    if (!SetSiteOnKestSM(call.site)) return;
    if (!SetTrustDataFileOnKestSM(call.trustedSiteDataFileUrl)) return;
  }
  if (m_vendorId.empty() && !GetVendorIDOnKestSM()) return;
  LoadLocalContainerTrustList();

  bool containerTrusted = false;
  if (!IsContainerTrustedViaKestSM(&containerTrusted)) return;
  if (containerTrusted) {
    DebugOutput("LoadTrustState: Container is trusted.");
    m_trusted = true;
  } else {
    DebugOutput("LoadTrustState: Container is not trusted.");
    bool siteTrusted = false;
    if (!IsCurrentSiteTrustedViaKestSM(&siteTrusted)) return;
    DebugOutput(siteTrusted ? "LoadTrustState: Site is trusted." : "LoadTrustState: Site is not trusted.");
    m_trusted = siteTrusted;
  }
  m_loaded = true;
}

// Every object of the module gets this gate (the module links the whole
// automation library, so this initializer is kept).
const bool kTrustGateInstalled =
    (SetInvokeGateFactory([] { return std::unique_ptr<InvokeGate>(new KestTrustGate); }), true);

}  // namespace KestAXLib
