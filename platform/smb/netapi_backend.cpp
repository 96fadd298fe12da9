#include "platform/smb/netapi_backend.h"

#include <netapi.h>

namespace kestnet::platform::smb {
namespace {

// libnetapi keeps one context per process; it is made on first use, under
// the caller's lease, and lives until the process ends. It logs on as the SMB
// client does (smb_session.h): "guest" with an empty password. Without a
// user set it would prompt on the terminal for the process account's password.
NET_API_STATUS InitialisedContext() {
  static libnetapi_ctx* context = nullptr;
  if (context != nullptr) return NET_API_STATUS_SUCCESS;
  libnetapi_ctx* made = nullptr;
  if (const NET_API_STATUS status = libnetapi_init(&made); status != NET_API_STATUS_SUCCESS) return status;
  libnetapi_set_debuglevel(made, "0");
  libnetapi_set_username(made, "guest");
  libnetapi_set_password(made, "");
  context = made;
  return NET_API_STATUS_SUCCESS;
}

}  // namespace

std::uint32_t QueryServerInformation(const std::string& p_server, ServerInformation& p_information) {
  if (const NET_API_STATUS status = InitialisedContext(); status != NET_API_STATUS_SUCCESS) return status;
  uint8_t* buffer = nullptr;
  const NET_API_STATUS status = NetServerGetInfo(p_server.empty() ? nullptr : p_server.c_str(), 101, &buffer);
  if (status != NET_API_STATUS_SUCCESS) {
    if (buffer != nullptr) NetApiBufferFree(buffer);
    return status;
  }
  const auto* info = reinterpret_cast<const SERVER_INFO_101*>(buffer);
  p_information.platformId = info->sv101_platform_id;
  p_information.versionMajor = info->sv101_version_major;
  p_information.versionMinor = info->sv101_version_minor;
  p_information.type = info->sv101_type;
  p_information.name = info->sv101_name != nullptr ? info->sv101_name : "";
  p_information.comment = info->sv101_comment != nullptr ? info->sv101_comment : "";
  NetApiBufferFree(buffer);
  return NET_API_STATUS_SUCCESS;
}

}  // namespace kestnet::platform::smb
