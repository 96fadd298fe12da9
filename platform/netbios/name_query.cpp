#include "platform/netbios/name_query.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace kestnet::platform::netbios {
namespace {

using Clock = std::chrono::steady_clock;

// As a B node's BCAST_REQ_RETRY_COUNT and BCAST_REQ_RETRY_TIMEOUT (RFC 1002
// §6 gives 3 and 250 ms).
constexpr int kTransmissions = 3;
constexpr auto kRetryInterval = std::chrono::milliseconds(250);
// A name service message is at most a UDP datagram of 576 bytes.
constexpr std::size_t kMaximumMessage = 576;

class Socket {
 public:
  Socket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return m_fd; }

 private:
  int m_fd;
};

// Broadcasts leave through the adapter's interface with its address as the
// source, so answers come back to it. Binding to the device needs
// CAP_NET_RAW; without it the bound address and the subnet's broadcast
// address route the query the same way.
bool PrepareSocket(const Socket& p_socket, const LanAdapter& p_adapter) {
  const int on = 1;
  if (p_socket.Fd() < 0 || ::setsockopt(p_socket.Fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0) {
    return false;
  }
  (void)::setsockopt(p_socket.Fd(), SOL_SOCKET, SO_BINDTODEVICE, p_adapter.interfaceName.c_str(),
                     static_cast<socklen_t>(p_adapter.interfaceName.size()));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = p_adapter.address;
  return ::bind(p_socket.Fd(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

std::uint16_t NewTransactionId() {
  std::uint16_t id = 0;
  if (::getrandom(&id, sizeof(id), 0) != sizeof(id)) {
    id = static_cast<std::uint16_t>(Clock::now().time_since_epoch().count());
  }
  return id;
}

}  // namespace

std::optional<NameQueryAnswer> QueryName(const LanAdapter& p_adapter, NetbiosName p_name, bool& p_bSocketFailed) {
  Socket socket;
  p_bSocketFailed = !PrepareSocket(socket, p_adapter);
  if (p_bSocketFailed) return std::nullopt;
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(kNameServicePort);
  server.sin_addr.s_addr = p_adapter.broadcast;
  std::array<std::uint16_t, kTransmissions> ids{};
  std::array<std::uint8_t, kMaximumMessage> buffer{};
  for (int transmission = 0; transmission < kTransmissions; ++transmission) {
    ids[transmission] = NewTransactionId();
    const std::vector<std::uint8_t> query = BuildNameQuery(ids[transmission], p_name);
    if (::sendto(socket.Fd(), query.data(), query.size(), 0, reinterpret_cast<const sockaddr*>(&server),
                 sizeof(server)) < 0) {
      p_bSocketFailed = true;
      return std::nullopt;
    }
    const auto deadline = Clock::now() + kRetryInterval;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
      pollfd readable{socket.Fd(), POLLIN, 0};
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      const int ready = ::poll(&readable, 1, static_cast<int>(wait.count()));
      if (ready < 0 && errno != EINTR) {
        p_bSocketFailed = true;
        return std::nullopt;
      }
      if (ready <= 0) continue;
      const ssize_t received = ::recv(socket.Fd(), buffer.data(), buffer.size(), 0);
      if (received <= 0) continue;
      const std::span<const std::uint8_t> message(buffer.data(), static_cast<std::size_t>(received));
      for (int asked = 0; asked <= transmission; ++asked) {
        if (auto answer = ReadNameQueryResponse(message, ids[asked], p_name)) return answer;
      }
    }
  }
  return std::nullopt;
}

}  // namespace kestnet::platform::netbios
