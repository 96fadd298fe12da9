#include "platform/os/process.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/utf8.h"

namespace {

// The path of the executable, or of the shared library holding an address.
bool ModulePath(HMODULE module, std::string& path) {
  if (module == nullptr) {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return false;
    buffer.resize(static_cast<std::size_t>(n));
    path = std::move(buffer);
    return true;
  }
  Dl_info info{};
  if (::dladdr(static_cast<const void*>(module), &info) == 0 || info.dli_fname == nullptr) return false;
  char resolved[PATH_MAX];
  path = ::realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
  return true;
}

// Win32 truncation: fits -> length without NUL; too long -> nSize - 1
// characters, NUL, result nSize and ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
DWORD CopyTruncated(const std::basic_string<Char>& path, Char* buffer, DWORD size) {
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < size) {
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(Char));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }
  std::memcpy(buffer, path.data(), (size - 1) * sizeof(Char));
  buffer[size - 1] = Char{};
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (lpFilename == nullptr && nSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!ModulePath(hModule, path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return CopyTruncated(path, lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::string path;
  if (lpFilename == nullptr && nSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!ModulePath(hModule, path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return CopyTruncated(kestnet::platform::WideFromUtf8(path), lpFilename, nSize);
}

UINT GetACP() { return CP_UTF8; }

namespace kestnet::platform {

std::string CommonAppDataFolder() {
  std::string folder = MachineDataDirectory() + "/ProgramData";
  ::mkdir(folder.c_str(), 0755);
  return folder;
}

std::string UserAppDataFolder() {
  std::string folder = UserDataDirectory() + "/AppData";
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

}  // namespace kestnet::platform
