// Event-select readiness for the socket event threads, built on epoll.
//
// A socket event thread waits on a stop signal, a change signal and the
// network events of up to five sockets, and must see exactly what the Winsock
// event-select model would tell it:
//   - connect: once, when a connect finishes (success or its error);
//   - read: once per receive; reported again only after the next receive,
//     peek or receive-from on that socket (which re-arms it), so a listener
//     that does not read is not called again and nothing spins;
//   - write: once after a connect succeeds, then only after a send that would
//     have blocked, when room is back;
//   - accept: once, re-armed by the next accept;
//   - close: once, for a peer close (after the data before it has been read),
//     a reset or a socket error.
// Level-triggered epoll gives the raw readiness; each socket's NetworkEvent
// record keeps which of those events are armed and turns readiness into
// network events. The record registers a private duplicate of the socket
// descriptor, so closing or reusing the socket's own descriptor number can
// never touch another socket's registration.
//
// Ownership: a SocketWaitSet belongs to one event thread. Its NetworkEvent
// records are created by CreateNetworkEvent and destroyed by
// CloseNetworkEvent; the socket that selected events on a record only borrows
// it. Lock order: a record's own mutex is a leaf lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

namespace kestnet::platform {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// Network event bits and their indexes into NetworkEvents::errorCodes, with
// the values of the event-select model.
inline constexpr long kNetworkRead = 1 << 0;
inline constexpr long kNetworkWrite = 1 << 1;
inline constexpr long kNetworkOutOfBand = 1 << 2;
inline constexpr long kNetworkAccept = 1 << 3;
inline constexpr long kNetworkConnect = 1 << 4;
inline constexpr long kNetworkClose = 1 << 5;
inline constexpr long kNetworkAll = 0x3F;

inline constexpr std::size_t kReadBit = 0;
inline constexpr std::size_t kWriteBit = 1;
inline constexpr std::size_t kOutOfBandBit = 2;
inline constexpr std::size_t kAcceptBit = 3;
inline constexpr std::size_t kConnectBit = 4;
inline constexpr std::size_t kCloseBit = 5;
inline constexpr std::size_t kNetworkEventBitCount = 6;

// What EnumNetworkEvents reports: the events that occurred and, for each, its
// Winsock error number (0 for success).
struct NetworkEvents {
  long events = 0;
  std::array<int, kNetworkEventBitCount> errorCodes{};
};

class SocketWaitSet;

// One socket's event selection (the per-socket "network-event handle").
// All members are private; the free functions below and SocketWaitSet use it.
class NetworkEvent {
 public:
  NetworkEvent(const NetworkEvent&) = delete;
  NetworkEvent& operator=(const NetworkEvent&) = delete;

 private:
  friend class SocketWaitSet;
  friend bool SelectNetworkEvents(NetworkEvent*, SocketHandle, long);
  friend bool EnumNetworkEvents(NetworkEvent*, NetworkEvents*);
  friend void NoteReceive(NetworkEvent*);
  friend void NoteSendWouldBlock(NetworkEvent*);
  friend void NoteConnectStarted(NetworkEvent*, bool);
  friend void NoteAccept(NetworkEvent*);

  // Where the socket is in its life, as far as readiness is concerned.
  enum class State {
    kUnselected,  // no socket selected yet
    kIdle,        // unconnected stream socket: nothing can happen yet
    kConnecting,  // connect in progress: completion is the next event
    kConnected,   // connected stream socket
    kListening,   // listening stream socket
    kDatagram,    // datagram socket
    kFinished,    // close (or a failed connect) reported: nothing more
  };

  explicit NetworkEvent(SocketWaitSet* owner) : owner_(owner) {}
  ~NetworkEvent();

  // Recomputes the epoll interest from the state and armed events and
  // registers, modifies or removes the duplicate descriptor. Record mutex held.
  void UpdateInterestLocked();
  // Turns the socket's current readiness into network events. Record mutex held.
  NetworkEvents CollectLocked();
  void StopWatchingLocked();

  SocketWaitSet* owner_;
  std::mutex mutex_;
  State state_ = State::kUnselected;
  int watchedDescriptor_ = -1;  // our duplicate of the socket
  long selected_ = 0;
  bool readArmed_ = false;
  bool writeArmed_ = false;
  bool acceptArmed_ = false;
  bool peerHungUp_ = false;          // FIN (or both directions down) seen
  std::uint32_t registeredMask_ = 0;  // what epoll watches now
  bool registered_ = false;
};

// Associates a socket with the record and selects the network events (a mask
// of kNetwork* bits). The socket's current state decides what is armed: a
// connected stream socket is readable, writable and closable at once, an
// unconnected one waits for its connect, a datagram socket is readable.
// Fails (last socket error set) when the socket cannot be examined.
bool SelectNetworkEvents(NetworkEvent* event, SocketHandle socket, long networkEvents);

// Reports and clears the events that occurred since the last call, and disarms
// what it reports. False with last socket error kNotSocket when no socket is
// selected on the record or its descriptor is gone.
bool EnumNetworkEvents(NetworkEvent* event, NetworkEvents* occurred);

// Re-arming, called by the socket calls (socket_calls.h) the way the Winsock
// stack re-enables events: after any receive, peek or receive-from; after a
// send that would have blocked; after a connect was started (or finished at
// once); after an accept. A null record is ignored.
void NoteReceive(NetworkEvent* event);
void NoteSendWouldBlock(NetworkEvent* event);
void NoteConnectStarted(NetworkEvent* event, bool completedAtOnce);
void NoteAccept(NetworkEvent* event);

// The waiting side, one per socket event thread. The stop signal stays set
// once given (manual reset); the change signal is consumed by the wait that
// reports it (auto reset).
class SocketWaitSet {
 public:
  enum class WaitResult {
    kStop,       // the stop signal is set
    kChange,     // the change signal was set (and is now consumed)
    kNetwork,    // events[index] has network events to enumerate
    kUnmatched,  // readiness for a record that is not in the list
    kFailed,     // the wait itself failed
    kTimeout,    // nothing within the time-out
  };
  struct WaitOutcome {
    WaitResult result;
    std::size_t index;
  };

  SocketWaitSet();
  ~SocketWaitSet();
  SocketWaitSet(const SocketWaitSet&) = delete;
  SocketWaitSet& operator=(const SocketWaitSet&) = delete;

  // False when the epoll instance or a signal could not be created; such a set
  // must not be used.
  bool IsValid() const;

  void SignalStop();
  void SignalChange();

  // A new record bound to this set, or null (out of memory).
  NetworkEvent* CreateNetworkEvent();
  // Stops watching and destroys the record; the socket itself is not closed.
  // Must not race a Wait that may report this record: the event thread calls
  // it, or calls it after the thread ended.
  static void CloseNetworkEvent(NetworkEvent* event);
  // Stops watching at once without destroying the record (safe from any
  // thread); used when a socket leaves its slot and the record waits on the
  // thread's close list.
  static void RetireNetworkEvent(NetworkEvent* event);

  // Waits up to timeoutMs (negative: without limit). Priority as a wait on (stop, change, events...):
  // stop first, then change, then the first record of the list that has
  // readiness. Records are compared by address.
  WaitOutcome Wait(std::span<NetworkEvent* const> events, int timeoutMs = -1);

 private:
  friend class NetworkEvent;

  int epollDescriptor_ = -1;
  int stopDescriptor_ = -1;
  int changeDescriptor_ = -1;
  std::atomic<bool> stopSignalled_{false};
};

}  // namespace kestnet::platform
