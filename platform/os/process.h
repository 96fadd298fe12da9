// Process questions: the executable's path, the ANSI code page, and the
// all-users application data folder.
#pragma once

#include <string>

#include "platform/os/win_types.h"

// The path of a module; hModule nullptr is the executable (from
// /proc/self/exe), other values are addresses inside a loaded shared library
// (what dladdr accepts). Win32 truncation: when the buffer is too small the
// path is cut to nSize - 1 characters plus NUL, the result is nSize, and the
// last error is ERROR_INSUFFICIENT_BUFFER. On failure returns 0.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// Narrow text is UTF-8 throughout: the ANSI code page is 65001 (CP_UTF8).
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
UINT GetACP();

namespace kestnet::platform {

// What CSIDL_COMMON_APPDATA names on Windows: MachineDataDirectory() +
// "/ProgramData", created when missing (writable by those who may change
// machine data, readable by all).
std::string CommonAppDataFolder();

// What CSIDL_APPDATA names on Windows: UserDataDirectory() + "/AppData",
// created when missing.
std::string UserAppDataFolder();

}  // namespace kestnet::platform
