#include "platform/net/socket_calls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/net/winsock_errors.h"

namespace kestnet::platform {
namespace {

std::atomic<int> g_startCount{0};

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = address;
  endpoint.sin_port = htons(port);
  return endpoint;
}

bool Fail() {
  SetLastSocketErrorFromErrno(errno);
  return false;
}

bool SetIntOption(SocketHandle socket, int level, int option, int value) {
  if (setsockopt(socket, level, option, &value, sizeof(value)) != 0) {
    return Fail();
  }
  return true;
}

}  // namespace

bool StartSockets() {
  g_startCount.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void StopSockets() {
  int count = g_startCount.load(std::memory_order_acquire);
  while (count > 0 && !g_startCount.compare_exchange_weak(count, count - 1)) {
  }
}

SocketHandle OpenSocket(SocketType type) {
  if (g_startCount.load(std::memory_order_acquire) == 0) {
    SetLastSocketError(winsock::kNotInitialised);
    return kInvalidSocket;
  }
  const int kind = (type == SocketType::kStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK |
                   SOCK_CLOEXEC;
  const int socketHandle = socket(AF_INET, kind, 0);
  if (socketHandle < 0) {
    SetLastSocketErrorFromErrno(errno);
    return kInvalidSocket;
  }
  return socketHandle;
}

bool CloseSocket(SocketHandle socket) {
  if (socket < 0 || close(socket) != 0) {
    SetLastSocketError(socket < 0 || errno == EBADF ? winsock::kNotSocket
                                                    : WinsockErrorFromErrno(errno));
    return false;
  }
  return true;
}

bool BindSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in endpoint = MakeAddress(address, port);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint)) != 0) {
    return Fail();
  }
  return true;
}

int ConnectSocket(SocketHandle socket, NetworkEvent* event, std::uint32_t address,
                  std::uint16_t port) {
  const sockaddr_in endpoint = MakeAddress(address, port);
  if (connect(socket, reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint)) == 0) {
    NoteConnectStarted(event, true);
    return 0;
  }
  if (errno == EINPROGRESS) {
    NoteConnectStarted(event, false);
    SetLastSocketError(winsock::kWouldBlock);
    return -1;
  }
  SetLastSocketErrorFromErrno(errno);
  return -1;
}

long ReceiveSocket(SocketHandle socket, NetworkEvent* event, void* buffer, std::size_t capacity,
                   bool peek) {
  const ssize_t received = recv(socket, buffer, capacity, peek ? MSG_PEEK : 0);
  const int savedErrno = errno;
  NoteReceive(event);
  if (received < 0) {
    SetLastSocketErrorFromErrno(savedErrno);
    return -1;
  }
  return static_cast<long>(received);
}

long SendSocket(SocketHandle socket, NetworkEvent* event, const void* data, std::size_t length) {
  const ssize_t sent = send(socket, data, length, MSG_NOSIGNAL);
  if (sent < 0) {
    const int savedErrno = errno;
    if (savedErrno == EAGAIN) {
      NoteSendWouldBlock(event);
    }
    SetLastSocketErrorFromErrno(savedErrno);
    return -1;
  }
  if (static_cast<std::size_t>(sent) < length) {
    // A short send means the buffer filled. Winsock takes all of a send or
    // refuses it, so its callers wait for FD_WRITE after a short one instead
    // of sending again into the full buffer: the room must be reported.
    NoteSendWouldBlock(event);
  }
  return static_cast<long>(sent);
}

long ReceiveFromSocket(SocketHandle socket, NetworkEvent* event, void* buffer,
                       std::size_t capacity, std::uint32_t* fromAddress, std::uint16_t* fromPort) {
  sockaddr_in from{};
  socklen_t fromLength = sizeof(from);
  const ssize_t received =
      recvfrom(socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  const int savedErrno = errno;
  NoteReceive(event);
  if (received < 0) {
    SetLastSocketErrorFromErrno(savedErrno);
    return -1;
  }
  if (fromAddress != nullptr) {
    *fromAddress = from.sin_addr.s_addr;
  }
  if (fromPort != nullptr) {
    *fromPort = ntohs(from.sin_port);
  }
  return static_cast<long>(received);
}

long SendToSocket(SocketHandle socket, NetworkEvent* event, const void* data, std::size_t length,
                  std::uint32_t toAddress, std::uint16_t toPort) {
  const sockaddr_in endpoint = MakeAddress(toAddress, toPort);
  const ssize_t sent = sendto(socket, data, length, MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint));
  if (sent < 0) {
    const int savedErrno = errno;
    if (savedErrno == EAGAIN) {
      NoteSendWouldBlock(event);
    }
    SetLastSocketErrorFromErrno(savedErrno);
    return -1;
  }
  return static_cast<long>(sent);
}

bool ShutdownSocket(SocketHandle socket, int how) {
  static constexpr int kHowTable[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
  if (how < kShutdownReceive || how > kShutdownBoth) {
    SetLastSocketError(winsock::kInvalidArgument);
    return false;
  }
  if (shutdown(socket, kHowTable[how]) != 0) {
    return Fail();
  }
  return true;
}

bool GetSocketPeer(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in peer{};
  socklen_t length = sizeof(peer);
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    return Fail();
  }
  if (address != nullptr) {
    *address = peer.sin_addr.s_addr;
  }
  if (port != nullptr) {
    *port = ntohs(peer.sin_port);
  }
  return true;
}

bool GetSocketName(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return Fail();
  }
  if (address != nullptr) {
    *address = local.sin_addr.s_addr;
  }
  if (port != nullptr) {
    *port = ntohs(local.sin_port);
  }
  return true;
}

bool SetSocketReuseAddress(SocketHandle socket, bool reuse) {
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, reuse ? 1 : 0);
}

bool SetSocketTimeToLive(SocketHandle socket, int ttl) {
  return SetIntOption(socket, IPPROTO_IP, IP_TTL, ttl);
}

bool SetSocketMulticastInterface(SocketHandle socket, std::uint32_t interfaceAddress) {
  in_addr outgoing{};
  outgoing.s_addr = interfaceAddress;
  if (setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) != 0) {
    return Fail();
  }
  return true;
}

bool JoinSocketMulticastGroup(SocketHandle socket, std::uint32_t group,
                              std::uint32_t interfaceAddress) {
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group;
  membership.imr_interface.s_addr = interfaceAddress;
  if (setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
    return Fail();
  }
  return true;
}

bool SetSocketSendBufferSize(SocketHandle socket, int bytes) {
  return SetIntOption(socket, SOL_SOCKET, SO_SNDBUF, bytes);
}

bool SetSocketReceiveBufferSize(SocketHandle socket, int bytes) {
  return SetIntOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

bool SetSocketNoDelay(SocketHandle socket, bool noDelay) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, noDelay ? 1 : 0);
}

bool SetSocketCork(SocketHandle socket, bool cork) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_CORK, cork ? 1 : 0);
}

bool ParseIPv4Address(const std::string& text, std::uint32_t* address) {
  in_addr parsed{};
  // inet_pton takes exactly four decimal parts and nothing around them; a
  // NUL inside the text would hide what follows it.
  if (text.find('\0') != std::string::npos || inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
    return false;
  }
  if (address != nullptr) {
    *address = parsed.s_addr;
  }
  return true;
}

std::string FormatIPv4Address(std::uint32_t address) {
  unsigned char bytes[4];
  static_assert(sizeof(bytes) == sizeof(address));
  std::memcpy(bytes, &address, sizeof(bytes));
  char text[16];
  std::snprintf(text, sizeof(text), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace kestnet::platform
