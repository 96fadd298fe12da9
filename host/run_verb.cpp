// kestnet run [--site URL] script.js [args...]
#include <cstdio>
#include <string>

#include "host/script_apartment.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet run [--site URL] SCRIPT.js [ARGUMENTS...]\n"
    "\n"
    "Runs a JavaScript file with the Windows Script Host conventions:\n"
    "WScript.CreateObject(progid[, prefix]), new ActiveXObject(progid),\n"
    "WScript.ConnectObject(object, prefix), WScript.DisconnectObject(object),\n"
    "WScript.Echo(...), WScript.Sleep(ms) (events are delivered while sleeping),\n"
    "WScript.Arguments (Count(), Item(i), length, [i]) and WScript.Quit(code).\n"
    "\n"
    "  --site URL  give every created object a site whose browser is at URL,\n"
    "              as if the script ran in that web page\n"
    "  -h, --help  show this text\n"
    "\n"
    "The exit code is WScript.Quit's, 0 when the script ends, 1 after an error.\n";

}  // namespace

int RunRunVerb(const VerbArguments& args) {
  ScriptOptions options;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--site") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        std::fputs("kestnet run: --site needs a URL\n", stderr);
        std::fputs(kUsage, stderr);
        return 2;
      }
      options.siteUrl = args[++i];
      continue;
    }
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kestnet run: unknown option '%s'\n", arg.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    }
    break;
  }
  if (i >= args.size()) {
    std::fputs("kestnet run: no script named\n", stderr);
    std::fputs(kUsage, stderr);
    return 2;
  }
  options.scriptPath = args[i];
  options.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

  return RunScriptInApartment(options, "run");
}

}  // namespace kestnet::host
