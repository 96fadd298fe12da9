#include "platform/net/icmp_echo.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/module_table.h"

namespace {

constexpr size_t kIcmpHeaderSize = 8;
constexpr BYTE kIcmpEchoReply = 0;
constexpr BYTE kIcmpDestinationUnreachable = 3;
constexpr BYTE kIcmpSourceQuench = 4;
constexpr BYTE kIcmpRedirect = 5;
constexpr BYTE kIcmpEcho = 8;
constexpr BYTE kIcmpTimeExceeded = 11;
constexpr BYTE kIcmpParameterProblem = 12;
// What Windows uses when the caller gives no options.
constexpr int kDefaultTtl = 128;

// ---------------------------------------------------------------------------
// Mapping of ICMP errors onto IP status codes.

struct IcmpErrorMapping {
  BYTE type;
  BYTE code;
  ULONG status;
};

// Destination-unreachable codes (RFC 792, RFC 1122 3.2.2.1, RFC 1812 5.2.7.1).
// Administrative prohibitions have no status of their own and fall through
// to IP_GENERAL_FAILURE.
constexpr std::array kIcmpErrorMappings{
    IcmpErrorMapping{kIcmpDestinationUnreachable, 0, IP_DEST_NET_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 1, IP_DEST_HOST_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 2, IP_DEST_PROT_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 3, IP_DEST_PORT_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 4, IP_PACKET_TOO_BIG},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 5, IP_BAD_ROUTE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 6, IP_DEST_NET_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 7, IP_DEST_HOST_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 11, IP_DEST_NET_UNREACHABLE},
    IcmpErrorMapping{kIcmpDestinationUnreachable, 12, IP_DEST_HOST_UNREACHABLE},
    IcmpErrorMapping{kIcmpTimeExceeded, 0, IP_TTL_EXPIRED_TRANSIT},
    IcmpErrorMapping{kIcmpTimeExceeded, 1, IP_TTL_EXPIRED_REASSEM},
};

ULONG StatusOfIcmpError(BYTE p_type, BYTE p_code) {
  if (p_type == kIcmpParameterProblem) return IP_PARAM_PROBLEM;
  if (p_type == kIcmpSourceQuench) return IP_SOURCE_QUENCH;
  for (const IcmpErrorMapping& mapping : kIcmpErrorMappings) {
    if (mapping.type == p_type && mapping.code == p_code) return mapping.status;
  }
  return IP_GENERAL_FAILURE;
}

// Errors of sendto and of local error-queue entries.
struct ErrnoMapping {
  int error;
  ULONG status;
};
constexpr std::array kErrnoMappings{
    ErrnoMapping{ENETUNREACH, IP_DEST_NET_UNREACHABLE},
    ErrnoMapping{EHOSTUNREACH, IP_DEST_HOST_UNREACHABLE},
    ErrnoMapping{EMSGSIZE, IP_PACKET_TOO_BIG},
    ErrnoMapping{ENOBUFS, IP_NO_RESOURCES},
    ErrnoMapping{ENOMEM, IP_NO_RESOURCES},
    ErrnoMapping{EADDRNOTAVAIL, IP_BAD_DESTINATION},
    ErrnoMapping{ETIMEDOUT, IP_REQ_TIMED_OUT},
};

ULONG StatusOfErrno(int p_error) {
  for (const ErrnoMapping& mapping : kErrnoMappings) {
    if (mapping.error == p_error) return mapping.status;
  }
  return IP_GENERAL_FAILURE;
}

struct StatusName {
  ULONG status;
  const char* name;
};
#define KESTNET_IP_STATUS_NAME(Name, Value) StatusName{Value, #Name},
constexpr std::array kStatusNames{KESTNET_IP_STATUS_CODES(KESTNET_IP_STATUS_NAME)};
#undef KESTNET_IP_STATUS_NAME

// ---------------------------------------------------------------------------
// Sockets.

struct IcmpSocket {
  int fd = -1;
  bool bRaw = false;
  int pingSocketError = 0;
  int rawSocketError = 0;
};

// A ping socket first (no privilege needed where ping_group_range allows the
// process's group), then a raw socket, as iputils does.
IcmpSocket OpenIcmpSocket() {
  IcmpSocket result;
  result.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (result.fd >= 0) return result;
  result.pingSocketError = errno;
  result.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (result.fd >= 0) {
    result.bRaw = true;
    return result;
  }
  result.rawSocketError = errno;
  return result;
}

WORD InternetChecksum(std::span<const BYTE> p_bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < p_bytes.size(); i += 2) sum += static_cast<uint32_t>(p_bytes[i] << 8 | p_bytes[i + 1]);
  if (i < p_bytes.size()) sum += static_cast<uint32_t>(p_bytes[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<WORD>(~sum);
}

// A bounds-checked reader over received bytes.
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const BYTE> p_bytes) : m_bytes(p_bytes) {}
  bool Has(size_t p_count) const { return m_bytes.size() >= p_count; }
  BYTE At(size_t p_offset) const { return m_bytes[p_offset]; }
  WORD WordAt(size_t p_offset) const {
    return static_cast<WORD>(m_bytes[p_offset] << 8 | m_bytes[p_offset + 1]);
  }
  // The bytes after p_count, or an empty cursor when there are fewer.
  ByteCursor After(size_t p_count) const {
    return p_count <= m_bytes.size() ? ByteCursor(m_bytes.subspan(p_count)) : ByteCursor({});
  }
  std::span<const BYTE> Bytes() const { return m_bytes; }

 private:
  std::span<const BYTE> m_bytes;
};

// What the wait found.
struct EchoOutcome {
  ULONG status = IP_REQ_TIMED_OUT;
  IPAddr address = 0;
  UCHAR replyTtl = 0;
  std::vector<BYTE> data;
  bool bReplied = false;  // a reply or an ICMP error about our request
};

// True when an ICMP header (at the cursor) is our echo request.
bool IsOurEchoRequest(const ByteCursor& p_icmp, WORD p_identifier, WORD p_sequence) {
  return p_icmp.Has(kIcmpHeaderSize) && p_icmp.At(0) == kIcmpEcho &&
         p_icmp.WordAt(4) == p_identifier && p_icmp.WordAt(6) == p_sequence;
}

// Reads one ICMP message (without IP header on ping sockets, with it on raw
// sockets). True when it concerns our request.
bool ParseIcmpMessage(ByteCursor p_packet, bool p_bRaw, IPAddr p_source, WORD p_identifier,
                      WORD p_sequence, EchoOutcome& p_outcome) {
  UCHAR ttl = 0;
  if (p_bRaw) {
    if (!p_packet.Has(20)) return false;
    const size_t headerLength = static_cast<size_t>(p_packet.At(0) & 0x0F) * 4;
    if (headerLength < 20 || !p_packet.Has(headerLength)) return false;
    ttl = p_packet.At(8);
    p_packet = p_packet.After(headerLength);
  }
  if (!p_packet.Has(kIcmpHeaderSize)) return false;
  const BYTE type = p_packet.At(0);
  if (type == kIcmpEchoReply) {
    if (p_packet.WordAt(4) != p_identifier || p_packet.WordAt(6) != p_sequence) return false;
    const auto payload = p_packet.After(kIcmpHeaderSize).Bytes();
    p_outcome = EchoOutcome{IP_SUCCESS, p_source, ttl, {payload.begin(), payload.end()}, true};
    return true;
  }
  // Only raw sockets see the error messages themselves; ping sockets get them
  // through the error queue. The error quotes our IP header and the first 8
  // bytes of our echo request.
  if (!p_bRaw || type == kIcmpRedirect ||
      (type != kIcmpDestinationUnreachable && type != kIcmpTimeExceeded &&
       type != kIcmpParameterProblem && type != kIcmpSourceQuench)) {
    return false;
  }
  ByteCursor quoted = p_packet.After(kIcmpHeaderSize);
  if (!quoted.Has(20)) return false;
  const size_t quotedHeaderLength = static_cast<size_t>(quoted.At(0) & 0x0F) * 4;
  if (quotedHeaderLength < 20 || quoted.At(9) != IPPROTO_ICMP) return false;
  if (!IsOurEchoRequest(quoted.After(quotedHeaderLength), p_identifier, p_sequence)) return false;
  p_outcome = EchoOutcome{StatusOfIcmpError(type, p_packet.At(1)), p_source, ttl, {}, true};
  return true;
}

// Reads one entry of the error queue; true when it concerns our request.
bool ReadErrorQueue(int p_fd, WORD p_identifier, WORD p_sequence, EchoOutcome& p_outcome) {
  std::array<BYTE, 576> quoted{};
  std::array<char, 512> control{};
  sockaddr_in from{};
  iovec io{quoted.data(), quoted.size()};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof(from);
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  const ssize_t received = ::recvmsg(p_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (received < 0) {
    // A pending socket error without a queued entry would keep poll
    // reporting POLLERR: reading it clears it, so the wait never spins.
    int pending = 0;
    socklen_t length = sizeof(pending);
    (void)::getsockopt(p_fd, SOL_SOCKET, SO_ERROR, &pending, &length);
    return false;
  }
  const sock_extended_err* error = nullptr;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_IP && header->cmsg_type == IP_RECVERR) {
      error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(header));
    }
  }
  if (error == nullptr) return false;
  // The queued data is the ICMP header we sent.
  ByteCursor sent(std::span<const BYTE>(quoted.data(), static_cast<size_t>(received)));
  if (!IsOurEchoRequest(sent, p_identifier, p_sequence)) return false;
  const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(error));
  IPAddr address = offender->sin_family == AF_INET ? offender->sin_addr.s_addr : 0;
  ULONG status = IP_GENERAL_FAILURE;
  if (error->ee_origin == SO_EE_ORIGIN_ICMP) {
    status = StatusOfIcmpError(error->ee_type, error->ee_code);
  } else if (error->ee_origin == SO_EE_ORIGIN_LOCAL) {
    status = StatusOfErrno(static_cast<int>(error->ee_errno));
  } else {
    return false;
  }
  p_outcome = EchoOutcome{status, address, 0, {}, true};
  return true;
}

bool ReadIncoming(int p_fd, bool p_bRaw, WORD p_identifier, WORD p_sequence,
                  EchoOutcome& p_outcome) {
  // Big enough for any IPv4 datagram; left uninitialised, since only the
  // received bytes are read.
  static constexpr size_t kLargestDatagram = 65536;
  const std::unique_ptr<BYTE[]> storage(new BYTE[kLargestDatagram]);
  const std::span<BYTE> packet(storage.get(), kLargestDatagram);
  sockaddr_in from{};
  socklen_t fromLength = sizeof(from);
  const ssize_t received = ::recvfrom(p_fd, packet.data(), packet.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (received < 0) return false;
  return ParseIcmpMessage(ByteCursor(std::span<const BYTE>(packet.data(), static_cast<size_t>(received))),
                          p_bRaw, from.sin_addr.s_addr, p_identifier, p_sequence, p_outcome);
}

// What every echo on the socket needs whatever its options: errors queued
// for reading, broadcasts allowed, and on raw sockets a filter.
bool PrepareSocket(const IcmpSocket& p_socket) {
  const int fd = p_socket.fd;
  const int on = 1;
  if (::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof(on)) != 0 ||
      // Lets an echo to a broadcast address go out instead of failing with EACCES.
      ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0) {
    return false;
  }
  if (p_socket.bRaw) {
    // A raw socket sees every ICMP message of the host; only replies and
    // errors can concern us. Dropped types are those whose bit is set.
    icmp_filter filter{};
    filter.data = ~((1u << kIcmpEchoReply) | (1u << kIcmpDestinationUnreachable) |
                    (1u << kIcmpSourceQuench) | (1u << kIcmpTimeExceeded) |
                    (1u << kIcmpParameterProblem));
    // Only an optimisation: without it other traffic is ignored by parsing.
    (void)::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
  }
  return true;
}

// The per-echo options as the socket calls take them.
struct EchoSocketOptions {
  int ttl = 0;
  int tos = 0;
  int discovery = 0;
  bool operator==(const EchoSocketOptions&) const = default;
};

EchoSocketOptions SocketOptionsOf(const IP_OPTION_INFORMATION& p_options) {
  return {p_options.Ttl, p_options.Tos,
          (p_options.Flags & IP_FLAG_DF) != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT};
}

// Sets the options that differ from those the socket already has
// (p_applied; empty when unknown) and records what it now has. False with
// errno set when the system refuses one.
bool ApplyEchoOptions(int p_fd, const EchoSocketOptions& p_wanted, std::optional<EchoSocketOptions>& p_applied) {
  if (p_applied == p_wanted) return true;
  const std::optional<EchoSocketOptions> previous = p_applied;
  // A failure below leaves the socket half set: nothing is known then.
  p_applied.reset();
  const auto differs = [&](int EchoSocketOptions::*p_field) {
    return !previous.has_value() || (*previous).*p_field != p_wanted.*p_field;
  };
  if ((differs(&EchoSocketOptions::ttl) &&
       ::setsockopt(p_fd, SOL_IP, IP_TTL, &p_wanted.ttl, sizeof(p_wanted.ttl)) != 0) ||
      (differs(&EchoSocketOptions::tos) &&
       ::setsockopt(p_fd, SOL_IP, IP_TOS, &p_wanted.tos, sizeof(p_wanted.tos)) != 0) ||
      (differs(&EchoSocketOptions::discovery) &&
       ::setsockopt(p_fd, SOL_IP, IP_MTU_DISCOVER, &p_wanted.discovery, sizeof(p_wanted.discovery)) != 0)) {
    return false;
  }
  p_applied = p_wanted;
  return true;
}

// ---------------------------------------------------------------------------
// Handles.

// What a handle owns: the socket opened with it, which its echoes use one at
// a time (an echo that finds it taken opens a socket of its own), so that an
// echo costs no socket set-up. The state is shared so that a handle closed
// while another thread still sends on it stays valid for that send; the
// socket closes with the last user.
struct IcmpHandleState {
  IcmpHandleState() = default;
  ~IcmpHandleState() {
    if (socket.fd >= 0) ::close(socket.fd);
  }
  IcmpHandleState(const IcmpHandleState&) = delete;
  IcmpHandleState& operator=(const IcmpHandleState&) = delete;

  // Set before the handle is published, then only read.
  IcmpSocket socket;
  std::mutex lock;
  bool bSocketTaken = false;  // lock
  // Only touched by the echo that has taken the socket.
  std::optional<EchoSocketOptions> appliedOptions;
  bool bSocketUsed = false;  // an earlier echo may have left something on it
  // A ping socket's identifier (its local port, fixed by its first send); 0
  // until then.
  WORD pingIdentifier = 0;
};

class IcmpHandleTable {
 public:
  static IcmpHandleTable& Instance() {
    // Never destroyed: sends on other threads may outlive static destruction.
    static IcmpHandleTable* const table = new IcmpHandleTable;
    return *table;
  }
  HANDLE Add(std::shared_ptr<IcmpHandleState> p_state) {
    std::lock_guard lock(m_lock);
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextKey++);
    m_handles.emplace(handle, std::move(p_state));
    return handle;
  }
  std::shared_ptr<IcmpHandleState> Find(HANDLE p_handle) {
    std::lock_guard lock(m_lock);
    auto found = m_handles.find(p_handle);
    return found == m_handles.end() ? nullptr : found->second;
  }
  bool Remove(HANDLE p_handle) {
    std::shared_ptr<IcmpHandleState> removed;  // closed outside the lock
    std::lock_guard lock(m_lock);
    auto found = m_handles.find(p_handle);
    if (found == m_handles.end()) return false;
    removed = std::move(found->second);
    m_handles.erase(found);
    return true;
  }

 private:
  std::mutex m_lock;
  std::unordered_map<HANDLE, std::shared_ptr<IcmpHandleState>> m_handles;
  // Keys start high and even so they never equal null or INVALID_HANDLE_VALUE.
  UINT_PTR m_nextKey = 0x1C400;
};

// Reads and drops what earlier echoes left on a socket (late replies, late
// errors), so that this echo's wait starts on an empty socket. Bounded: a
// raw socket on a busy host may keep receiving, and whatever is left over is
// ignored by the matching anyway.
void DiscardQueued(int p_fd) {
  constexpr int kMostDiscarded = 64;
  std::array<BYTE, 576> scrap;  // contents unused
  for (int i = 0; i < kMostDiscarded; ++i) {
    if (::recv(p_fd, scrap.data(), scrap.size(), MSG_DONTWAIT | MSG_ERRQUEUE) < 0) break;
  }
  for (int i = 0; i < kMostDiscarded; ++i) {
    if (::recv(p_fd, scrap.data(), scrap.size(), MSG_DONTWAIT) < 0) break;
  }
}

// The socket one echo uses: the handle's own when no other echo has it,
// otherwise one opened for this echo alone and closed after it.
class EchoSocketLease {
 public:
  explicit EchoSocketLease(IcmpHandleState& p_handle) : m_handle(p_handle) {
    if (m_handle.socket.fd >= 0) {
      std::lock_guard lock(m_handle.lock);
      m_bHandleSocket = !m_handle.bSocketTaken;
      m_handle.bSocketTaken = true;
    }
    if (m_bHandleSocket) {
      if (m_handle.bSocketUsed) DiscardQueued(m_handle.socket.fd);
      m_handle.bSocketUsed = true;
      return;
    }
    m_own = OpenIcmpSocket();
    if (m_own.fd >= 0 && !PrepareSocket(m_own)) {
      ::close(m_own.fd);
      m_own.fd = -1;
    }
  }
  ~EchoSocketLease() {
    if (m_bHandleSocket) {
      std::lock_guard lock(m_handle.lock);
      m_handle.bSocketTaken = false;
    } else if (m_own.fd >= 0) {
      ::close(m_own.fd);
    }
  }
  EchoSocketLease(const EchoSocketLease&) = delete;
  EchoSocketLease& operator=(const EchoSocketLease&) = delete;

  // fd -1 when no socket could be opened.
  const IcmpSocket& Socket() const { return m_bHandleSocket ? m_handle.socket : m_own; }
  std::optional<EchoSocketOptions>& AppliedOptions() {
    return m_bHandleSocket ? m_handle.appliedOptions : m_ownAppliedOptions;
  }
  // The ping socket's identifier, asking the system once per socket.
  bool PingIdentifier(WORD& p_identifier) {
    WORD& known = m_bHandleSocket ? m_handle.pingIdentifier : m_ownPingIdentifier;
    if (known == 0) {
      sockaddr_in local{};
      socklen_t localLength = sizeof(local);
      if (::getsockname(Socket().fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) return false;
      known = ntohs(local.sin_port);
    }
    p_identifier = known;
    return true;
  }

 private:
  IcmpHandleState& m_handle;
  bool m_bHandleSocket = false;
  IcmpSocket m_own;
  std::optional<EchoSocketOptions> m_ownAppliedOptions;
  WORD m_ownPingIdentifier = 0;
};

// Identifiers on raw sockets must differ between concurrent echoes of all
// processes: the process id spreads them between processes, the counter
// within one.
std::atomic<uint32_t> g_echoCounter{0};

EchoOutcome SendAndWait(IcmpHandleState& p_handle, IPAddr p_destination, std::span<const BYTE> p_payload,
                        const IP_OPTION_INFORMATION& p_options, DWORD p_timeout) {
  EchoOutcome outcome;
  EchoSocketLease lease(p_handle);
  const IcmpSocket& icmpSocket = lease.Socket();
  if (icmpSocket.fd < 0) {
    outcome.status = IP_GENERAL_FAILURE;
    return outcome;
  }
  if (!ApplyEchoOptions(icmpSocket.fd, SocketOptionsOf(p_options), lease.AppliedOptions())) {
    outcome.status = errno == EINVAL ? IP_BAD_OPTION : IP_GENERAL_FAILURE;
    return outcome;
  }

  const uint32_t count = g_echoCounter.fetch_add(1, std::memory_order_relaxed);
  WORD identifier = static_cast<WORD>((static_cast<uint32_t>(::getpid()) * 7919u + count) & 0xFFFF);
  // A ping socket's identifier is fixed by the system for all its echoes, so
  // there the sequence alone tells this echo from the socket's earlier ones.
  const WORD sequence =
      icmpSocket.bRaw ? static_cast<WORD>((count >> 16) + 1) : static_cast<WORD>(count);

  std::vector<BYTE> packet(kIcmpHeaderSize + p_payload.size());
  packet[0] = kIcmpEcho;
  packet[4] = static_cast<BYTE>(identifier >> 8);
  packet[5] = static_cast<BYTE>(identifier);
  packet[6] = static_cast<BYTE>(sequence >> 8);
  packet[7] = static_cast<BYTE>(sequence);
  std::copy(p_payload.begin(), p_payload.end(), packet.begin() + kIcmpHeaderSize);
  const WORD checksum = InternetChecksum(packet);
  packet[2] = static_cast<BYTE>(checksum >> 8);
  packet[3] = static_cast<BYTE>(checksum);

  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr.s_addr = p_destination;
  const auto start = std::chrono::steady_clock::now();
  if (::sendto(icmpSocket.fd, packet.data(), packet.size(), 0,
               reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)) < 0) {
    outcome.status = StatusOfErrno(errno);
    return outcome;
  }
  // A ping socket's identifier is its local port, written by the kernel.
  if (!icmpSocket.bRaw && !lease.PingIdentifier(identifier)) {
    outcome.status = IP_GENERAL_FAILURE;
    return outcome;
  }

  const auto deadline = start + std::chrono::milliseconds(p_timeout);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    // Rounded up so that a wait never ends a fraction early.
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd waiter{icmpSocket.fd, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, static_cast<int>(std::min<long long>(remaining, INT32_MAX)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      outcome.status = IP_GENERAL_FAILURE;
      return outcome;
    }
    if (ready == 0) continue;
    const bool bFound =
        ((waiter.revents & POLLERR) != 0 &&
         ReadErrorQueue(icmpSocket.fd, identifier, sequence, outcome)) ||
        ((waiter.revents & POLLIN) != 0 &&
         ReadIncoming(icmpSocket.fd, icmpSocket.bRaw, identifier, sequence, outcome));
    if (bFound) break;
  }
  if (!outcome.bReplied) outcome.status = IP_REQ_TIMED_OUT;
  return outcome;
}

const std::array kIcmpProcedures{
    kestnet::platform::SystemProcedureEntry{
        "IcmpCreateFile", reinterpret_cast<kestnet::platform::SystemProcedure>(&IcmpCreateFile)},
    kestnet::platform::SystemProcedureEntry{
        "IcmpCloseHandle", reinterpret_cast<kestnet::platform::SystemProcedure>(&IcmpCloseHandle)},
    kestnet::platform::SystemProcedureEntry{
        "IcmpSendEcho", reinterpret_cast<kestnet::platform::SystemProcedure>(&IcmpSendEcho)},
};

void WriteFailure(LPVOID p_replyBuffer, DWORD p_replySize, ULONG p_status) {
  if (p_replyBuffer != nullptr && p_replySize >= sizeof(ICMP_ECHO_REPLY)) {
    auto* reply = static_cast<ICMP_ECHO_REPLY*>(p_replyBuffer);
    *reply = ICMP_ECHO_REPLY{};
    reply->Status = p_status;
  }
}

}  // namespace

HANDLE IcmpCreateFile() {
  std::shared_ptr<IcmpHandleState> state;
  try {
    state = std::make_shared<IcmpHandleState>();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  state->socket = OpenIcmpSocket();
  if (state->socket.fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!PrepareSocket(state->socket)) {
    // The handle stays usable: each echo then opens a socket of its own.
    ::close(state->socket.fd);
    state->socket.fd = -1;
  }
  try {
    return IcmpHandleTable::Instance().Add(std::move(state));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL IcmpCloseHandle(HANDLE IcmpHandle) {
  if (!IcmpHandleTable::Instance().Remove(IcmpHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData,
                   WORD RequestSize, PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer,
                   DWORD ReplySize, DWORD Timeout) {
  const std::shared_ptr<IcmpHandleState> state = IcmpHandleTable::Instance().Find(IcmpHandle);
  if (!state) {
    WriteFailure(ReplyBuffer, ReplySize, IP_GENERAL_FAILURE);
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (ReplyBuffer == nullptr || (RequestData == nullptr && RequestSize != 0)) {
    WriteFailure(ReplyBuffer, ReplySize, IP_BAD_REQ);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (ReplySize < sizeof(ICMP_ECHO_REPLY) + RequestSize + kIcmpHeaderSize) {
    WriteFailure(ReplyBuffer, ReplySize, IP_BUF_TOO_SMALL);
    SetLastError(IP_BUF_TOO_SMALL);
    return 0;
  }
  IP_OPTION_INFORMATION options{static_cast<UCHAR>(kDefaultTtl), 0, 0, 0, nullptr};
  if (RequestOptions != nullptr) options = *RequestOptions;
  if (options.Ttl == 0) {
    WriteFailure(ReplyBuffer, ReplySize, IP_BAD_OPTION);
    SetLastError(IP_BAD_OPTION);
    return 0;
  }

  const auto start = std::chrono::steady_clock::now();
  const std::span<const BYTE> payload(static_cast<const BYTE*>(RequestData), RequestSize);
  EchoOutcome outcome = SendAndWait(*state, DestinationAddress, payload, options, Timeout);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  auto* reply = static_cast<ICMP_ECHO_REPLY*>(ReplyBuffer);
  *reply = ICMP_ECHO_REPLY{};
  reply->Status = outcome.status;
  if (!outcome.bReplied) {
    SetLastError(outcome.status);
    return 0;
  }
  reply->Address = outcome.address;
  reply->RoundTripTime =
      static_cast<ULONG>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  reply->Options.Ttl = outcome.replyTtl;
  // The reply's data follows the reply record, cut to what the buffer holds.
  BYTE* dataArea = static_cast<BYTE*>(ReplyBuffer) + sizeof(ICMP_ECHO_REPLY);
  const size_t room = ReplySize - sizeof(ICMP_ECHO_REPLY);
  const size_t copied = std::min({outcome.data.size(), room, size_t{0xFFFF}});
  std::copy_n(outcome.data.begin(), copied, dataArea);
  reply->DataSize = static_cast<USHORT>(copied);
  reply->Data = dataArea;
  return 1;
}

namespace kestnet::platform {

void RegisterIcmpModule() { RegisterSystemModule(L"ICMP.DLL", kIcmpProcedures); }

std::string IcmpAccessProblem() {
  const IcmpSocket probe = OpenIcmpSocket();
  if (probe.fd >= 0) {
    ::close(probe.fd);
    return {};
  }
  return std::string("This process may open neither an unprivileged ICMP socket (") +
         std::strerror(probe.pingSocketError) + ") nor a raw ICMP socket (" +
         std::strerror(probe.rawSocketError) +
         "): allow its group in net.ipv4.ping_group_range (for example sysctl -w "
         "net.ipv4.ping_group_range=\"0 2147483647\") or give the program CAP_NET_RAW "
         "(setcap cap_net_raw+ep).";
}

const char* IpStatusName(ULONG p_ulStatus) {
  for (const StatusName& entry : kStatusNames) {
    if (entry.status == p_ulStatus) return entry.name;
  }
  return "";
}

}  // namespace kestnet::platform
