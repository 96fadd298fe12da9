#include "platform/com/activation.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/git.h"
#include "platform/com/memory.h"
#include "platform/com/registry_text.h"
#include "platform/os/utf8.h"

namespace kestnet::platform {
namespace {

// A loaded server module. `activeCalls` counts activations running through
// its code; CoFreeUnusedLibraries never unloads a module while it is non-zero.
struct ServerModule {
  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
  int activeCalls = 0;
};

struct RegisteredFactory {
  CLSID clsid;
  IUnknown* factory;  // one reference owned
};

// Process-wide activation state. Lock order: this mutex is a leaf; no module
// code (DllGetClassObject, factories, dlclose) runs while it is held, except
// DllCanUnloadNow, which only reads a counter.
class ActivationState {
 public:
  static ActivationState& Instance() {
    static auto* state = new ActivationState();  // lives until the process ends
    return *state;
  }

  // Loads (or finds) the module and marks an activation as running in it.
  HRESULT BeginCall(const std::string& path, DllGetClassObjectFunction* getClassObject) {
    std::lock_guard lock(mutex_);
    auto found = modules_.find(path);
    if (found == modules_.end()) {
      void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
      ServerModule module;
      module.handle = handle;
      module.getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
      module.canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
      if (module.getClassObject == nullptr) {
        dlclose(handle);
        return CO_E_ERRORINDLL;
      }
      found = modules_.emplace(path, module).first;
    }
    ++found->second.activeCalls;
    *getClassObject = found->second.getClassObject;
    return S_OK;
  }

  void EndCall(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto found = modules_.find(path);
    if (found != modules_.end()) --found->second.activeCalls;
  }

  void FreeUnused() {
    std::vector<void*> unload;
    {
      std::lock_guard lock(mutex_);
      for (auto it = modules_.begin(); it != modules_.end();) {
        ServerModule& module = it->second;
        // A module without DllCanUnloadNow is never unloaded, as on Windows.
        if (module.activeCalls == 0 && module.canUnloadNow != nullptr && module.canUnloadNow() == S_OK) {
          unload.push_back(module.handle);
          it = modules_.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (void* handle : unload) dlclose(handle);
  }

  size_t ModuleCount() {
    std::lock_guard lock(mutex_);
    return modules_.size();
  }

  HRESULT Register(REFCLSID clsid, IUnknown* factory, DWORD* cookie) {
    std::lock_guard lock(mutex_);
    factory->AddRef();
    do {
      ++lastCookie_;
    } while (lastCookie_ == 0 || factories_.count(lastCookie_) != 0);
    factories_[lastCookie_] = RegisteredFactory{clsid, factory};
    *cookie = lastCookie_;
    return S_OK;
  }

  HRESULT Revoke(DWORD cookie) {
    IUnknown* factory = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto found = factories_.find(cookie);
      if (found == factories_.end()) return CO_E_OBJNOTREG;
      factory = found->second.factory;
      factories_.erase(found);
    }
    factory->Release();
    return S_OK;
  }

  // The registered factory for clsid with a reference added, or nullptr.
  IUnknown* FindRegistered(REFCLSID clsid) {
    std::lock_guard lock(mutex_);
    for (auto& [cookie, entry] : factories_) {
      if (entry.clsid == clsid) {
        entry.factory->AddRef();
        return entry.factory;
      }
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, ServerModule> modules_;
  std::map<DWORD, RegisteredFactory> factories_;
  DWORD lastCookie_ = 0;
};

// Holds an activation open in a module until the end of the scope.
class ModuleCall {
 public:
  explicit ModuleCall(std::string path) : path_(std::move(path)) {}
  ~ModuleCall() {
    if (active_) ActivationState::Instance().EndCall(path_);
  }
  HRESULT Begin(DllGetClassObjectFunction* getClassObject) {
    HRESULT hr = ActivationState::Instance().BeginCall(path_, getClassObject);
    active_ = SUCCEEDED(hr);
    return hr;
  }

 private:
  std::string path_;
  bool active_ = false;
};

// The module path registered for the class.
HRESULT InprocServerPath(REFCLSID clsid, std::string* path) {
  std::wstring key = L"CLSID\\" + GuidToString(clsid) + L"\\InprocServer32";
  std::wstring value;
  if (!ReadClassesRootText(key, L"", &value) || value.empty()) return REGDB_E_CLASSNOTREG;
  // Registrars sometimes quote the path.
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
  *path = Utf8FromWide(value);
  return S_OK;
}

HRESULT GetClassObjectAndCall(REFCLSID rclsid, DWORD context, REFIID riid, void** ppv,
                              IUnknown* outer, REFIID instanceIid, bool createInstance) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if ((context & CLSCTX_ALL) == 0) return E_INVALIDARG;
  HRESULT hr = CheckComInitialized();
  if (FAILED(hr)) return hr;

  IUnknown* registered = ActivationState::Instance().FindRegistered(rclsid);
  if (registered != nullptr) {
    IClassFactory* factory = nullptr;
    hr = registered->QueryInterface(createInstance ? IID_IClassFactory : riid,
                                    createInstance ? reinterpret_cast<void**>(&factory) : ppv);
    registered->Release();
    if (FAILED(hr) || !createInstance) return hr;
    hr = factory->CreateInstance(outer, instanceIid, ppv);
    factory->Release();
    return hr;
  }

  if (rclsid == CLSID_StdGlobalInterfaceTable) {
    if (createInstance) {
      if (outer != nullptr) return CLASS_E_NOAGGREGATION;
      return GetGlobalInterfaceTable()->QueryInterface(instanceIid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  }

  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string path;
  hr = InprocServerPath(rclsid, &path);
  if (FAILED(hr)) return hr;

  ModuleCall call(path);
  DllGetClassObjectFunction getClassObject = nullptr;
  hr = call.Begin(&getClassObject);
  if (FAILED(hr)) return hr;
  if (!createInstance) return getClassObject(rclsid, riid, ppv);

  IClassFactory* factory = nullptr;
  hr = getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, instanceIid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

}  // namespace

size_t LoadedServerModuleCount() { return ActivationState::Instance().ModuleCount(); }

}  // namespace kestnet::platform

using namespace kestnet::platform;

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = GUID_NULL;
  if (lpszProgID[0] == L'{') return CLSIDFromString(lpszProgID, lpclsid);
  std::wstring progId = lpszProgID;
  if (progId.empty() || progId.find(L'\\') != std::wstring::npos) return CO_E_CLASSSTRING;
  // A version-independent ProgID leads to its current version; one step only,
  // so a CurVer naming itself cannot loop.
  std::wstring current;
  if (ReadClassesRootText(progId + L"\\CurVer", L"", &current) && !current.empty() &&
      current.find(L'\\') == std::wstring::npos) {
    std::wstring text;
    if (ReadClassesRootText(current + L"\\CLSID", L"", &text) && GuidFromString(text, lpclsid)) return S_OK;
  }
  std::wstring text;
  if (ReadClassesRootText(progId + L"\\CLSID", L"", &text) && GuidFromString(text, lpclsid)) return S_OK;
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  std::wstring progId;
  if (!ReadClassesRootText(L"CLSID\\" + GuidToString(clsid) + L"\\ProgID", L"", &progId) || progId.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((progId.size() + 1) * sizeof(OLECHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, progId.c_str(), (progId.size() + 1) * sizeof(OLECHAR));
  *lplpszProgID = copy;
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* /*pServerInfo*/, REFIID riid, LPVOID* ppv) {
  return GetClassObjectAndCall(rclsid, dwClsContext, riid, ppv, nullptr, IID_NULL, false);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  return GetClassObjectAndCall(rclsid, dwClsContext, IID_IClassFactory, ppv, pUnkOuter, riid, true);
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD /*dwClsContext*/, DWORD /*flags*/,
                              LPDWORD lpdwRegister) {
  if (pUnk == nullptr || lpdwRegister == nullptr) return E_INVALIDARG;
  return ActivationState::Instance().Register(rclsid, pUnk, lpdwRegister);
}

HRESULT CoRevokeClassObject(DWORD dwRegister) { return ActivationState::Instance().Revoke(dwRegister); }

void CoFreeUnusedLibraries() { ActivationState::Instance().FreeUnused(); }

void CoFreeUnusedLibrariesEx(DWORD /*dwUnloadDelay*/, DWORD /*dwReserved*/) { CoFreeUnusedLibraries(); }
