#include "platform/smb/netapi_backend.h"

#include <netapi.h>

#include "platform/smb/samba_library.h"

namespace kestnet::platform::smb {
namespace {

// What Windows answers when a library a call needs cannot be loaded.
constexpr std::uint32_t kModuleNotFound = 126;  // ERROR_MOD_NOT_FOUND

// libnetapi's entry points, resolved when the library is first needed.
#define KESTNET_NETAPI_ENTRY_POINTS(X) \
  X(libnetapi_init)                    \
  X(libnetapi_set_debuglevel)          \
  X(libnetapi_set_username)            \
  X(libnetapi_set_password)            \
  X(NetServerGetInfo)                  \
  X(NetShareGetInfo)                   \
  X(NetApiBufferFree)

struct NetApiCalls {
  KESTNET_NETAPI_ENTRY_POINTS(KESTNET_SAMBA_ENTRY_POINT_MEMBER)
};

bool ResolveNetApi(void* library, NetApiCalls& calls) {
  return true KESTNET_NETAPI_ENTRY_POINTS(KESTNET_SAMBA_RESOLVE_ENTRY_POINT);
}

// Null when libnetapi or one of its entry points is missing.
const NetApiCalls* LoadedNetApi() {
  static const NetApiCalls* const calls = LoadSambaLibrary<NetApiCalls>("libnetapi.so.1", &ResolveNetApi);
  return calls;
}

// libnetapi keeps one context per process; it is made on first use, under
// the caller's lease, and lives until the process ends. It logs on as the SMB
// client does (smb_session.h): "guest" with an empty password. Without a
// user set it would prompt on the terminal for the process account's password.
NET_API_STATUS InitialisedContext(const NetApiCalls& p_calls) {
  static libnetapi_ctx* context = nullptr;
  if (context != nullptr) return NET_API_STATUS_SUCCESS;
  libnetapi_ctx* made = nullptr;
  if (const NET_API_STATUS status = p_calls.libnetapi_init(&made); status != NET_API_STATUS_SUCCESS) return status;
  p_calls.libnetapi_set_debuglevel(made, "0");
  p_calls.libnetapi_set_username(made, "guest");
  p_calls.libnetapi_set_password(made, "");
  context = made;
  return NET_API_STATUS_SUCCESS;
}

std::string Text(const char* p_text) { return p_text != nullptr ? p_text : ""; }

// Copies libnetapi's record of p_level (its SHARE_INFO_0 to _2) into p_information.
void ReadShareRecord(const uint8_t* p_buffer, std::uint32_t p_level, ShareInformation& p_information) {
  if (p_level == 0) {
    p_information.name = Text(reinterpret_cast<const SHARE_INFO_0*>(p_buffer)->shi0_netname);
  } else if (p_level == 1) {
    const auto* info = reinterpret_cast<const SHARE_INFO_1*>(p_buffer);
    p_information.name = Text(info->shi1_netname);
    p_information.type = info->shi1_type;
    p_information.remark = Text(info->shi1_remark);
  } else {
    const auto* info = reinterpret_cast<const SHARE_INFO_2*>(p_buffer);
    p_information.name = Text(info->shi2_netname);
    p_information.type = info->shi2_type;
    p_information.remark = Text(info->shi2_remark);
    p_information.permissions = info->shi2_permissions;
    p_information.maxUses = info->shi2_max_uses;
    p_information.currentUses = info->shi2_current_uses;
    p_information.path = Text(info->shi2_path);
    p_information.password = Text(info->shi2_passwd);
  }
}

}  // namespace

std::uint32_t QueryShareInformation(const std::string& p_server, const std::string& p_share, std::uint32_t p_level,
                                    ShareInformation& p_information) {
  const NetApiCalls* calls = LoadedNetApi();
  if (calls == nullptr) return kModuleNotFound;
  if (const NET_API_STATUS status = InitialisedContext(*calls); status != NET_API_STATUS_SUCCESS) return status;
  uint8_t* buffer = nullptr;
  const NET_API_STATUS status =
      calls->NetShareGetInfo(p_server.empty() ? nullptr : p_server.c_str(), p_share.c_str(), p_level, &buffer);
  if (status == NET_API_STATUS_SUCCESS && buffer != nullptr) ReadShareRecord(buffer, p_level, p_information);
  if (buffer != nullptr) calls->NetApiBufferFree(buffer);
  return status;
}

std::uint32_t QueryServerInformation(const std::string& p_server, ServerInformation& p_information) {
  const NetApiCalls* calls = LoadedNetApi();
  if (calls == nullptr) return kModuleNotFound;
  if (const NET_API_STATUS status = InitialisedContext(*calls); status != NET_API_STATUS_SUCCESS) return status;
  uint8_t* buffer = nullptr;
  const NET_API_STATUS status = calls->NetServerGetInfo(p_server.empty() ? nullptr : p_server.c_str(), 101, &buffer);
  if (status != NET_API_STATUS_SUCCESS) {
    if (buffer != nullptr) calls->NetApiBufferFree(buffer);
    return status;
  }
  const auto* info = reinterpret_cast<const SERVER_INFO_101*>(buffer);
  p_information.platformId = info->sv101_platform_id;
  p_information.versionMajor = info->sv101_version_major;
  p_information.versionMinor = info->sv101_version_minor;
  p_information.type = info->sv101_type;
  p_information.name = info->sv101_name != nullptr ? info->sv101_name : "";
  p_information.comment = info->sv101_comment != nullptr ? info->sv101_comment : "";
  calls->NetApiBufferFree(buffer);
  return NET_API_STATUS_SUCCESS;
}

}  // namespace kestnet::platform::smb
