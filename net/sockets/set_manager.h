// KestNet::SETManager, the process-wide pool of socket event threads, and the
// free operations the sockets use to reach it.
//
// InitializeSockets and UninitializeSockets count users of the socket layer:
// the first starts the socket service and the pool, the last deletes every
// event thread and stops the service. Between them, Attach gives each new
// socket a slot on the first event thread with room (starting a thread when
// all are full). A thread that lost its last socket stays pooled for a short
// grace (kIdleThreadGrace), so that the next socket finds it running, and is
// deleted when the grace runs out with no socket come back (RetireIdleThread).
//
// The manager is one object for the life of the process; "destroying" it on
// the last UninitializeSockets means shutting the pool down, so that a late
// call from another thread finds a manager that refuses, never a dangling one.
//
// Lock order: lifetime mutex, release mutex, pool mutex, then a thread's slot
// mutex. Threads are deleted with none of the manager's mutexes held.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "net/sockets/socket_event_thread.h"
#include "platform/os/win_types.h"

namespace KestNet {

// How long an event thread without sockets waits for the next one.
inline constexpr DWORD kIdleThreadGrace = 1000;

class SETManager {
 public:
  static SETManager& Instance();

  // Counted start and stop (see InitializeSockets / UninitializeSockets).
  bool Initialize();
  void Uninitialize();

  SocketEventThread* Attach(SocketEventThreadListener* p_pListener, SocketHandle p_hSocket,
                            NetworkEvent** p_ppEvent, int* p_piSlot);
  void ReleaseThread(SocketEventThread* p_pThread);
  // Called by an idle thread whose grace ran out: true when it left the pool
  // and must delete itself, false when it has a socket again or the pool is
  // shutting down (and will stop it).
  bool RetireIdleThread(SocketEventThread* p_pThread);

  // Event threads in the pool now.
  std::size_t GetThreadCount();

 private:
  SETManager() = default;
  // Deletes every pooled thread and waits for self-deleting ones to end.
  void Shutdown();

  std::mutex m_lifetimeMutex;  // guards m_iUsers and start/stop
  int m_iUsers = 0;
  std::recursive_mutex m_releaseMutex;
  std::recursive_mutex m_poolMutex;
  std::vector<SocketEventThread*> m_pool;
  bool m_bShuttingDown = true;  // no pool until the first Initialize
  bool m_bSocketsStarted = false;
};

// The first call starts the socket service; false when that fails.
bool InitializeSockets();
// The last call deletes every socket event thread and stops the service.
void UninitializeSockets();

// Gives the socket a slot; the thread, or null when the layer is not
// initialised, is shutting down, or no thread can take it.
SocketEventThread* Attach(SocketEventThreadListener* p_pListener, SocketHandle p_hSocket,
                          NetworkEvent** p_ppEvent, int* p_piSlot);
// Empties the slot; a thread left without sockets is released.
void RemoveSocket(SocketEventThread* p_pThread, int p_iSlot);
void ReleaseThread(SocketEventThread* p_pThread);
bool PostEvent(SocketEventThread* p_pThread, int p_iSlot, DWORD p_dwType, DWORD p_dwValue);
bool PostOnClose(SocketEventThread* p_pThread, int p_iSlot);
bool PostOnConnect(SocketEventThread* p_pThread, int p_iSlot);
bool PostOnSend(SocketEventThread* p_pThread, int p_iSlot);
bool PostOnConnectAddress(SocketEventThread* p_pThread, int p_iSlot, DWORD p_dwAddress);

}  // namespace KestNet
