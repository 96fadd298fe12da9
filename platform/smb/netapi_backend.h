// Samba's libnetapi, kept apart: its netapi.h declares NetServerGetInfo,
// NetApiBufferFree and SERVER_INFO_101 in its own shapes, so only
// netapi_backend.cpp includes it. Callers hold an SmbClientLease (libnetapi
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

}  // namespace kestnet::platform::smb
