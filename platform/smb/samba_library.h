// Samba's client libraries are opened when the Windows networking calls first
// need them, not with the module: with their hundred or so dependencies they
// take tens of milliseconds to load, which every program using the module
// would pay (a mail verb, a ping), most of them for nothing. An opened
// library is never closed: its process-wide state (configuration, contexts)
// lives until the process ends.
//
// Each user lists its entry points once, as an X-macro, and gets a table of
// pointers typed after Samba's own declarations:
//   #define MY_ENTRY_POINTS(X) X(smbc_new_context) X(smbc_free_context)
//   struct MyCalls { MY_ENTRY_POINTS(KESTNET_SAMBA_ENTRY_POINT_MEMBER) };
//   bool Resolve(void* library, MyCalls& calls) {
//     return true MY_ENTRY_POINTS(KESTNET_SAMBA_RESOLVE_ENTRY_POINT);
//   }
//   static const MyCalls* const calls = LoadSambaLibrary<MyCalls>("libx.so.0", &Resolve);
#pragma once

#include <dlfcn.h>

namespace kestnet::platform::smb {

#define KESTNET_SAMBA_ENTRY_POINT_MEMBER(name) decltype(&::name) name = nullptr;
// Inside a resolver, whose parameters are named library and calls.
#define KESTNET_SAMBA_RESOLVE_ENTRY_POINT(name) &&ResolveEntryPoint(library, #name, calls.name)

// p_function := the entry point p_name of p_library; false when missing.
template <typename Function>
bool ResolveEntryPoint(void* p_library, const char* p_name, Function& p_function) {
  p_function = reinterpret_cast<Function>(dlsym(p_library, p_name));
  return p_function != nullptr;
}

// The entry points of the library p_soname, loaded now; null when the library
// or one of its entry points is missing. Called once per table, from the
// initialiser of a function-local static.
template <typename Calls>
const Calls* LoadSambaLibrary(const char* p_soname, bool (*p_resolve)(void*, Calls&)) {
  static Calls calls;
  void* library = dlopen(p_soname, RTLD_NOW | RTLD_LOCAL);
  return library != nullptr && p_resolve(library, calls) ? &calls : nullptr;
}

}  // namespace kestnet::platform::smb
