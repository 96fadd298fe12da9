// KestNet::NonBlockingSocket: what the TCP and UDP client sockets share: the
// handle and its place on a socket event thread, the socket mutex, the close
// that runs exactly once, and the recovery of notifications that could not
// take the socket mutex.
//
// A derived socket opens its handle with OpenHandle and attaches it with
// AttachHandle inside its Create; the event thread then calls the
// notifications. OnClose is the same for every socket: the derived class
// only says, through BeginClose and NotifyClose, what it logs and resets and
// how its listener hears the close.
//
// Locking: every operation takes the socket mutex without time-out; the
// notifications take it with a 500 ms time-out (NotificationLock), so a
// synchronous Close can run OnClose on the caller's thread. The socket mutex
// comes first in every lock order, before the event thread's slot mutex.
//
// The socket id is the object's address.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/sockets/ip_address.h"
#include "net/sockets/socket_listeners.h"
#include "platform/net/socket_calls.h"
#include "platform/net/socket_wait_set.h"
#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/mutex.h"

namespace KestNet {

class NotificationLock;

// How a socket class differs in what it logs around the shared steps.
struct SocketLogTraits {
  const char* className;
  // Traces the closesocket call, and takes a handle closed already as no error.
  bool traceHandleClose;
  // What Bind logs when the system refuses the address ("%d": the error).
  const char* bindFailedFormat;
};

class NonBlockingSocket : public SocketEventThreadListener {
 public:
  NonBlockingSocket(const NonBlockingSocket&) = delete;
  NonBlockingSocket& operator=(const NonBlockingSocket&) = delete;

  // SocketEventThreadListener.
  void OnClose(int p_iError) override;
  void Detach() override;
  SocketEventThread* GetEventThread(int* p_piSlotIndex) override;

  virtual bool IsCreated();
  // The calling thread's last socket error, as a socket result code.
  virtual DWORD GetLastSocketError();

  DWORD_PTR GetSocketId() const { return m_dwSocketId; }

 protected:
  enum NotificationKind { kReceiveNotification, kSendNotification, kCloseNotification, kConnectNotification };

  explicit NonBlockingSocket(const SocketLogTraits& p_traits);
  virtual ~NonBlockingSocket();

  // Create's steps, socket mutex held. OpenHandle makes the handle the
  // socket's (false, logged, when the system refuses one); AttachHandle puts
  // it on an event thread that watches p_lNetworkEvents and, failing that,
  // gives the handle up with AbandonHandle. AbandonHandle closes a handle that
  // Create could not finish and keeps the caller's last socket error.
  bool OpenHandle(kestnet::platform::SocketType p_type);
  bool AttachHandle(long p_lNetworkEvents);
  void AbandonHandle();
  // Binds the handle to (p_address, p_usPort), socket mutex held; the
  // address in network order goes to p_pAddress. false (logged) on failure.
  bool BindHandle(USHORT p_usPort, const IPAddress& p_address, std::uint32_t* p_pAddress);
  // Whether the socket has a handle (takes the socket mutex).
  bool HasHandle();
  // Close's end, socket mutex held: a close posted to the event thread
  // (false when it cannot be), or one run on this thread until it is done.
  bool PostClose();
  void CloseOnThisThread();

  // Takes the socket mutex for a notification. false: nothing to do, either
  // the socket is closed or the mutex could not be had (the notification is
  // then re-delivered unless the socket is being closed).
  bool EnterNotification(NotificationLock& p_lock, NotificationKind p_kind, int p_iError);

  // OnClose's steps that differ, socket mutex held: BeginClose logs and
  // resets the derived state before the socket counts as closed; NotifyClose
  // tells the listener.
  virtual void BeginClose(int p_iError, DWORD p_dwResult) = 0;
  virtual void NotifyClose(DWORD p_dwResult) = 0;

  KestMT::Mutex* GetSocketMutex() { return &m_mutex; }

  // Guarded by m_mutex, except the atomics: Detach clears the event thread
  // and the network event without it when it cannot be had.
  KestMT::Mutex m_mutex;
  KestMT::Event m_closedEvent;  // set while the socket is closed
  kestnet::platform::SocketHandle m_hSocket = kestnet::platform::kInvalidSocket;
  std::atomic<kestnet::platform::NetworkEvent*> m_pNetworkEvent{nullptr};
  std::atomic<SocketEventThread*> m_pEventThread{nullptr};
  std::atomic<int> m_iSlot{-1};
  bool m_bCreated = false;
  // Set while OnClose runs (manual reset), so that notifications waiting for
  // the socket mutex give up at once instead of holding the slot the close
  // must empty.
  KestMT::Event m_closeInProgress;

 private:
  // Re-delivers a notification that was dropped because the socket mutex
  // could not be had, so that no event is lost.
  void RecoverDroppedNotification(NotificationKind p_kind, int p_iError);
  void CloseHandle(kestnet::platform::SocketHandle p_hSocket);

  const SocketLogTraits m_traits;
  const DWORD_PTR m_dwSocketId;
};

}  // namespace KestNet
