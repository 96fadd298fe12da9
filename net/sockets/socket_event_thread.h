// KestNet::SocketEventThread: one OS thread that waits on the network events
// of up to five sockets and calls their notifications on itself.
//
// Each of the five slots holds one socket: its listener (not owned), its
// network-event record, the socket handle and the queue of events the socket
// posted to itself. The thread waits on a stop signal, a change signal (a
// socket was removed by another thread or posted an event) and the sockets'
// records (a socket added is listed once the wait has woken), and
// delivers in this order: posted events of every slot, front first; then for
// one socket with network events: accept, connect, read, write, close.
//
// Ownership: a thread belongs to the manager's pool (set_manager.h) and is
// deleted by it when its last socket leaves, or deletes itself when that
// happens inside one of its own notifications. The slots, records and signals
// live in a state block shared with the OS thread, so that a thread that
// cannot be stopped in time is let go without its state being pulled away.
//
// Each slot has two locks. The slot mutex (recursive, KestMT) is held around
// every listener call and by RemoveSocket, so a socket never leaves its slot
// while one of its notifications runs. The slot's state lock (a leaf) guards
// the fields and the posted-event queue, so posting an event never waits for
// a notification in progress. Lock order: socket mutex or slot mutex first
// (a notification takes the socket mutex inside the slot mutex, a closing
// socket the slot mutex inside its socket mutex; the notification's 500 ms
// time-out, cut short while the socket is closing, breaks that tie), then the
// state lock, then the count mutex, the close-list mutex or a network-event
// record's own lock (leaf locks).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "net/sockets/socket_listeners.h"
#include "platform/net/socket_wait_set.h"
#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

using kestnet::platform::NetworkEvent;
using kestnet::platform::SocketHandle;

// Types of the events a socket posts to its own slot.
inline constexpr DWORD kPostedClose = 1;            // -> OnClose(0)
inline constexpr DWORD kPostedConnect = 2;          // -> OnConnect(0)
inline constexpr DWORD kPostedSend = 3;             // -> OnSend(0)
inline constexpr DWORD kPostedConnectAddress = 4;   // -> OnPostedConnect(value)
inline constexpr DWORD kNoPostedValue = 0xFFFFFFFFu;

class SocketEventThread {
 public:
  static constexpr int kSlotCount = 5;
  // What Run returns when an idle thread's grace has run out.
  static constexpr DWORD kIdleGraceOver = 2;

  SocketEventThread();
  // Terminate: stops the thread (waiting up to 500 ms), tells every socket
  // still in a slot to Detach, and releases the state.
  ~SocketEventThread();
  SocketEventThread(const SocketEventThread&) = delete;
  SocketEventThread& operator=(const SocketEventThread&) = delete;

  // Starts the OS thread. False when the wait set or the thread cannot be made.
  bool Start();

  // Puts the socket into the first free slot whose mutex can be had within
  // 500 ms and returns its network-event record and slot index. Refused on
  // the thread itself, so that a socket created inside a notification goes
  // to another thread.
  bool AddSocket(SocketEventThreadListener* p_pListener, SocketHandle p_hSocket,
                 NetworkEvent** p_ppEvent, int* p_piSlot);
  // Empties the slot; its record is retired at once and destroyed by the
  // thread. True when this removed the thread's last socket.
  bool RemoveSocket(int p_iSlot);
  // Queues (type, value) for the slot's listener. False when the slot mutex
  // cannot be had within 500 ms or the slot is not in use.
  bool PostEvent(int p_iSlot, DWORD p_dwType, DWORD p_dwValue);

  DWORD GetSocketCount();
  bool IsCurrentThread() const;
  DWORD GetThreadId() const;
  DWORD GetExitCode() const;
  // Called by the thread itself when it loses its last socket inside a
  // notification: its loop ends and it deletes this object.
  void MarkForSelfDestruct();
  // Keeps a thread without sockets for p_dwMilliseconds, so that the next
  // socket finds it running; then the thread asks the manager to retire it
  // (SETManager::RetireIdleThread). A socket added meanwhile ends the grace.
  void StartIdleGrace(DWORD p_dwMilliseconds);

  // True on any socket event thread of the process.
  static bool IsCallerAnEventThread();
  // Socket event threads of the process whose OS thread has not ended yet
  // (including ones that are deleting themselves).
  static std::size_t GetLiveThreadCount();
  // Waits up to p_dwTimeout ms until GetLiveThreadCount() is 0.
  static bool WaitForAllThreadsToEnd(DWORD p_dwTimeout);

 private:
  struct Slot {
    SocketEventThreadListener* listener = nullptr;
    NetworkEvent* event = nullptr;
    bool inUse = false;
    SocketHandle socket = kestnet::platform::kInvalidSocket;
    std::deque<std::pair<DWORD, DWORD>> posted;
    KestMT::Mutex mutex;     // held around listener calls
    std::mutex stateMutex;   // guards the fields above
  };

  // Everything the OS thread touches; shared by the object and its thread.
  struct State {
    ~State();
    // Returns kIdleGraceOver when an idle thread's grace ran out.
    DWORD Run();
    // The wait's time-out: until the idle deadline, or none (-1).
    int IdleWaitMilliseconds() const;
    void ProcessPostedEvents();
    void DestroyAllEventsToClose();
    void DispatchNetworkEvents(int p_iSlot, NetworkEvent* p_pEvent,
                               const kestnet::platform::NetworkEvents& p_events);

    kestnet::platform::SocketWaitSet waitSet;
    std::array<Slot, kSlotCount> slots;
    std::mutex countMutex;
    DWORD socketCount = 0;
    std::mutex closeListMutex;
    std::vector<NetworkEvent*> eventsToClose;
    std::atomic<DWORD> threadId{0};
    std::atomic<DWORD> exitCode{0};
    std::atomic<bool> selfDestruct{false};
    // Steady-clock time (ns) at which an idle thread retires; 0 while it has
    // sockets or is not idling.
    std::atomic<long long> idleDeadline{0};
    std::atomic<bool> finished{false};
    std::mutex finishMutex;
    std::condition_variable finishSignal;
  };

  // Empties the slot's fields; state lock held.
  static void ClearSlot(Slot& p_slot);
  static void ThreadRoutine(std::shared_ptr<State> p_state, SocketEventThread* p_pSelf);
  void Terminate();

  std::shared_ptr<State> m_state;
  std::thread m_thread;
  std::thread::id m_threadIdentity;
};

}  // namespace KestNet
