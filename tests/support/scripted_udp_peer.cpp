#include "tests/support/scripted_udp_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestnet::testing {

int OpenBoundUdpSocket(const std::string& p_address, std::uint16_t p_port, std::string& p_error) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(p_port);
  if (inet_pton(AF_INET, p_address.c_str(), &local.sin_addr) != 1) {
    p_error = "not an IPv4 address: " + p_address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    p_error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    p_error = "bind " + p_address + ":" + std::to_string(p_port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

ScriptedUdpPeer::~ScriptedUdpPeer() {
  Stop();
  for (int fd : m_sockets) {
    close(fd);
  }
}

std::size_t ScriptedUdpPeer::AddSender(const std::string& p_address, std::uint16_t p_port,
                                       std::string& p_error) {
  if (m_thread.joinable()) {
    p_error = "senders must be added before Start";
    return 0;
  }
  if (m_sockets.empty()) {
    m_sockets.push_back(-1);  // the listening socket's place
  }
  const int fd = OpenBoundUdpSocket(p_address, p_port, p_error);
  if (fd < 0) {
    return 0;
  }
  m_sockets.push_back(fd);
  return m_sockets.size() - 1;
}

bool ScriptedUdpPeer::Start(const std::string& p_address, std::uint16_t p_port, std::string& p_error) {
  if (m_thread.joinable()) {
    p_error = "already started";
    return false;
  }
  const int fd = OpenBoundUdpSocket(p_address, p_port, p_error);
  if (fd < 0) {
    return false;
  }
  if (m_sockets.empty()) {
    m_sockets.push_back(fd);
  } else {
    m_sockets[0] = fd;
  }
  if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    p_error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  m_started = std::chrono::steady_clock::now();
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void ScriptedUdpPeer::Stop() {
  if (!m_thread.joinable()) {
    return;
  }
  const char stop = 's';
  (void)!write(m_stopPipe[1], &stop, 1);
  m_thread.join();
  close(m_stopPipe[0]);
  close(m_stopPipe[1]);
  m_stopPipe[0] = m_stopPipe[1] = -1;
}

void ScriptedUdpPeer::SetScript(UdpPeerScript p_script) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_script = std::move(p_script);
}

std::vector<ReceivedDatagram> ScriptedUdpPeer::Received() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_received;
}

bool ScriptedUdpPeer::WaitForDatagrams(std::size_t p_count, std::chrono::milliseconds p_timeout) const {
  std::unique_lock<std::mutex> lock(m_lock);
  return m_arrived.wait_for(lock, p_timeout, [&] { return m_received.size() >= p_count; });
}

void ScriptedUdpPeer::Serve() {
  for (;;) {
    pollfd waits[2] = {{m_sockets[0], POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if ((waits[1].revents & POLLIN) != 0) {
      return;
    }
    if ((waits[0].revents & POLLIN) == 0) {
      continue;
    }
    std::uint8_t buffer[65536];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length =
        recvfrom(m_sockets[0], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < 0) {
      continue;
    }
    ReceivedDatagram datagram;
    datagram.bytes.assign(buffer, buffer + length);
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    datagram.fromAddress = address;
    datagram.fromPort = ntohs(from.sin_port);
    datagram.at = std::chrono::steady_clock::now() - m_started;
    UdpPeerScript script;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_received.push_back(datagram);
      script = m_script;
    }
    m_arrived.notify_all();
    if (script) {
      for (const ScriptedReply& reply : script(datagram)) {
        SendReply(reply, datagram);
      }
    }
  }
}

void ScriptedUdpPeer::SendReply(const ScriptedReply& p_reply, const ReceivedDatagram& p_to) {
  if (p_reply.delay.count() > 0) {
    std::this_thread::sleep_for(p_reply.delay);
  }
  if (p_reply.sender >= m_sockets.size()) {
    return;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(p_to.fromPort);
  inet_pton(AF_INET, p_to.fromAddress.c_str(), &to.sin_addr);
  sendto(m_sockets[p_reply.sender], p_reply.bytes.data(), p_reply.bytes.size(), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

}  // namespace kestnet::testing
