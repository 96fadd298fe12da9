// TcpNonBlockingClientSocket against real peers on loopback.
#include "net/sockets/tcp_non_blocking_client_socket.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/sockets/socket_result.h"
#include "socket_test_support.h"

namespace KestNet::testing {
namespace {

class TcpClientSocketTest : public SocketLayerTest {
 protected:
  // Creates m_socket and connects it to m_server; m_peer is the server side.
  void ConnectToServer() {
    ASSERT_NE(m_socket.Create(&m_listener), 0u);
    ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
    m_peer = m_server.Accept();
    ASSERT_TRUE(m_peer.Valid());
    ASSERT_TRUE(m_listener.log.WaitFor("connect", 1));
    ASSERT_EQ(m_listener.log.FirstResult("connect"), SOCKET_NO_ERROR);
  }

  LoopbackServer m_server;
  Descriptor m_peer;
  RecordingTcpListener m_listener;
  TcpNonBlockingClientSocket m_socket;
};

TEST_F(TcpClientSocketTest, ConnectsAndExchangesDataWithThePeer) {
  std::string received;
  m_listener.action = [&](const std::string& p_kind) {
    if (p_kind == "receive") {
      BYTE buffer[64];
      DWORD count;
      while ((count = m_socket.Receive(buffer, sizeof(buffer))) > 0) {
        received.append(reinterpret_cast<char*>(buffer), count);
      }
    }
  };
  ConnectToServer();
  EXPECT_TRUE(m_listener.log.WaitFor("send", 1)) << "a send notification follows the connect";
  const std::string request = "HELO there\r\n";
  EXPECT_EQ(m_socket.Send(reinterpret_cast<const BYTE*>(request.data()),
                          static_cast<DWORD>(request.size())),
            request.size());
  EXPECT_EQ(ReadBytes(m_peer.Get(), request.size()), request);
  ASSERT_TRUE(SendAll(m_peer.Get(), "250 ok\r\n"));
  ASSERT_TRUE(Eventually([&] { return m_listener.log.Count("receive") >= 1; }));
  m_peer.Reset();
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(received, "250 ok\r\n");
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_NO_ERROR);
  EXPECT_EQ(m_listener.log.Count("connect"), 1u);
  EXPECT_EQ(m_listener.log.Count("send"), 1u);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_FALSE(m_socket.IsCreated());
}

TEST_F(TcpClientSocketTest, ConnectToAClosedPortReportsGenericError) {
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), ClosedLoopbackPort()));
  ASSERT_TRUE(Eventually([&] {
    return m_listener.log.Count("connect") + m_listener.log.Count("close") > 0;
  }));
  const DWORD result = m_listener.log.Count("connect") > 0 ? m_listener.log.FirstResult("connect")
                                                           : m_listener.log.FirstResult("close");
  EXPECT_EQ(result, SOCKET_GENERIC_ERROR);
  m_socket.Close(true);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_EQ(m_listener.log.Count("connect"), 1u);
}

TEST_F(TcpClientSocketTest, ResetByThePeerReportsTimeoutOnce) {
  ConnectToServer();
  ResetConnection(m_peer);
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_TIMEOUT);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(TcpClientSocketTest, SendsAroundAResetReturnAndTheCloseComesOnce) {
  ConnectToServer();
  ResetConnection(m_peer);
  const BYTE data[1024] = {};
  // Whatever the kernel says before the close is seen, every send returns.
  for (int i = 0; i < 100; ++i) {
    m_socket.Send(data, sizeof(data));
  }
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  // Once it is seen, sends and receives fail quietly.
  EXPECT_EQ(m_socket.Send(data, 4), 0u);
  BYTE buffer[4];
  EXPECT_EQ(m_socket.Receive(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
}

TEST_F(TcpClientSocketTest, DataBeforeTheConnectNotificationIsAnnouncedAfterIt) {
  // Keep the event thread busy in another socket's notification while the
  // connection completes and data arrives, so both are seen in one wake-up.
  RecordingTcpListener busyListener;
  TcpNonBlockingClientSocket busy;
  std::promise<void> busyEntered;
  std::atomic<bool> release{false};
  busyListener.action = [&](const std::string& p_kind) {
    if (p_kind == "connect") {
      busyEntered.set_value();
      Eventually([&] { return release.load(); });
    }
  };
  ASSERT_NE(busy.Create(&busyListener), 0u);
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  int slot = -1;
  ASSERT_EQ(busy.GetEventThread(&slot), m_socket.GetEventThread(&slot));
  ASSERT_TRUE(busy.Connect(IPAddress("127.0.0.1"), m_server.Port()));
  Descriptor busyPeer = m_server.Accept();
  ASSERT_EQ(busyEntered.get_future().wait_for(5s), std::future_status::ready);

  ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
  m_peer = m_server.Accept();
  ASSERT_TRUE(SendAll(m_peer.Get(), "early"));
  std::this_thread::sleep_for(50ms);
  release = true;

  ASSERT_TRUE(m_listener.log.WaitFor("receive", 1));
  EXPECT_EQ(m_listener.log.Sequence().rfind("connect,receive", 0), 0u) << m_listener.log.Sequence();
  EXPECT_EQ(m_listener.log.FirstResult("receive"), SOCKET_NO_ERROR);
  busy.Close(true);
}

TEST_F(TcpClientSocketTest, ConnectByNameEndsInCloseWithGenericError) {
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  EXPECT_TRUE(m_socket.Connect(std::string("mail.example.invalid"), 25));
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(m_listener.log.Sequence(), "close");
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_GENERIC_ERROR);
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(TcpClientSocketTest, AllOnesAddressIsTreatedAsAName) {
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  EXPECT_TRUE(m_socket.Connect(IPAddress("255.255.255.255"), m_server.Port()));
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(m_listener.log.Sequence(), "close");
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_GENERIC_ERROR);
  EXPECT_FALSE(m_server.Accept(100ms).Valid()) << "no connection was attempted";
}

TEST_F(TcpClientSocketTest, InvalidArgumentsAreRefused) {
  EXPECT_EQ(m_socket.Create(nullptr), 0u);
  EXPECT_FALSE(m_socket.Connect(IPAddress("10.0.0"), 80)) << "invalid address";
  EXPECT_FALSE(m_socket.Connect(std::string("127.0.0.1"), 80)) << "not created";
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  EXPECT_EQ(m_socket.Create(&m_listener), 0u) << "already created";
  EXPECT_FALSE(m_socket.Connect(IPAddress(), 80));
  EXPECT_EQ(m_socket.Send(nullptr, 4), 0u);
  EXPECT_EQ(m_socket.Receive(nullptr, 4), 0u);
  EXPECT_FALSE(m_socket.Bind(0, IPAddress()));
  m_socket.Close(true);
  EXPECT_EQ(m_listener.log.Sequence(), "close");
}

TEST_F(TcpClientSocketTest, ReceiveWithNothingWaitingSaysWouldBlock) {
  ConnectToServer();
  BYTE buffer[8];
  EXPECT_EQ(m_socket.Receive(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(m_socket.GetLastSocketError(), SOCKET_WOULD_BLOCK);
}

TEST_F(TcpClientSocketTest, ListenerThatDoesNotReadIsNotCalledAgain) {
  ConnectToServer();
  ASSERT_TRUE(SendAll(m_peer.Get(), "first"));
  ASSERT_TRUE(m_listener.log.WaitFor("receive", 1));
  ASSERT_TRUE(SendAll(m_peer.Get(), "second"));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(m_listener.log.Count("receive"), 1u);
  BYTE buffer[4];
  ASSERT_EQ(m_socket.Peek(buffer, sizeof(buffer)), 4u);
  ASSERT_TRUE(m_listener.log.WaitFor("receive", 2)) << "a peek re-arms the notification";
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(m_listener.log.Count("receive"), 2u);
}

TEST_F(TcpClientSocketTest, LocalBindAndPeerAreReported) {
  ASSERT_NE(m_socket.Create(&m_listener, 0, IPAddress("127.0.0.1")), 0u);
  ASSERT_TRUE(m_socket.Connect(std::string("127.0.0.1"), m_server.Port()));
  m_peer = m_server.Accept();
  ASSERT_TRUE(m_listener.log.WaitFor("connect", 1));
  std::string address;
  USHORT port = 0;
  ASSERT_TRUE(m_socket.GetPeer(address, port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, m_server.Port());
  IPAddress peer;
  ASSERT_TRUE(m_socket.GetPeer(peer));
  EXPECT_EQ(peer.ToString(), "127.0.0.1");
}

TEST_F(TcpClientSocketTest, CloseFalseReturnsBeforeTheListenerHearsOnClose) {
  std::promise<void> closeReturned;
  std::shared_future<void> returned = closeReturned.get_future().share();
  std::atomic<bool> heardAfterReturn{false};
  m_listener.action = [&](const std::string& p_kind) {
    if (p_kind == "close") {
      heardAfterReturn = returned.wait_for(5s) == std::future_status::ready;
    }
  };
  ConnectToServer();
  m_socket.Close(false);
  closeReturned.set_value();
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_TRUE(Eventually([&] { return heardAfterReturn.load(); }));
  EXPECT_NE(m_listener.log.Snapshot().back().thread, std::this_thread::get_id());
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
}

TEST_F(TcpClientSocketTest, CloseTrueReturnsAfterTheListenerHeardOnClose) {
  ConnectToServer();
  m_socket.Close(true);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_EQ(m_listener.log.Snapshot().back().thread, std::this_thread::get_id());
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_NO_ERROR);
  m_socket.Close(true);
  m_socket.Close(false);
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(TcpClientSocketTest, DestroyingAnOpenSocketClosesItOnTheDestroyingThread) {
  auto socket = std::make_unique<TcpNonBlockingClientSocket>();
  ASSERT_NE(socket->Create(&m_listener), 0u);
  ASSERT_TRUE(socket->Connect(IPAddress("127.0.0.1"), m_server.Port()));
  m_peer = m_server.Accept();
  ASSERT_TRUE(m_listener.log.WaitFor("connect", 1));
  socket.reset();
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
  EXPECT_EQ(m_listener.log.Snapshot().back().thread, std::this_thread::get_id());
  EXPECT_EQ(ReadBytes(m_peer.Get(), 1, 2s), "") << "the peer sees the connection end";
}

TEST_F(TcpClientSocketTest, CloseInsideItsOwnReceiveNotificationEndsEverything) {
  m_listener.action = [&](const std::string& p_kind) {
    if (p_kind == "receive") {
      m_socket.Close(true);
    }
  };
  ConnectToServer();
  ASSERT_TRUE(SendAll(m_peer.Get(), "data"));
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  SendAll(m_peer.Get(), "more");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(m_listener.log.Sequence(), "connect,send,receive,close");
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(TcpClientSocketTest, CreateAgainAfterCloseGivesAFreshConnection) {
  ConnectToServer();
  m_socket.Close(true);
  m_peer.Reset();
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
  Descriptor secondPeer = m_server.Accept();
  ASSERT_TRUE(m_listener.log.WaitFor("connect", 2));
  m_socket.Close(true);
  EXPECT_EQ(m_listener.log.Count("close"), 2u);
}

// Close(false) from the test thread while the peer streams data and the
// listener reads in its notifications: one OnClose, nothing after it.
TEST_F(TcpClientSocketTest, CloseRacingIncomingDataDeliversNothingAfterOnClose) {
  for (int round = 0; round < 20; ++round) {
    RecordingTcpListener listener;
    TcpNonBlockingClientSocket socket;
    listener.action = [&](const std::string& p_kind) {
      if (p_kind == "receive") {
        // A bounded read: the next receive notification brings the rest.
        BYTE buffer[256];
        for (int chunk = 0; chunk < 8 && socket.Receive(buffer, sizeof(buffer)) > 0; ++chunk) {
        }
      }
    };
    ASSERT_NE(socket.Create(&listener), 0u);
    ASSERT_TRUE(socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
    Descriptor peer = m_server.Accept();
    ASSERT_TRUE(listener.log.WaitFor("connect", 1));
    std::atomic<bool> stop{false};
    std::thread streamer([&] {
      const std::string chunk(512, 'z');
      while (!stop) {
        if (send(peer.Get(), chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == -1) {
          if (errno != EAGAIN) {
            break;
          }
          std::this_thread::sleep_for(100us);
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
    socket.Close(round % 2 == 0);
    ASSERT_TRUE(listener.log.WaitFor("close", 1));
    stop = true;
    streamer.join();
    std::this_thread::sleep_for(10ms);
    const auto sequence = listener.log.Snapshot();
    EXPECT_EQ(sequence.back().kind, "close") << "round " << round;
    EXPECT_EQ(listener.log.Count("close"), 1u);
  }
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(TcpClientSocketTest, ThousandConcurrentConnectsCompleteOnceEachAndThreadsGoAway) {
  constexpr int kSockets = 1000;
  LoopbackServer server(kSockets + 24);
  std::vector<Descriptor> peers;
  std::atomic<bool> acceptorDone{false};
  std::thread acceptor([&] {
    while (static_cast<int>(peers.size()) < kSockets) {
      Descriptor peer = server.Accept(10s);
      if (!peer.Valid()) {
        break;
      }
      peers.push_back(std::move(peer));
    }
    acceptorDone = true;
  });

  RecordingTcpListener listener;
  std::vector<std::unique_ptr<TcpNonBlockingClientSocket>> sockets;
  for (int i = 0; i < kSockets; ++i) {
    sockets.push_back(std::make_unique<TcpNonBlockingClientSocket>());
    ASSERT_NE(sockets.back()->Create(&listener), 0u) << i;
    ASSERT_TRUE(sockets.back()->Connect(IPAddress("127.0.0.1"), server.Port())) << i;
  }
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), static_cast<std::size_t>(kSockets / 5));
  ASSERT_TRUE(listener.log.WaitFor("connect", kSockets, 60s));
  acceptor.join();
  EXPECT_EQ(peers.size(), static_cast<std::size_t>(kSockets));

  std::set<DWORD> results;
  for (const auto& notification : listener.log.Snapshot()) {
    if (notification.kind == "connect") {
      results.insert(notification.result);
    }
  }
  EXPECT_EQ(results, std::set<DWORD>{SOCKET_NO_ERROR});
  for (auto& socket : sockets) {
    socket->Close(false);
  }
  ASSERT_TRUE(listener.log.WaitFor("close", kSockets, 60s));
  EXPECT_TRUE(Eventually(NoEventThreads, 30s));
  EXPECT_EQ(listener.log.Count("connect"), static_cast<std::size_t>(kSockets));
  EXPECT_EQ(listener.log.Count("close"), static_cast<std::size_t>(kSockets));
}

}  // namespace
}  // namespace KestNet::testing
