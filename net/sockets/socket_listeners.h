// The listener interfaces of the socket layer.
//
// A socket keeps its listener as a plain pointer that it does not own; the
// listener must outlive the socket's last notification (its OnClose). All
// operations are called on a socket event thread, except OnClose of a
// synchronous Close or of a socket destroyed while open, which runs on the
// closing thread. Result codes are the SOCKET_* codes of socket_result.h;
// the first argument is the socket id, the address of the socket object.
#pragma once

#include "platform/os/win_types.h"

namespace KestNet {

class SocketEventThread;

// Implemented by the socket classes: what a socket event thread calls. The
// errors passed here are raw Winsock numbers.
class SocketEventThreadListener {
 public:
  virtual void OnAccept(int p_iError) = 0;
  virtual void OnClose(int p_iError) = 0;
  virtual void OnConnect(int p_iError) = 0;
  virtual void OnReceive(int p_iError) = 0;
  virtual void OnSend(int p_iError) = 0;
  // An IPv4 address in network order, or 0xFFFFFFFF when there is none.
  virtual void OnPostedConnect(DWORD p_dwAddress) = 0;
  // The event thread is going away: forget it.
  virtual void Detach() = 0;
  virtual SocketEventThread* GetEventThread(int* p_piSlotIndex) = 0;

 protected:
  ~SocketEventThreadListener() = default;
};

// Implemented by users of TcpNonBlockingClientSocket.
class TcpNonBlockingSocketListener {
 public:
  virtual void OnAccept(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnClose(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnConnect(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnOutOfBandData(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnReceive(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnSend(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;

 protected:
  ~TcpNonBlockingSocketListener() = default;
};

// Implemented by users of UdpNonBlockingClientSocket.
class UdpNonBlockingSocketListener {
 public:
  virtual void OnReceive(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnSend(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;
  virtual void OnClose(DWORD_PTR p_dwSocketId, DWORD p_dwResult) = 0;

 protected:
  ~UdpNonBlockingSocketListener() = default;
};

}  // namespace KestNet
