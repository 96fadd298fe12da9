#include "platform/os/home.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace kestnet::platform {
namespace {

// Creates every missing directory of an absolute path; existing ones are fine.
void MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return;
    if (slash == std::string::npos) return;
  }
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

const char* HomeOverride() {
  const char* home = std::getenv("KESTNET_HOME");
  return (home != nullptr && *home != '\0') ? home : nullptr;
}

std::string UserDataBase() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return WithoutTrailingSlash(xdg) + "/kestnet";
  }
  const char* home = std::getenv("HOME");
  std::string base = (home != nullptr && *home != '\0') ? WithoutTrailingSlash(home) : "/tmp";
  return base + "/.local/share/kestnet";
}

std::string Ensure(std::string path) {
  MakeDirectories(path);
  return path;
}

}  // namespace

std::string MachineDataDirectory() {
  if (const char* home = HomeOverride()) return Ensure(WithoutTrailingSlash(home) + "/machine");
  const std::string system = "/var/lib/kestnet";
  MakeDirectories(system);
  if (::access(system.c_str(), W_OK) == 0) return system;
  return Ensure(UserDataBase() + "/machine");
}

std::string UserDataDirectory() {
  if (const char* home = HomeOverride()) return Ensure(WithoutTrailingSlash(home) + "/user");
  return Ensure(UserDataBase());
}

std::string NamedObjectScope() {
  const char* home = HomeOverride();
  if (home == nullptr) return "default";
  char resolved[PATH_MAX];
  std::string_view path = (::realpath(home, resolved) != nullptr) ? resolved : home;
  // FNV-1a: short, stable across processes and builds.
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char token[24];
  std::snprintf(token, sizeof token, "h%016llx", static_cast<unsigned long long>(hash));
  return token;
}

}  // namespace kestnet::platform
