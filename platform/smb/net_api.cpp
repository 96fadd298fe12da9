#include "platform/smb/net_api.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os/module_table.h"
#include "platform/os/utf8.h"
#include "platform/smb/netapi_backend.h"
#include "platform/smb/smb_session.h"
#include "platform/smb/unc_path.h"

namespace kestnet::platform::smb {
namespace {

// Every buffer these calls return is one malloc block: the record, then its
// wide strings. NetApiBufferFree frees it whole.
class BufferBuilder {
 public:
  BufferBuilder(std::size_t p_recordSize, std::initializer_list<std::wstring_view> p_strings) {
    std::size_t size = p_recordSize;
    for (const std::wstring_view text : p_strings) size += (text.size() + 1) * sizeof(wchar_t);
    m_block = static_cast<char*>(std::calloc(1, size));
    m_next = p_recordSize;
  }
  char* Block() const { return m_block; }
  LPWSTR Place(std::wstring_view p_text) {
    auto* target = reinterpret_cast<wchar_t*>(m_block + m_next);
    std::memcpy(target, p_text.data(), p_text.size() * sizeof(wchar_t));
    target[p_text.size()] = L'\0';
    m_next += (p_text.size() + 1) * sizeof(wchar_t);
    return target;
  }

 private:
  char* m_block = nullptr;
  std::size_t m_next = 0;
};

// NetBIOS names and DNS names; anything else cannot name a server.
bool IsServerName(const std::string& p_name) {
  if (p_name.size() > 255) return false;
  for (const char c : p_name) {
    if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' ||
        static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
  }
  return true;
}

// lmcons.h NNLEN: the longest share name.
constexpr std::size_t kMaxShareNameLength = 80;

bool IsShareName(std::wstring_view p_name) {
  if (p_name.empty() || p_name.size() > kMaxShareNameLength) return false;
  return p_name.find_first_of(L"\\/:*?\"<>|") == std::wstring_view::npos &&
         std::none_of(p_name.begin(), p_name.end(), [](wchar_t c) { return c < 0x20; });
}

// Samba's srvsvc presents a folder of its file system as a path of drive C:
// ("/srv/x" as "C:\srv\x"); this machine's callers get its own path back.
std::string LocalPathFromSamba(std::string p_path) {
  if (p_path.rfind("C:\\", 0) != 0) return p_path;
  p_path.erase(0, 2);
  std::replace(p_path.begin(), p_path.end(), '\\', '/');
  return p_path;
}

// This machine's server, on its loopback address. Left to itself libnetapi
// would ask "localhost", a name Samba's client resolves only when its name
// resolve order includes the hosts file.
constexpr const char* kThisMachine = "127.0.0.1";

// Whether p_server (without backslashes) is this machine: no name, or its own
// (Windows answers for its own name without asking the network).
bool IsThisMachine(const SmbClientLease& p_client, const std::string& p_server) {
  const std::string ownName = p_client.NetbiosName();
  return p_server.empty() || (!ownName.empty() && ::strcasecmp(ownName.c_str(), p_server.c_str()) == 0);
}

// libnetapi reports every failure to reach the server as one status; Windows
// tells a server that is not there from one that refuses us, so the server is
// asked for its share list to see which.
NET_API_STATUS ServerFailure(SmbClientLease& p_client, const std::string& p_server, std::uint32_t p_status) {
  if (p_status != kCannotConnect) return p_status;
  std::vector<SmbDirectoryEntry> shares;
  const int error = p_client.ListDirectory(ServerUrl(p_server), SmbClientLease::ListingKind::kNetwork, shares);
  return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_BAD_NETPATH;
}

}  // namespace
}  // namespace kestnet::platform::smb

using namespace kestnet::platform::smb;

NET_API_STATUS NetServerGetInfo(LMSTR servername, DWORD level, LPBYTE* bufptr) {
  if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 101) return ERROR_INVALID_LEVEL;
  std::wstring_view wide = servername != nullptr ? std::wstring_view(servername) : std::wstring_view{};
  while (!wide.empty() && wide.front() == L'\\') wide.remove_prefix(1);
  const std::string server = kestnet::platform::Utf8FromWide(wide);
  if (!IsServerName(server)) return NERR_InvalidComputer;

  SmbClientLease client(ProtocolRange::kDefault);
  ServerInformation information;
  if (const std::uint32_t status = QueryServerInformation(server, information); status != 0) {
    return ServerFailure(client, server, status);
  }
  const std::wstring name = kestnet::platform::WideFromUtf8(information.name);
  const std::wstring comment = kestnet::platform::WideFromUtf8(information.comment);
  BufferBuilder builder(sizeof(SERVER_INFO_101), {name, comment});
  if (builder.Block() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  auto* record = reinterpret_cast<SERVER_INFO_101*>(builder.Block());
  record->sv101_platform_id = information.platformId;
  record->sv101_name = builder.Place(name);
  record->sv101_version_major = information.versionMajor;
  record->sv101_version_minor = information.versionMinor;
  record->sv101_type = information.type;
  record->sv101_comment = builder.Place(comment);
  *bufptr = reinterpret_cast<LPBYTE>(record);
  return NERR_Success;
}

NET_API_STATUS NetShareGetInfo(LMSTR servername, LMSTR netname, DWORD level, LPBYTE* bufptr) {
  if (bufptr == nullptr || netname == nullptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (!IsShareName(netname)) return ERROR_INVALID_NAME;
  if (level > 2) return ERROR_INVALID_LEVEL;
  std::wstring_view wide = servername != nullptr ? std::wstring_view(servername) : std::wstring_view{};
  while (!wide.empty() && wide.front() == L'\\') wide.remove_prefix(1);
  const std::string named = kestnet::platform::Utf8FromWide(wide);
  if (!IsServerName(named)) return NERR_InvalidComputer;

  SmbClientLease client(ProtocolRange::kDefault);
  const bool bThisMachine = IsThisMachine(client, named);
  const std::string server = bThisMachine ? kThisMachine : named;
  ShareInformation information;
  const std::uint32_t status =
      QueryShareInformation(server, kestnet::platform::Utf8FromWide(netname), level, information);
  if (status == kShareNotFound) return NERR_NetNameNotFound;
  if (status == kCannotConnect && bThisMachine) return NERR_ServerNotStarted;
  if (status != 0) return ServerFailure(client, server, status);

  const std::wstring name = kestnet::platform::WideFromUtf8(information.name);
  const std::wstring remark = kestnet::platform::WideFromUtf8(information.remark);
  const std::wstring path =
      kestnet::platform::WideFromUtf8(bThisMachine ? LocalPathFromSamba(information.path) : information.path);
  const std::wstring password = kestnet::platform::WideFromUtf8(information.password);
  // Every level's record begins as the one below it does.
  static constexpr std::size_t kRecordSizes[] = {sizeof(SHARE_INFO_0), sizeof(SHARE_INFO_1), sizeof(SHARE_INFO_2)};
  BufferBuilder builder(kRecordSizes[level], {name, remark, path, password});
  if (builder.Block() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  if (level == 0) {
    reinterpret_cast<SHARE_INFO_0*>(builder.Block())->shi0_netname = builder.Place(name);
  } else if (level == 1) {
    auto* record = reinterpret_cast<SHARE_INFO_1*>(builder.Block());
    record->shi1_netname = builder.Place(name);
    record->shi1_type = information.type;
    record->shi1_remark = builder.Place(remark);
  } else {
    auto* record = reinterpret_cast<SHARE_INFO_2*>(builder.Block());
    record->shi2_netname = builder.Place(name);
    record->shi2_type = information.type;
    record->shi2_remark = builder.Place(remark);
    record->shi2_permissions = information.permissions;
    record->shi2_max_uses = information.maxUses;
    record->shi2_current_uses = information.currentUses;
    record->shi2_path = builder.Place(path);
    record->shi2_passwd = password.empty() ? nullptr : builder.Place(password);
  }
  *bufptr = reinterpret_cast<LPBYTE>(builder.Block());
  return NERR_Success;
}

NET_API_STATUS NetGetJoinInformation(LPCWSTR lpServer, LPWSTR* lpNameBuffer, PNETSETUP_JOIN_STATUS BufferType) {
  if (lpNameBuffer == nullptr || BufferType == nullptr) return ERROR_INVALID_PARAMETER;
  *lpNameBuffer = nullptr;
  if (lpServer != nullptr && lpServer[0] != L'\0') return ERROR_NOT_SUPPORTED;
  std::string workgroup;
  {
    SmbClientLease client(ProtocolRange::kDefault);
    workgroup = client.Workgroup();
  }
  // Samba's own default, for a machine whose client cannot start.
  if (workgroup.empty()) workgroup = "WORKGROUP";
  const std::wstring name = kestnet::platform::WideFromUtf8(workgroup);
  BufferBuilder builder(0, {name});
  if (builder.Block() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  *lpNameBuffer = builder.Place(name);
  *BufferType = NetSetupWorkgroupName;
  return NERR_Success;
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer) {
  std::free(Buffer);
  return NERR_Success;
}

namespace kestnet::platform {
namespace {

const SystemProcedureEntry kNetapi32Procedures[] = {
    {"NetServerGetInfo", reinterpret_cast<SystemProcedure>(&::NetServerGetInfo)},
    {"NetShareGetInfo", reinterpret_cast<SystemProcedure>(&::NetShareGetInfo)},
    {"NetGetJoinInformation", reinterpret_cast<SystemProcedure>(&::NetGetJoinInformation)},
    {"NetApiBufferFree", reinterpret_cast<SystemProcedure>(&::NetApiBufferFree)},
};

}  // namespace

void RegisterNetapi32Module() { RegisterSystemModule(L"Netapi32.dll", kNetapi32Procedures); }

}  // namespace kestnet::platform
