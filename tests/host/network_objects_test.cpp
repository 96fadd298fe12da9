// The Ping, DNS and TCP client socket objects driven end to end: kestnet's
// verbs and scripts run as separate processes against the registered module,
// inside a private network namespace with dnsmasq as the DNS server and
// listeners of the test on loopback.

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/host/kestnet_process.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/network_namespace.h"

namespace kestnet::host::testing {
namespace {

using ::kestnet::testing::DnsmasqOptions;
using ::kestnet::testing::DnsmasqServer;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::UnorderedElementsAreArray;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class NetworkObjectsTest : public KestnetTest {
 protected:
  void SetUp() override {
    KestnetTest::SetUp();
    std::string error;
    if (!m_namespace.Enter(error)) {
      GTEST_SKIP() << "No private network namespace can be made here (" << error
                   << "); run as root or where user namespaces are allowed.";
    }
    ProcessResult setup = Kestnet({"setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
  }
  void TearDown() override {
    ::unsetenv("KESTNET_RESOLV_CONF");
    m_dns.Stop();
    m_namespace.Leave();
    KestnetTest::TearDown();
  }

  // Starts dnsmasq on 127.0.0.53 and makes it the machine's DNS server for
  // the kestnet processes, through the resolver configuration KestSysNet reads.
  void StartDns(const std::vector<std::pair<std::string, std::string>>& hosts) {
    if (DnsmasqServer::FindBinary().empty()) GTEST_SKIP() << "dnsmasq is not installed";
    DnsmasqOptions options;
    options.hosts = hosts;
    std::string error;
    ASSERT_TRUE(m_dns.Start(options, error)) << error;
    std::string resolvConf = WriteScript("resolv.conf", "nameserver 127.0.0.53\n");
    ::setenv("KESTNET_RESOLV_CONF", resolvConf.c_str(), 1);
  }

 private:
  kestnet::testing::NetworkNamespace m_namespace;
  kestnet::testing::DnsmasqServer m_dns;
};

TEST_F(NetworkObjectsTest, PingVerbReportsTheReplyOfLoopback) {
  ProcessResult ping = Kestnet({"ping", "127.0.0.1", "--timeout", "2000"});
  EXPECT_EQ(ping.exitCode, 0) << ping.err;
  EXPECT_THAT(ping.out, MatchesRegex("127\\.0\\.0\\.1: PING_SUCCESS, reply from 127\\.0\\.0\\.1 in [0-9]+ ms\n"));
}

TEST_F(NetworkObjectsTest, PingVerbFailsWhenNoReplyComesAndWhenTheObjectRefusesTheRequest) {
  // Only loopback exists in the namespace: there is no route to 10.0.0.0/8.
  ProcessResult unreachable = Kestnet({"ping", "10.9.8.7", "--timeout", "500"});
  EXPECT_EQ(unreachable.exitCode, 1) << unreachable.err;
  EXPECT_THAT(unreachable.out, MatchesRegex("10\\.9\\.8\\.7: PING_[A-Z_]+.*\n"));
  EXPECT_THAT(unreachable.out, ::testing::Not(HasSubstr("PING_SUCCESS")));

  ProcessResult badTtl = Kestnet({"ping", "127.0.0.1", "--ttl", "0"});
  EXPECT_EQ(badTtl.exitCode, 1);
  EXPECT_EQ(badTtl.out, "");
  EXPECT_THAT(badTtl.err, HasSubstr("INVALID_ARG_ERROR"));
}

TEST_F(NetworkObjectsTest, ResolveVerbPrintsEveryNameAndSucceedsOnlyWhenAllResolve) {
  StartDns({{"127.0.0.10", "www.kestnet.test"}, {"127.0.0.11", "mail.kestnet.test"}});
  ProcessResult both =
      Kestnet({"resolve", "--server", "127.0.0.53", "--timeout", "2000", "www.kestnet.test", "mail.kestnet.test"});
  EXPECT_EQ(both.exitCode, 0) << both.err;
  EXPECT_THAT(Lines(both.out), UnorderedElementsAreArray({"www.kestnet.test: 127.0.0.10",
                                                          "mail.kestnet.test: 127.0.0.11"}));

  // Without --server the machine's configured servers are asked.
  ProcessResult oneMissing = Kestnet({"resolve", "--timeout", "1000", "www.kestnet.test", "missing.kestnet.test"});
  EXPECT_EQ(oneMissing.exitCode, 1) << oneMissing.err;
  std::vector<std::string> lines = Lines(oneMissing.out);
  ASSERT_EQ(lines.size(), 2u) << oneMissing.out;
  EXPECT_THAT(lines, ::testing::Contains("www.kestnet.test: 127.0.0.10"));
  EXPECT_THAT(lines, ::testing::Contains(MatchesRegex("missing\\.kestnet\\.test: DNS_ERROR_[A-Z_]+")));

  // A server that does not exist: every name times out.
  ProcessResult silent = Kestnet({"resolve", "--server", "127.0.0.99", "--timeout", "500", "www.kestnet.test"});
  EXPECT_EQ(silent.exitCode, 1);
  EXPECT_EQ(silent.out, "www.kestnet.test: DNS_ERROR_TIMEOUT\n");
}

TEST_F(NetworkObjectsTest, TcptestVerbTellsAnAcceptedPortFromARefusedOne) {
  StartDns({{"127.0.0.1", "loop.kestnet.test"}});
  KestNet::testing::LoopbackServer listener;
  ASSERT_NE(listener.Port(), 0u);
  std::string port = std::to_string(listener.Port());

  ProcessResult accepted = Kestnet({"tcptest", "127.0.0.1", port});
  EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
  EXPECT_EQ(accepted.out, "127.0.0.1 port " + port + ": connected\n");

  // The socket resolves a name through the machine's DNS servers itself.
  ProcessResult byName = Kestnet({"tcptest", "loop.kestnet.test", port});
  EXPECT_EQ(byName.exitCode, 0) << byName.err;
  EXPECT_EQ(byName.out, "loop.kestnet.test port " + port + ": connected to 127.0.0.1\n");

  std::string closed = std::to_string(KestNet::testing::ClosedLoopbackPort());
  ProcessResult refused = Kestnet({"tcptest", "127.0.0.1", closed, "--timeout", "3000"});
  EXPECT_EQ(refused.exitCode, 1);
  // The socket layer reports a refusal as a generic error, as it always has.
  EXPECT_EQ(refused.out, "127.0.0.1 port " + closed + ": SOCKET_GENERIC_ERROR\n");
}

TEST_F(NetworkObjectsTest, VerbsRefuseBadUsageBeforeCreatingAnyObject) {
  EXPECT_EQ(Kestnet({"ping"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"ping", "a", "b"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"ping", "127.0.0.1", "--ttl", "many"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"resolve"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"resolve", "--server", "1.2.3.4,5.6.7.8", "x.test"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"tcptest", "127.0.0.1"}).exitCode, 2);
  ProcessResult badPort = Kestnet({"tcptest", "127.0.0.1", "http"});
  EXPECT_EQ(badPort.exitCode, 2);
  EXPECT_THAT(badPort.err, HasSubstr("the port must be a whole number"));
  EXPECT_EQ(Kestnet({"tcptest", "--help"}).exitCode, 0);
}

// One DNS object resolves two hundred names at once; every event arrives with
// the name's own address.
TEST_F(NetworkObjectsTest, AScriptResolvingTwoHundredNamesHearsTwoHundredEvents) {
  constexpr int kNames = 200;
  std::vector<std::pair<std::string, std::string>> hosts;
  std::vector<std::string> expected;
  for (int i = 0; i < kNames; ++i) {
    std::string address = "127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
    std::string name = "host" + std::to_string(i) + ".kestnet.test";
    hosts.emplace_back(address, name);
    expected.push_back(name + " " + address);
  }
  StartDns(hosts);
  ProcessResult run = RunScript(R"JS(
    var dns = WScript.CreateObject("KestNet.KestNetDNS", "Dns_");
    dns.SetDNSServers("127.0.0.53");
    var heard = 0;
    function Dns_OnResolveNameComplete(result, name, addresses) {
      ++heard;
      WScript.Echo(name + " " + (result == 0 ? addresses.join(",") : "failed " + result));
    }
    for (var i = 0; i < 200; ++i) dns.ResolveName("host" + i + ".kestnet.test");
    for (var waited = 0; heard < 200 && waited < 30000; waited += 10) WScript.Sleep(10);
    WScript.Sleep(200);  // anything beyond two hundred would show up now
    WScript.Quit(heard);
  )JS");
  EXPECT_EQ(run.exitCode, kNames) << run.err;
  EXPECT_THAT(Lines(run.out), UnorderedElementsAreArray(expected));
}

// Fifty echo requests to fifty loopback addresses run at once; each reports
// exactly once.
TEST_F(NetworkObjectsTest, AScriptPingingFiftyTargetsAtOnceHearsFiftyEvents) {
  ProcessResult run = RunScript(R"JS(
    var ping = WScript.CreateObject("KestNet.KestNetPing", "Ping_");
    var heard = 0;
    function Ping_OnPingComplete(status, host, address, responseAddress, milliseconds) {
      ++heard;
      WScript.Echo(host + " " + status + " " + responseAddress);
    }
    for (var i = 1; i <= 50; ++i) ping.Ping("127.0.0." + i, 64, 32, 3000);
    for (var waited = 0; heard < 50 && waited < 30000; waited += 10) WScript.Sleep(10);
    WScript.Sleep(200);
    WScript.Quit(heard);
  )JS");
  EXPECT_EQ(run.exitCode, 50) << run.err;
  std::vector<std::string> expected;
  for (int i = 1; i <= 50; ++i) {
    std::string address = "127.0.0." + std::to_string(i);
    expected.push_back(address + " 0 " + address);
  }
  EXPECT_THAT(Lines(run.out), UnorderedElementsAreArray(expected));
}

TEST_F(NetworkObjectsTest, QuickstartExamplePrintsEachEventAsItArrives) {
  StartDns({{"127.0.0.10", "www.kestnet.test"}, {"127.0.0.11", "mail.kestnet.test"},
            {"127.0.0.12", "mail.kestnet.test"}});
  KestNet::testing::LoopbackServer listener;
  ASSERT_NE(listener.Port(), 0u);
  std::string open = "127.0.0.1:" + std::to_string(listener.Port());
  std::string closed = "127.0.0.1:" + std::to_string(KestNet::testing::ClosedLoopbackPort());
  ProcessResult run = Kestnet({"run", std::string(KESTNET_EXAMPLES_DIR) + "/quickstart.js", "--server", "127.0.0.53",
                               "--tcp", open, "--tcp", closed, "www.kestnet.test", "mail.kestnet.test",
                               "missing.kestnet.test"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 7u) << run.out;
  EXPECT_THAT(lines[0], MatchesRegex("OnPingComplete: 127\\.0\\.0\\.1 status 0, reply from 127\\.0\\.0\\.1 in [0-9]+ ms"));
  EXPECT_EQ(lines[1], "BlockingPing: 127.0.0.1 answered");
  std::vector<std::string> connects(lines.begin() + 2, lines.begin() + 4);
  EXPECT_THAT(connects, UnorderedElementsAreArray({"OnConnect: 127.0.0.1 result 0 (connected to 127.0.0.1)",
                                                   "OnConnect: 127.0.0.1 result 1 (not accepted)"}));
  std::vector<std::string> resolves(lines.begin() + 4, lines.end());
  EXPECT_THAT(resolves, ::testing::Contains("OnResolveNameComplete: www.kestnet.test result 0 -> 127.0.0.10"));
  EXPECT_THAT(resolves, ::testing::Contains(MatchesRegex(
                            "OnResolveNameComplete: mail\\.kestnet\\.test result 0 -> 127\\.0\\.0\\.1[12], 127\\.0\\.0\\.1[12]")));
  EXPECT_THAT(resolves, ::testing::Contains(MatchesRegex("OnResolveNameComplete: missing\\.kestnet\\.test result [1-9]")));
}

}  // namespace
}  // namespace kestnet::host::testing
