// UNC names ("\\SERVER\share\folder\file") and the smb:// URLs libsmbclient
// takes for them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestnet::platform::smb {

struct UncPath {
  std::string server;
  std::string share;   // empty: the server itself
  std::string folder;  // the path inside the share, '/'-separated, no leading '/'
};

// True for a path that begins with two separators ('\' or '/').
bool IsUncPath(std::string_view p_path);

// Splits a UNC path; nullopt when it is not one or names no server. Repeated
// separators count as one; a trailing one is dropped.
std::optional<UncPath> ParseUncPath(std::string_view p_path);

// smb://server/share/folder, every byte outside the unreserved set
// percent-encoded, as libsmbclient decodes it (a '%', '?', '@' or ';' in a
// name would otherwise be read as URL syntax).
std::string SmbUrl(const UncPath& p_path);
// The URL of the share itself, and of the folder holding p_path.
std::string ShareUrl(const UncPath& p_path);
std::string ParentUrl(const UncPath& p_path);
// The URL of the server's share list.
std::string ServerUrl(const std::string& p_server);

// The last element of a local or UNC path ('\' and '/' both separate).
std::string_view LastPathElement(std::string_view p_path);

}  // namespace kestnet::platform::smb
