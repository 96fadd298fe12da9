#include "automation/module.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <new>

#include "automation/module_lock.h"
#include "automation/registry_scripts.h"
#include "automation/thread_locale.h"
#include "automation/typelib.h"
#include "automation/typelib_ids.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/registrar.h"
#include "platform/com/typelib_registration.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

std::atomic<LONG> g_lockCount{0};

// Position of a class in the fixed class table: the map registers in that order.
size_t TableOrder(REFCLSID clsid) {
  std::span<const KestNetClassInfo> classes = KestNetClasses();
  for (size_t i = 0; i < classes.size(); ++i) {
    if (*classes[i].clsid == clsid) return i;
  }
  return classes.size();
}

std::wstring AppIdText() { return kestnet::platform::GuidToString(APPID_KestNetX); }

kestnet::platform::Registrar MakeRegistrar(const std::wstring& path) {
  kestnet::platform::Registrar registrar;
  registrar.AddReplacement(L"Module", path.c_str());
  registrar.AddReplacement(L"Module_Raw", path.c_str());
  registrar.AddReplacement(L"APPID", AppIdText().c_str());
  return registrar;
}

}  // namespace

void ModuleLock() { g_lockCount.fetch_add(1); }
void ModuleUnlock() { g_lockCount.fetch_sub(1); }
LONG ModuleLockCount() { return g_lockCount.load(); }

CKestNetXModule& CKestNetXModule::Instance() {
  // Lives until the library unloads; its factories are released with it.
  static CKestNetXModule module;
  return module;
}

void CKestNetXModule::AddObjectMapEntry(const ObjectMapEntry& entry) {
  std::lock_guard lock(mutex_);
  for (MappedClass& mapped : map_) {
    if (*mapped.entry.clsid == *entry.clsid) {
      mapped.entry = entry;
      delete mapped.factory;
      mapped.factory = nullptr;
      return;
    }
  }
  map_.push_back(MappedClass{entry, nullptr});
  std::stable_sort(map_.begin(), map_.end(), [](const MappedClass& a, const MappedClass& b) {
    return TableOrder(*a.entry.clsid) < TableOrder(*b.entry.clsid);
  });
}

std::vector<CLSID> CKestNetXModule::ObjectMapClasses() const {
  std::lock_guard lock(mutex_);
  std::vector<CLSID> classes;
  for (const MappedClass& mapped : map_) classes.push_back(*mapped.entry.clsid);
  return classes;
}

HRESULT CKestNetXModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  ATL::CComClassFactory* factory = nullptr;
  {
    std::lock_guard lock(mutex_);
    for (MappedClass& mapped : map_) {
      if (*mapped.entry.clsid != clsid) continue;
      if (mapped.factory == nullptr) {
        mapped.factory = new (std::nothrow) ATL::CComClassFactory(mapped.entry.creator);
        if (mapped.factory == nullptr) return E_OUTOFMEMORY;
      }
      factory = mapped.factory;
      break;
    }
  }
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, ppv);
}

HRESULT CKestNetXModule::CanUnloadNow() const { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

std::vector<ClassRegistration> CKestNetXModule::MappedClassRegistrations() const {
  std::vector<ClassRegistration> registrations;
  for (const CLSID& clsid : ObjectMapClasses()) {
    const KestNetClassInfo* info = FindKestNetClass(clsid);
    // A class outside the fixed table has no script to register.
    if (info != nullptr) registrations.push_back(ClassRegistration{info, ClassRegistryScript(*info)});
  }
  return registrations;
}

HRESULT CKestNetXModule::RegisterServer(const std::wstring& modulePath) {
  return RegisterClasses(modulePath, MappedClassRegistrations());
}

HRESULT CKestNetXModule::UnregisterServer(const std::wstring& modulePath) {
  return UnregisterClasses(modulePath, MappedClassRegistrations());
}

HRESULT CKestNetXModule::RegisterClasses(const std::wstring& modulePath,
                                         const std::vector<ClassRegistration>& classes) {
  ScopedThreadLocale systemLocale(LOCALE_SYSTEM_DEFAULT);
  kestnet::platform::Registrar registrar = MakeRegistrar(modulePath);
  HRESULT hr = registrar.StringRegister(AppIdRegistryScript().c_str());
  if (FAILED(hr)) return hr;
  for (const ClassRegistration& registration : classes) {
    hr = registrar.StringRegister(registration.script.c_str());
    if (FAILED(hr)) return hr;
    // No component categories are written: none were ever settled for these classes.
  }
  ATL::CComPtr<ITypeLib> library;
  library.Attach(KestNetTypeLib());
  if (library == nullptr) return TYPE_E_CANTLOADLIBRARY;
  return RegisterTypeLib(library, modulePath.c_str(), nullptr);
}

HRESULT CKestNetXModule::UnregisterClasses(const std::wstring& modulePath,
                                           const std::vector<ClassRegistration>& classes) {
  ScopedThreadLocale systemLocale(LOCALE_SYSTEM_DEFAULT);
  kestnet::platform::Registrar registrar = MakeRegistrar(modulePath);
  HRESULT first = S_OK;
  auto keepFirst = [&first](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  };
  for (const ClassRegistration& registration : classes) keepFirst(registrar.StringUnregister(registration.script.c_str()));
  const kestnet::platform::TypeLibDescription& library = KestNetTypeLibDescription();
  HRESULT hr = UnRegisterTypeLib(library.libid, library.majorVersion, library.minorVersion, 0, SYS_WIN64);
  // A library that was never registered is already gone.
  if (hr != TYPE_E_LIBNOTREGISTERED) keepFirst(hr);
  keepFirst(registrar.StringUnregister(AppIdRegistryScript().c_str()));
  return first;
}

CKestNetXModule::~CKestNetXModule() {
  for (MappedClass& mapped : map_) delete mapped.factory;
}

std::wstring CKestNetXModule::ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
  if (error) path = std::filesystem::absolute(info.dli_fname, error);
  try {
    return KestUtilsLib::StringConversion::ConvertUTF8ToCAtlStringW(path.string());
  } catch (...) {
    return {};
  }
}

}  // namespace KestAXLib
