// The four exports of libKestNetX.so, and the type library's description for
// LoadTypeLib (the module's TYPELIB resource).
#include "automation/module.h"
#include "automation/typelib.h"

namespace {

// Internal, so the address always lies in this module's own file even when
// the loading program links the automation library too.
std::wstring ThisModulePath() {
  static const int anchor = 0;
  return KestAXLib::CKestNetXModule::ModulePathOf(&anchor);
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return KestAXLib::CKestNetXModule::Instance().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return KestAXLib::CKestNetXModule::Instance().CanUnloadNow(); }

STDAPI DllRegisterServer() { return KestAXLib::CKestNetXModule::Instance().RegisterServer(ThisModulePath()); }

STDAPI DllUnregisterServer() { return KestAXLib::CKestNetXModule::Instance().UnregisterServer(ThisModulePath()); }

extern "C" const kestnet::platform::TypeLibDescription* DllGetTypeLibDescription() {
  return &KestAXLib::KestNetTypeLibDescription();
}
