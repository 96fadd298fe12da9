// Echo requests to names: each worker resolves through a resolver of its own,
// which asks the servers the KestSysNet companion reports. The companion is
// registered in the test's home and reads a resolver configuration the test
// writes; the server behind it is dnsmasq or a scripted peer on 127.0.0.53
// inside the test's private network namespace, so nothing leaves it.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/ping/ping.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "platform/com/com.h"
#include "runtime/exceptions.h"
#include "tests/companions/sys_net_module.h"
#include "tests/net/ping/ping_test_support.h"
#include "tests/support/dns_test_messages.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/scripted_udp_peer.h"

// The companion registers itself through the registrar of the program that
// loads it; this reference keeps that part of the runtime linked in.
HRESULT (kestnet::platform::Registrar::*kestnet::companions::testing::g_hostRegistrar)(LPCOLESTR) =
    &kestnet::platform::Registrar::StringRegister;

namespace {

using kestnet::companions::testing::SysNetModule;
using kestnet::testing::DnsmasqOptions;
using kestnet::testing::DnsmasqServer;
using kestnet::testing::DnsResponseBuilder;
using kestnet::testing::ReadDnsQuery;
using kestnet::testing::ReceivedDatagram;
using kestnet::testing::RecordedPingResponse;
using kestnet::testing::RecordingPingListener;
using kestnet::testing::ScriptedReply;
using kestnet::testing::ScriptedUdpPeer;
using namespace KestNet;
using namespace std::chrono_literals;

constexpr const char* kServerAddress = "127.0.0.53";
constexpr DWORD kICMPTimeout = 2000;
constexpr DWORD kTTL = 64;
constexpr DWORD kDataSize = 20;

// What the automation object does around the engine: sockets started for the
// resolver's queries, COM entered on the object's thread.
class PingNameTest : public kestnet::testing::EchoNamespaceTest {
 protected:
  void SetUp() override {
    EchoNamespaceTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_bComInitialized = true;
    ASSERT_TRUE(InitializeSockets());
    m_bSocketsInitialized = true;
  }

  void TearDown() override {
    if (m_bSocketsInitialized) {
      UninitializeSockets();
      EXPECT_TRUE(SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    m_peer.Stop();
    m_dnsmasq.Stop();
    m_module.Unload();
    if (m_bComInitialized) {
      CoFreeUnusedLibraries();
      CoUninitialize();
    }
    EchoNamespaceTest::TearDown();
  }

  // dnsmasq on the server address, knowing only p_hosts.
  void StartDnsmasq(const std::vector<std::pair<std::string, std::string>>& p_hosts) {
    if (DnsmasqServer::FindBinary().empty()) {
      GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    }
    DnsmasqOptions options;
    options.listenAddress = kServerAddress;
    options.hosts = p_hosts;
    std::string error;
    ASSERT_TRUE(m_dnsmasq.Start(options, error)) << error;
    ASSERT_TRUE(m_module.Load(std::string("nameserver ") + kServerAddress + "\n", ""));
  }

  // The scripted peer on the server address; without a script it never answers.
  void StartPeer() {
    std::string error;
    ASSERT_TRUE(m_peer.Start(kServerAddress, 53, error)) << error;
    ASSERT_TRUE(m_module.Load(std::string("nameserver ") + kServerAddress + "\n", ""));
  }

  // The peer answers every query for any name with the one address.
  void AnswerEveryQueryWith(const std::string& p_address) {
    m_peer.SetScript([p_address](const ReceivedDatagram& p_datagram) {
      const auto query = ReadDnsQuery(p_datagram.bytes);
      if (!query) return std::vector<ScriptedReply>{};
      return std::vector<ScriptedReply>{{DnsResponseBuilder(*query).A("", 60, p_address).Build()}};
    });
  }

  // One request, waited for; its only response.
  RecordedPingResponse PingOnce(const std::wstring& p_target, DWORD p_dwDNSTimeout) {
    RecordingPingListener listener;
    {
      Ping ping;
      ping.EchoRequestAsync(p_target, &listener, p_dwDNSTimeout, kICMPTimeout, kTTL, kDataSize);
      EXPECT_TRUE(listener.WaitFor(1));
    }
    const auto responses = listener.Responses();
    EXPECT_EQ(responses.size(), 1u);
    return responses.empty() ? RecordedPingResponse{} : responses[0];
  }

  // The names the peer was asked for, in order of arrival.
  std::vector<std::string> NamesAskedOfThePeer() const {
    std::vector<std::string> names;
    for (const ReceivedDatagram& datagram : m_peer.Received()) {
      const auto query = ReadDnsQuery(datagram.bytes);
      names.push_back(query ? query->name : std::string("<not a query>"));
    }
    return names;
  }

  SysNetModule m_module;
  DnsmasqServer m_dnsmasq;
  ScriptedUdpPeer m_peer;

 private:
  bool m_bComInitialized = false;
  bool m_bSocketsInitialized = false;
};

TEST_F(PingNameTest, NameResolvedThroughTheServerIsPingedAtItsAddress) {
  ASSERT_NO_FATAL_FAILURE(StartDnsmasq({{"127.0.0.7", "echo.kestnet.test"}}));
  if (IsSkipped()) return;
  const RecordedPingResponse response = PingOnce(L"Echo.Kestnet.Test", 2000);
  EXPECT_EQ(response.wResult, PING_SUCCESS);
  // The target stays as given; the address is the one the server returned.
  EXPECT_EQ(response.target, L"Echo.Kestnet.Test");
  EXPECT_EQ(response.address, "127.0.0.7");
  EXPECT_EQ(response.replyAddress, "127.0.0.7");
}

TEST_F(PingNameTest, NameTheServerDoesNotKnowGivesDnsNoResponses) {
  ASSERT_NO_FATAL_FAILURE(StartDnsmasq({{"127.0.0.7", "echo.kestnet.test"}}));
  if (IsSkipped()) return;
  const RecordedPingResponse response = PingOnce(L"nowhere.kestnet.test", 2000);
  EXPECT_EQ(response.wResult, PING_DNS_NO_RESPONSES);
  EXPECT_EQ(response.address, "nowhere.kestnet.test");
  EXPECT_EQ(response.replyAddress, "");
}

TEST_F(PingNameTest, AnswerWithoutRecordsGivesDnsNoResponses) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  m_peer.SetScript([](const ReceivedDatagram& p_datagram) {
    const auto query = ReadDnsQuery(p_datagram.bytes);
    if (!query) return std::vector<ScriptedReply>{};
    return std::vector<ScriptedReply>{{DnsResponseBuilder(*query).Build()}};
  });
  const RecordedPingResponse response = PingOnce(L"empty.kestnet.test", 2000);
  EXPECT_EQ(response.wResult, PING_DNS_NO_RESPONSES);
}

TEST_F(PingNameTest, ServerThatNeverAnswersGivesDnsTimeout) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  const auto start = std::chrono::steady_clock::now();
  const RecordedPingResponse response = PingOnce(L"silent.kestnet.test", 500);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ(response.wResult, PING_DNS_TIMEOUT);
  EXPECT_GE(m_peer.Received().size(), 1u);
}

TEST_F(PingNameTest, DnsTimeoutBelowTheResolversLimitFailsANameButNotADottedTarget) {
  ASSERT_NO_FATAL_FAILURE(StartDnsmasq({{"127.0.0.7", "echo.kestnet.test"}}));
  if (IsSkipped()) return;
  // The engine accepts 100 ms; the resolver takes nothing below 500 ms.
  EXPECT_EQ(PingOnce(L"echo.kestnet.test", 100).wResult, PING_INVALID_OBJECT);
  EXPECT_EQ(PingOnce(L"127.0.0.7", 100).wResult, PING_SUCCESS);
  // The same name is pinged once the time-out is one the resolver takes.
  EXPECT_EQ(PingOnce(L"echo.kestnet.test", 500).wResult, PING_SUCCESS);
}

TEST_F(PingNameTest, DottedTargetsSendNoDnsTrafficANameDoes) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  AnswerEveryQueryWith("127.0.0.1");
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"127.0.0.1", &listener, 2000, kICMPTimeout, kTTL, kDataSize);
  ping.EchoRequestAsync(L"255.255.255.255", &listener, 2000, 300, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(2));
  EXPECT_EQ(m_peer.Received().size(), 0u);

  ping.EchoRequestAsync(L"named.kestnet.test", &listener, 2000, kICMPTimeout, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(3));
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 3u);
  EXPECT_EQ(responses[2].wResult, PING_SUCCESS);
  EXPECT_EQ(responses[2].address, "127.0.0.1");
  // Every datagram the server saw, late arrivals included, asked for the name.
  const std::vector<std::string> names = NamesAskedOfThePeer();
  ASSERT_GE(names.size(), 1u);
  for (const std::string& name : names) EXPECT_EQ(name, "named.kestnet.test");
}

TEST_F(PingNameTest, AbortDuringTheResolutionReportsAbortedOnce) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  RecordingPingListener listener;
  Ping ping;
  const auto start = std::chrono::steady_clock::now();
  ping.EchoRequestAsync(L"slow.kestnet.test", &listener, 20000, kICMPTimeout, kTTL, kDataSize);
  // The query reached the server: the worker is inside the resolution.
  ASSERT_TRUE(m_peer.WaitForDatagrams(1, 5s));
  ping.Abort(L"slow.kestnet.test");
  // Abort returns once the worker has reported, long before the DNS time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].wResult, PING_ABORTED);
  EXPECT_EQ(responses[0].target, L"slow.kestnet.test");
  // The target is free again and nothing else arrives for the aborted one.
  ping.Abort(L"slow.kestnet.test");
  AnswerEveryQueryWith("127.0.0.1");
  ping.EchoRequestAsync(L"slow.kestnet.test", &listener, 2000, kICMPTimeout, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(2));
  responses = listener.Responses();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[1].wResult, PING_SUCCESS);
}

TEST_F(PingNameTest, DestroyingTheEngineWhileANameResolvesReportsNothing) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  RecordingPingListener listener;
  const auto start = std::chrono::steady_clock::now();
  {
    Ping ping;
    ping.EchoRequestAsync(L"slow.kestnet.test", &listener, 20000, kICMPTimeout, kTTL, kDataSize);
    ASSERT_TRUE(m_peer.WaitForDatagrams(1, 5s));
  }
  // The resolution was interrupted, not waited out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_EQ(listener.Responses().size(), 0u);
}

TEST_F(PingNameTest, NamesDifferingInLetterCaseResolveInParallelOneCaseOnce) {
  ASSERT_NO_FATAL_FAILURE(StartPeer());
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"Far.Kestnet.Test", &listener, 20000, kICMPTimeout, kTTL, kDataSize);
  EXPECT_NO_THROW(ping.EchoRequestAsync(L"far.kestnet.test", &listener, 20000, kICMPTimeout, kTTL, kDataSize));
  // Both are still resolving: the same text again is refused.
  EXPECT_THROW(ping.EchoRequestAsync(L"Far.Kestnet.Test", &listener, 20000, kICMPTimeout, kTTL, kDataSize),
               KestBase::InvalidOperationException);
  ASSERT_TRUE(m_peer.WaitForDatagrams(2, 5s));
  ping.Abort(L"Far.Kestnet.Test");
  ping.Abort(L"far.kestnet.test");
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_NE(responses[0].target, responses[1].target);
  for (const auto& response : responses) EXPECT_EQ(response.wResult, PING_ABORTED);
}

}  // namespace
