// Registers the test server module as a registration tool does (load it, call
// its DllRegisterServer) and offers late-bound calls on its objects.
#pragma once

#include <dlfcn.h>

#include <string>

#include "tests/platform/com/com_test_support.h"
#include "tests/platform/com/test_server_ids.h"

namespace kestnet::platform::testing {

class TestServerTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    module_ = dlopen(Narrow(TestServerPath()).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    ASSERT_EQ(Export<DllRegisterServerFunction>("DllRegisterServer")(), S_OK);
    // The module builds its type library (and its default values) on first
    // use and keeps it until unloaded; count strings from there.
    ATL::CComPtr<IDispatch> widget = CreateWidget();
    IdOf(widget, L"Name");
    widget.Release();
    bstrsAtStart_ = LiveBstrCount();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_EQ(Export<DllRegisterServerFunction>("DllUnregisterServer")(), S_OK);
      dlclose(module_);
    }
    CoUninitialize();
    ComTest::TearDown();
  }

  template <typename Function>
  Function Export(const char* name) {
    return reinterpret_cast<Function>(dlsym(module_, name));
  }

  static ATL::CComPtr<IDispatch> CreateWidget() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kTestWidgetProgId, &clsid), S_OK);
    ATL::CComPtr<IDispatch> widget;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&widget)),
              S_OK);
    return widget;
  }

  static DISPID IdOf(IDispatch* object, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << Narrow(name);
    return id;
  }

  // A call as a script makes it: by name, through GetIDsOfNames and Invoke.
  static HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, Arguments& args, VARIANT* result = nullptr,
                      EXCEPINFO* excepInfo = nullptr, UINT* argErr = nullptr) {
    return object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, args.Params(), result, excepInfo,
                          argErr);
  }

  static std::wstring CallForText(IDispatch* object, const wchar_t* name, Arguments& args) {
    ATL::CComVariant result;
    HRESULT hr = Call(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, &result);
    if (FAILED(hr)) return L"<hr " + std::to_wstring(hr) + L">";
    if (result.vt != VT_BSTR) return L"<vt " + std::to_wstring(result.vt) + L">";
    return Text(result.bstrVal);
  }

  void* module_ = nullptr;
};

}  // namespace kestnet::platform::testing
