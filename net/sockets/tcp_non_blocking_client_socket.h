// KestNet::TcpNonBlockingClientSocket: a non-blocking IPv4 TCP client whose
// outcomes arrive as notifications on a socket event thread.
//
// Create attaches the socket to an event thread; Connect starts a connection
// (a dotted address at once, a name through name resolution); the listener
// then hears OnConnect, OnReceive (data may be read), OnSend (data may be
// sent) and finally OnClose, once. Receive, Peek and Send never block: 0
// means nothing moved, and GetLastSocketError tells why (SOCKET_WOULD_BLOCK
// when the next notification should be awaited).
//
// Every operation takes the socket's recursive mutex without time-out; the
// notifications take it with a 500 ms time-out, so a synchronous Close can
// run OnClose on the caller's thread. Listener calls are made with the
// socket mutex and the event thread's slot mutex held: a listener must not
// wait for another thread that needs the same socket.
//
// The socket id passed to every listener call is the object's address.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "net/dns/dns_listener.h"

#include "net/sockets/ip_address.h"
#include "net/sockets/socket_listeners.h"
#include "platform/net/socket_wait_set.h"
#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/mutex.h"

namespace KestNet {

class Dns;

class TcpNonBlockingClientSocket : public SocketEventThreadListener, public DNSListener {
 public:
  TcpNonBlockingClientSocket();
  TcpNonBlockingClientSocket(const TcpNonBlockingClientSocket&) = delete;
  TcpNonBlockingClientSocket& operator=(const TcpNonBlockingClientSocket&) = delete;

  // SocketEventThreadListener: called by the event thread.
  void OnAccept(int p_iError) override;
  void OnClose(int p_iError) override;
  void OnConnect(int p_iError) override;
  void OnReceive(int p_iError) override;
  void OnSend(int p_iError) override;
  void OnPostedConnect(DWORD p_dwAddress) override;
  void Detach() override;
  SocketEventThread* GetEventThread(int* p_piSlotIndex) override;

  // A socket still open is closed synchronously: its listener hears OnClose
  // on the destroying thread.
  virtual ~TcpNonBlockingClientSocket();
  // The socket id, or 0 (already created, null listener, or failure). A local
  // port other than 0 binds to (p_localAddress, p_usLocalPort).
  virtual DWORD_PTR Create(TcpNonBlockingSocketListener* p_pListener, USHORT p_usLocalPort = 0,
                           const IPAddress& p_localAddress = IPAddress("0.0.0.0"));
  virtual bool IsCreated();
  virtual bool Bind(USHORT p_usPort, const IPAddress& p_address);
  // false: shut down and let the event thread deliver OnClose (returns before
  // it); true: deliver OnClose on this thread before returning.
  virtual void Close(bool p_bImmediate);
  virtual bool Connect(const IPAddress& p_address, USHORT p_usPort);
  // A dotted address connects at once; anything else ("255.255.255.255"
  // included) is a host name to resolve first.
  virtual bool Connect(const std::string& p_strHost, USHORT p_usPort);
  virtual bool GetPeer(IPAddress& p_address);
  virtual bool GetPeer(std::string& p_strAddress, USHORT& p_usPort);
  virtual DWORD Receive(BYTE* p_pBuffer, DWORD p_dwCapacity);
  virtual DWORD Peek(BYTE* p_pBuffer, DWORD p_dwCapacity);
  virtual DWORD Send(const BYTE* p_pData, DWORD p_dwLength);
  // p_iHow: 0 receive, 1 send, 2 both.
  virtual bool ShutDown(int p_iHow);
  // The calling thread's last socket error, as a socket result code.
  virtual DWORD GetLastSocketError();
  virtual void SetListener(TcpNonBlockingSocketListener* p_pListener);

  // DNSListener: the socket's own resolver reports the host name here; the
  // first address is posted to the event thread as the one to connect to.
  void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                             DnsRecordList& p_records) override;

  DWORD_PTR GetSocketId() const { return m_dwSocketId; }

 protected:
  // Connects to an address in network order; the result comes as a
  // notification. Socket mutex held.
  bool FinishConnect(DWORD p_dwAddress);
  // The socket mutex, for a derived socket that must take it before its own
  // locks (the socket mutex comes first in every lock order).
  KestMT::Mutex* GetSocketMutex() { return &m_mutex; }
  // Starts resolving m_strHostName; its outcome must reach OnPostedConnect on
  // the event thread. Called without the socket mutex.
  virtual void StartNameResolution();

 private:
  // Receive or Peek.
  DWORD ReceiveInternal(BYTE* p_pBuffer, DWORD p_dwCapacity, bool p_bPeek, const char* p_szWho);
  // Re-delivers a notification that was dropped because the socket mutex
  // could not be had, so that no event is lost.
  void RecoverDroppedNotification(int p_iWhich, int p_iError);

  std::string m_strHostName;
  USHORT m_usPort = 0;
  KestMT::Mutex m_mutex;
  KestMT::Event m_closedEvent;  // set while the socket is closed
  bool m_bConnecting = false;
  bool m_bReceiveWhileConnecting = false;
  kestnet::platform::SocketHandle m_hSocket = kestnet::platform::kInvalidSocket;
  // Cleared by Detach without the socket mutex when it cannot be had.
  std::atomic<kestnet::platform::NetworkEvent*> m_pNetworkEvent{nullptr};
  std::atomic<SocketEventThread*> m_pEventThread{nullptr};
  std::atomic<int> m_iSlot{-1};
  DWORD_PTR m_dwSocketId;
  bool m_bCreated = false;
  // Set while OnClose runs, so that notifications waiting for the socket
  // mutex give up instead of holding the slot the close must empty.
  std::atomic<bool> m_bCloseInProgress{false};
  TcpNonBlockingSocketListener* m_pListener = nullptr;  // not owned
  // Resolves the names given to Connect; its listener is this socket.
  // Destroyed first in the destructor, which aborts a running resolution.
  std::unique_ptr<Dns> m_pResolver;
};

}  // namespace KestNet
