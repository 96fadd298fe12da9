#include "platform/os/module_table.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/os/last_error.h"

namespace kestnet::platform {
namespace {

struct SystemModule {
  std::wstring upperName;
  std::span<const SystemProcedureEntry> procedures;
};

std::wstring UpperCase(std::wstring_view p_text) {
  std::wstring result(p_text);
  for (wchar_t& c : result) c = static_cast<wchar_t>(std::towupper(c));
  return result;
}

// The registered modules and what tests made unavailable. A list, so that a
// module's address (its handle) never moves; it lives for the whole process.
// m_lock is a leaf lock, taken alone. A module is never changed once
// registered, so its entry points are read without it.
class ModuleTable {
 public:
  static ModuleTable& Instance() {
    static ModuleTable* const table = new ModuleTable;
    return *table;
  }

  void Register(std::wstring p_upperName, std::span<const SystemProcedureEntry> p_procedures) {
    std::lock_guard lock(m_lock);
    if (FindLocked(p_upperName) == nullptr) m_modules.push_back({std::move(p_upperName), p_procedures});
  }

  const SystemModule* FindVisible(const std::wstring& p_upperName) {
    std::lock_guard lock(m_lock);
    return m_hiddenModules.count(p_upperName) != 0 ? nullptr : FindLocked(p_upperName);
  }

  const SystemModule* OfHandle(HMODULE p_hModule) {
    std::lock_guard lock(m_lock);
    for (const SystemModule& module : m_modules) {
      if (reinterpret_cast<HMODULE>(const_cast<SystemModule*>(&module)) == p_hModule) return &module;
    }
    return nullptr;
  }

  void SetModuleHidden(std::wstring p_upperName, bool p_bHidden) {
    std::lock_guard lock(m_lock);
    if (p_bHidden) m_hiddenModules.insert(std::move(p_upperName)); else m_hiddenModules.erase(p_upperName);
  }

  void SetProcedureHidden(const std::string& p_name, bool p_bHidden) {
    std::lock_guard lock(m_lock);
    if (p_bHidden) m_hiddenProcedures.insert(p_name); else m_hiddenProcedures.erase(p_name);
  }

  bool IsProcedureHidden(const std::string& p_name) {
    std::lock_guard lock(m_lock);
    return m_hiddenProcedures.count(p_name) != 0;
  }

 private:
  const SystemModule* FindLocked(const std::wstring& p_upperName) const {
    for (const SystemModule& module : m_modules) {
      if (module.upperName == p_upperName) return &module;
    }
    return nullptr;
  }

  std::mutex m_lock;
  std::list<SystemModule> m_modules;
  std::set<std::wstring> m_hiddenModules;
  std::set<std::string> m_hiddenProcedures;
};

}  // namespace

void RegisterSystemModule(LPCWSTR p_wszModuleName, std::span<const SystemProcedureEntry> p_procedures) {
  ModuleTable::Instance().Register(UpperCase(p_wszModuleName), p_procedures);
}

HMODULE LoadSystemModule(LPCWSTR p_wszModuleName) {
  if (p_wszModuleName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const SystemModule* module = ModuleTable::Instance().FindVisible(UpperCase(p_wszModuleName));
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(const_cast<SystemModule*>(module));
}

SystemProcedure GetSystemModuleProcedure(HMODULE p_hModule, LPCSTR p_szProcedureName) {
  const SystemModule* module = ModuleTable::Instance().OfHandle(p_hModule);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (p_szProcedureName != nullptr && !ModuleTable::Instance().IsProcedureHidden(p_szProcedureName)) {
    for (const SystemProcedureEntry& entry : module->procedures) {
      if (std::strcmp(entry.name, p_szProcedureName) == 0) return entry.procedure;
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeSystemModule(HMODULE p_hModule) {
  if (ModuleTable::Instance().OfHandle(p_hModule) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void SetSystemModuleHidden(LPCWSTR p_wszModuleName, bool p_bHidden) {
  ModuleTable::Instance().SetModuleHidden(UpperCase(p_wszModuleName), p_bHidden);
}

void SetSystemModuleProcedureHidden(LPCSTR p_szProcedureName, bool p_bHidden) {
  ModuleTable::Instance().SetProcedureHidden(p_szProcedureName, p_bHidden);
}

}  // namespace kestnet::platform
