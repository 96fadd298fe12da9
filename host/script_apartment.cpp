#include "host/script_apartment.h"

#include <cstdio>

#include "platform/com/com.h"

namespace kestnet::host {

int RunScriptInApartment(const ScriptOptions& options, const char* verb) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::fprintf(stderr, "kestnet %s: cannot enter an apartment (0x%08X)\n", verb, static_cast<unsigned>(hr));
    return 1;
  }
  int code = RunScript(options, stdout, stderr);
  CoFreeUnusedLibraries();
  CoUninitialize();
  return code;
}

}  // namespace kestnet::host
