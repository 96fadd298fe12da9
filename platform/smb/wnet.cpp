// WNetOpenEnumA, WNetEnumResourceA, WNetCloseEnum and
// WNetGetResourceInformationA over the levels of network_resources.h.
#include "platform/smb/wnet.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/smb/handle_registry.h"
#include "platform/smb/network_resources.h"
#include "platform/smb/unc_path.h"

namespace kestnet::platform::smb {
namespace {

// One open enumeration: the level's children, read at open, and how far the
// caller has come.
struct Enumeration {
  std::mutex lock;
  std::vector<NetworkResource> entries;
  std::size_t next = 0;
};

HandleRegistry<Enumeration>& Enumerations() {
  static HandleRegistry<Enumeration> registry;
  return registry;
}

DWORD Result(DWORD p_error) {
  SetLastError(p_error);
  return p_error;
}

bool IsKnownType(DWORD p_type) {
  return p_type == RESOURCETYPE_ANY || p_type == RESOURCETYPE_DISK || p_type == RESOURCETYPE_PRINT;
}

// Containers are kept whatever type is asked for (a printer share lives
// under a server like a disk share); shares only of the type asked for.
bool Wanted(const NetworkResource& p_resource, DWORD p_type, DWORD p_usage) {
  if (p_type != RESOURCETYPE_ANY && (p_resource.usage & RESOURCEUSAGE_CONTAINER) == 0 &&
      p_resource.type != p_type) {
    return false;
  }
  const DWORD usage = p_usage & (RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER);
  return usage == 0 || (p_resource.usage & usage) != 0;
}

}  // namespace
}  // namespace kestnet::platform::smb

using namespace kestnet::platform::smb;

DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource, LPHANDLE lphEnum) {
  if (lphEnum == nullptr) return Result(ERROR_INVALID_PARAMETER);
  *lphEnum = nullptr;
  if (dwScope != RESOURCE_GLOBALNET) return Result(ERROR_NOT_SUPPORTED);
  if (!IsKnownType(dwType) || (dwUsage & ~RESOURCEUSAGE_ALL) != 0) return Result(ERROR_INVALID_PARAMETER);
  const NetworkLevel level = LevelOf(lpNetResource);
  const std::string name = lpNetResource != nullptr && lpNetResource->lpRemoteName != nullptr
                               ? lpNetResource->lpRemoteName
                               : "";
  std::vector<NetworkResource> children;
  if (const DWORD error = ListChildren(level, name, children); error != NO_ERROR) return Result(error);
  auto enumeration = std::make_shared<Enumeration>();
  for (NetworkResource& child : children) {
    if (Wanted(child, dwType, dwUsage)) enumeration->entries.push_back(std::move(child));
  }
  *lphEnum = Enumerations().Add(std::move(enumeration));
  return Result(NO_ERROR);
}

DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize) {
  const std::shared_ptr<Enumeration> enumeration = Enumerations().Find(hEnum);
  if (enumeration == nullptr) return Result(ERROR_INVALID_HANDLE);
  if (lpcCount == nullptr || lpBufferSize == nullptr || (lpBuffer == nullptr && *lpBufferSize != 0)) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard<std::mutex> guard(enumeration->lock);
  if (enumeration->next >= enumeration->entries.size()) {
    *lpcCount = 0;
    return Result(ERROR_NO_MORE_ITEMS);
  }
  const std::size_t packed = PackResources(enumeration->entries, enumeration->next, *lpcCount, lpBuffer,
                                           *lpBufferSize);
  if (packed == 0) {
    *lpBufferSize = static_cast<DWORD>(PackedSize(enumeration->entries[enumeration->next]));
    return Result(ERROR_MORE_DATA);
  }
  enumeration->next += packed;
  *lpcCount = static_cast<DWORD>(packed);
  return Result(NO_ERROR);
}

DWORD WNetCloseEnum(HANDLE hEnum) {
  return Result(Enumerations().Remove(hEnum) ? NO_ERROR : ERROR_INVALID_HANDLE);
}

DWORD WNetGetResourceInformationA(LPNETRESOURCEA lpNetResource, LPVOID lpBuffer, LPDWORD lpcbBuffer,
                                  LPSTR* lplpSystem) {
  if (lpNetResource == nullptr || lpcbBuffer == nullptr || (lpBuffer == nullptr && *lpcbBuffer != 0)) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  if (lplpSystem != nullptr) *lplpSystem = nullptr;
  const char* name = lpNetResource->lpRemoteName;
  const std::optional<UncPath> path = name != nullptr ? ParseUncPath(name) : std::nullopt;
  if (!path) return Result(ERROR_BAD_NETPATH);
  NetworkResource resource;
  if (const DWORD error = DescribeResource(path->server, path->share, resource); error != NO_ERROR) {
    return Result(error);
  }
  // The part of the name below the share, in Windows' own spelling.
  std::string system;
  if (!path->folder.empty()) {
    system = "\\" + path->folder;
    for (char& c : system) c = c == '/' ? '\\' : c;
  }
  const std::vector<NetworkResource> resources{resource};
  std::size_t need = PackedSize(resource) + (system.empty() ? 0 : system.size() + 1);
  LPSTR systemOut = nullptr;
  const std::size_t packed = PackResources(resources, 0, 1, lpBuffer, *lpcbBuffer,
                                           system.empty() ? nullptr : &system, &systemOut);
  if (packed == 0) {
    *lpcbBuffer = static_cast<DWORD>(need);
    return Result(ERROR_MORE_DATA);
  }
  if (lplpSystem != nullptr) *lplpSystem = systemOut;
  return Result(NO_ERROR);
}
