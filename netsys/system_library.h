// KestSys::SystemLibrary: one system library, held loaded by its owner and
// freed when the owner goes. Failures come back as false or null: each owner
// logs them in its own words and decides whether they throw.
#pragma once

#include "platform/os/module_table.h"

namespace KestSys {

class SystemLibrary {
 public:
  SystemLibrary() = default;
  ~SystemLibrary() { Free(); }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // False when the library cannot be loaded. One held before is freed first.
  bool Load(LPCWSTR p_wszModuleName) {
    Free();
    m_hModule = kestnet::platform::LoadSystemModule(p_wszModuleName);
    return m_hModule != nullptr;
  }

  // Null when no library is held or it has no such entry point.
  template <typename Function>
  Function Resolve(const char* p_szProcedureName) const {
    if (m_hModule == nullptr) return nullptr;
    return reinterpret_cast<Function>(kestnet::platform::GetSystemModuleProcedure(m_hModule, p_szProcedureName));
  }

  void Free() {
    if (m_hModule != nullptr) kestnet::platform::FreeSystemModule(m_hModule);
    m_hModule = nullptr;
  }

 private:
  HMODULE m_hModule = nullptr;
};

}  // namespace KestSys
