#include "host/script_registration.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/com/com.h"
#include "platform/registry/registry.h"

namespace kestnet::host {
namespace {

// Sends HKEY_CLASSES_ROOT to the user's classes for the lifetime of the
// object, and back to the merged view afterwards, whatever happens between.
class PerUserClasses {
 public:
  PerUserClasses() {
    status_ = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    if (status_ == ERROR_SUCCESS) status_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, key_);
    overridden_ = status_ == ERROR_SUCCESS;
  }
  ~PerUserClasses() {
    if (overridden_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (key_ != nullptr) RegCloseKey(key_);
  }
  PerUserClasses(const PerUserClasses&) = delete;
  PerUserClasses& operator=(const PerUserClasses&) = delete;

  LSTATUS status() const { return status_; }

 private:
  HKEY key_ = nullptr;
  LSTATUS status_ = ERROR_SUCCESS;
  bool overridden_ = false;
};

using EntryPoint = HRESULT (*)();

}  // namespace

int RegisterModule(const RegistrationRequest& request, std::FILE* out, std::FILE* err) {
  const char* entryName = request.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  // The module records where it was loaded from, so it is loaded by its
  // full path; a bare name that is not a file here is left to the loader's search.
  std::string path = request.modulePath;
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored)) path = std::filesystem::absolute(path, ignored).string();

  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    std::fprintf(err, "The module \"%s\" failed to load.\n%s\n", request.modulePath.c_str(),
                 reason == nullptr ? "" : reason);
    return 1;
  }
  auto entry = reinterpret_cast<EntryPoint>(dlsym(module, entryName));
  if (entry == nullptr) {
    std::fprintf(err, "The module \"%s\" was loaded but the entry-point %s was not found.\n",
                 request.modulePath.c_str(), entryName);
    dlclose(module);
    return 1;
  }
  HRESULT hr = S_OK;
  if (request.perUser) {
    PerUserClasses classes;
    if (classes.status() != ERROR_SUCCESS) {
      std::fprintf(err, "Cannot reach the user's classes in the registry store (error %ld).\n",
                   static_cast<long>(classes.status()));
      dlclose(module);
      return 1;
    }
    hr = entry();
  } else {
    hr = entry();
  }
  // The module stays loaded until the apartment lets go of unused libraries:
  // objects or type information it handed out may still be referenced.
  CoFreeUnusedLibraries();
  dlclose(module);
  if (FAILED(hr)) {
    std::fprintf(err, "The module \"%s\" was loaded but the call to %s failed with error code 0x%08X (%s).\n",
                 request.modulePath.c_str(), entryName, static_cast<unsigned>(hr), platform::HResultName(hr));
    if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) && !request.perUser) {
      std::fputs("Access is denied: registering for every user changes machine data, which needs root; "
                 "--user registers for the current user only.\n",
                 err);
    }
    return 1;
  }
  std::fprintf(out, "%s in %s succeeded.\n", entryName, request.modulePath.c_str());
  return 0;
}

}  // namespace kestnet::host
