// A server module for the host's tests whose events are posted, as the
// system's objects post theirs: Start(count, interval) runs a worker thread
// that posts one message per tick to the object's message window, and the
// window procedure -- run by whoever pumps the apartment's messages, such
// as WScript.Sleep -- fires OnTick(Index, Names, Sender), then OnDone. The
// object also reports the location of the page its site leads to.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/web_browser.h"
#include "platform/com/com.h"
#include "platform/com/ole_site.h"
#include "platform/msg/message.h"
#include "tests/support/class_factory.h"
#include "tests/support/test_com_module.h"

using namespace kestnet::platform;

namespace {

constexpr CLSID CLSID_Ticker = {0x3E0D5B71, 0x2A64, 0x4F1B, {0x8C, 0x3D, 0x51, 0x9A, 0x07, 0xE2, 0x6B, 0x01}};
constexpr IID IID_ITicker = {0x3E0D5B71, 0x2A64, 0x4F1B, {0x8C, 0x3D, 0x51, 0x9A, 0x07, 0xE2, 0x6B, 0x02}};
constexpr IID IID_ITickerEvents = {0x3E0D5B71, 0x2A64, 0x4F1B, {0x8C, 0x3D, 0x51, 0x9A, 0x07, 0xE2, 0x6B, 0x03}};
constexpr GUID LIBID_Ticker = {0x3E0D5B71, 0x2A64, 0x4F1B, {0x8C, 0x3D, 0x51, 0x9A, 0x07, 0xE2, 0x6B, 0x04}};

constexpr LONG kDispStart = 1;
constexpr LONG kDispTicks = 2;
constexpr LONG kDispSiteLocation = 3;
constexpr LONG kDispOnTick = 1;
constexpr LONG kDispOnDone = 2;

constexpr UINT kTickMessage = WM_APP + 1;
constexpr UINT kDoneMessage = WM_APP + 2;

}  // namespace

struct ITicker : IDispatch {
  STDMETHOD(Start)(LONG count, LONG interval) = 0;
  STDMETHOD(get_Ticks)(LONG* ticks) = 0;
  STDMETHOD(get_SiteLocation)(BSTR* location) = 0;

 protected:
  ~ITicker() = default;
};

namespace {

constexpr ParamDescription kStart[] = {In(L"Count", VT_I4), Optional(L"Interval", VT_I4, DefaultLong(1))};
constexpr ParamDescription kLongOut[] = {RetVal(L"pVal", VT_I4)};
constexpr ParamDescription kBstrOut[] = {RetVal(L"pVal", VT_BSTR)};
constexpr MemberDescription kTickerMembers[] = {
    Method(kDispStart, L"Start", kStart),
    PropertyGet(kDispTicks, L"Ticks", kLongOut),
    PropertyGet(kDispSiteLocation, L"SiteLocation", kBstrOut),
};
constexpr ParamDescription kOnTick[] = {In(L"Index", VT_I4), In(L"Names", VT_VARIANT), In(L"Sender", VT_DISPATCH)};
constexpr MemberDescription kEventMembers[] = {
    Method(kDispOnTick, L"OnTick", kOnTick),
    Method(kDispOnDone, L"OnDone"),
};
constexpr InterfaceDescription kITicker = Dual(L"ITicker", IID_ITicker, kTickerMembers, L"ITicker Interface");
constexpr InterfaceDescription kITickerEvents =
    Events(L"ITickerEvents", IID_ITickerEvents, kEventMembers, L"ITickerEvents Interface");
constexpr const InterfaceDescription* kInterfaces[] = {&kITicker, &kITickerEvents};
constexpr CoclassDescription kCoclasses[] = {{L"Ticker", CLSID_Ticker, &kITicker, &kITickerEvents, L"Ticker Class"}};
constexpr TypeLibDescription kLibrary = {L"KestHostTestTicker", LIBID_Ticker, 1, 0, L"Ticker 1.0 Type Library",
                                         kInterfaces, kCoclasses};

constexpr const wchar_t* kRegistryScript = LR"(
HKCR
{
  KestHostTest.Ticker = s 'Ticker Class'
  {
    CLSID = s '{3E0D5B71-2A64-4F1B-8C3D-519A07E26B01}'
  }
  NoRemove CLSID
  {
    ForceRemove {3E0D5B71-2A64-4F1B-8C3D-519A07E26B01} = s 'Ticker Class'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
)";

constexpr const wchar_t* kWindowClass = L"KestHostTestTickerWindow";

std::atomic<long> g_objects{0};

kestnet::test::TypeLibHolder& Library() {
  static kestnet::test::TypeLibHolder holder(&kLibrary);
  return holder;
}

std::wstring ModulePath() { return kestnet::test::ModulePathOf(reinterpret_cast<void*>(&Library)); }

class Ticker;
LRESULT CALLBACK TickerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClassOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = TickerWindowProc;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
  });
}

class Ticker final : public ITicker,
                     public IConnectionPointContainer,
                     public IConnectionPoint,
                     public IProvideClassInfo2,
                     public IObjectWithSite {
 public:
  Ticker() {
    g_objects.fetch_add(1);
    RegisterWindowClassOnce();
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window_ != nullptr) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    static const QITAB kQueryTable[] = {
        QITABENTMULTI2(Ticker, IID_ITicker, ITicker),
        QITABENTMULTI2(Ticker, IID_IDispatch, ITicker),
        QITABENTMULTI2(Ticker, IID_IConnectionPointContainer, IConnectionPointContainer),
        QITABENTMULTI2(Ticker, IID_IProvideClassInfo, IProvideClassInfo2),
        QITABENTMULTI2(Ticker, IID_IProvideClassInfo2, IProvideClassInfo2),
        QITABENTMULTI2(Ticker, IID_IObjectWithSite, IObjectWithSite),
        {},
    };
    return QISearch(this, kQueryTable, riid, ppv);
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = index == 0 ? Library().InfoOf(IID_ITicker) : nullptr;
    return *info == nullptr ? DISP_E_BADINDEX : S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    ATL::CComPtr<ITypeInfo> info;
    info.Attach(Library().InfoOf(IID_ITicker));
    return info ? DispGetIDsOfNames(info, names, count, ids) : E_UNEXPECTED;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                      UINT* argErr) override {
    ATL::CComPtr<ITypeInfo> info;
    info.Attach(Library().InfoOf(IID_ITicker));
    if (!info) return E_UNEXPECTED;
    return DispInvoke(static_cast<ITicker*>(this), info, id, flags, params, result, excep, argErr);
  }

  // ITicker
  STDMETHODIMP Start(LONG count, LONG interval) override {
    if (count < 0 || interval < 0 || window_ == nullptr) return E_INVALIDARG;
    JoinWorker();
    HWND window = window_;
    worker_ = std::thread([window, count, interval] {
      for (LONG i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(interval));
        PostMessageW(window, kTickMessage, static_cast<WPARAM>(i), 0);
      }
      PostMessageW(window, kDoneMessage, 0, 0);
    });
    return S_OK;
  }
  STDMETHODIMP get_Ticks(LONG* ticks) override {
    if (ticks == nullptr) return E_POINTER;
    *ticks = ticks_;
    return S_OK;
  }
  STDMETHODIMP get_SiteLocation(BSTR* location) override {
    if (location == nullptr) return E_POINTER;
    *location = nullptr;
    ATL::CComPtr<IServiceProvider> provider;
    if (!site_ || FAILED(site_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)))) {
      *location = SysAllocString(L"");
      return S_OK;
    }
    ATL::CComPtr<IServiceProvider> topLevel;
    HRESULT hr =
        provider->QueryService(SID_STopLevelBrowser, IID_IServiceProvider, reinterpret_cast<void**>(&topLevel));
    if (FAILED(hr)) return hr;
    ATL::CComPtr<IWebBrowser2> browser;
    hr = topLevel->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
    if (FAILED(hr)) return hr;
    return browser->get_LocationURL(location);
  }

  // Runs on the apartment thread, from the message pump.
  void OnMessage(UINT message, WPARAM wParam) {
    if (message == kTickMessage) {
      ++ticks_;
      // Index, Names (an array of texts) and Sender, last first.
      SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 0, 2);
      for (LONG i = 0; i < 2; ++i) {
        BSTR name = SysAllocString((L"name" + std::to_wstring(static_cast<LONG>(wParam) * 2 + i)).c_str());
        SafeArrayPutElement(names, &i, name);
        SysFreeString(name);
      }
      VARIANT args[3];
      for (VARIANT& arg : args) VariantInit(&arg);
      args[0].vt = VT_DISPATCH;
      args[0].pdispVal = static_cast<ITicker*>(this);
      args[1].vt = VT_ARRAY | VT_BSTR;
      args[1].parray = names;
      args[2].vt = VT_I4;
      args[2].lVal = static_cast<LONG>(wParam);
      DISPPARAMS params{args, nullptr, 3, 0};
      Fire(kDispOnTick, &params);
      SafeArrayDestroy(names);
    } else if (message == kDoneMessage) {
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      Fire(kDispOnDone, &none);
    }
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** enumerator) override {
    if (enumerator != nullptr) *enumerator = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (riid != IID_ITickerEvents) return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_ITickerEvents;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (container == nullptr) return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(IID_ITickerEvents, reinterpret_cast<void**>(&dispatch)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    sinks_.push_back(dispatch);
    *cookie = static_cast<DWORD>(sinks_.size());
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = sinks_[cookie - 1];
    sinks_[cookie - 1] = nullptr;
    sink->Release();
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** enumerator) override {
    if (enumerator != nullptr) *enumerator = nullptr;
    return E_NOTIMPL;
  }

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = Library().InfoOf(CLSID_Ticker);
    return *info == nullptr ? E_UNEXPECTED : S_OK;
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = IID_ITickerEvents;
    return S_OK;
  }

  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override {
    site_ = site;
    return S_OK;
  }
  STDMETHODIMP GetSite(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    return site_ ? site_->QueryInterface(riid, ppv) : E_FAIL;
  }

 private:
  ~Ticker() {
    JoinWorker();
    if (window_ != nullptr) DestroyWindow(window_);
    for (IDispatch* sink : sinks_) {
      if (sink != nullptr) sink->Release();
    }
    g_objects.fetch_sub(1);
  }

  void JoinWorker() {
    if (worker_.joinable()) worker_.join();
  }

  void Fire(DISPID dispid, DISPPARAMS* params) {
    AddRef();  // a handler may let go of the object
    std::vector<IDispatch*> sinks = sinks_;
    for (IDispatch* sink : sinks) {
      if (sink != nullptr) sink->AddRef();
    }
    for (IDispatch* sink : sinks) {
      if (sink == nullptr) continue;
      sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
      sink->Release();
    }
    Release();
  }

  kestnet::platform::RefCount refCount_;
  HWND window_ = nullptr;
  std::thread worker_;
  LONG ticks_ = 0;
  std::vector<IDispatch*> sinks_;  // slot i holds cookie i + 1; one reference each
  ATL::CComPtr<IUnknown> site_;
};

LRESULT CALLBACK TickerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTickMessage || message == kDoneMessage) {
    auto* ticker = reinterpret_cast<Ticker*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (ticker != nullptr) ticker->OnMessage(message, wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

kestnet::testing::ClassFactory g_factory([](REFIID riid, void** ppv) {
  return kestnet::testing::CreateObject<Ticker>(riid, ppv);
});

HRESULT RunRegistryScript(bool registering) {
  Registrar registrar;
  registrar.AddReplacement(L"MODULE", ModulePath().c_str());
  return registering ? registrar.StringRegister(kRegistryScript) : registrar.StringUnregister(kRegistryScript);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_Ticker) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

// The window class stays registered with the module's procedure, so the
// module stays loaded for the life of the process.
__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return S_FALSE; }

__attribute__((visibility("default"))) HRESULT DllRegisterServer() { return RunRegistryScript(true); }

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() { return RunRegistryScript(false); }

}  // extern "C"
