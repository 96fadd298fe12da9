// KestNet::NetServerGetInfo_NT: level 101 of the NT server service API.
#pragma once

#include <string>

#include "netsys/net_server_get_info.h"
#include "platform/os/win_types.h"

namespace KestNet {

class NetServerGetInfo_NT : public NetServerGetInfo {
 public:
  NetServerGetInfo_NT() = default;
  ~NetServerGetInfo_NT() override;

  NetServerGetInfo_NT(const NetServerGetInfo_NT&) = delete;
  NetServerGetInfo_NT& operator=(const NetServerGetInfo_NT&) = delete;

  // Loads "Netapi32.dll" and resolves NetServerGetInfo and NetApiBufferFree;
  // false (logged) when either is missing.
  bool Initialize();
  bool GetInfo(const std::wstring& p_cstrwHostName, LONG& p_lPlatformId, LONG& p_lMajorVersion,
               LONG& p_lMinorVersion, std::wstring& p_cstrwComment, LONG& p_lReserved) override;

 private:
  using NetServerGetInfoFunction = DWORD (*)(LPWSTR, DWORD, LPBYTE*);
  using NetApiBufferFreeFunction = DWORD (*)(LPVOID);

  void Release();

  ServerInfoModule m_module{"NetServerGetInfo_NT"};
  NetServerGetInfoFunction m_pfnNetServerGetInfo = nullptr;
  NetApiBufferFreeFunction m_pfnNetApiBufferFree = nullptr;
};

}  // namespace KestNet
