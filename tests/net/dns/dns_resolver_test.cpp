// The resolver's argument checks, server list, listener and cache name:
// everything decided before a query goes out, so no network is needed.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns.h"
#include "platform/os/version.h"
#include "runtime/exceptions.h"
#include "runtime/registry.h"
#include "tests/net/dns/dns_thread_test_support.h"
#include "tests/support/temporary_directory.h"

namespace KestNet::testing {
namespace {

using KestBase::InvalidParameterException;

class DnsResolverTest : public ::testing::Test {
 protected:
  kestnet::testing::TemporaryHome m_home;
  RecordingListener m_listener;
  Dns m_dns;
};

// With no servers every accepted call ends in DNS_ERROR_NO_SERVERS, so a
// result of 5 proves the checks let the arguments through.
TEST_F(DnsResolverTest, TimeoutsFrom500To30000AreAcceptedAndOthersRefused) {
  std::vector<std::wstring> addresses;
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 499, addresses, 0, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 30001, addresses, 0, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 0, addresses, 0, 0), InvalidParameterException);
  EXPECT_EQ(m_dns.ResolveName(L"host.test", 500, addresses, 0, 0), DNS_ERROR_NO_SERVERS);
  EXPECT_EQ(m_dns.ResolveName(L"host.test", 30000, addresses, 0, 0), DNS_ERROR_NO_SERVERS);

  m_dns.SetListener(&m_listener);
  EXPECT_THROW(m_dns.ResolveNameAsync(L"host.test", 499, 0, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveNameAsync(L"host.test", 30001, 0, 0), InvalidParameterException);
  m_dns.ResolveNameAsync(L"host.test", 500, 0, 0);
  m_dns.ResolveNameAsync(L"host.test", 30000, 0, 0);
  EXPECT_EQ(m_listener.Calls().size(), 2u);
}

TEST_F(DnsResolverTest, FlagCombinationsThatContradictOrAreUnknownAreRefused) {
  std::vector<std::wstring> addresses;
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 5000, addresses, 8, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 5000, addresses, 0x8001, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 5000, addresses,
                                 DNS_RESOLVE_NAME_DONT_CACHE | DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, 60),
               InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"host.test", 5000, addresses, DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, 0),
               InvalidParameterException);
  for (WORD flags : {0, 1, 2, 3, 4, 5}) {
    EXPECT_EQ(m_dns.ResolveName(L"host.test", 5000, addresses, flags, 60), DNS_ERROR_NO_SERVERS) << flags;
  }
}

TEST_F(DnsResolverTest, ChecksRunInOrderSoAnEmptyNameIsReportedBeforeBadFlags) {
  std::vector<std::wstring> addresses;
  // Both the name and the flags are wrong; the name is checked first. The
  // asynchronous call without a listener fails on the name, then on the listener.
  EXPECT_THROW(m_dns.ResolveName(L"", 5000, addresses, 8, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveNameAsync(L"", 5000, 0, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveNameAsync(L"host.test", 5000, 0, 0), InvalidParameterException);
  EXPECT_TRUE(m_listener.Calls().empty());
}

TEST_F(DnsResolverTest, NamesThatCannotBeQueriedAreRefusedAtTheCall) {
  std::vector<std::wstring> addresses;
  m_dns.SetDnsServers({"127.0.0.2"});
  EXPECT_THROW(m_dns.ResolveName(std::wstring(64, L'a') + L".test", 5000, addresses, 0, 0),
               InvalidParameterException);
  std::wstring longName;
  for (int i = 0; i < 26; ++i) longName += L"abcdefghi.";
  longName += L"test";  // 264 bytes
  EXPECT_THROW(m_dns.ResolveName(longName, 5000, addresses, 0, 0), InvalidParameterException);
  EXPECT_THROW(m_dns.ResolveName(L"a..test", 5000, addresses, 0, 0), InvalidParameterException);
  // A NUL would be sent whole but cut the cache's key at it; control
  // characters are no text of a name either.
  for (const std::wstring& name : {std::wstring(L"victim.example\0.poison.test", 27), std::wstring(L"a\tb.test"),
                                   std::wstring(L"a\x7F.test")}) {
    EXPECT_THROW(m_dns.ResolveName(name, 5000, addresses, 0, 0), InvalidParameterException);
    m_dns.SetListener(&m_listener);
    EXPECT_THROW(m_dns.ResolveNameAsync(name, 5000, 0, 0), InvalidParameterException);
  }
  EXPECT_TRUE(m_listener.Calls().empty());
}

// Nothing registered the companion in this fresh home, so there are no servers.
TEST_F(DnsResolverTest, NoServersGivesFiveSynchronouslyAndOneCallbackWithFive) {
  EXPECT_TRUE(m_dns.GetDnsServers().empty());
  std::vector<std::wstring> addresses{L"stale"};
  EXPECT_EQ(m_dns.ResolveName(L"host.test", 5000, addresses, 0, 0), DNS_ERROR_NO_SERVERS);
  EXPECT_TRUE(addresses.empty());

  m_dns.SetListener(&m_listener);
  m_dns.ResolveNameAsync(L"Host.Test", 5000, 0, 0);
  // Delivered before the call returned.
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, L"Host.Test");
  EXPECT_EQ(calls[0].result, DNS_ERROR_NO_SERVERS);
  EXPECT_TRUE(calls[0].records.empty());
}

TEST_F(DnsResolverTest, OneBadServerLeavesThePreviousListInForce) {
  m_dns.SetDnsServers({"10.0.0.1", "10.0.0.2"});
  EXPECT_THROW(m_dns.SetDnsServers({"10.0.0.3", "not-an-address"}), InvalidParameterException);
  EXPECT_THROW(m_dns.SetDnsServers({"10.0.0.3", "0.0.0.0"}), InvalidParameterException);
  EXPECT_THROW(m_dns.SetDnsServers({"10.0.0.256"}), InvalidParameterException);
  EXPECT_EQ(m_dns.GetDnsServers(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));

  m_dns.SetDnsServers({"10.0.0.3"});
  EXPECT_EQ(m_dns.GetDnsServers(), (std::vector<std::string>{"10.0.0.3"}));
  m_dns.SetDnsServers({});
  EXPECT_TRUE(m_dns.GetDnsServers().empty());
}

TEST_F(DnsResolverTest, NullListenerIsRefused) {
  EXPECT_THROW(m_dns.SetListener(nullptr), InvalidParameterException);
}

TEST_F(DnsResolverTest, CacheNameMovesTheCacheAndABackslashIsRefused) {
  EXPECT_EQ(m_dns.GetCacheName(), L"");
  EXPECT_EQ(m_dns.GetCachePath(), L"SOFTWARE\\Tolvar\\Kest\\Config\\KestNet\\DNSCache");
  m_dns.SetCacheName(L"abc");
  EXPECT_EQ(m_dns.GetCacheName(), L"abc");
  EXPECT_EQ(m_dns.GetCachePath(), L"SOFTWARE\\Tolvar\\Kest\\Config\\abc\\KestNet\\DNSCache");
  EXPECT_THROW(m_dns.SetCacheName(L"a\\b"), InvalidParameterException);
  EXPECT_EQ(m_dns.GetCacheName(), L"abc");
  EXPECT_EQ(m_dns.GetCachePath(), L"SOFTWARE\\Tolvar\\Kest\\Config\\abc\\KestNet\\DNSCache");
  m_dns.SetCacheName(L"");
  EXPECT_EQ(m_dns.GetCachePath(), L"SOFTWARE\\Tolvar\\Kest\\Config\\KestNet\\DNSCache");
  EXPECT_EQ(DnsCache::MakeCachePath(L"", false), L"SOFTWARE\\Tolvar\\Pelwick\\Config\\KestNet\\DNSCache");

  // Before Vista (XP, Server 2003) the cache lives under the older base.
  for (const DWORD dwMinor : {1u, 2u}) {
    kestnet::platform::VersionProfile profile;
    profile.MajorVersion = 5;
    profile.MinorVersion = dwMinor;
    ASSERT_EQ(kestnet::platform::WriteVersionProfile(profile), 0u);
    Dns older;
    older.SetCacheName(L"abc");
    EXPECT_EQ(older.GetCachePath(), L"SOFTWARE\\Tolvar\\Pelwick\\Config\\abc\\KestNet\\DNSCache") << dwMinor;
  }
}

TEST_F(DnsResolverTest, AbortOfANameNotRunningIsHarmlessAndAnEmptyNameIsRefused) {
  m_dns.AbortResolveNameAsync(L"nothing.test");
  EXPECT_THROW(m_dns.AbortResolveNameAsync(L""), InvalidParameterException);
}

TEST_F(DnsResolverTest, LowerCasingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCaseDnsName(L"MiXeD-1.Example.TEST"), "mixed-1.example.test");
}

}  // namespace
}  // namespace KestNet::testing
