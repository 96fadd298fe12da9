// IPv4 socket calls with Winsock results.
//
// Every call that fails returns its failure value (-1, false or
// kInvalidSocket) and sets the thread's last socket error to a Winsock number
// (winsock_errors.h). Sockets are non-blocking from birth, close-on-exec, and
// never raise SIGPIPE. The calls that the event-select model ties to network
// events take the socket's NetworkEvent record (may be null) and re-arm it
// exactly as the Winsock stack would.
//
// Addresses are IPv4 in network byte order; ports are in host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/socket_wait_set.h"

namespace kestnet::platform {

enum class SocketType { kStream, kDatagram };

// Shutdown directions, with the Winsock values.
inline constexpr int kShutdownReceive = 0;
inline constexpr int kShutdownSend = 1;
inline constexpr int kShutdownBoth = 2;

inline constexpr std::uint32_t kAnyAddress = 0;

// Process-wide start and stop of the socket service, counted. Until it has
// been started, OpenSocket fails with winsock::kNotInitialised.
bool StartSockets();
void StopSockets();

SocketHandle OpenSocket(SocketType type);
// Closing a descriptor that is not open fails with winsock::kNotSocket.
bool CloseSocket(SocketHandle socket);
bool BindSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// 0 when connected at once; -1 otherwise, with winsock::kWouldBlock when the
// connect goes on in the background and its result comes as a connect event.
int ConnectSocket(SocketHandle socket, NetworkEvent* event, std::uint32_t address,
                  std::uint16_t port);
// Bytes received (0: the peer closed), or -1. Re-arms the read event.
long ReceiveSocket(SocketHandle socket, NetworkEvent* event, void* buffer, std::size_t capacity,
                   bool peek);
// Bytes sent, or -1. A send that would block re-arms the write event.
long SendSocket(SocketHandle socket, NetworkEvent* event, const void* data, std::size_t length);
long ReceiveFromSocket(SocketHandle socket, NetworkEvent* event, void* buffer,
                       std::size_t capacity, std::uint32_t* fromAddress, std::uint16_t* fromPort);
long SendToSocket(SocketHandle socket, NetworkEvent* event, const void* data, std::size_t length,
                  std::uint32_t toAddress, std::uint16_t toPort);
bool ShutdownSocket(SocketHandle socket, int how);
bool GetSocketPeer(SocketHandle socket, std::uint32_t* address, std::uint16_t* port);
bool GetSocketName(SocketHandle socket, std::uint32_t* address, std::uint16_t* port);

bool SetSocketReuseAddress(SocketHandle socket, bool reuse);
bool SetSocketTimeToLive(SocketHandle socket, int ttl);
bool SetSocketMulticastInterface(SocketHandle socket, std::uint32_t interfaceAddress);
bool JoinSocketMulticastGroup(SocketHandle socket, std::uint32_t group,
                              std::uint32_t interfaceAddress);
bool SetSocketSendBufferSize(SocketHandle socket, int bytes);
bool SetSocketReceiveBufferSize(SocketHandle socket, int bytes);
// setsockopt(IPPROTO_TCP, TCP_NODELAY): segments leave at once instead of
// waiting (Nagle) for the peer to acknowledge the previous one.
bool SetSocketNoDelay(SocketHandle socket, bool noDelay);
// setsockopt(IPPROTO_TCP, TCP_CORK): while set, only full segments leave;
// clearing it sends what is held at once.
bool SetSocketCork(SocketHandle socket, bool cork);

// Strict dotted-quad parsing: exactly four decimal parts of 0 to 255, nothing
// before or after. "255.255.255.255" parses like any other address.
bool ParseIPv4Address(const std::string& text, std::uint32_t* address);
// "a.b.c.d" from the four bytes of the address in memory order.
std::string FormatIPv4Address(std::uint32_t address);

}  // namespace kestnet::platform
