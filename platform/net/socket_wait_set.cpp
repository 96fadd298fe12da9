#include "platform/net/socket_wait_set.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/net/winsock_errors.h"

namespace kestnet::platform {
namespace {

// Tags for the two signals in epoll_event.data; records use their address.
char g_stopTag;
char g_changeTag;

int PendingSocketError(int descriptor) {
  int error = 0;
  socklen_t length = sizeof(error);
  if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return errno;
  }
  return error;
}

int BytesAvailable(int descriptor) {
  int available = 0;
  if (ioctl(descriptor, FIONREAD, &available) != 0) {
    return 0;
  }
  return available;
}

bool IsPeerKnown(int descriptor) {
  sockaddr_storage peer{};
  socklen_t length = sizeof(peer);
  return getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

}  // namespace

NetworkEvent::~NetworkEvent() = default;

void NetworkEvent::StopWatchingLocked() {
  if (registered_) {
    epoll_ctl(owner_->epollDescriptor_, EPOLL_CTL_DEL, watchedDescriptor_, nullptr);
    registered_ = false;
    registeredMask_ = 0;
  }
  if (watchedDescriptor_ >= 0) {
    close(watchedDescriptor_);
    watchedDescriptor_ = -1;
  }
}

void NetworkEvent::UpdateInterestLocked() {
  bool wanted = false;
  std::uint32_t mask = 0;
  switch (state_) {
    case State::kConnecting:
      // Completion shows as writable, or as an error/hang-up for a refusal.
      wanted = true;
      mask = EPOLLOUT;
      break;
    case State::kConnected:
      if (readArmed_) {
        mask |= EPOLLIN | EPOLLRDHUP;
      }
      if (writeArmed_ && !peerHungUp_) {
        mask |= EPOLLOUT;
      }
      // With nothing armed the socket stays registered with an empty mask
      // until the peer hangs up, so that a reset is still noticed; epoll
      // reports errors and hang-ups whatever the mask.
      wanted = mask != 0 || (!peerHungUp_ && (selected_ & kNetworkClose) != 0);
      break;
    case State::kListening:
      wanted = acceptArmed_;
      mask = EPOLLIN;
      break;
    case State::kDatagram:
      if (readArmed_) {
        mask |= EPOLLIN;
      }
      if (writeArmed_) {
        mask |= EPOLLOUT;
      }
      wanted = mask != 0;
      break;
    case State::kUnselected:
    case State::kIdle:
    case State::kFinished:
      break;
  }
  if (selected_ == 0 || watchedDescriptor_ < 0) {
    wanted = false;
  }

  if (!wanted) {
    if (registered_) {
      epoll_ctl(owner_->epollDescriptor_, EPOLL_CTL_DEL, watchedDescriptor_, nullptr);
      registered_ = false;
      registeredMask_ = 0;
    }
    return;
  }
  if (registered_ && registeredMask_ == mask) {
    return;
  }
  epoll_event interest{};
  interest.events = mask;
  interest.data.ptr = this;
  const int operation = registered_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (epoll_ctl(owner_->epollDescriptor_, operation, watchedDescriptor_, &interest) == 0) {
    registered_ = true;
    registeredMask_ = mask;
  }
}

NetworkEvents NetworkEvent::CollectLocked() {
  NetworkEvents occurred;
  if (watchedDescriptor_ < 0) {
    return occurred;
  }
  pollfd probe{};
  probe.fd = watchedDescriptor_;
  probe.events = POLLIN | POLLOUT | POLLRDHUP;
  if (poll(&probe, 1, 0) < 0) {
    return occurred;
  }
  const short ready = probe.revents;
  auto report = [&occurred](std::size_t bit, int error) {
    occurred.events |= 1L << bit;
    occurred.errorCodes[bit] = error;
  };

  if (state_ == State::kConnecting) {
    if ((ready & (POLLOUT | POLLERR | POLLHUP)) == 0) {
      return occurred;
    }
    int error = PendingSocketError(watchedDescriptor_);
    if (error == 0 && !IsPeerKnown(watchedDescriptor_)) {
      error = ENOTCONN;
    }
    if (error != 0) {
      // A failed connect is reported once; the socket is of no further use.
      report(kConnectBit, WinsockErrorFromErrno(error));
      state_ = State::kFinished;
      occurred.events &= selected_;
      UpdateInterestLocked();
      return occurred;
    }
    report(kConnectBit, 0);
    state_ = State::kConnected;
    readArmed_ = true;
    writeArmed_ = true;
    // Fall through to the connected case: data may already be waiting.
  }

  switch (state_) {
    case State::kConnected: {
      const int available = BytesAvailable(watchedDescriptor_);
      if ((ready & POLLERR) != 0) {
        const int error = PendingSocketError(watchedDescriptor_);
        if (readArmed_ && available > 0) {
          report(kReadBit, 0);
          readArmed_ = false;
        }
        report(kCloseBit, error == 0 ? winsock::kConnectionReset : WinsockErrorFromErrno(error));
        state_ = State::kFinished;
        break;
      }
      const bool hungUp = (ready & (POLLHUP | POLLRDHUP)) != 0;
      if (readArmed_ && (ready & POLLIN) != 0 && !(hungUp && available == 0)) {
        report(kReadBit, 0);
        readArmed_ = false;
      }
      if (writeArmed_ && (ready & POLLOUT) != 0 && (ready & POLLHUP) == 0) {
        report(kWriteBit, 0);
        writeArmed_ = false;
      }
      if (hungUp) {
        peerHungUp_ = true;
        // Close follows the data sent before it: while bytes wait to be
        // read, the close is held until a receive has taken them.
        if (available == 0) {
          report(kCloseBit, 0);
          state_ = State::kFinished;
        }
      }
      break;
    }
    case State::kListening:
      if (acceptArmed_ && (ready & POLLIN) != 0) {
        report(kAcceptBit, 0);
        acceptArmed_ = false;
      }
      break;
    case State::kDatagram:
      if ((ready & POLLERR) != 0) {
        // An ICMP error queued on a datagram socket; clear it so that the
        // error indication cannot keep the wait busy.
        PendingSocketError(watchedDescriptor_);
        if (readArmed_) {
          report(kReadBit, 0);
          readArmed_ = false;
        }
      }
      if (readArmed_ && (ready & POLLIN) != 0) {
        report(kReadBit, 0);
        readArmed_ = false;
      }
      if (writeArmed_ && (ready & POLLOUT) != 0) {
        report(kWriteBit, 0);
        writeArmed_ = false;
      }
      break;
    default:
      break;
  }
  occurred.events &= selected_;
  UpdateInterestLocked();
  return occurred;
}

bool SelectNetworkEvents(NetworkEvent* event, SocketHandle socket, long networkEvents) {
  if (event == nullptr) {
    SetLastSocketError(winsock::kInvalidArgument);
    return false;
  }
  std::lock_guard lock(event->mutex_);
  event->StopWatchingLocked();
  event->state_ = NetworkEvent::State::kUnselected;
  event->readArmed_ = event->writeArmed_ = event->acceptArmed_ = false;
  event->peerHungUp_ = false;
  event->selected_ = networkEvents & kNetworkAll;

  int type = 0;
  socklen_t length = sizeof(type);
  if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) != 0) {
    SetLastSocketError(errno == EBADF ? winsock::kNotSocket : WinsockErrorFromErrno(errno));
    return false;
  }
  const int duplicate = fcntl(socket, F_DUPFD_CLOEXEC, 0);
  if (duplicate < 0) {
    SetLastSocketErrorFromErrno(errno);
    return false;
  }
  event->watchedDescriptor_ = duplicate;

  if (type == SOCK_DGRAM) {
    // A datagram socket may receive at once; it may send too, but the event
    // model records no send event for it until a send would have blocked.
    event->state_ = NetworkEvent::State::kDatagram;
    event->readArmed_ = true;
  } else if (IsPeerKnown(socket)) {
    event->state_ = NetworkEvent::State::kConnected;
    event->readArmed_ = true;
    event->writeArmed_ = true;
  } else {
    int listening = 0;
    length = sizeof(listening);
    if (getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0) {
      event->state_ = NetworkEvent::State::kListening;
      event->acceptArmed_ = true;
    } else {
      event->state_ = NetworkEvent::State::kIdle;
    }
  }
  event->UpdateInterestLocked();
  return true;
}

bool EnumNetworkEvents(NetworkEvent* event, NetworkEvents* occurred) {
  if (event == nullptr || occurred == nullptr) {
    SetLastSocketError(winsock::kInvalidArgument);
    return false;
  }
  std::lock_guard lock(event->mutex_);
  if (event->watchedDescriptor_ < 0) {
    SetLastSocketError(winsock::kNotSocket);
    return false;
  }
  *occurred = event->CollectLocked();
  return true;
}

void NoteReceive(NetworkEvent* event) {
  if (event == nullptr) {
    return;
  }
  std::lock_guard lock(event->mutex_);
  if (event->state_ == NetworkEvent::State::kConnected ||
      event->state_ == NetworkEvent::State::kDatagram) {
    event->readArmed_ = true;
    event->UpdateInterestLocked();
  }
}

void NoteSendWouldBlock(NetworkEvent* event) {
  if (event == nullptr) {
    return;
  }
  std::lock_guard lock(event->mutex_);
  if (event->state_ == NetworkEvent::State::kConnected ||
      event->state_ == NetworkEvent::State::kDatagram) {
    event->writeArmed_ = true;
    event->UpdateInterestLocked();
  }
}

void NoteConnectStarted(NetworkEvent* event, bool completedAtOnce) {
  if (event == nullptr) {
    return;
  }
  std::lock_guard lock(event->mutex_);
  if (event->state_ != NetworkEvent::State::kIdle) {
    return;
  }
  if (completedAtOnce) {
    // The caller reports the connect itself; only data and room follow.
    event->state_ = NetworkEvent::State::kConnected;
    event->readArmed_ = true;
    event->writeArmed_ = true;
  } else {
    event->state_ = NetworkEvent::State::kConnecting;
  }
  event->UpdateInterestLocked();
}

void NoteAccept(NetworkEvent* event) {
  if (event == nullptr) {
    return;
  }
  std::lock_guard lock(event->mutex_);
  if (event->state_ == NetworkEvent::State::kListening) {
    event->acceptArmed_ = true;
    event->UpdateInterestLocked();
  }
}

SocketWaitSet::SocketWaitSet() {
  epollDescriptor_ = epoll_create1(EPOLL_CLOEXEC);
  stopDescriptor_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  changeDescriptor_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!IsValid()) {
    return;
  }
  epoll_event interest{};
  interest.events = EPOLLIN;
  interest.data.ptr = &g_stopTag;
  const bool stopAdded = epoll_ctl(epollDescriptor_, EPOLL_CTL_ADD, stopDescriptor_, &interest) == 0;
  interest.data.ptr = &g_changeTag;
  const bool changeAdded = epoll_ctl(epollDescriptor_, EPOLL_CTL_ADD, changeDescriptor_, &interest) == 0;
  if (!stopAdded || !changeAdded) {
    close(epollDescriptor_);
    epollDescriptor_ = -1;
  }
}

SocketWaitSet::~SocketWaitSet() {
  for (int descriptor : {epollDescriptor_, stopDescriptor_, changeDescriptor_}) {
    if (descriptor >= 0) {
      close(descriptor);
    }
  }
}

bool SocketWaitSet::IsValid() const {
  return epollDescriptor_ >= 0 && stopDescriptor_ >= 0 && changeDescriptor_ >= 0;
}

void SocketWaitSet::SignalStop() {
  stopSignalled_.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  // The descriptor is never read: it stays readable, as a manual-reset event.
  [[maybe_unused]] const ssize_t written = write(stopDescriptor_, &one, sizeof(one));
}

void SocketWaitSet::SignalChange() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(changeDescriptor_, &one, sizeof(one));
}

NetworkEvent* SocketWaitSet::CreateNetworkEvent() {
  return new (std::nothrow) NetworkEvent(this);
}

void SocketWaitSet::CloseNetworkEvent(NetworkEvent* event) {
  if (event == nullptr) {
    return;
  }
  {
    std::lock_guard lock(event->mutex_);
    event->StopWatchingLocked();
  }
  delete event;
}

void SocketWaitSet::RetireNetworkEvent(NetworkEvent* event) {
  if (event == nullptr) {
    return;
  }
  std::lock_guard lock(event->mutex_);
  event->StopWatchingLocked();
  event->state_ = NetworkEvent::State::kFinished;
}

SocketWaitSet::WaitOutcome SocketWaitSet::Wait(std::span<NetworkEvent* const> events,
                                               int timeoutMs) {
  constexpr int kMaxReady = 16;
  epoll_event ready[kMaxReady];
  int count;
  do {
    count = epoll_wait(epollDescriptor_, ready, kMaxReady, timeoutMs < 0 ? -1 : timeoutMs);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    SetLastSocketErrorFromErrno(errno);
    return {WaitResult::kFailed, 0};
  }
  if (stopSignalled_.load(std::memory_order_acquire)) {
    return {WaitResult::kStop, 0};
  }
  if (count == 0) {
    return {WaitResult::kTimeout, 0};
  }
  bool changed = false;
  std::size_t best = events.size();
  for (int i = 0; i < count; ++i) {
    const void* tag = ready[i].data.ptr;
    if (tag == &g_changeTag) {
      changed = true;
      continue;
    }
    for (std::size_t index = 0; index < best; ++index) {
      if (events[index] == tag) {
        best = index;
        break;
      }
    }
  }
  if (changed) {
    std::uint64_t counter = 0;
    [[maybe_unused]] const ssize_t drained = read(changeDescriptor_, &counter, sizeof(counter));
    return {WaitResult::kChange, 0};
  }
  if (best < events.size()) {
    return {WaitResult::kNetwork, best};
  }
  return {WaitResult::kUnmatched, 0};
}

}  // namespace kestnet::platform
