// KestNet::GetHostInfoThread: the worker of one host lookup.
//
// EchoRequest stores the host name, the owner and the listener and starts the
// body, which asks the host's server service for its version, platform and
// comment (NetServerGetInfo; a failure there only leaves those fields
// unknown), then finds its address and MAC by NetBIOS (GetAddressFromNetbios)
// and reports to the owning WindowsNetwork, which calls the listener. Every
// failure ends in a GETHOSTINFO_* status; nothing escapes the body.
#pragma once

#include <memory>
#include <string>

#include "netsys/get_host_info_listener.h"
#include "netsys/get_host_info_result.h"
#include "platform/os/win_types.h"
#include "runtime/thread.h"

namespace KestNet {

class NetServerGetInfo;
class WindowsNetwork;

class GetHostInfoThread : public KestMT::Thread {
 public:
  GetHostInfoThread();
  // Aborts a running body and waits for it before the server-information
  // object it uses goes.
  ~GetHostInfoThread() override;

  // Throws InvalidObjectException when the thread cannot be started. Neither
  // pointer is owned.
  virtual void EchoRequest(const std::wstring& p_cstrwHostName, WindowsNetwork* p_pOwner,
                           GetHostInfoListener* p_pListener);
  DWORD Run() override;

  virtual void GetResults(LONG& p_lStatus, GetHostInfoListener*& p_pListener,
                          std::wstring& p_cstrwHostName, std::wstring& p_cstrwIPAddress,
                          std::wstring& p_cstrwMACAddress, LONG& p_lMajorVersion,
                          LONG& p_lMinorVersion, LONG& p_lReserved, LONG& p_lPlatformId,
                          std::wstring& p_cstrwComment) const;

 private:
  // Creates the server-information object of this system's family once.
  void Initialize();

  std::wstring m_cstrwHostName;
  std::wstring m_cstrwIPAddress = L"UNKNOWN";
  std::wstring m_cstrwMACAddress = L"UNKNOWN";
  LONG m_lMajorVersion = -1;
  LONG m_lMinorVersion = -1;
  LONG m_lReserved = -1;  // never set: reaches the listener as -1
  LONG m_lPlatformId = -1;
  std::wstring m_cstrwComment = L"UNKNOWN";
  LONG m_lStatus = GETHOSTINFO_INVALIDOBJECT;
  WindowsNetwork* m_pOwner = nullptr;             // not owned
  GetHostInfoListener* m_pListener = nullptr;     // not owned
  std::unique_ptr<NetServerGetInfo> m_pServerInfo;
  bool m_bServerInfoCreated = false;
};

}  // namespace KestNet
