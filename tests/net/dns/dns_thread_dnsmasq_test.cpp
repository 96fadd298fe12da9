// The query engine against a real DNS server: dnsmasq on port 53 of a
// private network namespace, answering from a hosts file the test writes.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns_thread.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "tests/net/dns/dns_thread_test_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/private_network_test.h"

namespace KestNet::testing {
namespace {

using kestnet::testing::DnsmasqOptions;
using kestnet::testing::DnsmasqServer;

constexpr const char* kDnsmasqAddress = "127.0.0.53";
// Nothing listens here: a server that never answers.
constexpr const char* kSilentAddress = "127.0.0.2";

class DnsThreadDnsmasqTest : public kestnet::testing::PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    if (DnsmasqServer::FindBinary().empty()) {
      GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    }
    DnsmasqOptions options;
    options.listenAddress = kDnsmasqAddress;
    options.localTtl = 120;
    options.hosts = {{"10.1.2.3", "alpha.test"}, {"10.1.2.4", "alpha.test"}, {"10.9.9.9", "target.test"}};
    options.extraArguments = {"--cname=alias.test,target.test"};
    std::string error;
    ASSERT_TRUE(m_server.Start(options, error)) << error;
    ASSERT_TRUE(InitializeSockets());
    m_bSocketsInitialized = true;
  }

  void TearDown() override {
    m_query.reset();
    if (m_bSocketsInitialized) {
      UninitializeSockets();
      EXPECT_TRUE(SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    m_server.Stop();
    PrivateNetworkTest::TearDown();
  }

  ListenerCall Resolve(const std::vector<std::string>& p_servers, const std::string& p_name) {
    m_query = std::make_unique<DNSThread>();
    m_query->RunQuery(p_servers, p_name, 5000, false, false, 0, &m_listener);
    EXPECT_TRUE(m_listener.WaitForCalls(1, 10s));
    EXPECT_TRUE(m_query->WaitForThreadToEnd(10000));
    const auto calls = m_listener.Calls();
    EXPECT_EQ(calls.size(), 1u);
    return calls.empty() ? ListenerCall{} : calls.front();
  }

  static std::vector<std::string> Addresses(const DnsRecordList& p_records) {
    std::vector<std::string> addresses;
    for (const DnsRecord& record : p_records) {
      if (record.type == kDnsRecordTypeA) {
        addresses.push_back(record.address.ToString());
      }
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
  }

  DnsmasqServer m_server;
  RecordingListener m_listener;
  std::unique_ptr<DNSThread> m_query;
  bool m_bSocketsInitialized = false;
};

TEST_F(DnsThreadDnsmasqTest, ResolvesEveryAddressOfAName) {
  const ListenerCall call = Resolve({kDnsmasqAddress}, "alpha.test");
  EXPECT_EQ(call.result, DNS_SUCCESS);
  EXPECT_EQ(Addresses(call.records), (std::vector<std::string>{"10.1.2.3", "10.1.2.4"}));
  for (const DnsRecord& record : call.records) {
    EXPECT_EQ(record.name, "alpha.test");
    EXPECT_EQ(record.ttl, 120u);
  }
}

TEST_F(DnsThreadDnsmasqTest, AcceptsTheServersAnswerToANameInCapitals) {
  const ListenerCall call = Resolve({kDnsmasqAddress}, "ALPHA.Test");
  EXPECT_EQ(call.result, DNS_SUCCESS);
  EXPECT_EQ(Addresses(call.records), (std::vector<std::string>{"10.1.2.3", "10.1.2.4"}));
}

TEST_F(DnsThreadDnsmasqTest, FollowsTheServersCanonicalName) {
  const ListenerCall call = Resolve({kDnsmasqAddress}, "alias.test");
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 2u);
  EXPECT_EQ(call.records[0].type, kDnsRecordTypeCName);
  EXPECT_EQ(call.records[0].name, "alias.test");
  EXPECT_EQ(call.records[0].data, "target.test");
  EXPECT_EQ(call.records[1].type, kDnsRecordTypeA);
  EXPECT_EQ(call.records[1].name, "target.test");
  EXPECT_EQ(call.records[1].address.ToString(), "10.9.9.9");
}

TEST_F(DnsThreadDnsmasqTest, UnknownNameGivesNoResponses) {
  const ListenerCall call = Resolve({kDnsmasqAddress}, "unknown.test");
  EXPECT_EQ(call.result, DNS_ERROR_NO_RESPONSES);
  EXPECT_TRUE(call.records.empty());
}

TEST_F(DnsThreadDnsmasqTest, ASilentServerFirstInTheListDoesNotHideTheAnswer) {
  const ListenerCall call = Resolve({kSilentAddress, kDnsmasqAddress}, "alpha.test");
  EXPECT_EQ(call.result, DNS_SUCCESS);
  EXPECT_EQ(Addresses(call.records).size(), 2u);
}

}  // namespace
}  // namespace KestNet::testing
