// Objects one object makes for a script: a KestNetMessageData for a retrieved
// message, a KestNetWindowsNetworkHost for a host lookup. The new object gets
// its maker's site, so the trust gate judges it as it judges its maker.
#pragma once

#include "automation/com_object.h"
#include "automation/method_guard.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/ole_site.h"

namespace KestAXLib {

// Gives object the site; false (logged under who as
// "CreateInstanceAndSetSite - ...") when it has no IObjectWithSite or refuses.
bool SetSiteOfCreatedObject(const ObjectIdentity& who, IUnknown* object, IUnknown* site);
// Logs a failed creation under who.
void LogCreateInstanceFailure(const ObjectIdentity& who, HRESULT hr);

// A new T (in its plain CComObject form) seen through its interface I, with
// site set; null when it cannot be made or given the site (logged).
template <class T, class I>
ATL::CComPtr<I> CreateInstanceWithSite(const ObjectIdentity& who, IUnknown* site) {
  ATL::CComObject<T>* created = nullptr;
  HRESULT hr = ATL::CComObject<T>::CreateInstance(&created);
  if (FAILED(hr) || created == nullptr) {
    LogCreateInstanceFailure(who, hr);
    return nullptr;
  }
  ATL::CComPtr<I> object(static_cast<I*>(created));
  if (!SetSiteOfCreatedObject(who, object, site)) return nullptr;
  return object;
}

}  // namespace KestAXLib
