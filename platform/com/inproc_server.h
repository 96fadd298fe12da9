// What every in-process server module repeats: the class factory of its one
// creatable class, its own path, and its registry script run with %MODULE%
// set to that path.
//
// Everything here is inline on purpose: it is compiled into each module, so a
// module asks the host's runtime for nothing beyond what it used before (the
// registrar), and hosts that export only the runtime pieces they use still
// load it.
#pragma once

#include <dlfcn.h>
#include <locale.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/com/hresult.h"
#include "platform/com/registrar.h"
#include "platform/com/unknown.h"

namespace kestnet::platform {

// A file path (UTF-8 bytes, as the loader gives it) as wide text; empty when
// it is not UTF-8. Decoded by the C library under C.UTF-8, which glibc always
// has, so that a module installed under a folder named in any language is
// registered under its real name.
inline std::wstring WidePathFromUtf8(const std::string& p_narrow) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) return L"";
  locale_t previous = uselocale(utf8);
  std::wstring wide(p_narrow.size(), L'\0');
  const size_t length = std::mbstowcs(wide.data(), p_narrow.c_str(), wide.size());
  uselocale(previous);
  freelocale(utf8);
  if (length == static_cast<size_t>(-1)) return L"";
  wide.resize(length);
  return wide;
}

// The full path of the shared object that holds p_pAddressInModule (any
// function or object of the module) as wide text; empty when the loader does
// not know it or the path is not UTF-8.
inline std::wstring ModulePathOf(const void* p_pAddressInModule) {
  Dl_info info{};
  if (p_pAddressInModule == nullptr || dladdr(p_pAddressInModule, &info) == 0 || info.dli_fname == nullptr) {
    return L"";
  }
  return WidePathFromUtf8(info.dli_fname);
}

// Registers or removes a module's registry script, %MODULE% being the path of
// the module holding p_pAddressInModule. Registration fails when that path
// cannot be told: a class registered without its module could never load.
inline HRESULT RunModuleRegistryScript(LPCOLESTR p_pszScript, const void* p_pAddressInModule,
                                       bool p_bRegistering) {
  const std::wstring modulePath = ModulePathOf(p_pAddressInModule);
  if (p_bRegistering && modulePath.empty()) return E_UNEXPECTED;
  Registrar registrar;
  registrar.AddReplacement(L"MODULE", modulePath.c_str());
  return p_bRegistering ? registrar.StringRegister(p_pszScript) : registrar.StringUnregister(p_pszScript);
}

// The class factory of a module's one creatable class T, kept as a static
// object: its references do not count. T is born with one reference, which
// CreateInstance hands over through QueryInterface. LockServer counts on the
// module's counter, the one DllCanUnloadNow reads. T is not aggregatable.
template <typename T>
class SingleClassFactory final : public IClassFactory {
 public:
  explicit SingleClassFactory(std::atomic<long>& p_lockCount) : m_lockCount(p_lockCount) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T();
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      m_lockCount.fetch_add(1);
    } else {
      m_lockCount.fetch_sub(1);
    }
    return S_OK;
  }

 private:
  std::atomic<long>& m_lockCount;
};

}  // namespace kestnet::platform
