// The system modules a process finds by name, in the shapes of LoadLibraryW /
// GetProcAddress / FreeLibrary: the platform parts that stand in for a
// Windows DLL register its name and entry points here, and callers look them
// up exactly as they would load the DLL.
//
// Module names compare without regard to case. An unknown module gives null
// with ERROR_MOD_NOT_FOUND, an unknown entry point null with
// ERROR_PROC_NOT_FOUND. Modules are never unloaded: a handle stays valid for
// the life of the process, and FreeSystemModule only checks it.
#pragma once

#include <span>

#include "platform/os/win_types.h"

namespace kestnet::platform {

// Like FARPROC: the caller casts it to the entry point's own type.
using SystemProcedure = void (*)();

struct SystemProcedureEntry {
  const char* name;
  SystemProcedure procedure;
};

// Makes a module findable under p_wszModuleName. The name and the table must
// live for the whole process (string literals and static arrays). Registering
// a name that is already known leaves the first registration in place.
void RegisterSystemModule(LPCWSTR p_wszModuleName, std::span<const SystemProcedureEntry> p_procedures);

HMODULE LoadSystemModule(LPCWSTR p_wszModuleName);
SystemProcedure GetSystemModuleProcedure(HMODULE p_hModule, LPCSTR p_szProcedureName);
BOOL FreeSystemModule(HMODULE p_hModule);

// Makes a module or one entry point unavailable (true) or available again
// (false), so that callers' failure paths can be exercised. Process-wide.
void SetSystemModuleHidden(LPCWSTR p_wszModuleName, bool p_bHidden);
void SetSystemModuleProcedureHidden(LPCSTR p_szProcedureName, bool p_bHidden);

}  // namespace kestnet::platform
