// A small in-process server module for the runtime's tests: one creatable
// class with a dual interface, an event interface and a registry script,
// written the way a module of the system is written. Built as its own shared
// library and loaded by activation; it resolves the runtime's functions from
// the process that loads it, as a module shares one COM runtime with its host.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "tests/support/class_factory.h"
#include "tests/support/test_com_module.h"
#include "tests/platform/com/test_server_ids.h"

using namespace kestnet::platform;
using namespace kestnet::platform::testing;

struct ITestWidget : IDispatch {
  STDMETHOD(get_Name)(BSTR* name) = 0;
  STDMETHOD(put_Name)(BSTR name) = 0;
  STDMETHOD(get_Count)(LONG* count) = 0;
  STDMETHOD(put_Count)(LONG count) = 0;
  STDMETHOD(get_ShortValue)(SHORT* value) = 0;
  STDMETHOD(put_ShortValue)(SHORT value) = 0;
  STDMETHOD(Concat)(BSTR text, LONG number, SHORT small, VARIANT_BOOL flag, BSTR* result) = 0;
  STDMETHOD(AddNumbers)(LONG first, LONG second, LONG* sum) = 0;
  STDMETHOD(Describe)(VARIANT value, BSTR* description) = 0;
  STDMETHOD(IsMissing)(VARIANT value, VARIANT_BOOL* missing) = 0;
  STDMETHOD(NameOf)(IDispatch* object, BSTR* name) = 0;
  STDMETHOD(Fail)(BSTR message) = 0;
  STDMETHOD(FireEvents)(LONG count) = 0;
  STDMETHOD(Scale)(DOUBLE value, DOUBLE* result) = 0;
  STDMETHOD(Greeting)(BSTR who, BSTR greeting, BSTR* text) = 0;

 protected:
  ~ITestWidget() = default;
};

namespace {

// The type library, written once: dispatch, type information and
// registration all come from it.
constexpr ParamDescription kBstrOut[] = {RetVal(L"pVal", VT_BSTR)};
constexpr ParamDescription kBstrIn[] = {In(L"newVal", VT_BSTR)};
constexpr ParamDescription kLongOut[] = {RetVal(L"pVal", VT_I4)};
constexpr ParamDescription kLongIn[] = {In(L"newVal", VT_I4)};
constexpr ParamDescription kShortOut[] = {RetVal(L"pVal", VT_I2)};
constexpr ParamDescription kShortIn[] = {In(L"newVal", VT_I2)};
constexpr ParamDescription kConcat[] = {In(L"Text", VT_BSTR), In(L"Number", VT_I4), In(L"Small", VT_I2),
                                        In(L"Flag", VT_BOOL), RetVal(L"Result", VT_BSTR)};
constexpr ParamDescription kAddNumbers[] = {In(L"First", VT_I4), Optional(L"Second", VT_I4, DefaultLong(10)),
                                            RetVal(L"Sum", VT_I4)};
constexpr ParamDescription kDescribe[] = {In(L"Value", VT_VARIANT), RetVal(L"Description", VT_BSTR)};
constexpr ParamDescription kIsMissing[] = {OptionalVariant(L"Value"), RetVal(L"Missing", VT_BOOL)};
constexpr ParamDescription kNameOf[] = {In(L"Object", VT_DISPATCH), RetVal(L"Name", VT_BSTR)};
constexpr ParamDescription kFail[] = {In(L"Message", VT_BSTR)};
constexpr ParamDescription kFireEvents[] = {In(L"Count", VT_I4)};
constexpr ParamDescription kScale[] = {In(L"Value", VT_R8), RetVal(L"Result", VT_R8)};
constexpr ParamDescription kGreeting[] = {In(L"Who", VT_BSTR), Optional(L"Greeting", VT_BSTR, DefaultText(L"Hello")),
                                          RetVal(L"Text", VT_BSTR)};

constexpr MemberDescription kWidgetMembers[] = {
    PropertyGet(kDispName, L"Name", kBstrOut),
    PropertyPut(kDispName, L"Name", kBstrIn),
    PropertyGet(kDispCount, L"Count", kLongOut),
    PropertyPut(kDispCount, L"Count", kLongIn),
    PropertyGet(kDispShortValue, L"ShortValue", kShortOut),
    PropertyPut(kDispShortValue, L"ShortValue", kShortIn),
    Method(kDispConcat, L"Concat", kConcat),
    Method(kDispAddNumbers, L"AddNumbers", kAddNumbers),
    Method(kDispDescribe, L"Describe", kDescribe),
    Method(kDispIsMissing, L"IsMissing", kIsMissing),
    Method(kDispNameOf, L"NameOf", kNameOf),
    Method(kDispFail, L"Fail", kFail),
    Method(kDispFireEvents, L"FireEvents", kFireEvents),
    Method(kDispScale, L"Scale", kScale),
    Method(kDispGreeting, L"Greeting", kGreeting),
};

constexpr ParamDescription kOnTick[] = {In(L"Index", VT_I4), In(L"Text", VT_BSTR)};
constexpr MemberDescription kEventMembers[] = {
    Method(kDispOnTick, L"OnTick", kOnTick),
    Method(kDispOnDone, L"OnDone"),
};

constexpr InterfaceDescription kITestWidget =
    Dual(L"ITestWidget", IID_ITestWidget, kWidgetMembers, L"ITestWidget Interface");
constexpr InterfaceDescription kITestWidgetEvents =
    Events(L"ITestWidgetEvents", IID_ITestWidgetEvents, kEventMembers, L"ITestWidgetEvents Interface");
constexpr const InterfaceDescription* kInterfaces[] = {&kITestWidget, &kITestWidgetEvents};
constexpr CoclassDescription kCoclasses[] = {
    {L"TestWidget", CLSID_TestWidget, &kITestWidget, &kITestWidgetEvents, L"TestWidget Class"}};
constexpr TypeLibDescription kLibrary = {L"KestTestServer", LIBID_TestServer, 1, 0, L"KestTest 1.0 Type Library",
                                         kInterfaces, kCoclasses};

constexpr const wchar_t* kRegistryScript = LR"(
HKCR
{
  KestTest.Widget.1 = s 'TestWidget Class'
  {
    CLSID = s '{6A1F0C2E-3B5D-4c8e-9F10-2D7E4481A601}'
  }
  KestTest.Widget = s 'TestWidget Class'
  {
    CLSID = s '{6A1F0C2E-3B5D-4c8e-9F10-2D7E4481A601}'
    CurVer = s 'KestTest.Widget.1'
  }
  NoRemove CLSID
  {
    ForceRemove {6A1F0C2E-3B5D-4c8e-9F10-2D7E4481A601} = s 'TestWidget Class'
    {
      ProgID = s 'KestTest.Widget.1'
      VersionIndependentProgID = s 'KestTest.Widget'
      ForceRemove 'Programmable'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
      'TypeLib' = s '{6A1F0C2E-3B5D-4C8E-9F10-2D7E4481A604}'
      val AppID = s '%APPID%'
    }
  }
  NoRemove AppID
  {
    '%APPID%' = s 'KestTest'
    'libcom_test_server.so'
    {
      val AppID = s '%APPID%'
    }
  }
}
)";

std::atomic<long> g_lockCount{0};
std::atomic<void*> g_lastOuter{nullptr};

kestnet::test::TypeLibHolder& Library() {
  static kestnet::test::TypeLibHolder holder(&kLibrary);
  return holder;
}

std::wstring ModulePath() { return kestnet::test::ModulePathOf(reinterpret_cast<void*>(&Library)); }

class Widget;

// The widget's one connection point. Its references are the widget's.
class WidgetConnectionPoint final : public IConnectionPoint {
 public:
  explicit WidgetConnectionPoint(Widget* owner) : owner_(owner) {}
  ~WidgetConnectionPoint() {
    for (IDispatch* sink : sinks_) {
      if (sink != nullptr) sink->Release();
    }
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
      *ppv = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_ITestWidgetEvents;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;

  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(IID_ITestWidgetEvents, reinterpret_cast<void**>(&events)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < sinks_.size(); ++i) {
      if (sinks_[i] == nullptr) {
        sinks_[i] = events;
        *cookie = static_cast<DWORD>(i + 1);
        return S_OK;
      }
    }
    sinks_.push_back(events);
    *cookie = static_cast<DWORD>(sinks_.size());
    return S_OK;
  }

  STDMETHODIMP Unadvise(DWORD cookie) override {
    IDispatch* sink = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
      sink = sinks_[cookie - 1];
      sinks_[cookie - 1] = nullptr;
    }
    sink->Release();
    return S_OK;
  }

  STDMETHODIMP EnumConnections(IEnumConnections** enumerator) override {
    if (enumerator != nullptr) *enumerator = nullptr;
    return E_NOTIMPL;
  }

  // Calls every sink; a failing sink does not stop the others.
  void Fire(DISPID dispid, DISPPARAMS* params) {
    std::vector<IDispatch*> sinks;
    {
      std::lock_guard lock(mutex_);
      for (IDispatch* sink : sinks_) {
        if (sink == nullptr) continue;
        sink->AddRef();
        sinks.push_back(sink);
      }
    }
    for (IDispatch* sink : sinks) {
      sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
      sink->Release();
    }
  }

 private:
  Widget* owner_;
  std::mutex mutex_;
  std::vector<IDispatch*> sinks_;  // slot i holds cookie i + 1; one reference each
};

class Widget final : public ITestWidget, public IConnectionPointContainer, public IProvideClassInfo2,
                     public ISupportErrorInfo {
 public:
  Widget() : connectionPoint_(this) { g_lockCount.fetch_add(1); }
  ~Widget() {
    SysFreeString(name_);
    g_lockCount.fetch_sub(1);
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    static const QITAB kQueryTable[] = {
        QITABENTMULTI2(Widget, IID_ITestWidget, ITestWidget),
        QITABENTMULTI2(Widget, IID_IDispatch, ITestWidget),
        QITABENTMULTI2(Widget, IID_IConnectionPointContainer, IConnectionPointContainer),
        QITABENTMULTI2(Widget, IID_IProvideClassInfo, IProvideClassInfo2),
        QITABENTMULTI2(Widget, IID_IProvideClassInfo2, IProvideClassInfo2),
        QITABENTMULTI2(Widget, IID_ISupportErrorInfo, ISupportErrorInfo),
        {},
    };
    return QISearch(this, kQueryTable, riid, ppv);
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  // IDispatch through the described type information.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = Library().InfoOf(IID_ITestWidget);
    return *info == nullptr ? E_UNEXPECTED : S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = Library().InfoOf(IID_ITestWidget);
    if (info == nullptr) return E_UNEXPECTED;
    HRESULT hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = Library().InfoOf(IID_ITestWidget);
    if (info == nullptr) return E_UNEXPECTED;
    HRESULT hr = DispInvoke(static_cast<ITestWidget*>(this), info, id, flags, params, result, excepInfo, argErr);
    info->Release();
    return hr;
  }

  // ITestWidget
  STDMETHODIMP get_Name(BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = SysAllocStringLen(name_, SysStringLen(name_));
    return S_OK;
  }
  STDMETHODIMP put_Name(BSTR name) override {
    return SysReAllocStringLen(&name_, name, SysStringLen(name)) ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_Count(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    *count = count_;
    return S_OK;
  }
  STDMETHODIMP put_Count(LONG count) override {
    if (count < 0) return SetError(L"Count must not be negative", E_INVALIDARG);
    count_ = count;
    return S_OK;
  }
  STDMETHODIMP get_ShortValue(SHORT* value) override {
    if (value == nullptr) return E_POINTER;
    *value = short_;
    return S_OK;
  }
  STDMETHODIMP put_ShortValue(SHORT value) override {
    short_ = value;
    return S_OK;
  }
  STDMETHODIMP Concat(BSTR text, LONG number, SHORT small, VARIANT_BOOL flag, BSTR* result) override {
    if (result == nullptr) return E_POINTER;
    std::wstring joined = std::wstring(text == nullptr ? L"" : text) + L"|" + std::to_wstring(number) + L"|" +
                          std::to_wstring(small) + L"|" + (flag == VARIANT_TRUE ? L"true" : flag == VARIANT_FALSE ? L"false" : L"?");
    *result = SysAllocString(joined.c_str());
    return S_OK;
  }
  STDMETHODIMP AddNumbers(LONG first, LONG second, LONG* sum) override {
    if (sum == nullptr) return E_POINTER;
    *sum = first + second;
    return S_OK;
  }
  STDMETHODIMP Describe(VARIANT value, BSTR* description) override {
    if (description == nullptr) return E_POINTER;
    std::wstring text = std::to_wstring(value.vt) + L":";
    VARIANT asText;
    VariantInit(&asText);
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
      text += L"object";
    } else if (SUCCEEDED(VariantChangeType(&asText, &value, 0, VT_BSTR))) {
      text += std::wstring(asText.bstrVal, SysStringLen(asText.bstrVal));
    } else {
      text += L"?";
    }
    VariantClear(&asText);
    *description = SysAllocString(text.c_str());
    return S_OK;
  }
  STDMETHODIMP IsMissing(VARIANT value, VARIANT_BOOL* missing) override {
    if (missing == nullptr) return E_POINTER;
    *missing = (value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP NameOf(IDispatch* object, BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    if (object == nullptr) return SetError(L"NameOf needs an object", E_POINTER);
    LPOLESTR member = const_cast<LPOLESTR>(L"Name");
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&result, &result, 0, VT_BSTR);
    if (SUCCEEDED(hr)) {
      *name = result.bstrVal;
      VariantInit(&result);
    }
    VariantClear(&result);
    return hr;
  }
  STDMETHODIMP Fail(BSTR message) override { return SetError(message == nullptr ? L"" : message, E_FAIL); }
  STDMETHODIMP FireEvents(LONG count) override {
    for (LONG i = 0; i < count; ++i) {
      VARIANT args[2];
      // Last parameter first: Text, then Index.
      VariantInit(&args[0]);
      args[0].vt = VT_BSTR;
      args[0].bstrVal = SysAllocString((L"tick " + std::to_wstring(i)).c_str());
      VariantInit(&args[1]);
      args[1].vt = VT_I4;
      args[1].lVal = i;
      DISPPARAMS params{args, nullptr, 2, 0};
      connectionPoint_.Fire(kDispOnTick, &params);
      VariantClear(&args[0]);
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    connectionPoint_.Fire(kDispOnDone, &none);
    return S_OK;
  }
  STDMETHODIMP Scale(DOUBLE value, DOUBLE* result) override {
    if (result == nullptr) return E_POINTER;
    *result = value * 2.5;
    return S_OK;
  }
  STDMETHODIMP Greeting(BSTR who, BSTR greeting, BSTR* text) override {
    if (text == nullptr) return E_POINTER;
    std::wstring joined = std::wstring(greeting == nullptr ? L"" : greeting) + L", " + (who == nullptr ? L"" : who);
    *text = SysAllocString(joined.c_str());
    return S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** enumerator) override {
    if (enumerator != nullptr) *enumerator = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (riid != IID_ITestWidgetEvents) return CONNECT_E_NOCONNECTION;
    connectionPoint_.AddRef();
    *point = &connectionPoint_;
    return S_OK;
  }

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = Library().InfoOf(CLSID_TestWidget);
    return *info == nullptr ? E_UNEXPECTED : S_OK;
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = IID_ITestWidgetEvents;
    return S_OK;
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_ITestWidget ? S_OK : S_FALSE;
  }

 private:
  static HRESULT SetError(const wchar_t* description, HRESULT hr) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
      create->SetGUID(IID_ITestWidget);
      create->SetSource(const_cast<LPOLESTR>(kTestWidgetVersionedProgId));
      create->SetDescription(const_cast<LPOLESTR>(description));
      IErrorInfo* info = nullptr;
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
      }
      create->Release();
    }
    return hr;
  }

  kestnet::platform::RefCount refCount_;
  WidgetConnectionPoint connectionPoint_;
  BSTR name_ = nullptr;
  LONG count_ = 0;
  SHORT short_ = 0;
};

ULONG WidgetConnectionPoint::AddRef() { return owner_->AddRef(); }
ULONG WidgetConnectionPoint::Release() { return owner_->Release(); }
HRESULT WidgetConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  owner_->AddRef();
  *container = owner_;
  return S_OK;
}

// The class factory: one static object for the life of the module. It keeps
// the outer object of a refused aggregation for the tests to look at.
kestnet::testing::ClassFactory g_factory([](REFIID riid, void** ppv) { return kestnet::testing::CreateObject<Widget>(riid, ppv); },
                                        [](IUnknown* outer) { g_lastOuter.store(outer); });

HRESULT RunScript(bool registering) {
  Registrar registrar;
  registrar.AddReplacement(L"MODULE", ModulePath().c_str());
  registrar.AddReplacement(L"APPID", GuidToString(APPID_TestServer).c_str());
  return registering ? registrar.StringRegister(kRegistryScript) : registrar.StringUnregister(kRegistryScript);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_lockCount.load() == 0 && g_factory.Locks() == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  HRESULT hr = RunScript(true);
  if (FAILED(hr)) return hr;
  ITypeLib* library = nullptr;
  hr = CreateTypeLibFromDescription(&kLibrary, &library);
  if (SUCCEEDED(hr)) {
    hr = RegisterTypeLib(library, ModulePath().c_str(), nullptr);
    library->Release();
  }
  return hr;
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  HRESULT typeLibResult = UnRegisterTypeLib(LIBID_TestServer, 1, 0, 0, SYS_WIN64);
  HRESULT hr = RunScript(false);
  if (FAILED(typeLibResult) && typeLibResult != TYPE_E_LIBNOTREGISTERED) return typeLibResult;
  return hr;
}

__attribute__((visibility("default"))) const TypeLibDescription* DllGetTypeLibDescription() { return &kLibrary; }

__attribute__((visibility("default"))) void* TestServerLastOuter() { return g_lastOuter.load(); }

}  // extern "C"
