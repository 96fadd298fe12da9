#include "automation/kest_coclass.h"

#include "automation/url_cracker.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

constexpr const char* kLogClass = "KestComCoClass";
constexpr int kConstructorGuardLine = 190;

}  // namespace

ATL::CComPtr<IWebBrowser2> GetWebBrowserOfSite(IUnknown* site) {
  if (site == nullptr) {
    ::Log(kLogClass, kLogLevelWarning, "GetWebBrowser():  Error - Invalid site pointer!");
    return {};
  }
  ATL::CComPtr<IServiceProvider> provider;
  if (FAILED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)))) {
    ::Log(kLogClass, kLogLevelWarning,
                  "GetWebBrowser():  Error - Cannot get the service provider for this control!");
    return {};
  }
  ATL::CComPtr<IServiceProvider> topLevel;
  HRESULT hr = provider->QueryService(SID_STopLevelBrowser, IID_IServiceProvider, reinterpret_cast<void**>(&topLevel));
  if (FAILED(hr) || topLevel == nullptr) {
    ::Log(kLogClass, kLogLevelWarning,
                  "GetWebBrowser():  Error - Cannot get the topmost service provider for this control, hr = <0x%X>",
                  static_cast<unsigned>(hr));
    return {};
  }
  ATL::CComPtr<IWebBrowser2> browser;
  hr = topLevel->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
  if (FAILED(hr) || browser == nullptr) {
    ::Log(kLogClass, kLogLevelWarning,
                  "GetWebBrowser():  Error - Cannot get the topmost IWebBrowser2 for this control, hr = <0x%X>",
                  static_cast<unsigned>(hr));
    return {};
  }
  return browser;
}

std::string GetSiteAddressOfSite(IUnknown* site) {
  ATL::CComPtr<IWebBrowser2> browser = GetWebBrowserOfSite(site);
  if (browser == nullptr) {
    ::Log(kLogClass, kLogLevelWarning,
                  "GetSite():  Error - Cannot get the topmost IWebBrowser2 for this control in order to extract the "
                  "site.");
    throw KestBase::NullPointerException();
  }
  BSTR location = nullptr;
  HRESULT hr = browser->get_LocationURL(&location);
  if (FAILED(hr)) {
    ::Log(kLogClass, kLogLevelWarning,
                  "GetSite():  Error - IWebBrowser2::get_LocationURL failed with hr = <0x%X>.",
                  static_cast<unsigned>(hr));
    throw KestBase::HRESULTException(hr, __FILE__, __LINE__);
  }
  std::wstring wideLocation(location == nullptr ? L"" : location, SysStringLen(location));
  SysFreeString(location);
  std::string narrowLocation = KestUtilsLib::StringConversion::ConvertCAtlStringWToUTF8(wideLocation);
  std::optional<CrackedUrl> cracked = CrackUrl(narrowLocation);
  if (!cracked) {
    ::Log(kLogClass, kLogLevelWarning, "GetSite():  Error - Unable to crak location URL <%s>.",
                  narrowLocation.c_str());
    throw KestBase::NullPointerException();
  }
  return FormatSiteAddress(*cracked);
}

void LogCoClassConstructionFailure() noexcept {
  ::Log(kLogClass, kLogLevelTrace, "%s():  Failed to construct properly.", "KestComCoClass");
  ::Log(kLogClass, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.",
                "KestComCoClass", kConstructorGuardLine);
}

}  // namespace KestAXLib
