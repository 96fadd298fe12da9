// TolLock: the IDispatch of every scriptable object, over the type library,
// with the trust gate in front of Invoke.
//
//   class CDNS : ..., public TolLock<CDNS, IKestNetDNS, &IID_IKestNetDNS, &LIBID_KestNet, 1, 0>, ...
//
// GetTypeInfoCount, GetTypeInfo and GetIDsOfNames are never gated. Invoke
// passes dispids below 0 and 5979294 straight to the type information; every
// other call is first put to the object's gate (invoke_gate.h) and runs only
// when the gate admits it. Calls through the dual interface's vtable do not
// pass here: scripts always come through Invoke.
//
// T must derive from IObjectWithSiteImpl<T> (the site the gate looks at) and
// from CComCoClass<T, &CLSID> (its class).
#pragma once

#include <memory>
#include <string>

#include "automation/invoke_gate.h"
#include "automation/type_info_holder.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/bstr.h"
#include "platform/com/typeinfo.h"

namespace KestAXLib {

// The one dispid besides the negative ones that is never gated.
inline constexpr DISPID kUngatedDispid = 0x5B3C9E;

// The gate's debugger-output lines: " ** TolLock : " + message + "\n", or
// with a leading "\n" for messages that carry an HRESULT.
void TolLockDebugOutput(const char* message);
void TolLockDebugOutputWithResult(const char* message);

// Returns E_UNEXPECTED after logging the gate's exception line.
HRESULT TolLockUnexpected() noexcept;

template <class T, class I, const IID* piid, const GUID* plibid, WORD wMajor = 1, WORD wMinor = 0>
class TolLock : public I {
 public:
  TolLock() : m_gate(CreateInvokeGate()) {}
  TolLock(const TolLock&) = delete;
  TolLock& operator=(const TolLock&) = delete;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    m_typeInfo->AddRef();
    *info = m_typeInfo;
    return S_OK;
  }

  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(m_typeInfo, names, count, ids);
  }

  STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override {
    if (dispid < 0 || dispid == kUngatedDispid) {
      return InvokeThroughTypeInfo(dispid, riid, lcid, flags, params, result, excepInfo, argErr);
    }
    try {
      T* object = static_cast<T*>(this);
      InvokeGateCall call{dispid, &T::GetObjectCLSID(), object->SiteUnknown(), m_trustedSiteDataFileUrl,
                          excepInfo};
      HRESULT admitted = m_gate->Admit(call);
      if (admitted != S_OK) return admitted;
      return InvokeThroughTypeInfo(dispid, riid, lcid, flags, params, result, excepInfo, argErr);
    } catch (...) {
      return TolLockUnexpected();
    }
  }

  // Not in the type library, so scripts cannot reach them; the host that
  // embeds the object sets where the trusted-site list lives.
  virtual HRESULT STDMETHODCALLTYPE get_TrustedSiteDataFileURL(BSTR* url) {
    if (url == nullptr) {
      TolLockDebugOutput("TrustedSiteDataFileURL: Invalid parameter provided. Ignoring.");
      return S_OK;
    }
    *url = m_trustedSiteDataFileUrl == nullptr
               ? nullptr
               : SysAllocStringLen(m_trustedSiteDataFileUrl, SysStringLen(m_trustedSiteDataFileUrl));
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE put_TrustedSiteDataFileURL(BSTR url) {
    BSTR copy = url == nullptr ? nullptr : SysAllocStringLen(url, SysStringLen(url));
    if (url != nullptr && copy == nullptr) return E_OUTOFMEMORY;
    SysFreeString(m_trustedSiteDataFileUrl);
    m_trustedSiteDataFileUrl = copy;
    return S_OK;
  }

  // The vendor id the trust state holds (the DNS object names its cache with it).
  std::string TrustVendorId() const { return m_gate->VendorId(); }

 protected:
  ~TolLock() { SysFreeString(m_trustedSiteDataFileUrl); }

 private:
  HRESULT EnsureTypeInfo() {
    if (m_typeInfo != nullptr) return S_OK;
    return GetTypeInfoOfGuid(*plibid, wMajor, wMinor, *piid, &m_typeInfo);
  }

  HRESULT InvokeThroughTypeInfo(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    return DispInvoke(static_cast<I*>(this), m_typeInfo, dispid, flags, params, result, excepInfo, argErr);
  }

  std::unique_ptr<InvokeGate> m_gate;
  ATL::CComPtr<ITypeInfo> m_typeInfo;
  BSTR m_trustedSiteDataFileUrl = nullptr;
};

}  // namespace KestAXLib
