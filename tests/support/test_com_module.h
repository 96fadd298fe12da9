// What every test COM server module keeps of its own: its type library, built
// once from the module's description and released when the module unloads,
// and the path the module was loaded from (for its registration script).
//
// Each module defines its own Library() holding one TypeLibHolder: the holder
// is not an inline static, so two test modules loaded in one process never
// share one.
#pragma once

#include <dlfcn.h>

#include <string>

#include "platform/com/com.h"

namespace kestnet::test {

class TypeLibHolder {
 public:
  explicit TypeLibHolder(const kestnet::platform::TypeLibDescription* description) {
    kestnet::platform::CreateTypeLibFromDescription(description, &library_);
  }
  ~TypeLibHolder() {
    if (library_ != nullptr) library_->Release();
  }
  TypeLibHolder(const TypeLibHolder&) = delete;
  TypeLibHolder& operator=(const TypeLibHolder&) = delete;

  // A new reference to the type information of `guid`, or null.
  ITypeInfo* InfoOf(REFGUID guid) {
    ITypeInfo* info = nullptr;
    if (library_ != nullptr) library_->GetTypeInfoOfGuid(guid, &info);
    return info;
  }

 private:
  ITypeLib* library_ = nullptr;
};

// The path of the module that holds `address` (any function of the module).
inline std::wstring ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return L"";
  std::string narrow = info.dli_fname;
  return std::wstring(narrow.begin(), narrow.end());
}

}  // namespace kestnet::test
