#include "automation/created_object.h"

#include "runtime/log.h"

namespace KestAXLib {

void LogCreateInstanceFailure(const ObjectIdentity& who, HRESULT hr) {
  ::Log(who.className, kLogLevelWarning, "CreateInstanceAndSetSite - CreateInstance() failed with hr = [0x%x].",
        static_cast<unsigned>(hr));
}

bool SetSiteOfCreatedObject(const ObjectIdentity& who, IUnknown* object, IUnknown* site) {
  ATL::CComPtr<IObjectWithSite> withSite;
  HRESULT hr = object->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite));
  if (FAILED(hr)) {
    ::Log(who.className, kLogLevelWarning,
          "CreateInstanceAndSetSite - QueryInterface(IID_IObjectWithSite) failed with hr = [0x%x].",
          static_cast<unsigned>(hr));
    return false;
  }
  hr = withSite->SetSite(site);
  if (FAILED(hr)) {
    ::Log(who.className, kLogLevelWarning,
          "CreateInstanceAndSetSite - IObjectWithSite::SetSite() failed with hr = [0x%x].", static_cast<unsigned>(hr));
    return false;
  }
  return true;
}

}  // namespace KestAXLib
