// Registration of server modules, as regsvr32 does it: load the module and
// call its DllRegisterServer or DllUnregisterServer, per machine or -- with
// HKEY_CLASSES_ROOT overridden to the user's Software\Classes -- per user.
#pragma once

#include <cstdio>
#include <string>

namespace kestnet::host {

struct RegistrationRequest {
  std::string modulePath;
  bool unregister = false;
  bool perUser = false;
};

// Prints one line saying what happened (to `out` on success, `err` on
// failure) and returns 0 when the module's entry point succeeded, 1 otherwise.
// The calling thread must have entered an apartment.
int RegisterModule(const RegistrationRequest& request, std::FILE* out, std::FILE* err);

}  // namespace kestnet::host
