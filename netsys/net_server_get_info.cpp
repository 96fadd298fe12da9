#include "netsys/net_server_get_info.h"

#include <array>
#include <new>

#include "netsys/get_host_info_result.h"
#include "netsys/net_server_get_info_9x.h"
#include "netsys/net_server_get_info_nt.h"
#include "platform/smb/net_api.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "NetServerGetInfo";

struct NTVersionPlatform {
  DWORD dwMajor;
  DWORD dwMinor;
  LONG lPlatform;
};

// NT 4.0 is not told apart here: it reports PLATFORM_UNKNOWN, as it always has.
constexpr std::array<NTVersionPlatform, 5> kNTVersionPlatforms = {{
    {5, 0, PLATFORM_WINDOWS_2000},
    {5, 1, PLATFORM_WINDOWS_XP},
    {5, 2, PLATFORM_WINDOWS_2003},
    {6, 0, PLATFORM_WINDOWS_VISTA},
    {6, 1, PLATFORM_WINDOWS_7},
}};

bool IsSet(DWORD p_dwServerType, DWORD p_dwBit) { return (p_dwServerType & p_dwBit) != 0; }

template <typename Implementation>
std::unique_ptr<NetServerGetInfo> Create(const char* p_szFactoryName) {
  auto pServerInfo = std::unique_ptr<Implementation>(new (std::nothrow) Implementation());
  if (pServerInfo == nullptr || !pServerInfo->Initialize()) {
    Log(kClassName, kLogLevelWarning, "%s():  Error - Failed to create object", p_szFactoryName);
    return nullptr;
  }
  return pServerInfo;
}

}  // namespace

LONG GetPlatform(DWORD p_dwServerType, DWORD p_dwMajorVersion, DWORD p_dwMinorVersion) {
  if (IsSet(p_dwServerType, SV_TYPE_WINDOWS)) {
    // Windows 95 and 98 (4.0, 4.10) and Windows Me (4.90).
    const bool bWin9x = p_dwMajorVersion == 4 && (p_dwMinorVersion < 11 || p_dwMinorVersion == 90);
    return bWin9x ? PLATFORM_WINDOWS_9X : PLATFORM_UNKNOWN;
  }
  if (IsSet(p_dwServerType, SV_TYPE_NT) && !IsSet(p_dwServerType, SV_TYPE_SERVER_UNIX)) {
    for (const NTVersionPlatform& entry : kNTVersionPlatforms) {
      if (entry.dwMajor == p_dwMajorVersion && entry.dwMinor == p_dwMinorVersion) {
        return entry.lPlatform;
      }
    }
    return PLATFORM_UNKNOWN;
  }
  // A Unix file server (Samba) announces itself as NT and Unix; one that
  // also serves Apple filing is left unclassified.
  if (IsSet(p_dwServerType, SV_TYPE_NT) && IsSet(p_dwServerType, SV_TYPE_SERVER_UNIX) &&
      !IsSet(p_dwServerType, SV_TYPE_AFP)) {
    return PLATFORM_UNIX;
  }
  return PLATFORM_UNKNOWN;
}

std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_NT() {
  return Create<NetServerGetInfo_NT>("CreateGetServerInfo_NT");
}

std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_9x() {
  return Create<NetServerGetInfo_9x>("CreateGetServerInfo_9x");
}

bool ServerInfoModule::Load(const char* p_szModuleName) {
  const std::string name = p_szModuleName;
  if (!m_library.Load(std::wstring(name.begin(), name.end()).c_str())) {
    Log(m_szClassName, kLogLevelWarning, "Initialize() - Error:  Failed to load %s", p_szModuleName);
    return false;
  }
  return true;
}

void ServerInfoModule::LogMissingProcedure(const char* p_szProcedureName) const {
  Log(m_szClassName, kLogLevelWarning, "Initialize() - Error:  Failed to get address of %s.", p_szProcedureName);
}

}  // namespace KestNet
