// KestNet::NetServerGetInfo_9x: level 1 of the Windows 9x server API
// ("svrapi.dll", narrow strings, caller-sized buffer).
#pragma once

#include <string>

#include "netsys/net_server_get_info.h"
#include "platform/os/win_types.h"

namespace KestNet {

class NetServerGetInfo_9x : public NetServerGetInfo {
 public:
  NetServerGetInfo_9x() = default;
  ~NetServerGetInfo_9x() override;

  NetServerGetInfo_9x(const NetServerGetInfo_9x&) = delete;
  NetServerGetInfo_9x& operator=(const NetServerGetInfo_9x&) = delete;

  // Loads "svrapi.dll" and resolves NetServerGetInfo; false (logged) when
  // either is missing.
  bool Initialize();
  // Throws Win32ErrorException when the size query fails and
  // OutOfMemoryException when the buffer cannot be had.
  bool GetInfo(const std::wstring& p_cstrwHostName, LONG& p_lPlatformId, LONG& p_lMajorVersion,
               LONG& p_lMinorVersion, std::wstring& p_cstrwComment, LONG& p_lReserved) override;

 private:
  // NetServerGetInfo(server, level, buffer, buffer size, total available).
  using NetServerGetInfoFunction = DWORD (*)(const char*, short, char*, unsigned short, unsigned short*);

  void Release();

  ServerInfoModule m_module{"NetServerGetInfo_9x"};
  NetServerGetInfoFunction m_pfnNetServerGetInfo = nullptr;
};

}  // namespace KestNet
