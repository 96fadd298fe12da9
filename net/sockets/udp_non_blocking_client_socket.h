// KestNet::UdpNonBlockingClientSocket: a non-blocking IPv4 datagram socket
// whose notifications arrive on a socket event thread.
//
// Create attaches the socket and posts a send notification to itself, so the
// listener's first OnSend says that datagrams may be sent. With multicast set
// before Create, the socket reuses addresses, carries the stored TTL, and Bind
// joins the group 239.255.255.250 on the bound interface. Locking as for
// TcpNonBlockingClientSocket; the socket id is the object's address.
#pragma once

#include <string>

#include "net/sockets/ip_address.h"
#include "net/sockets/non_blocking_socket.h"
#include "net/sockets/socket_listeners.h"
#include "platform/os/win_types.h"

namespace KestNet {

class UdpNonBlockingClientSocket : public NonBlockingSocket {
 public:
  UdpNonBlockingClientSocket();

  // SocketEventThreadListener. Accept, connect and connect-to-address are
  // ignored: a datagram socket has none.
  void OnAccept(int p_iError) override;
  void OnConnect(int p_iError) override;
  void OnReceive(int p_iError) override;
  void OnSend(int p_iError) override;
  void OnPostedConnect(DWORD p_dwAddress) override;

  ~UdpNonBlockingClientSocket() override;
  // The socket id, or 0.
  virtual DWORD_PTR Create(UdpNonBlockingSocketListener* p_pListener);
  virtual bool Bind(USHORT p_usPort, const IPAddress& p_address);
  virtual void Close(bool p_bImmediate);
  // One datagram: its length (0 on failure, would-block included), with the
  // sender's port and address.
  virtual DWORD ReceiveFrom(BYTE* p_pBuffer, DWORD p_dwCapacity, USHORT& p_usPort,
                            IPAddress& p_address);
  virtual DWORD ReceiveFrom(BYTE* p_pBuffer, DWORD p_dwCapacity, USHORT& p_usPort,
                            std::string& p_strAddress);
  // Bytes sent, or 0. Host names are not resolved here.
  virtual DWORD SendTo(const BYTE* p_pData, DWORD p_dwLength, USHORT p_usPort,
                       const IPAddress& p_address);
  // Both take effect at the next Create.
  virtual void SetMulticast(bool p_bMulticast);
  virtual void SetTTL(DWORD p_dwTtl);

 private:
  // NonBlockingSocket.
  void BeginClose(int p_iError, DWORD p_dwResult) override;
  void NotifyClose(DWORD p_dwResult) override;

  UdpNonBlockingSocketListener* m_pListener = nullptr;  // not owned
  bool m_bMulticast = false;
  DWORD m_dwTtl = 1;
};

}  // namespace KestNet
