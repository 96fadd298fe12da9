#include "net/ping/ping.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/ping/ping_thread.h"
#include "platform/net/icmp_echo.h"
#include "platform/os/module_table.h"
#include "runtime/exceptions.h"
#include "tests/net/ping/ping_test_support.h"
#include "tests/net/ping/routed_topology.h"
#include "tests/support/temporary_directory.h"

namespace {

using kestnet::testing::EchoNamespaceTest;
using kestnet::testing::RecordedPingResponse;
using kestnet::testing::RecordingPingListener;
using kestnet::testing::RoutedTopology;
using namespace KestNet;
using namespace std::chrono_literals;

constexpr DWORD kDNSTimeout = 5000;
constexpr DWORD kICMPTimeout = 5000;
constexpr DWORD kTTL = 64;
constexpr DWORD kDataSize = 20;

class PingEngineTest : public EchoNamespaceTest {
 protected:
  void IgnoreEchoes() { ASSERT_TRUE(kestnet::testing::WriteNetworkSysctl("ipv4/icmp_echo_ignore_all", "1")); }
};

// --- Arguments --------------------------------------------------------------

struct RefusedRequest {
  const char* name;
  std::wstring target;
  bool bListener;
  DWORD dwDNSTimeout;
  DWORD dwICMPTimeout;
  DWORD dwTTL;
  DWORD dwDataSize;
};

// Tests that send nothing still log, so they keep a home of their own.
class PingArgumentTest : public ::testing::TestWithParam<RefusedRequest> {
 private:
  kestnet::testing::TemporaryHome m_home;
};

class PingWithoutNetworkTest : public ::testing::Test {
 private:
  kestnet::testing::TemporaryHome m_home;
};

TEST_P(PingArgumentTest, RefusedBeforeAnyWorkerExists) {
  const RefusedRequest& request = GetParam();
  RecordingPingListener listener;
  {
    Ping ping;
    EXPECT_THROW(ping.EchoRequestAsync(request.target, request.bListener ? &listener : nullptr,
                                       request.dwDNSTimeout, request.dwICMPTimeout, request.dwTTL,
                                       request.dwDataSize),
                 KestBase::InvalidParameterException);
  }
  EXPECT_EQ(listener.Responses().size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, PingArgumentTest,
    ::testing::Values(RefusedRequest{"EmptyTarget", L"", true, 5000, 5000, 64, 20},
                      RefusedRequest{"DnsTimeout9", L"127.0.0.1", true, 9, 5000, 64, 20},
                      RefusedRequest{"IcmpTimeout9", L"127.0.0.1", true, 5000, 9, 64, 20},
                      RefusedRequest{"Ttl0", L"127.0.0.1", true, 5000, 5000, 0, 20},
                      RefusedRequest{"Ttl255", L"127.0.0.1", true, 5000, 5000, 255, 20},
                      // Would wrap to 44 if the TTL were narrowed before the check.
                      RefusedRequest{"Ttl300", L"127.0.0.1", true, 5000, 5000, 300, 20},
                      RefusedRequest{"DataSize1473", L"127.0.0.1", true, 5000, 5000, 64, 1473},
                      // Would wrap to 0 if the size were narrowed before the check.
                      RefusedRequest{"DataSize65536", L"127.0.0.1", true, 5000, 5000, 64, 65536},
                      RefusedRequest{"NoListener", L"127.0.0.1", false, 5000, 5000, 64, 20}),
    [](const ::testing::TestParamInfo<RefusedRequest>& p_info) { return std::string(p_info.param.name); });

TEST_F(PingWithoutNetworkTest, AbortOfEmptyTargetIsRefusedAndUnknownTargetIgnored) {
  Ping ping;
  EXPECT_THROW(ping.Abort(L""), KestBase::InvalidParameterException);
  EXPECT_NO_THROW(ping.Abort(L"127.0.0.9"));
}

// --- Payload and result mapping ----------------------------------------------

TEST(PingPayload, RunsFromZeroToBraceThenCyclesFromSpace) {
  const std::vector<BYTE> payload = PingThread::BuildPayload(300);
  ASSERT_EQ(payload.size(), 300u);
  EXPECT_EQ(payload[0], 0x30);
  EXPECT_EQ(payload[77], 0x7D);
  EXPECT_EQ(payload[78], 0x20);
  EXPECT_EQ(payload[78 + 93], 0x7D);
  EXPECT_EQ(payload[78 + 94], 0x20);
  EXPECT_TRUE(PingThread::BuildPayload(0).empty());
}

TEST(PingResultMapping, SuccessWithoutRepliesIsHostUnreachableAndUnknownIsInvalidObject) {
  EXPECT_EQ(PingResultOfStatus(IP_SUCCESS, 1), PING_SUCCESS);
  EXPECT_EQ(PingResultOfStatus(IP_SUCCESS, 0), PING_HOST_UNREACHABLE);
  EXPECT_EQ(PingResultOfStatus(IP_BAD_ROUTE, 1), PING_NET_UNREACHABLE);
  EXPECT_EQ(PingResultOfStatus(IP_BAD_DESTINATION, 1), PING_HOST_UNREACHABLE);
  EXPECT_EQ(PingResultOfStatus(IP_PACKET_TOO_BIG, 1), PING_ERROR);
  EXPECT_EQ(PingResultOfStatus(IP_REQ_TIMED_OUT, 0), PING_TIMEOUT);
  EXPECT_EQ(PingResultOfStatus(IP_GENERAL_FAILURE, 0), PING_INVALID_OBJECT);
  EXPECT_EQ(PingResultOfStatus(12345, 1), PING_INVALID_OBJECT);
  EXPECT_STREQ(PingResultName(PING_DNS_NO_RESPONSES), "PING_DNS_NO_RESPONSES");
  EXPECT_STREQ(PingResultName(14), "");
}

// --- Echo service loading -------------------------------------------------------

class HiddenEchoServiceTest : public EchoNamespaceTest {
 protected:
  void TearDown() override {
    kestnet::platform::SetSystemModuleHidden(L"ICMP.DLL", false);
    kestnet::platform::SetSystemModuleProcedureHidden("IcmpSendEcho", false);
    EchoNamespaceTest::TearDown();
  }
};

TEST_F(HiddenEchoServiceTest, MissingModuleOrEntryPointFailsTheRequestAndFreesTheTarget) {
  RecordingPingListener listener;
  Ping ping;
  kestnet::platform::SetSystemModuleHidden(L"ICMP.DLL", true);
  EXPECT_THROW(ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, kICMPTimeout, kTTL, kDataSize),
               KestBase::InvalidObjectException);
  kestnet::platform::SetSystemModuleHidden(L"ICMP.DLL", false);
  kestnet::platform::SetSystemModuleProcedureHidden("IcmpSendEcho", true);
  EXPECT_THROW(ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, kICMPTimeout, kTTL, kDataSize),
               KestBase::InvalidObjectException);
  kestnet::platform::SetSystemModuleProcedureHidden("IcmpSendEcho", false);
  // Neither failure left the target taken.
  ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, kICMPTimeout, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(1));
  ASSERT_EQ(listener.Responses().size(), 1u);
  EXPECT_EQ(listener.Responses()[0].wResult, PING_SUCCESS);
}

// --- Echoes on loopback -----------------------------------------------------------

TEST_F(PingEngineTest, LoopbackAnswersWithItsAddress) {
  RecordingPingListener listener;
  {
    Ping ping;
    ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, kICMPTimeout, kTTL, kDataSize);
    ASSERT_TRUE(listener.WaitFor(1));
  }
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].wResult, PING_SUCCESS);
  EXPECT_EQ(responses[0].target, L"127.0.0.1");
  EXPECT_EQ(responses[0].address, "127.0.0.1");
  EXPECT_EQ(responses[0].replyAddress, "127.0.0.1");
  EXPECT_LT(responses[0].dwRoundTripTime, kICMPTimeout);
}

TEST_F(PingEngineTest, LimitValuesAreAccepted) {
  RecordingPingListener listener;
  {
    Ping ping;
    ping.EchoRequestAsync(L"127.0.0.1", &listener, 10, kICMPTimeout, 254, 1472);
    ping.EchoRequestAsync(L"127.0.0.2", &listener, kDNSTimeout, 10, 1, 0);
    ASSERT_TRUE(listener.WaitFor(2));
  }
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 2u);
  for (const auto& response : responses) {
    if (response.target == L"127.0.0.1") {
      EXPECT_EQ(response.wResult, PING_SUCCESS);
    } else {
      // Ten milliseconds is enough for loopback unless the machine stalls.
      EXPECT_TRUE(response.wResult == PING_SUCCESS || response.wResult == PING_TIMEOUT) << response.wResult;
    }
  }
}

TEST_F(PingEngineTest, PayloadFollowsThePatternAndSizeZeroSendsNone) {
  kestnet::testing::EchoRequestCapture capture;
  ASSERT_TRUE(capture.IsOpen());
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"127.0.0.3", &listener, kDNSTimeout, kICMPTimeout, kTTL, 100);
  std::vector<unsigned char> payload;
  ASSERT_TRUE(capture.NextRequestPayload("127.0.0.3", payload));
  const std::vector<BYTE> expected = PingThread::BuildPayload(100);
  EXPECT_EQ(payload, std::vector<unsigned char>(expected.begin(), expected.end()));

  ping.EchoRequestAsync(L"127.0.0.4", &listener, kDNSTimeout, kICMPTimeout, kTTL, 0);
  ASSERT_TRUE(capture.NextRequestPayload("127.0.0.4", payload));
  EXPECT_TRUE(payload.empty());
  ASSERT_TRUE(listener.WaitFor(2));
  for (const auto& response : listener.Responses()) EXPECT_EQ(response.wResult, PING_SUCCESS);
}

TEST_F(PingEngineTest, HostThatDropsEchoesTimesOut) {
  IgnoreEchoes();
  RecordingPingListener listener;
  Ping ping;
  const auto start = std::chrono::steady_clock::now();
  ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 300, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].wResult, PING_TIMEOUT);
  EXPECT_EQ(responses[0].address, "127.0.0.1");
  EXPECT_EQ(responses[0].replyAddress, "0.0.0.0");
}

TEST_F(PingEngineTest, SecondRequestForARunningTargetIsRefusedOthersRunAlongside) {
  IgnoreEchoes();
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 1000, kTTL, kDataSize);
  EXPECT_THROW(ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 1000, kTTL, kDataSize),
               KestBase::InvalidOperationException);
  ping.EchoRequestAsync(L"127.0.0.2", &listener, kDNSTimeout, 1000, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(2));
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_NE(responses[0].target, responses[1].target);
  // Once reported, the target is free again.
  ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 10, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(3));
  EXPECT_EQ(listener.Responses().size(), 3u);
}

TEST_F(PingEngineTest, AbortDuringTheEchoReportsAbortedOnce) {
  IgnoreEchoes();
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 1500, kTTL, kDataSize);
  std::this_thread::sleep_for(100ms);
  ping.Abort(L"127.0.0.1");
  // Abort returns after the worker ended, so the one response is in.
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].wResult, PING_ABORTED);
  ping.Abort(L"127.0.0.1");
  EXPECT_EQ(listener.Responses().size(), 1u);
}

TEST_F(PingEngineTest, DestroyingTheEngineStopsAnEchoInFlightWithoutReporting) {
  IgnoreEchoes();
  RecordingPingListener listener;
  {
    Ping ping;
    ping.EchoRequestAsync(L"127.0.0.1", &listener, kDNSTimeout, 300, kTTL, kDataSize);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(listener.Responses().size(), 0u);
}

TEST_F(PingEngineTest, BroadcastAddressIsPingedAsADottedAddress) {
  RecordingPingListener listener;
  Ping ping;
  ping.EchoRequestAsync(L"255.255.255.255", &listener, kDNSTimeout, 300, kTTL, kDataSize);
  ASSERT_TRUE(listener.WaitFor(1));
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].address, "255.255.255.255");
  // Whatever the namespace makes of a broadcast, it is an echo outcome, not a
  // name-resolution one.
  EXPECT_NE(responses[0].wResult, PING_INVALID_OBJECT);
  EXPECT_NE(responses[0].wResult, PING_DNS_TIMEOUT);
  EXPECT_NE(responses[0].wResult, PING_DNS_NO_RESPONSES);
}

TEST_F(PingEngineTest, TwoHundredConcurrentTargetsEachReportOnce) {
  constexpr int kTargets = 200;
  RecordingPingListener listener;
  {
    Ping ping;
    for (int i = 1; i <= kTargets; ++i) {
      ping.EchoRequestAsync(L"127.0.0." + std::to_wstring(i), &listener, kDNSTimeout, kICMPTimeout, kTTL,
                            kDataSize);
    }
    ASSERT_TRUE(listener.WaitFor(kTargets));
  }
  const auto responses = listener.Responses();
  ASSERT_EQ(responses.size(), static_cast<size_t>(kTargets));
  std::vector<int> seen(kTargets + 1, 0);
  for (const auto& response : responses) {
    EXPECT_EQ(response.wResult, PING_SUCCESS);
    EXPECT_EQ(response.replyAddress, response.address);
    const int last = std::stoi(response.address.substr(response.address.rfind('.') + 1));
    ASSERT_GE(last, 1);
    ASSERT_LE(last, kTargets);
    ++seen[last];
  }
  for (int i = 1; i <= kTargets; ++i) EXPECT_EQ(seen[i], 1) << "127.0.0." << i;
}

// --- Through a router ---------------------------------------------------------------

// Once with ping sockets allowed in this namespace (errors arrive through the
// error queue) and once with raw sockets (errors arrive as packets too).
class RoutedPingTest : public PingEngineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    PingEngineTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(kestnet::testing::WriteNetworkSysctl("ipv4/ping_group_range", GetParam()));
    std::string error;
    if (!m_topology.Build(error)) GTEST_SKIP() << "No routed namespaces here: " << error;
  }
  RecordedPingResponse PingOnce(const std::wstring& p_target, DWORD p_dwTTL) {
    RecordingPingListener listener;
    {
      Ping ping;
      ping.EchoRequestAsync(p_target, &listener, kDNSTimeout, 2000, p_dwTTL, kDataSize);
      EXPECT_TRUE(listener.WaitFor(1));
    }
    const auto responses = listener.Responses();
    EXPECT_EQ(responses.size(), 1u);
    return responses.empty() ? RecordedPingResponse{} : responses[0];
  }

  kestnet::testing::RoutedTopology m_topology;
};

TEST_P(RoutedPingTest, TtlOneExpiresAtTheRouterTwoReachesTheFarHost) {
  const auto expired = PingOnce(L"10.51.2.2", 1);
  EXPECT_EQ(expired.wResult, PING_TTL_EXPIRED);
  EXPECT_EQ(expired.replyAddress, RoutedTopology::kRouterNearAddress);
  const auto reached = PingOnce(L"10.51.2.2", 2);
  EXPECT_EQ(reached.wResult, PING_SUCCESS);
  EXPECT_EQ(reached.replyAddress, RoutedTopology::kFarHostAddress);
}

TEST_P(RoutedPingTest, RouterWithoutARouteReportsNetUnreachable) {
  const auto response = PingOnce(L"10.51.9.9", kTTL);
  EXPECT_EQ(response.wResult, PING_NET_UNREACHABLE);
  EXPECT_EQ(response.replyAddress, RoutedTopology::kRouterNearAddress);
}

TEST_P(RoutedPingTest, UnreachableRouteReportsHostUnreachable) {
  const auto response = PingOnce(L"10.51.3.3", kTTL);
  EXPECT_EQ(response.wResult, PING_HOST_UNREACHABLE);
  EXPECT_EQ(response.replyAddress, RoutedTopology::kRouterNearAddress);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, RoutedPingTest, ::testing::Values("0 2147483647", "1 0"),
                         [](const ::testing::TestParamInfo<const char*>& p_info) {
                           return std::string(p_info.index == 0 ? "PingSocket" : "RawSocket");
                         });

}  // namespace
