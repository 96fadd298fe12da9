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

#include <memory>
#include <string>

#include "net/sockets/ip_address.h"
#include "net/sockets/name_resolver.h"
#include "net/sockets/non_blocking_socket.h"
#include "net/sockets/socket_listeners.h"
#include "platform/os/win_types.h"

namespace KestNet {

class TcpNonBlockingClientSocket : public NonBlockingSocket, public NameResolverListener {
 public:
  TcpNonBlockingClientSocket();

  // SocketEventThreadListener: called by the event thread.
  void OnAccept(int p_iError) override;
  void OnConnect(int p_iError) override;
  void OnReceive(int p_iError) override;
  void OnSend(int p_iError) override;
  void OnPostedConnect(DWORD p_dwAddress) override;

  // A socket still open is closed synchronously: its listener hears OnClose
  // on the destroying thread.
  ~TcpNonBlockingClientSocket() override;
  // The socket id, or 0 (already created, null listener, or failure). A local
  // port other than 0 binds to (p_localAddress, p_usLocalPort).
  virtual DWORD_PTR Create(TcpNonBlockingSocketListener* p_pListener, USHORT p_usLocalPort = 0,
                           const IPAddress& p_localAddress = IPAddress("0.0.0.0"));
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
  virtual void SetListener(TcpNonBlockingSocketListener* p_pListener);
  // TCP_NODELAY on the created socket: a request-reply protocol whose
  // command leaves in several sends must not have its last small segment
  // held back (Nagle) until the peer's delayed acknowledgement of the one
  // before. false without a socket or when the system refuses.
  bool SetNoDelay(bool p_bNoDelay);
  // TCP_CORK: while set, data given to Send leaves in full segments only;
  // clearing it sends the rest at once. For a caller that sends a long run
  // in small pieces. false without a socket or when the system refuses.
  bool SetCork(bool p_bCork);

  // NameResolverListener: the socket's own resolver reports the host name
  // here; the first address is posted to the event thread as the one to
  // connect to.
  void OnNameResolved(const std::string& p_strName, NameResolutionResult p_result,
                      const IPv4AddressList& p_addresses) override;

 protected:
  // Connects to an address in network order; the result comes as a
  // notification. Socket mutex held.
  bool FinishConnect(DWORD p_dwAddress);
  // Starts resolving m_strHostName with the resolver the installed factory
  // makes; its outcome must reach OnPostedConnect on the event thread.
  // Called without the socket mutex.
  virtual void StartNameResolution();

 private:
  // NonBlockingSocket.
  void BeginClose(int p_iError, DWORD p_dwResult) override;
  void NotifyClose(DWORD p_dwResult) override;

  bool SetTcpOption(const char* p_szWho, bool (*p_set)(kestnet::platform::SocketHandle, bool), bool p_bOn);
  // Receive or Peek.
  DWORD ReceiveInternal(BYTE* p_pBuffer, DWORD p_dwCapacity, bool p_bPeek, const char* p_szWho);

  std::string m_strHostName;
  USHORT m_usPort = 0;
  bool m_bConnecting = false;
  bool m_bReceiveWhileConnecting = false;
  TcpNonBlockingSocketListener* m_pListener = nullptr;  // not owned
  // Resolves the names given to Connect; its listener is this socket.
  // Destroyed first in the destructor, which aborts a running resolution.
  std::unique_ptr<NameResolver> m_pResolver;
};

}  // namespace KestNet
