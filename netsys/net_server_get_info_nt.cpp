#include "netsys/net_server_get_info_nt.h"

#include "platform/smb/net_api.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "NetServerGetInfo_NT";
constexpr DWORD kServerInfoLevel = 101;

}  // namespace

NetServerGetInfo_NT::~NetServerGetInfo_NT() { Release(); }

bool NetServerGetInfo_NT::Initialize() {
  kestnet::platform::RegisterNetapi32Module();
  if (!m_module.Load("Netapi32.dll") || !m_module.Resolve("NetServerGetInfo", m_pfnNetServerGetInfo) ||
      !m_module.Resolve("NetApiBufferFree", m_pfnNetApiBufferFree)) {
    Release();
    return false;
  }
  return true;
}

void NetServerGetInfo_NT::Release() {
  m_module.Free();
  m_pfnNetServerGetInfo = nullptr;
  m_pfnNetApiBufferFree = nullptr;
}

bool NetServerGetInfo_NT::GetInfo(const std::wstring& p_cstrwHostName, LONG& p_lPlatformId, LONG& p_lMajorVersion,
                                  LONG& p_lMinorVersion, std::wstring& p_cstrwComment, LONG& /*p_lReserved*/) {
  if (m_pfnNetServerGetInfo == nullptr) {
    return false;
  }
  std::wstring serverName = p_cstrwHostName;
  LPBYTE pBuffer = nullptr;
  const DWORD dwResult = m_pfnNetServerGetInfo(serverName.data(), kServerInfoLevel, &pBuffer);
  if (dwResult != NERR_Success) {
    if (pBuffer != nullptr) m_pfnNetApiBufferFree(pBuffer);
    return false;
  }
  if (pBuffer != nullptr) {
    const auto* pInfo = reinterpret_cast<const SERVER_INFO_101*>(pBuffer);
    p_lMajorVersion = static_cast<LONG>(pInfo->sv101_version_major);
    p_lMinorVersion = static_cast<LONG>(pInfo->sv101_version_minor);
    p_cstrwComment = pInfo->sv101_comment != nullptr ? pInfo->sv101_comment : L"";
    p_lPlatformId = GetPlatform(pInfo->sv101_type, pInfo->sv101_version_major, pInfo->sv101_version_minor);
    m_pfnNetApiBufferFree(pBuffer);
  }
  return true;
}

}  // namespace KestNet
