// The site `kestnet run --site URL` gives every object it creates: a service
// provider that leads, as a web page's container does, to a top-level
// browser whose location is URL. Objects read only the location; the rest of
// the browser answers E_NOTIMPL.
#include <string>

#include "platform/com/web_browser.h"
#include "host/script_internal.h"
#include "platform/com/ole_site.h"
#include "platform/com/qi_search.h"
#include "platform/com/ref_count.h"

namespace kestnet::host::script {
namespace {

#define KESTNET_BROWSER_NOT_IMPLEMENTED(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }

class PageBrowser final : public IWebBrowser2 {
 public:
  explicit PageBrowser(std::wstring location) : location_(std::move(location)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    static const QITAB kQueryTable[] = {
        QITABENTMULTI2(PageBrowser, IID_IWebBrowser2, IWebBrowser2),
        QITABENTMULTI2(PageBrowser, IID_IWebBrowserApp, IWebBrowser2),
        QITABENTMULTI2(PageBrowser, IID_IWebBrowser, IWebBrowser2),
        QITABENTMULTI2(PageBrowser, IID_IDispatch, IWebBrowser2),
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
  KESTNET_BROWSER_NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)

  STDMETHODIMP get_LocationURL(BSTR* url) override {
    if (url == nullptr) return E_POINTER;
    *url = SysAllocStringLen(location_.data(), static_cast<UINT>(location_.size()));
    return *url == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL* topLevel) override {
    if (topLevel == nullptr) return E_POINTER;
    *topLevel = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP get_ReadyState(READYSTATE* state) override {
    if (state == nullptr) return E_POINTER;
    *state = READYSTATE_COMPLETE;
    return S_OK;
  }

  // IWebBrowser
  KESTNET_BROWSER_NOT_IMPLEMENTED(GoBack)
  KESTNET_BROWSER_NOT_IMPLEMENTED(GoForward)
  KESTNET_BROWSER_NOT_IMPLEMENTED(GoHome)
  KESTNET_BROWSER_NOT_IMPLEMENTED(GoSearch)
  KESTNET_BROWSER_NOT_IMPLEMENTED(Navigate, BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(Refresh)
  KESTNET_BROWSER_NOT_IMPLEMENTED(Refresh2, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(Stop)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Application, IDispatch**)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Parent, IDispatch**)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Container, IDispatch**)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Document, IDispatch**)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Type, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Left, LONG*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Left, LONG)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Top, LONG*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Top, LONG)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Width, LONG*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Width, LONG)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Height, LONG*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Height, LONG)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_LocationName, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Busy, VARIANT_BOOL*)
  // IWebBrowserApp
  KESTNET_BROWSER_NOT_IMPLEMENTED(Quit)
  KESTNET_BROWSER_NOT_IMPLEMENTED(ClientToWindow, int*, int*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(PutProperty, BSTR, VARIANT)
  KESTNET_BROWSER_NOT_IMPLEMENTED(GetProperty, BSTR, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Name, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_HWND, SHANDLE_PTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_FullName, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Path, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Visible, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Visible, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_StatusBar, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_StatusBar, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_StatusText, BSTR*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_StatusText, BSTR)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_ToolBar, int*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_ToolBar, int)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_MenuBar, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_MenuBar, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_FullScreen, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_FullScreen, VARIANT_BOOL)
  // IWebBrowser2
  KESTNET_BROWSER_NOT_IMPLEMENTED(Navigate2, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(QueryStatusWB, OLECMDID, OLECMDF*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(ExecWB, OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(ShowBrowserBar, VARIANT*, VARIANT*, VARIANT*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Offline, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Offline, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Silent, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Silent, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_RegisterAsBrowser, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_RegisterAsBrowser, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_RegisterAsDropTarget, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_RegisterAsDropTarget, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_TheaterMode, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_TheaterMode, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_AddressBar, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_AddressBar, VARIANT_BOOL)
  KESTNET_BROWSER_NOT_IMPLEMENTED(get_Resizable, VARIANT_BOOL*)
  KESTNET_BROWSER_NOT_IMPLEMENTED(put_Resizable, VARIANT_BOOL)

 private:
  ~PageBrowser() = default;

  std::wstring location_;
  kestnet::platform::RefCount refCount_;
};

#undef KESTNET_BROWSER_NOT_IMPLEMENTED

// The page's container: its services lead to the top-level browser (itself
// the provider of the browser's own service).
class PageSite final : public IServiceProvider {
 public:
  explicit PageSite(const std::wstring& location) : browser_(new PageBrowser(location)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
      *ppv = static_cast<IServiceProvider*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (service == SID_STopLevelBrowser) return QueryInterface(riid, ppv);
    if (service == SID_SWebBrowserApp) return browser_->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
  }

 private:
  ~PageSite() { browser_->Release(); }

  PageBrowser* browser_;  // one reference
  kestnet::platform::RefCount refCount_;
};

}  // namespace

IUnknown* CreateWebPageSite(const std::wstring& url) { return new PageSite(url); }

}  // namespace kestnet::host::script
