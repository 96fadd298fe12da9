// The resolver against a real DNS server: dnsmasq on port 53 of a private
// network namespace. Covers the query path, the cache in front of it (its
// expiry, clock and TTL rules have tests of their own), and the asynchronous
// calls with their abort.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "runtime/registry.h"
#include "tests/net/dns/dns_thread_test_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/private_network_test.h"

namespace KestNet::testing {
namespace {

using kestnet::testing::DnsmasqOptions;
using kestnet::testing::DnsmasqServer;
using KestUtilsLib::Registry;

constexpr const char* kDnsmasqAddress = "127.0.0.53";
constexpr const char* kSilentAddress = "127.0.0.2";
constexpr DWORD kStart = 1'700'000'000;

std::size_t CountOccurrences(const std::string& p_text, const std::string& p_what) {
  std::size_t count = 0;
  for (std::size_t at = p_text.find(p_what); at != std::string::npos; at = p_text.find(p_what, at + 1)) ++count;
  return count;
}

class DnsResolverDnsmasqTest : public kestnet::testing::PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    if (DnsmasqServer::FindBinary().empty()) {
      GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    }
    ASSERT_TRUE(InitializeSockets());
    m_bSocketsInitialized = true;
    m_dns = std::make_unique<Dns>();
    m_dns->SetCacheClock([this] { return m_now.load(); });
    m_dns->SetListener(&m_listener);
  }

  void TearDown() override {
    m_dns.reset();
    if (m_bSocketsInitialized) {
      UninitializeSockets();
      EXPECT_TRUE(SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    m_server.Stop();
    PrivateNetworkTest::TearDown();
  }

  void StartServer(unsigned p_ttl) {
    DnsmasqOptions options;
    options.listenAddress = kDnsmasqAddress;
    options.localTtl = p_ttl;
    options.logQueries = true;
    options.hosts = {{"10.1.2.3", "alpha.test"}, {"10.1.2.4", "alpha.test"}, {"10.1.2.5", "alpha.test"},
                     {"127.0.0.1", "loop.test"}};
    std::string error;
    ASSERT_TRUE(m_server.Start(options, error)) << error;
  }

  std::size_t QueriesSeenFor(const std::string& p_name) const {
    return CountOccurrences(m_server.ReadLog(), "query[A] " + p_name + " ");
  }

  std::wstring EntryPath(const std::wstring& p_name) { return m_dns->GetCachePath() + L"\\" + p_name; }

  // The asynchronous store follows the listener's call on the query thread.
  bool WaitForCacheEntry(const std::wstring& p_name) {
    for (int i = 0; i < 500; ++i) {
      if (Registry::DoesValNameExist(HKEY_CURRENT_USER, EntryPath(p_name), L"TTL")) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  static std::vector<std::wstring> Sorted(std::vector<std::wstring> p_values) {
    std::sort(p_values.begin(), p_values.end());
    return p_values;
  }

  DnsmasqServer m_server;
  RecordingListener m_listener;
  std::atomic<DWORD> m_now{kStart};
  std::unique_ptr<Dns> m_dns;
  bool m_bSocketsInitialized = false;
};

TEST_F(DnsResolverDnsmasqTest, SynchronousResolutionAnswersFromTheServerThenFromTheRotatingCache) {
  StartServer(120);
  m_dns->SetDnsServers({kDnsmasqAddress});
  std::vector<std::wstring> first;
  ASSERT_EQ(m_dns->ResolveName(L"Alpha.Test", 5000, first, 0, 0), DNS_SUCCESS);
  EXPECT_EQ(Sorted(first), (std::vector<std::wstring>{L"10.1.2.3", L"10.1.2.4", L"10.1.2.5"}));
  // A set listener hears of synchronous queries too.
  EXPECT_EQ(m_listener.Calls().size(), 1u);
  DWORD dwTtl = 0;
  EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, EntryPath(L"alpha.test"), L"TTL", dwTtl));
  EXPECT_EQ(dwTtl, 120u);

  std::vector<std::wstring> second;
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, second, 0, 0), DNS_SUCCESS);
  std::vector<std::wstring> rotated = first;
  std::rotate(rotated.begin(), rotated.begin() + 1, rotated.end());
  EXPECT_EQ(second, rotated);
  EXPECT_EQ(QueriesSeenFor("alpha.test"), 1u);
  // Answers from the cache do not reach the listener.
  EXPECT_EQ(m_listener.Calls().size(), 1u);
}

TEST_F(DnsResolverDnsmasqTest, FlagsDecideWhetherTheCacheIsReadAndWritten) {
  StartServer(120);
  m_dns->SetDnsServers({kDnsmasqAddress});
  std::vector<std::wstring> addresses;
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, addresses, DNS_RESOLVE_NAME_DONT_CACHE, 0), DNS_SUCCESS);
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"alpha.test")));
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, addresses, 0, 0), DNS_SUCCESS);
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, addresses, DNS_RESOLVE_NAME_ALWAYS_QUERY, 0), DNS_SUCCESS);
  EXPECT_EQ(QueriesSeenFor("alpha.test"), 3u);
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, addresses, 0, 0), DNS_SUCCESS);
  EXPECT_EQ(QueriesSeenFor("alpha.test"), 3u);
}

TEST_F(DnsResolverDnsmasqTest, AGivenCacheTimeOfSixtyStoresTtlSixtyAndExpiryNowPlusSixty) {
  StartServer(120);
  m_dns->SetDnsServers({kDnsmasqAddress});
  std::vector<std::wstring> addresses;
  ASSERT_EQ(m_dns->ResolveName(L"alpha.test", 5000, addresses, DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, 60),
            DNS_SUCCESS);
  DWORD dwTtl = 0;
  DWORD dwExpiry = 0;
  EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, EntryPath(L"alpha.test"), L"TTL", dwTtl));
  EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, EntryPath(L"alpha.test"), L"ExpirationDate", dwExpiry));
  EXPECT_EQ(dwTtl, 60u);
  EXPECT_EQ(dwExpiry, kStart + 60);
}

TEST_F(DnsResolverDnsmasqTest, AsynchronousResolutionReportsOnceAndFillsTheCache) {
  StartServer(120);
  m_dns->SetDnsServers({kDnsmasqAddress});
  m_dns->ResolveNameAsync(L"ALPHA.test", 5000, DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, 30);
  ASSERT_TRUE(m_listener.WaitForCalls(1, 10s));
  ASSERT_TRUE(WaitForCacheEntry(L"alpha.test"));
  auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 1u);
  // The query runs for the lower-cased name and reports under it.
  EXPECT_EQ(calls[0].name, L"alpha.test");
  EXPECT_EQ(calls[0].result, DNS_SUCCESS);
  EXPECT_EQ(calls[0].records.size(), 3u);
  DWORD dwTtl = 0;
  EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, EntryPath(L"alpha.test"), L"TTL", dwTtl));
  EXPECT_EQ(dwTtl, 30u);

  // The next asynchronous call is answered from the cache before it returns.
  m_dns->ResolveNameAsync(L"alpha.test", 5000, 0, 0);
  calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].result, DNS_SUCCESS);
  EXPECT_EQ(calls[1].records.size(), 3u);
  EXPECT_EQ(QueriesSeenFor("alpha.test"), 1u);
}

TEST_F(DnsResolverDnsmasqTest, ACaseVariantOfARunningNameIsIgnoredAndTheAbortReportsOnce) {
  m_dns->SetDnsServers({kSilentAddress});
  m_dns->ResolveNameAsync(L"slow.test", 30000, 0, 0);
  m_dns->ResolveNameAsync(L"SLOW.Test", 30000, 0, 0);
  EXPECT_TRUE(m_listener.Calls().empty());
  m_dns->AbortResolveNameAsync(L"Slow.TEST");
  ASSERT_TRUE(m_listener.WaitForCalls(1, 10s));
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].result, DNS_ERROR_ABORT);
  EXPECT_TRUE(calls[0].records.empty());
  // The name may run again at once.
  m_dns->ResolveNameAsync(L"slow.test", 30000, 0, 0);
  m_dns.reset();  // destroying the resolver aborts the second run
  EXPECT_EQ(m_listener.Calls().size(), 2u);
  EXPECT_EQ(m_listener.Calls()[1].result, DNS_ERROR_ABORT);
}

TEST_F(DnsResolverDnsmasqTest, ASilentServerTimesOutWithoutCaching) {
  m_dns->SetDnsServers({kSilentAddress});
  std::vector<std::wstring> addresses{L"stale"};
  EXPECT_EQ(m_dns->ResolveName(L"quiet.test", 500, addresses, 0, 0), DNS_ERROR_TIMEOUT);
  EXPECT_TRUE(addresses.empty());
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"quiet.test")));
}

TEST_F(DnsResolverDnsmasqTest, AnAbortEventEndsASynchronousResolution) {
  m_dns->SetDnsServers({kSilentAddress});
  KestMT::Event abortEvent;
  std::thread aborter([&] {
    std::this_thread::sleep_for(100ms);
    abortEvent.Set();
  });
  std::vector<std::wstring> addresses;
  EXPECT_THROW(m_dns->ResolveName(L"quiet.test", 30000, addresses, 0, 0, &abortEvent),
               KestMT::ThreadAbortException);
  aborter.join();
  // The query was aborted on the way out and reported that once.
  ASSERT_TRUE(m_listener.WaitForCalls(1, 5s));
  EXPECT_EQ(m_listener.Calls().size(), 1u);
  EXPECT_EQ(m_listener.Calls()[0].result, DNS_ERROR_ABORT);
}

// An answer reported on the socket event thread while the query is aborted
// (and reaped) from the caller's thread: the report runs to its end on a
// live object, and every name reports exactly once. The race is hit many
// times over a few thousand names; the sanitizer build sees any use of a
// reaped query.
TEST_F(DnsResolverDnsmasqTest, AbortRacingAnAnswerReportsOnceAndNeverReapsAQueryInItsReport) {
  constexpr int kNames = 3000;
  DnsmasqOptions options;
  options.listenAddress = kDnsmasqAddress;
  options.extraArguments = {"--address=/race.test/10.9.9.9"};
  std::string error;
  ASSERT_TRUE(m_server.Start(options, error)) << error;
  m_dns->SetDnsServers({kDnsmasqAddress});
  constexpr WORD kAlwaysQueryDontCache = DNS_RESOLVE_NAME_ALWAYS_QUERY | DNS_RESOLVE_NAME_DONT_CACHE;
  for (int i = 0; i < kNames; ++i) {
    const std::wstring name = L"n" + std::to_wstring(i) + L".race.test";
    m_dns->ResolveNameAsync(name, 5000, kAlwaysQueryDontCache, 0);
    // Sweeps the abort across the moment the answer is being reported, as
    // the pace of a script does.
    // (A sleep, not a spin: the answer must get the processor meanwhile.)
    std::this_thread::sleep_for(std::chrono::microseconds(i % 64 * 16));
    m_dns->AbortResolveNameAsync(name);
  }
  ASSERT_TRUE(m_listener.WaitForCalls(kNames, 30s));
  m_dns.reset();
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), static_cast<std::size_t>(kNames));
  for (const auto& call : calls) {
    ASSERT_TRUE(call.result == DNS_SUCCESS || call.result == DNS_ERROR_ABORT) << call.result;
    ASSERT_EQ(call.records.size(), call.result == DNS_SUCCESS ? 1u : 0u);
  }
}

// A thousand queries at once: each opens, uses and closes its own UDP socket on the
// shared event threads, and sockets are placed while others' notifications
// release them. Every name reports once, with its own address.
TEST_F(DnsResolverDnsmasqTest, AThousandConcurrentNamesEachReportOnceWithTheirAddress) {
  constexpr int kNames = 1000;
  DnsmasqOptions options;
  options.listenAddress = kDnsmasqAddress;
  options.localTtl = 120;
  for (int i = 0; i < kNames; ++i) {
    options.hosts.push_back({"10.7." + std::to_string(i / 100) + "." + std::to_string(i % 100),
                             "n" + std::to_string(i) + ".test"});
  }
  std::string error;
  ASSERT_TRUE(m_server.Start(options, error)) << error;
  m_dns->SetDnsServers({kDnsmasqAddress});

  for (int i = 0; i < kNames; ++i) {
    m_dns->ResolveNameAsync(L"n" + std::to_wstring(i) + L".test", 10000, DNS_RESOLVE_NAME_DONT_CACHE, 0);
  }
  ASSERT_TRUE(m_listener.WaitForCalls(kNames, 60s));
  std::this_thread::sleep_for(100ms);  // nothing more may arrive
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), static_cast<std::size_t>(kNames));
  std::vector<int> reports(kNames, 0);
  for (const auto& call : calls) {
    ASSERT_EQ(call.result, DNS_SUCCESS) << std::string(call.name.begin(), call.name.end());
    ASSERT_EQ(call.records.size(), 1u);
    const int index = std::stoi(std::wstring(call.name.begin() + 1, call.name.end() - 5));
    ++reports[index];
    EXPECT_EQ(call.records[0].address.ToString(),
              "10.7." + std::to_string(index / 100) + "." + std::to_string(index % 100));
  }
  EXPECT_EQ(std::count(reports.begin(), reports.end(), 1), kNames);
}

}  // namespace
}  // namespace KestNet::testing
