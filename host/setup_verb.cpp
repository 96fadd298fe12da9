// kestnet setup [-u] [--user]: registers the project's own modules, found
// next to this program -- in its build tree or its install prefix.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/script_registration.h"
#include "host/verbs.h"
#include "platform/com/com.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet setup [-u] [--user]\n"
    "\n"
    "Registers libKestNetX.so and, when they are built, the companions\n"
    "libKestSysNet.so and libKestSM.so. They are looked for next to this program:\n"
    "in its build tree (automation/, companions/kestsysnet/, companions/kestsm/) or its\n"
    "install prefix (lib/kestnet/, lib/).\n"
    "\n"
    "  -u          unregister them instead\n"
    "  --user      for the current user only\n"
    "  -h, --help  show this text\n";

struct ProjectModule {
  const char* fileName;
  const char* buildFolder;  // where the build tree puts it, beside host/
  bool required;
};

constexpr ProjectModule kModules[] = {
    {"libKestNetX.so", "automation", true},
    {"libKestSysNet.so", "companions/kestsysnet", false},
    {"libKestSM.so", "companions/kestsm", false},
};

std::filesystem::path FindModule(const std::filesystem::path& programFolder, const ProjectModule& module) {
  const std::filesystem::path candidates[] = {
      programFolder.parent_path() / module.buildFolder / module.fileName,
      programFolder.parent_path() / "lib" / "kestnet" / module.fileName,
      programFolder.parent_path() / "lib" / module.fileName,
      programFolder / module.fileName,
  };
  std::error_code ignored;
  for (const auto& candidate : candidates) {
    if (std::filesystem::is_regular_file(candidate, ignored)) return candidate;
  }
  return {};
}

}  // namespace

int RunSetupVerb(const VerbArguments& args) {
  bool unregister = false;
  bool perUser = false;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-u" || arg == "/u" || arg == "--unregister") {
      unregister = true;
    } else if (arg == "--user") {
      perUser = true;
    } else {
      std::fprintf(stderr, "kestnet setup: unknown argument '%s'\n", arg.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    std::fprintf(stderr, "kestnet setup: cannot tell where this program is: %s\n", error.message().c_str());
    return 1;
  }
  kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kApartmentThreaded);
  if (!com.Succeeded()) {
    std::fprintf(stderr, "kestnet setup: cannot enter an apartment (0x%08X)\n", static_cast<unsigned>(com.Result()));
    return 1;
  }
  int code = 0;
  for (const ProjectModule& module : kModules) {
    std::filesystem::path path = FindModule(program.parent_path(), module);
    if (path.empty()) {
      if (module.required) {
        std::fprintf(stderr, "kestnet setup: %s not found next to %s\n", module.fileName, program.c_str());
        code = 1;
      }
      continue;
    }
    RegistrationRequest request{path.string(), unregister, perUser};
    if (RegisterModule(request, stdout, stderr) != 0) code = 1;
  }
  return code;
}

}  // namespace kestnet::host
