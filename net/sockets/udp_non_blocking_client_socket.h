// KestNet::UdpNonBlockingClientSocket: a non-blocking IPv4 datagram socket
// whose notifications arrive on a socket event thread.
//
// Create attaches the socket and posts a send notification to itself, so the
// listener's first OnSend says that datagrams may be sent. With multicast set
// before Create, the socket reuses addresses, carries the stored TTL, and Bind
// joins the group 239.255.255.250 on the bound interface. Locking as for
// TcpNonBlockingClientSocket; the socket id is the object's address.
#pragma once

#include <atomic>
#include <string>

#include "net/sockets/ip_address.h"
#include "net/sockets/socket_listeners.h"
#include "platform/net/socket_wait_set.h"
#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/mutex.h"

namespace KestNet {

class UdpNonBlockingClientSocket : public SocketEventThreadListener {
 public:
  UdpNonBlockingClientSocket();
  UdpNonBlockingClientSocket(const UdpNonBlockingClientSocket&) = delete;
  UdpNonBlockingClientSocket& operator=(const UdpNonBlockingClientSocket&) = delete;

  // SocketEventThreadListener. Accept, connect and connect-to-address are
  // ignored: a datagram socket has none.
  void OnAccept(int p_iError) override;
  void OnClose(int p_iError) override;
  void OnConnect(int p_iError) override;
  void OnReceive(int p_iError) override;
  void OnSend(int p_iError) override;
  void OnPostedConnect(DWORD p_dwAddress) override;
  void Detach() override;
  SocketEventThread* GetEventThread(int* p_piSlotIndex) override;

  virtual ~UdpNonBlockingClientSocket();
  // The socket id, or 0.
  virtual DWORD_PTR Create(UdpNonBlockingSocketListener* p_pListener);
  virtual bool IsCreated();
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
  virtual DWORD GetLastSocketError();
  // Both take effect at the next Create.
  virtual void SetMulticast(bool p_bMulticast);
  virtual void SetTTL(DWORD p_dwTtl);

  DWORD_PTR GetSocketId() const { return m_dwSocketId; }

 private:
  KestMT::Mutex m_mutex;
  KestMT::Event m_closedEvent;  // set while the socket is closed
  kestnet::platform::SocketHandle m_hSocket = kestnet::platform::kInvalidSocket;
  std::atomic<kestnet::platform::NetworkEvent*> m_pNetworkEvent{nullptr};
  std::atomic<SocketEventThread*> m_pEventThread{nullptr};
  std::atomic<int> m_iSlot{-1};
  DWORD_PTR m_dwSocketId;
  bool m_bCreated = false;
  // Set while OnClose runs, so that notifications waiting for the socket
  // mutex give up instead of holding the slot the close must empty.
  std::atomic<bool> m_bCloseInProgress{false};
  UdpNonBlockingSocketListener* m_pListener = nullptr;  // not owned
  bool m_bMulticast = false;
  DWORD m_dwTtl = 1;
};

}  // namespace KestNet
