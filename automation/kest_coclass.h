// The co-class bases of the scriptable objects.
//
// KestComCoClass<T, &CLSID, I, &IID> is CComCoClass with the site: the objects
// that may be hosted on a page (and forwarded to proxy controls) use it to
// reach the top-level browser and to learn the address of the site that
// hosts them. It also holds the interfaces of the elevation and control-host
// proxies, all null until a proxy is made.
//
// IConnectionPointContainerImpl<T> finds T's one event connection point
// (T::EventConnectionPoint(), supplied by its event proxy).
#pragma once

#include <array>
#include <string>

#include "automation/class_factory.h"
#include "automation/connection_enumerators.h"
#include "automation/object_support.h"
#include "platform/com/web_browser.h"

namespace KestAXLib {

// The top-level browser reached from site, or null (each failure logged
// under "KestComCoClass").
ATL::CComPtr<IWebBrowser2> GetWebBrowserOfSite(IUnknown* site);

// The site address "%d://%s:%s@%s:%d" of the top-level browser's location.
// Throws KestBase::NullPointerException when there is no browser or the URL
// does not crack, KestBase::HRESULTException when the URL cannot be read.
std::string GetSiteAddressOfSite(IUnknown* site);

// Logs a failed construction of the co-class part.
void LogCoClassConstructionFailure() noexcept;

// How many proxy and companion interfaces besides the site a KestComCoClass holds.
inline constexpr size_t kProxyInterfaceCount = 11;

template <class T, const CLSID* pclsid, class I, const IID* piid>
class KestComCoClass : public ATL::CComCoClass<T, pclsid>, public ATL::IObjectWithSiteImpl<T> {
 public:
  KestComCoClass() {
    try {
      for (ATL::CComPtr<IUnknown>& proxy : m_proxyInterfaces) proxy.Release();
    } catch (...) {
      LogCoClassConstructionFailure();
    }
  }

  virtual ~KestComCoClass() = default;
  KestComCoClass(const KestComCoClass&) = delete;
  KestComCoClass& operator=(const KestComCoClass&) = delete;

  ATL::CComPtr<IWebBrowser2> GetWebBrowser() { return GetWebBrowserOfSite(this->m_spUnkSite); }
  std::string GetSite() { return GetSiteAddressOfSite(this->m_spUnkSite); }
  using ATL::IObjectWithSiteImpl<T>::GetSite;

 protected:
  std::array<ATL::CComPtr<IUnknown>, kProxyInterfaceCount> m_proxyInterfaces;
};

}  // namespace KestAXLib

namespace ATL {

template <class T>
class IConnectionPointContainerImpl : public IConnectionPointContainer {
 public:
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** enumerator) override {
    if (enumerator == nullptr) return E_POINTER;
    *enumerator = nullptr;
    std::vector<IConnectionPoint*> points{&static_cast<T*>(this)->EventConnectionPoint()};
    auto* created = new (std::nothrow) KestAXLib::ConnectionPointEnumerator(std::move(points));
    if (created == nullptr) return E_OUTOFMEMORY;
    *enumerator = created;
    return S_OK;
  }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    auto& eventPoint = static_cast<T*>(this)->EventConnectionPoint();
    if (eventPoint.EventInterface() != riid) return CONNECT_E_NOCONNECTION;
    eventPoint.AddRef();
    *point = &eventPoint;
    return S_OK;
  }

  // Forwards this object's sinks to a proxy control of the same class (the
  // event point must be a KestConnectionPointImplMT).
  void HookupActiveXCallBacks(IUnknown* proxy) {
    static_cast<T*>(this)->EventConnectionPoint().HookupActiveXCallBacks(proxy);
  }

 protected:
  ~IConnectionPointContainerImpl() = default;
};

}  // namespace ATL
