// The container-facing bases every scriptable object carries: the site
// (IObjectWithSiteImpl), the safety options (IObjectSafetyImpl), the error
// information support (ISupportErrorInfoImpl) and the class information with
// the default source interface (IProvideClassInfo2Impl).
#pragma once

#include "automation/type_info_holder.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/error_info.h"
#include "platform/com/ole_site.h"

namespace ATL {

template <class T>
class IObjectWithSiteImpl : public IObjectWithSite {
 public:
  // Keeps a reference to the new site and releases the old one.
  STDMETHODIMP SetSite(IUnknown* site) override {
    m_spUnkSite = site;
    return S_OK;
  }
  // E_POINTER without ppv; E_FAIL (and *ppv null) while there is no site.
  STDMETHODIMP GetSite(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (m_spUnkSite == nullptr) return E_FAIL;
    return m_spUnkSite->QueryInterface(riid, ppv);
  }

  IUnknown* SiteUnknown() const { return m_spUnkSite; }

 protected:
  ~IObjectWithSiteImpl() = default;

  CComPtr<IUnknown> m_spUnkSite;
};

// Reports dwSupportedSafety as supported and accepts any subset of it; mask 3
// is safe for untrusted callers and untrusted data.
template <class T, DWORD dwSupportedSafety>
class IObjectSafetyImpl : public IObjectSafety {
 public:
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override {
    if (supported == nullptr || enabled == nullptr) return E_POINTER;
    *supported = 0;
    *enabled = 0;
    if (!Implements(riid)) return E_NOINTERFACE;
    *supported = dwSupportedSafety;
    *enabled = m_dwCurrentSafety;
    return S_OK;
  }
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabledOptions) override {
    if (!Implements(riid)) return E_NOINTERFACE;
    if ((mask & ~dwSupportedSafety) != 0) return E_FAIL;
    m_dwCurrentSafety = (m_dwCurrentSafety & ~mask) | (mask & enabledOptions);
    return S_OK;
  }

 protected:
  ~IObjectSafetyImpl() = default;

  DWORD m_dwCurrentSafety = 0;

 private:
  bool Implements(REFIID riid) {
    IUnknown* found = nullptr;
    if (FAILED(this->QueryInterface(riid, reinterpret_cast<void**>(&found)))) return false;
    found->Release();
    return true;
  }
};

// Says yes for the object's own interface only.
template <const IID* piid>
class ISupportErrorInfoImpl : public ISupportErrorInfo {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override { return riid == *piid ? S_OK : S_FALSE; }

 protected:
  ~ISupportErrorInfoImpl() = default;
};

template <const CLSID* pcoclsid, const IID* psrcid, const GUID* plibid, WORD wMajor = 1, WORD wMinor = 0>
class IProvideClassInfo2Impl : public IProvideClassInfo2 {
 public:
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    return KestAXLib::GetTypeInfoOfGuid(*plibid, wMajor, wMinor, *pcoclsid, info);
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID || psrcid == nullptr) return E_INVALIDARG;
    *guid = *psrcid;
    return S_OK;
  }

 protected:
  ~IProvideClassInfo2Impl() = default;
};

}  // namespace ATL
