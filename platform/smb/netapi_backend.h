// Samba's libnetapi, kept apart: its netapi.h declares NetServerGetInfo,
// NetShareGetInfo, NetApiBufferFree and their records in its own shapes, so
// only netapi_backend.cpp includes it. Callers hold an SmbClientLease (libnetapi
// shares the SMB client's process-wide configuration).
#pragma once

#include <cstdint>
#include <string>

namespace kestnet::platform::smb {

struct ServerInformation {
  std::uint32_t platformId = 0;
  std::uint32_t versionMajor = 0;
  std::uint32_t versionMinor = 0;
  std::uint32_t type = 0;
  std::string name;
  std::string comment;
};

// libnetapi's NetServerGetInfo at level 101 over the server's srvsvc pipe
// (p_server empty: this machine's own configuration). 0 or libnetapi's
// status: a Win32 number (126, ERROR_MOD_NOT_FOUND, when libnetapi cannot be
// loaded), a NERR_* number, or kCannotConnect when no session with the server
// could be made.
inline constexpr std::uint32_t kCannotConnect = 1003;  // WERR_CAN_NOT_COMPLETE
std::uint32_t QueryServerInformation(const std::string& p_server, ServerInformation& p_information);

// The fields of share levels 0 to 2 (those of lower levels only are filled).
struct ShareInformation {
  std::string name;
  std::uint32_t type = 0;
  std::string remark;
  std::uint32_t permissions = 0;
  std::uint32_t maxUses = 0;
  std::uint32_t currentUses = 0;
  std::string path;  // the server's form ("C:\\srv\\x" from Samba)
  std::string password;
};

// libnetapi's NetShareGetInfo at p_level (0 to 2) over the server's srvsvc
// pipe (p_server empty: this machine, as libnetapi finds it). 0 or a status
// as QueryServerInformation's; a Samba server
// answers kShareNotFound for a share it does not have.
inline constexpr std::uint32_t kShareNotFound = 123;  // WERR_INVALID_NAME
std::uint32_t QueryShareInformation(const std::string& p_server, const std::string& p_share, std::uint32_t p_level,
                                    ShareInformation& p_information);

}  // namespace kestnet::platform::smb
