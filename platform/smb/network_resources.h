// The network's resources as the browsing calls see them (wnet.h describes
// the levels): what a level holds, and how a list of them is packed into a
// caller's buffer the way MPR packs NETRESOURCEA records.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/os/win_types.h"
#include "platform/smb/wnet.h"

namespace kestnet::platform::smb {

struct NetworkResource {
  DWORD type = RESOURCETYPE_ANY;
  DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
  DWORD usage = RESOURCEUSAGE_CONTAINER;
  std::string remoteName;
  std::string comment;  // empty: lpComment is null
};

// The levels a NETRESOURCEA can open.
enum class NetworkLevel { kTop, kProvider, kWorkgroup, kServer, kShare };

// Which level p_resource names (null: the top). A remote name "\\SERVER" is a
// server, "\\SERVER\share" a share, the provider's name (or a provider
// display type) the provider, any other name a workgroup.
NetworkLevel LevelOf(const NETRESOURCEA* p_resource);

// The children of a level, read from the network: NO_ERROR, or the Win32
// error wnet.h lists for WNetOpenEnumA. p_name is the level's remote name.
DWORD ListChildren(NetworkLevel p_level, const std::string& p_name, std::vector<NetworkResource>& p_children);

// The share or server a UNC name names (WNetGetResourceInformationA): NO_ERROR
// or ERROR_BAD_NET_NAME / ERROR_BAD_NETPATH.
DWORD DescribeResource(const std::string& p_server, const std::string& p_share, NetworkResource& p_resource);

// Bytes one record and its strings take in a buffer.
std::size_t PackedSize(const NetworkResource& p_resource);

// Packs records from p_first on into p_buffer: the NETRESOURCEA records from
// the front, their strings from the back, as MPR does. Stops at p_limit
// records or when the next does not fit; returns how many were packed.
// p_extra, when not null, is a string packed with the first record (the
// resource information's "system" part) and p_extraOut then points at it.
std::size_t PackResources(const std::vector<NetworkResource>& p_resources, std::size_t p_first, std::size_t p_limit,
                          void* p_buffer, std::size_t p_size, const std::string* p_extra = nullptr,
                          LPSTR* p_extraOut = nullptr);

}  // namespace kestnet::platform::smb
