// The event-select meaning of the epoll wait, on real loopback sockets.
#include "platform/net/socket_wait_set.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/net/socket_calls.h"
#include "platform/net/winsock_errors.h"

namespace kestnet::platform {
namespace {

// Long enough that a re-armed event would surely show, short enough to keep
// the suite quick; only used where nothing is expected.
constexpr int kQuietMs = 100;
constexpr int kEventMs = 5000;

class SocketWaitSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartSockets());
    ASSERT_TRUE(ParseIPv4Address("127.0.0.1", &m_loopback));
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = m_loopback;
    ASSERT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(m_listener, 16), 0);
    socklen_t length = sizeof(address);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    ASSERT_TRUE(m_waitSet.IsValid());
    m_event = m_waitSet.CreateNetworkEvent();
    ASSERT_NE(m_event, nullptr);
    m_client = OpenSocket(SocketType::kStream);
    ASSERT_NE(m_client, kInvalidSocket);
    ASSERT_TRUE(SelectNetworkEvents(m_event, m_client, kNetworkAll));
  }

  void TearDown() override {
    SocketWaitSet::CloseNetworkEvent(m_event);
    if (m_client != kInvalidSocket) {
      CloseSocket(m_client);
    }
    if (m_peer >= 0) {
      close(m_peer);
    }
    close(m_listener);
    StopSockets();
  }

  // Waits for the record and enumerates its events; 0 when nothing came.
  long NextEvents(int p_timeoutMs, NetworkEvents* p_pEvents = nullptr) {
    NetworkEvent* list[] = {m_event};
    for (;;) {
      const auto outcome = m_waitSet.Wait(list, p_timeoutMs);
      if (outcome.result == SocketWaitSet::WaitResult::kChange) {
        continue;
      }
      if (outcome.result != SocketWaitSet::WaitResult::kNetwork) {
        return 0;
      }
      NetworkEvents events;
      if (!EnumNetworkEvents(m_event, &events)) {
        return -1;
      }
      if (p_pEvents != nullptr) {
        *p_pEvents = events;
      }
      return events.events;
    }
  }

  void ConnectAndAccept() {
    ASSERT_EQ(ConnectSocket(m_client, m_event, m_loopback, m_port), -1);
    ASSERT_EQ(GetLastSocketError(), winsock::kWouldBlock);
    pollfd probe{m_listener, POLLIN, 0};
    ASSERT_EQ(poll(&probe, 1, kEventMs), 1);
    m_peer = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(m_peer, 0);
    NetworkEvents events;
    ASSERT_EQ(NextEvents(kEventMs, &events), kNetworkConnect | kNetworkWrite);
    ASSERT_EQ(events.errorCodes[kConnectBit], 0);
  }

  // Reads what the client sent, so that its buffer has room again.
  void DrainPeer() const {
    std::vector<char> sink(1 << 20);
    for (int i = 0; i < 64; ++i) {
      if (recv(m_peer, sink.data(), sink.size(), MSG_DONTWAIT) <= 0) {
        break;
      }
    }
  }

  std::uint32_t m_loopback = 0;
  std::uint16_t m_port = 0;
  int m_listener = -1;
  int m_peer = -1;
  SocketWaitSet m_waitSet;
  NetworkEvent* m_event = nullptr;
  SocketHandle m_client = kInvalidSocket;
};

TEST_F(SocketWaitSetTest, UnconnectedSocketReportsNothing) {
  EXPECT_EQ(NextEvents(kQuietMs), 0);
}

TEST_F(SocketWaitSetTest, ConnectIsReportedOnceTogetherWithTheFirstWrite) {
  ConnectAndAccept();
  EXPECT_EQ(NextEvents(kQuietMs), 0);
}

TEST_F(SocketWaitSetTest, ReadIsReportedAgainOnlyAfterAReceive) {
  ConnectAndAccept();
  ASSERT_EQ(send(m_peer, "abcdef", 6, 0), 6);
  EXPECT_EQ(NextEvents(kEventMs), kNetworkRead);
  // Not read yet: no second report, no busy loop.
  EXPECT_EQ(NextEvents(kQuietMs), 0);

  char buffer[2];
  ASSERT_EQ(ReceiveSocket(m_client, m_event, buffer, sizeof(buffer), true), 2);
  EXPECT_EQ(NextEvents(kEventMs), kNetworkRead) << "a peek re-arms the read event";
  ASSERT_EQ(ReceiveSocket(m_client, m_event, buffer, sizeof(buffer), false), 2);
  EXPECT_EQ(NextEvents(kEventMs), kNetworkRead) << "data is still waiting";
  char rest[8];
  ASSERT_EQ(ReceiveSocket(m_client, m_event, rest, sizeof(rest), false), 4);
  EXPECT_EQ(NextEvents(kQuietMs), 0);
}

TEST_F(SocketWaitSetTest, WriteIsReportedAgainOnlyAfterASendWouldBlock) {
  ConnectAndAccept();
  const std::string block(65536, 'x');
  long sent = 0;
  int sends = 0;
  while ((sent = SendSocket(m_client, m_event, block.data(), block.size())) > 0 && sends < 10000) {
    ++sends;
  }
  ASSERT_EQ(sent, -1);
  ASSERT_EQ(GetLastSocketError(), winsock::kWouldBlock);
  EXPECT_EQ(NextEvents(kQuietMs), 0) << "no room until the peer reads";

  DrainPeer();
  EXPECT_EQ(NextEvents(kEventMs), kNetworkWrite);
  EXPECT_EQ(NextEvents(kQuietMs), 0);
}

TEST_F(SocketWaitSetTest, WriteIsReportedAfterAShortSendAsAfterOneThatWouldBlock) {
  ConnectAndAccept();
  // More than the socket's buffers can hold: only part of it is taken.
  const std::string block(std::size_t{64} << 20, 'x');
  const long sent = SendSocket(m_client, m_event, block.data(), block.size());
  ASSERT_GT(sent, 0);
  ASSERT_LT(sent, static_cast<long>(block.size()));

  DrainPeer();
  EXPECT_EQ(NextEvents(kEventMs), kNetworkWrite) << "a caller waiting for room after a short send hears of it";
}

TEST_F(SocketWaitSetTest, RefusedConnectIsReportedOnceWithItsError) {
  close(m_listener);
  m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  NetworkEvents events;
  const int result = ConnectSocket(m_client, m_event, m_loopback, m_port);
  if (result == -1 && GetLastSocketError() == winsock::kConnectionRefused) {
    GTEST_SKIP() << "the refusal came back synchronously";
  }
  ASSERT_EQ(NextEvents(kEventMs, &events), kNetworkConnect);
  EXPECT_EQ(events.errorCodes[kConnectBit], winsock::kConnectionRefused);
  EXPECT_EQ(NextEvents(kQuietMs), 0);
}

TEST_F(SocketWaitSetTest, PeerCloseWaitsUntilTheDataBeforeItWasRead) {
  ConnectAndAccept();
  ASSERT_EQ(send(m_peer, "bye", 3, 0), 3);
  close(m_peer);
  m_peer = -1;
  EXPECT_EQ(NextEvents(kEventMs), kNetworkRead);
  EXPECT_EQ(NextEvents(kQuietMs), 0) << "close is held while data waits";
  char buffer[8];
  ASSERT_EQ(ReceiveSocket(m_client, m_event, buffer, sizeof(buffer), false), 3);
  NetworkEvents events;
  EXPECT_EQ(NextEvents(kEventMs, &events), kNetworkClose);
  EXPECT_EQ(events.errorCodes[kCloseBit], 0);
  EXPECT_EQ(NextEvents(kQuietMs), 0) << "close is reported once";
}

TEST_F(SocketWaitSetTest, ResetIsReportedAsCloseAndASendIntoItFailsWithoutSignal) {
  ConnectAndAccept();
  linger abortive{1, 0};
  setsockopt(m_peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  close(m_peer);
  m_peer = -1;
  NetworkEvents events;
  EXPECT_EQ(NextEvents(kEventMs, &events) & kNetworkClose, kNetworkClose);
  EXPECT_EQ(events.errorCodes[kCloseBit], winsock::kConnectionReset);
  EXPECT_EQ(NextEvents(kQuietMs), 0);
  EXPECT_EQ(SendSocket(m_client, m_event, "x", 1), -1);
  const int error = GetLastSocketError();
  EXPECT_TRUE(error == winsock::kConnectionReset || error == winsock::kShutDown) << error;
}

TEST_F(SocketWaitSetTest, StopOutranksChangeAndStaysSet) {
  m_waitSet.SignalChange();
  NetworkEvent* list[] = {m_event};
  EXPECT_EQ(m_waitSet.Wait(list, kEventMs).result, SocketWaitSet::WaitResult::kChange);
  EXPECT_EQ(m_waitSet.Wait(list, kQuietMs).result, SocketWaitSet::WaitResult::kTimeout)
      << "the change signal resets when reported";
  m_waitSet.SignalChange();
  m_waitSet.SignalStop();
  EXPECT_EQ(m_waitSet.Wait(list, kEventMs).result, SocketWaitSet::WaitResult::kStop);
  EXPECT_EQ(m_waitSet.Wait(list, kEventMs).result, SocketWaitSet::WaitResult::kStop);
}

TEST_F(SocketWaitSetTest, RetiredRecordIsNeverReportedAndSaysNotASocket) {
  ConnectAndAccept();
  ASSERT_EQ(send(m_peer, "x", 1, 0), 1);
  SocketWaitSet::RetireNetworkEvent(m_event);
  NetworkEvent* list[] = {m_event};
  EXPECT_EQ(m_waitSet.Wait(list, kQuietMs).result, SocketWaitSet::WaitResult::kTimeout);
  NetworkEvents events;
  EXPECT_FALSE(EnumNetworkEvents(m_event, &events));
  EXPECT_EQ(GetLastSocketError(), winsock::kNotSocket);
}

TEST_F(SocketWaitSetTest, FirstReadySocketInListOrderWins) {
  ConnectAndAccept();
  NetworkEvent* second = m_waitSet.CreateNetworkEvent();
  const SocketHandle datagram = OpenSocket(SocketType::kDatagram);
  ASSERT_TRUE(BindSocket(datagram, m_loopback, 0));
  ASSERT_TRUE(SelectNetworkEvents(second, datagram, kNetworkAll));
  std::uint16_t datagramPort = 0;
  ASSERT_TRUE(GetSocketName(datagram, nullptr, &datagramPort));
  ASSERT_EQ(SendToSocket(datagram, second, "d", 1, m_loopback, datagramPort), 1);
  ASSERT_EQ(send(m_peer, "s", 1, 0), 1);
  // Let both become ready before the wait.
  pollfd probe{m_client, POLLIN, 0};
  ASSERT_EQ(poll(&probe, 1, kEventMs), 1);

  NetworkEvent* list[] = {second, m_event};
  const auto outcome = m_waitSet.Wait(list, kEventMs);
  EXPECT_EQ(outcome.result, SocketWaitSet::WaitResult::kNetwork);
  EXPECT_EQ(outcome.index, 0u);
  SocketWaitSet::CloseNetworkEvent(second);
  CloseSocket(datagram);
}

}  // namespace
}  // namespace kestnet::platform
