#include "host/script_apartment.h"

#include <cstdio>

#include "platform/com/com.h"

namespace kestnet::host {

int RunScriptInApartment(const ScriptOptions& options, const char* verb) {
  kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kApartmentThreaded);
  if (!com.Succeeded()) {
    std::fprintf(stderr, "kestnet %s: cannot enter an apartment (0x%08X)\n", verb, static_cast<unsigned>(com.Result()));
    return 1;
  }
  int code = RunScript(options, stdout, stderr);
  CoFreeUnusedLibraries();
  return code;
}

}  // namespace kestnet::host
