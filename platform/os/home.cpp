#include "platform/os/home.h"

#include <fcntl.h>
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

// Creates every missing directory of an absolute path with mode (less the
// umask); existing ones are left as they are.
void MakeDirectories(const std::string& path, mode_t mode) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return;
    if (slash == std::string::npos) return;
  }
}

// Machine data is read by every account; user data by its owner only.
constexpr mode_t kMachineDirectoryMode = 0755;
constexpr mode_t kUserDirectoryMode = 0700;

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

std::string Ensure(std::string path, mode_t mode) {
  MakeDirectories(path, mode);
  return path;
}

// KESTNET_HOME's own user directory belongs to the account that owns
// KESTNET_HOME (or creates it now); another account sharing that home keeps
// its user data where it would without one, so one account never writes
// another's hive.
bool OwnsHome(const std::string& home) {
  struct stat info {};
  if (::stat(home.c_str(), &info) != 0) return true;
  return info.st_uid == ::geteuid();
}

}  // namespace

std::string MachineDataDirectory() {
  if (const char* home = HomeOverride()) {
    MakeDirectories(WithoutTrailingSlash(home), kMachineDirectoryMode);
    return Ensure(WithoutTrailingSlash(home) + "/machine", kMachineDirectoryMode);
  }
  return Ensure("/var/lib/kestnet", kMachineDirectoryMode);
}

bool MayWriteMachineData() {
  return ::faccessat(AT_FDCWD, MachineDataDirectory().c_str(), W_OK, AT_EACCESS) == 0;
}

std::string UserDataDirectory() {
  if (const char* home = HomeOverride()) {
    const std::string base = WithoutTrailingSlash(home);
    MakeDirectories(base, kMachineDirectoryMode);
    if (OwnsHome(base)) return Ensure(base + "/user", kUserDirectoryMode);
  }
  return Ensure(UserDataBase(), kUserDirectoryMode);
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
