#include "netsys/net_server_get_info_nt.h"

#include "platform/os/module_table.h"
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
  m_hModule = kestnet::platform::LoadSystemModule(L"Netapi32.dll");
  if (m_hModule == nullptr) {
    Log(kClassName, kLogLevelWarning, "Initialize() - Error:  Failed to load Netapi32.dll");
    return false;
  }
  m_pfnNetServerGetInfo = reinterpret_cast<NetServerGetInfoFunction>(
      kestnet::platform::GetSystemModuleProcedure(m_hModule, "NetServerGetInfo"));
  if (m_pfnNetServerGetInfo == nullptr) {
    Log(kClassName, kLogLevelWarning, "Initialize() - Error:  Failed to get address of NetServerGetInfo.");
    Release();
    return false;
  }
  m_pfnNetApiBufferFree = reinterpret_cast<NetApiBufferFreeFunction>(
      kestnet::platform::GetSystemModuleProcedure(m_hModule, "NetApiBufferFree"));
  if (m_pfnNetApiBufferFree == nullptr) {
    Log(kClassName, kLogLevelWarning, "Initialize() - Error:  Failed to get address of NetApiBufferFree.");
    Release();
    return false;
  }
  return true;
}

void NetServerGetInfo_NT::Release() {
  if (m_hModule != nullptr) {
    kestnet::platform::FreeSystemModule(m_hModule);
  }
  m_hModule = nullptr;
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
