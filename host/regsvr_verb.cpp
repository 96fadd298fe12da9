// kestnet regsvr [-u] [--user] MODULE
#include <cstdio>
#include <string>

#include "host/script_registration.h"
#include "host/verbs.h"
#include "platform/com/com.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet regsvr [-u] [--user] MODULE\n"
    "\n"
    "Registers a server module (calls its DllRegisterServer), as regsvr32 does.\n"
    "\n"
    "  -u, /u      unregister instead (DllUnregisterServer)\n"
    "  --user      register for the current user only (HKEY_CURRENT_USER\\Software\\Classes)\n"
    "  -h, --help  show this text\n";

}  // namespace

int RunRegsvrVerb(const VerbArguments& args) {
  RegistrationRequest request;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-u" || arg == "/u" || arg == "--unregister") {
      request.unregister = true;
    } else if (arg == "--user") {
      request.perUser = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kestnet regsvr: unknown option '%s'\n", arg.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    } else if (request.modulePath.empty()) {
      request.modulePath = arg;
    } else {
      std::fputs("kestnet regsvr: one module at a time\n", stderr);
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (request.modulePath.empty()) {
    std::fputs("kestnet regsvr: no module named\n", stderr);
    std::fputs(kUsage, stderr);
    return 2;
  }
  kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kApartmentThreaded);
  if (!com.Succeeded()) {
    std::fprintf(stderr, "kestnet regsvr: cannot enter an apartment (0x%08X)\n", static_cast<unsigned>(com.Result()));
    return 1;
  }
  int code = RegisterModule(request, stdout, stderr);
  return code;
}

}  // namespace kestnet::host
