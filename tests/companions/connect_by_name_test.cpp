// A TCP client socket connects by a host name: its own resolver asks the
// servers the companion reports (dnsmasq in a private network namespace),
// and the socket connects to the first address.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns.h"
#include "net/dns/dns_name_resolver.h"
#include "net/sockets/socket_result.h"
#include "net/sockets/tcp_non_blocking_client_socket.h"
#include "platform/com/com.h"
#include "tests/companions/sys_net_module.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/private_network_test.h"

namespace kestnet::companions::testing {
namespace {

using kestnet::testing::DnsmasqOptions;
using kestnet::testing::DnsmasqServer;
using KestNet::testing::LoopbackServer;
using KestNet::testing::RecordingTcpListener;

class ConnectByNameTest : public kestnet::testing::PrivateNetworkTest {
 protected:
  // Whether the test's own thread enters the multithreaded apartment, which
  // also lets every other thread of the process use COM (the implicit MTA).
  explicit ConnectByNameTest(bool p_bEnterCom = true) : m_bEnterCom(p_bEnterCom) {}

  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    if (DnsmasqServer::FindBinary().empty()) {
      GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    }
    DnsmasqOptions options;
    options.listenAddress = "127.0.0.53";
    options.localTtl = 60;
    options.hosts = {{"127.0.0.1", "loop.test"}};
    std::string error;
    ASSERT_TRUE(m_server.Start(options, error)) << error;
    if (m_bEnterCom) {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      m_bComInitialized = true;
    }
    ASSERT_TRUE(m_module.Load("nameserver 127.0.0.53\n", ""));
    KestNet::InstallDnsNameResolution();
    ASSERT_TRUE(KestNet::InitializeSockets());
    m_bSocketsInitialized = true;
  }
  void TearDown() override {
    if (m_bSocketsInitialized) {
      KestNet::UninitializeSockets();
      EXPECT_TRUE(KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    m_module.Unload();
    if (m_bComInitialized) {
      CoFreeUnusedLibraries();
      CoUninitialize();
    }
    m_server.Stop();
    PrivateNetworkTest::TearDown();
  }

  const bool m_bEnterCom;
  DnsmasqServer m_server;
  SysNetModule m_module;
  bool m_bComInitialized = false;
  bool m_bSocketsInitialized = false;
};

TEST_F(ConnectByNameTest, ANameTheServerKnowsConnectsToItsAddress) {
  LoopbackServer listener;
  RecordingTcpListener events;
  {
    KestNet::TcpNonBlockingClientSocket socket;
    ASSERT_NE(socket.Create(&events), 0u);
    ASSERT_TRUE(socket.Connect(std::string("LOOP.test"), listener.Port()));
    ASSERT_TRUE(events.log.WaitFor("connect", 1));
    EXPECT_EQ(events.log.FirstResult("connect"), KestNet::SOCKET_NO_ERROR);
    EXPECT_TRUE(listener.Accept().Valid());
    socket.Close(true);
  }
  EXPECT_EQ(events.log.Count("connect"), 1u);
  EXPECT_EQ(events.log.Count("close"), 1u);
}

TEST_F(ConnectByNameTest, ANameThatDoesNotResolveEndsInOneGenericClose) {
  RecordingTcpListener events;
  {
    KestNet::TcpNonBlockingClientSocket socket;
    ASSERT_NE(socket.Create(&events), 0u);
    ASSERT_TRUE(socket.Connect(std::string("nowhere.test"), 80));
    ASSERT_TRUE(events.log.WaitFor("close", 1));
    EXPECT_EQ(events.log.FirstResult("close"), KestNet::SOCKET_GENERIC_ERROR);
  }
  EXPECT_EQ(events.log.Count("connect"), 0u);
  EXPECT_EQ(events.log.Count("close"), 1u);
}

TEST_F(ConnectByNameTest, DestroyingASocketWhileItsNameResolvesReportsOneClose) {
  // The companion's server is replaced by a silent one, so the resolution is
  // still running when the socket goes.
  m_module.Unload();
  ASSERT_TRUE(m_module.Load("nameserver 127.0.0.2\n", ""));
  RecordingTcpListener events;
  {
    KestNet::TcpNonBlockingClientSocket socket;
    ASSERT_NE(socket.Create(&events), 0u);
    ASSERT_TRUE(socket.Connect(std::string("slow.test"), 80));
  }
  EXPECT_EQ(events.log.Count("connect"), 0u);
  EXPECT_EQ(events.log.Count("close"), 1u);
}

// No thread of the process is in COM: the resolver has to enter it by itself
// to ask the companion for the servers.
class ConnectByNameWithoutComTest : public ConnectByNameTest {
 protected:
  ConnectByNameWithoutComTest() : ConnectByNameTest(false) {}
};

TEST_F(ConnectByNameWithoutComTest, AThreadThatNeverEnteredComConnectsAndIsLeftOutsideCom) {
  LoopbackServer listener;
  RecordingTcpListener events;
  {
    KestNet::TcpNonBlockingClientSocket socket;
    ASSERT_NE(socket.Create(&events), 0u);
    HRESULT comBefore = S_OK;
    HRESULT comAfter = S_OK;
    bool bStarted = false;
    std::thread caller([&] {
      comBefore = kestnet::platform::CheckComInitialized();
      bStarted = socket.Connect(std::string("loop.test"), listener.Port());
      comAfter = kestnet::platform::CheckComInitialized();
    });
    caller.join();
    EXPECT_EQ(comBefore, CO_E_NOTINITIALIZED);
    ASSERT_TRUE(bStarted);
    // The apartment entered for the question was left again.
    EXPECT_EQ(comAfter, CO_E_NOTINITIALIZED);
    ASSERT_TRUE(events.log.WaitFor("connect", 1));
    EXPECT_EQ(events.log.FirstResult("connect"), KestNet::SOCKET_NO_ERROR);
    EXPECT_TRUE(listener.Accept().Valid());
    socket.Close(true);
  }
  EXPECT_EQ(events.log.Count("connect"), 1u);
  EXPECT_EQ(events.log.Count("close"), 1u);
}

TEST_F(ConnectByNameWithoutComTest, AResolverOnAThreadOutsideComStillFindsTheCompanionsServers) {
  std::vector<std::string> servers;
  std::thread caller([&] {
    KestNet::Dns resolver;
    servers = resolver.GetDnsServers();
  });
  caller.join();
  EXPECT_EQ(servers, std::vector<std::string>{"127.0.0.53"});
  EXPECT_EQ(kestnet::platform::CheckComInitialized(), CO_E_NOTINITIALIZED);
}

}  // namespace
}  // namespace kestnet::companions::testing
