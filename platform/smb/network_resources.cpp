#include "platform/smb/network_resources.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "platform/smb/path_errors.h"
#include "platform/smb/smb_session.h"
#include "platform/smb/unc_path.h"

namespace kestnet::platform::smb {
namespace {

bool EqualsIgnoringCase(const std::string& p_left, const char* p_right) {
  return ::strcasecmp(p_left.c_str(), p_right) == 0;
}

// Shares a Windows browser does not show: administrative and other hidden
// shares (a name ending in '$') and the IPC and device shares.
bool IsBrowsableShare(const SmbDirectoryEntry& p_entry) {
  if (p_entry.kind != SmbEntryKind::kFileShare && p_entry.kind != SmbEntryKind::kPrinterShare) return false;
  return !p_entry.name.empty() && p_entry.name.back() != '$';
}

NetworkResource ShareResource(const std::string& p_server, const SmbDirectoryEntry& p_entry) {
  NetworkResource share;
  share.type = p_entry.kind == SmbEntryKind::kPrinterShare ? RESOURCETYPE_PRINT
               : p_entry.kind == SmbEntryKind::kFileShare  ? RESOURCETYPE_DISK
                                                           : RESOURCETYPE_ANY;
  share.displayType = RESOURCEDISPLAYTYPE_SHARE;
  share.usage = RESOURCEUSAGE_CONNECTABLE;
  share.remoteName = "\\\\" + p_server + "\\" + p_entry.name;
  share.comment = p_entry.comment;
  return share;
}

NetworkResource ServerResource(const std::string& p_server, const std::string& p_comment) {
  NetworkResource server;
  server.displayType = RESOURCEDISPLAYTYPE_SERVER;
  server.remoteName = "\\\\" + p_server;
  server.comment = p_comment;
  return server;
}

// The browse lists (the network's workgroups, a workgroup's servers) come
// from a master browser; when none answers there is no list to give.
DWORD BrowseListError(int p_error) {
  return p_error == EACCES || p_error == EPERM ? ERROR_ACCESS_DENIED : ERROR_NO_BROWSER_SERVERS_FOUND;
}

DWORD ListBrowseLevel(const std::string& p_url, SmbEntryKind p_kind, std::vector<NetworkResource>& p_children) {
  SmbClientLease client(ProtocolRange::kBrowseLists);
  if (client.StartError() != 0) return ERROR_NO_NETWORK;
  std::vector<SmbDirectoryEntry> entries;
  if (const int error = client.ListDirectory(p_url, SmbClientLease::ListingKind::kNetwork, entries); error != 0) {
    return BrowseListError(error);
  }
  for (const SmbDirectoryEntry& entry : entries) {
    if (entry.kind != p_kind) continue;
    if (p_kind == SmbEntryKind::kServer) {
      p_children.push_back(ServerResource(entry.name, entry.comment));
    } else {
      NetworkResource workgroup;
      workgroup.displayType = RESOURCEDISPLAYTYPE_DOMAIN;
      workgroup.remoteName = entry.name;
      p_children.push_back(std::move(workgroup));
    }
  }
  return NO_ERROR;
}

// A server's shares; a server that cannot be reached is a bad network path.
DWORD ListShares(SmbClientLease& p_client, const std::string& p_server, std::vector<SmbDirectoryEntry>& p_entries) {
  if (p_client.StartError() != 0) return ERROR_NO_NETWORK;
  const int error = p_client.ListDirectory(ServerUrl(p_server), SmbClientLease::ListingKind::kNetwork, p_entries);
  if (error == 0) return NO_ERROR;
  if (error == EACCES || error == EPERM) return ERROR_ACCESS_DENIED;
  return ERROR_BAD_NETPATH;
}

}  // namespace

NetworkLevel LevelOf(const NETRESOURCEA* p_resource) {
  if (p_resource == nullptr) return NetworkLevel::kTop;
  const char* name = p_resource->lpRemoteName;
  if (name != nullptr && IsUncPath(name)) {
    const std::optional<UncPath> path = ParseUncPath(name);
    return path && !path->share.empty() ? NetworkLevel::kShare : NetworkLevel::kServer;
  }
  if (name == nullptr || name[0] == '\0' || ::strcasecmp(name, kWindowsNetworkProvider) == 0 ||
      p_resource->dwDisplayType == RESOURCEDISPLAYTYPE_NETWORK) {
    return NetworkLevel::kProvider;
  }
  return NetworkLevel::kWorkgroup;
}

DWORD ListChildren(NetworkLevel p_level, const std::string& p_name, std::vector<NetworkResource>& p_children) {
  p_children.clear();
  switch (p_level) {
    case NetworkLevel::kTop: {
      NetworkResource provider;
      provider.displayType = RESOURCEDISPLAYTYPE_NETWORK;
      provider.remoteName = kWindowsNetworkProvider;
      p_children.push_back(std::move(provider));
      return NO_ERROR;
    }
    case NetworkLevel::kProvider:
      return ListBrowseLevel("smb://", SmbEntryKind::kWorkgroup, p_children);
    case NetworkLevel::kWorkgroup:
      return ListBrowseLevel(ServerUrl(p_name), SmbEntryKind::kServer, p_children);
    case NetworkLevel::kServer: {
      const std::optional<UncPath> path = ParseUncPath(p_name);
      if (!path) return ERROR_BAD_NETPATH;
      SmbClientLease client(ProtocolRange::kDefault);
      std::vector<SmbDirectoryEntry> entries;
      if (const DWORD error = ListShares(client, path->server, entries); error != NO_ERROR) return error;
      for (const SmbDirectoryEntry& entry : entries) {
        if (IsBrowsableShare(entry)) p_children.push_back(ShareResource(path->server, entry));
      }
      return NO_ERROR;
    }
    case NetworkLevel::kShare:
      return ERROR_NOT_CONTAINER;
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD DescribeResource(const std::string& p_server, const std::string& p_share, NetworkResource& p_resource) {
  SmbClientLease client(ProtocolRange::kDefault);
  std::vector<SmbDirectoryEntry> entries;
  const DWORD listError = ListShares(client, p_server, entries);
  if (listError == ERROR_BAD_NETPATH || listError == ERROR_NO_NETWORK) return ERROR_BAD_NETPATH;
  if (p_share.empty()) {
    p_resource = ServerResource(p_server, {});
    return NO_ERROR;
  }
  for (const SmbDirectoryEntry& entry : entries) {
    if (EqualsIgnoringCase(entry.name, p_share.c_str())) {
      p_resource = ShareResource(p_server, entry);
      return NO_ERROR;
    }
  }
  if (listError == NO_ERROR) return ERROR_BAD_NET_NAME;
  // A server that will not list its shares may still serve this one.
  UncPath share{p_server, p_share, {}};
  struct stat status {};
  if (const int error = client.Stat(ShareUrl(share), status); error != 0) {
    return Win32ErrorForShare(client, share, error);
  }
  SmbDirectoryEntry entry;
  entry.kind = SmbEntryKind::kFileShare;
  entry.name = p_share;
  p_resource = ShareResource(p_server, entry);
  return NO_ERROR;
}

std::size_t PackedSize(const NetworkResource& p_resource) {
  std::size_t size = sizeof(NETRESOURCEA) + p_resource.remoteName.size() + 1 + sizeof kWindowsNetworkProvider;
  if (!p_resource.comment.empty()) size += p_resource.comment.size() + 1;
  return size;
}

std::size_t PackResources(const std::vector<NetworkResource>& p_resources, std::size_t p_first, std::size_t p_limit,
                          void* p_buffer, std::size_t p_size, const std::string* p_extra, LPSTR* p_extraOut) {
  auto* bytes = static_cast<char*>(p_buffer);
  std::size_t front = 0;     // end of the records packed so far
  std::size_t back = p_size;  // start of the strings packed so far
  // Strings go below the last one packed; the caller's buffer holds them.
  auto place = [&](const std::string& p_text) {
    back -= p_text.size() + 1;
    std::memcpy(bytes + back, p_text.c_str(), p_text.size() + 1);
    return bytes + back;
  };
  std::size_t packed = 0;
  for (std::size_t i = p_first; i < p_resources.size() && packed < p_limit; ++i) {
    const NetworkResource& resource = p_resources[i];
    std::size_t need = PackedSize(resource);
    if (packed == 0 && p_extra != nullptr) need += p_extra->size() + 1;
    if (need > back - front) break;
    NETRESOURCEA record{};
    record.dwScope = RESOURCE_GLOBALNET;
    record.dwType = resource.type;
    record.dwDisplayType = resource.displayType;
    record.dwUsage = resource.usage;
    record.lpProvider = place(kWindowsNetworkProvider);
    record.lpRemoteName = place(resource.remoteName);
    if (!resource.comment.empty()) record.lpComment = place(resource.comment);
    if (packed == 0 && p_extra != nullptr) {
      LPSTR extra = place(*p_extra);
      if (p_extraOut != nullptr) *p_extraOut = extra;
    }
    // The caller's buffer need not be aligned for the record.
    std::memcpy(bytes + front, &record, sizeof record);
    front += sizeof record;
    ++packed;
  }
  return packed;
}

}  // namespace kestnet::platform::smb
