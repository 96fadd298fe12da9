#include "tests/net/ping/ping_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net/icmp_echo.h"

namespace kestnet::testing {

void EchoNamespaceTest::SetUp() {
  PrivateNetworkTest::SetUp();
  if (IsSkipped()) return;
  const std::string problem = kestnet::platform::IcmpAccessProblem();
  if (!problem.empty()) GTEST_SKIP() << problem;
}

EchoRequestCapture::EchoRequestCapture() {
  m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

EchoRequestCapture::~EchoRequestCapture() {
  if (m_fd >= 0) ::close(m_fd);
}

bool EchoRequestCapture::NextRequestPayload(const std::string& p_destination,
                                            std::vector<unsigned char>& p_payload,
                                            std::chrono::milliseconds p_limit) {
  const auto deadline = std::chrono::steady_clock::now() + p_limit;
  std::vector<unsigned char> packet(65536);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd waiter{m_fd, POLLIN, 0};
    if (::poll(&waiter, 1, 100) <= 0) continue;
    const ssize_t received = ::recv(m_fd, packet.data(), packet.size(), 0);
    if (received < 20) continue;
    const size_t headerLength = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (static_cast<size_t>(received) < headerLength + 8) continue;
    char destination[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, packet.data() + 16, destination, sizeof(destination));
    if (packet[headerLength] != 8 || p_destination != destination) continue;
    p_payload.assign(packet.begin() + static_cast<long>(headerLength + 8),
                     packet.begin() + received);
    return true;
  }
  return false;
}

}  // namespace kestnet::testing
