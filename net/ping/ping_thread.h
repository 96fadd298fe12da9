// KestNet::PingThread: the worker of one echo request.
//
// Start loads the echo service by name ("ICMP.DLL": IcmpCreateFile,
// IcmpCloseHandle, IcmpSendEcho), stores the request and runs the body,
// which resolves a name target, sends one echo with the request's TTL and
// payload, waits up to the ICMP time-out, maps the reply's status onto a
// PING_* result and reports to the owning Ping. The service handle is closed
// and the module released when the worker is destroyed.
#pragma once

#include <string>
#include <vector>

#include "net/ping/ping_listener.h"
#include "platform/net/icmp_echo.h"
#include "platform/os/win_types.h"
#include "runtime/thread.h"

namespace KestNet {

class Ping;

class PingThread : public KestMT::Thread {
 public:
  // Reply buffer of one echo: one reply record, the largest payload and room
  // for an ICMP header and options.
  static constexpr DWORD kReplyBufferSize = 1540;
  static constexpr WORD kDefaultDataSize = 20;
  static constexpr BYTE kDefaultTTL = 64;
  static constexpr DWORD kDefaultICMPTimeout = 5000;
  static constexpr DWORD kDefaultDNSTimeout = 5000;

  PingThread();
  ~PingThread() override;

  // Throws InvalidObjectException when the echo service cannot be loaded or
  // the thread cannot be started.
  virtual void Start(const std::wstring& p_cstrwTarget, DWORD p_dwDNSTimeout,
                     DWORD p_dwICMPTimeout, BYTE p_byTTL, WORD p_wDataSize, Ping* p_pOwner,
                     PingListener* p_pListener);
  DWORD Run() override;

  virtual void GetResults(PingListener*& p_pListener, std::wstring& p_cstrwTarget,
                          std::string& p_strAddress, std::string& p_strReplyAddress,
                          DWORD& p_dwResult, DWORD& p_dwRoundTripTime) const;

  // The echo payload: p_wDataSize bytes from "0" upwards, wrapping from "}"
  // back to a space.
  static std::vector<BYTE> BuildPayload(WORD p_wDataSize);

 private:
  void InitializeEchoService();
  void ReleaseEchoService();
  void ResolveTarget();
  void SendEcho();

  std::wstring m_cstrwTarget;
  std::string m_strAddress;
  DWORD m_dwRoundTripTime = 0;
  std::string m_strReplyAddress;
  DWORD m_dwResult = 9;
  DWORD m_dwReplyCount = 0;
  WORD m_wDataSize = kDefaultDataSize;
  BYTE m_byTTL = kDefaultTTL;
  DWORD m_dwICMPTimeout = kDefaultICMPTimeout;
  DWORD m_dwDNSTimeout = kDefaultDNSTimeout;
  Ping* m_pOwner = nullptr;             // not owned
  PingListener* m_pListener = nullptr;  // not owned

  bool m_bEchoServiceInitialized = false;
  HMODULE m_hEchoModule = nullptr;
  IcmpCreateFileFunction m_pfnIcmpCreateFile = nullptr;
  IcmpCloseHandleFunction m_pfnIcmpCloseHandle = nullptr;
  IcmpSendEchoFunction m_pfnIcmpSendEcho = nullptr;
  HANDLE m_hIcmpFile = INVALID_HANDLE_VALUE;
};

}  // namespace KestNet
