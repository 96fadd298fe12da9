// The resolver's registry cache on its own: rotation, expiry, lifetimes,
// the clock going back, damaged entries, and two processes sharing it.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns_cache.h"
#include "runtime/mutex.h"
#include "runtime/registry.h"
#include "tests/support/temporary_directory.h"
#include "tests/utils/utils_test_support.h"

namespace KestNet::testing {
namespace {

using KestUtilsLib::Registry;

constexpr DWORD kStart = 1'700'000'000;

DnsRecord ARecord(const std::string& p_name, const std::string& p_address, DWORD p_ttl) {
  DnsRecord record;
  record.name = p_name;
  record.type = kDnsRecordTypeA;
  record.ttl = p_ttl;
  record.address.Set(p_address);
  return record;
}

std::vector<std::string> AddressesOf(const DnsRecordList& p_records) {
  std::vector<std::string> addresses;
  for (const DnsRecord& record : p_records) addresses.push_back(record.address.ToString());
  return addresses;
}

class DnsCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cache.SetPath(DnsCache::MakeCachePath(L"test", true));
    m_cache.SetClock([this] { return m_now.load(); });
  }
  std::wstring EntryPath(const std::wstring& p_name) const { return m_cache.GetPath() + L"\\" + p_name; }
  DWORD ReadDword(const std::wstring& p_key, const std::wstring& p_value) const {
    DWORD dwValue = 0;
    EXPECT_TRUE(Registry::GetDwordKeyVal(HKEY_CURRENT_USER, p_key, p_value, dwValue)) << p_value;
    return dwValue;
  }

  kestnet::testing::TemporaryHome m_home;
  std::atomic<DWORD> m_now{kStart};
  DnsCache m_cache;
};

TEST_F(DnsCacheTest, ThreeAddressesRotateByOneOnEveryHit) {
  m_cache.Store("three.test",
                {ARecord("three.test", "10.0.0.1", 300), ARecord("three.test", "10.0.0.2", 300),
                 ARecord("three.test", "10.0.0.3", 300)},
                false, 0);
  DnsRecordList records;
  ASSERT_TRUE(m_cache.Lookup("three.test", records));
  EXPECT_EQ(AddressesOf(records), (std::vector<std::string>{"10.0.0.2", "10.0.0.3", "10.0.0.1"}));
  for (const DnsRecord& record : records) {
    EXPECT_EQ(record.name, "three.test");
    EXPECT_EQ(record.type, kDnsRecordTypeA);
    EXPECT_EQ(record.ttl, 0u);
  }
  ASSERT_TRUE(m_cache.Lookup("three.test", records));
  EXPECT_EQ(AddressesOf(records), (std::vector<std::string>{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
  ASSERT_TRUE(m_cache.Lookup("three.test", records));
  EXPECT_EQ(AddressesOf(records), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
}

TEST_F(DnsCacheTest, LifetimeIsTheLargestNonZeroTtlAndTheEntryExpiresAfterIt) {
  m_cache.Store("ttl.test",
                {ARecord("ttl.test", "10.0.0.1", 30), ARecord("ttl.test", "10.0.0.2", 0),
                 ARecord("ttl.test", "10.0.0.3", 90)},
                false, 0);
  EXPECT_EQ(ReadDword(EntryPath(L"ttl.test"), L"TTL"), 90u);
  EXPECT_EQ(ReadDword(EntryPath(L"ttl.test"), L"ExpirationDate"), kStart + 90);
  std::vector<std::wstring> stored;
  ASSERT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, EntryPath(L"ttl.test"), L"IPAddresses", stored));
  // Records with TTL 0 are not kept.
  EXPECT_EQ(stored, (std::vector<std::wstring>{L"10.0.0.1", L"10.0.0.3"}));

  DnsRecordList records;
  m_now = kStart + 90;
  EXPECT_TRUE(m_cache.Lookup("ttl.test", records));
  m_now = kStart + 91;
  EXPECT_FALSE(m_cache.Lookup("ttl.test", records));
  EXPECT_TRUE(records.empty());
  // The expired entry is left in place.
  EXPECT_TRUE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"ttl.test")));
}

TEST_F(DnsCacheTest, ZeroTtlAnswersAreOnlyCachedForAGivenCacheTime) {
  KestUtilsTest::LogCapture log("KestNetLib::DNS");
  // RFC 2181 §8: a TTL of 2^31 or more counts as 0.
  for (const DWORD dwTtl : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    m_cache.Store("zero.test", {ARecord("zero.test", "10.0.0.1", dwTtl)}, false, 0);
    DnsRecordList records;
    EXPECT_FALSE(m_cache.Lookup("zero.test", records)) << dwTtl;
    // Nothing to keep makes no entry.
    EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"zero.test"))) << dwTtl;
  }
  m_cache.Store("huge.test", {ARecord("huge.test", "10.0.0.1", 0x80000000u), ARecord("huge.test", "10.0.0.2", 30)},
                false, 0);
  EXPECT_EQ(ReadDword(EntryPath(L"huge.test"), L"TTL"), 30u);
  const auto cachingLines = [&log] {
    std::size_t count = 0;
    for (const std::string& line : log.Take()) count += line.find("Caching response for") != std::string::npos;
    return count;
  };
  EXPECT_EQ(cachingLines(), 1u);  // only the store that kept something says so

  // A given cache time keeps a TTL-0 answer for that time.
  m_cache.Store("zero.test", {ARecord("zero.test", "10.0.0.1", 0)}, true, 60);
  EXPECT_EQ(ReadDword(EntryPath(L"zero.test"), L"TTL"), 60u);
  EXPECT_EQ(ReadDword(EntryPath(L"zero.test"), L"ExpirationDate"), kStart + 60);
  m_now = kStart + 59;
  DnsRecordList records;
  EXPECT_TRUE(m_cache.Lookup("zero.test", records));
  EXPECT_EQ(AddressesOf(records), (std::vector<std::string>{"10.0.0.1"}));
  EXPECT_EQ(cachingLines(), 1u);
}

TEST_F(DnsCacheTest, AClockSetBackClearsTheWholeCache) {
  m_cache.Store("a.test", {ARecord("a.test", "10.0.0.1", 300)}, false, 0);
  m_cache.Store("b.test", {ARecord("b.test", "10.0.0.2", 300)}, false, 0);
  EXPECT_EQ(ReadDword(m_cache.GetPath(), L"LastLocalTime"), kStart);
  m_now = kStart - 1;
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a.test", records));
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"b.test")));
  m_now = kStart;
  EXPECT_FALSE(m_cache.Lookup("b.test", records));
}

TEST_F(DnsCacheTest, AStoreAfterTheClockWentBackStartsAFreshCache) {
  m_cache.Store("a.test", {ARecord("a.test", "10.0.0.1", 300)}, false, 0);
  m_now = kStart - 100;
  m_cache.Store("b.test", {ARecord("b.test", "10.0.0.2", 300)}, false, 0);
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a.test", records));
  EXPECT_TRUE(m_cache.Lookup("b.test", records));
  EXPECT_EQ(ReadDword(m_cache.GetPath(), L"LastLocalTime"), kStart - 100);
}

TEST_F(DnsCacheTest, DamagedEntriesAreMissesAndADamagedTimeStampEmptiesTheCache) {
  m_cache.Store("a.test", {ARecord("a.test", "10.0.0.1", 300)}, false, 0);
  Registry::SetStringKeyVal(HKEY_CURRENT_USER, EntryPath(L"a.test"), L"ExpirationDate", L"soon");
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a.test", records));

  m_cache.Store("b.test", {ARecord("b.test", "10.0.0.2", 300)}, false, 0);
  Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, EntryPath(L"b.test"), L"IPAddresses", {});
  EXPECT_FALSE(m_cache.Lookup("b.test", records));

  m_cache.Store("c.test", {ARecord("c.test", "10.0.0.3", 300)}, false, 0);
  Registry::SetStringKeyVal(HKEY_CURRENT_USER, m_cache.GetPath(), L"LastLocalTime", L"yesterday");
  // Nothing can be trusted once the time stamp is unreadable; the cache then
  // works again instead of failing every resolution.
  EXPECT_FALSE(m_cache.Lookup("c.test", records));
  m_cache.Store("c.test", {ARecord("c.test", "10.0.0.3", 300)}, false, 0);
  EXPECT_TRUE(m_cache.Lookup("c.test", records));
}

TEST_F(DnsCacheTest, NamesThatWouldEscapeTheirEntryAreNeverCached) {
  m_cache.Store("a\\b.test", {ARecord("a\\b.test", "10.0.0.1", 300)}, false, 0);
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a\\b.test", records));
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"a")));
  // A name too long for a registry key path is simply not cached.
  const std::string longName = std::string(63, 'x') + "." + std::string(63, 'y') + "." + std::string(63, 'z') +
                               "." + std::string(61, 'w');
  m_cache.Store(longName, {ARecord(longName, "10.0.0.1", 300)}, false, 0);
  EXPECT_FALSE(m_cache.Lookup(longName, records));
}

TEST_F(DnsCacheTest, ClearRemovesEveryEntryAndLookupRecreatesTheKey) {
  m_cache.Store("a.test", {ARecord("a.test", "10.0.0.1", 300)}, false, 0);
  m_cache.Clear();
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, m_cache.GetPath()));
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a.test", records));
  EXPECT_TRUE(Registry::DoesKeyExist(HKEY_CURRENT_USER, m_cache.GetPath()));
}

// Each lookup reads, rotates and writes back the list; without the shared
// lock two processes would lose rotations and the final order would be off.
TEST_F(DnsCacheTest, TwoProcessesRotateTheSameEntryWithoutLosingAStep) {
  constexpr int kLookupsPerProcess = 100;
  m_cache.SetClock(nullptr);
  m_cache.Store("shared.test",
                {ARecord("shared.test", "10.0.0.1", 3600), ARecord("shared.test", "10.0.0.2", 3600),
                 ARecord("shared.test", "10.0.0.3", 3600)},
                false, 0);
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      DnsCache cache;
      cache.SetPath(DnsCache::MakeCachePath(L"test", true));
      for (int i = 0; i < kLookupsPerProcess; ++i) {
        DnsRecordList records;
        if (!cache.Lookup("shared.test", records) || records.size() != 3) ::_exit(1);
        // A second name written meanwhile exercises the store under the lock.
        cache.Store("child" + std::to_string(child) + ".test",
                    {ARecord("x", "10.1.0." + std::to_string(i % 250 + 1), 3600)}, false, 0);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::vector<std::wstring> stored;
  ASSERT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, EntryPath(L"shared.test"), L"IPAddresses", stored));
  // 200 rotations of three addresses: 200 mod 3 = 2 steps from the start.
  EXPECT_EQ(stored, (std::vector<std::wstring>{L"10.0.0.3", L"10.0.0.1", L"10.0.0.2"}));
  std::vector<std::wstring> last;
  ASSERT_TRUE(Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, EntryPath(L"child1.test"), L"IPAddresses", last));
  EXPECT_EQ(last, (std::vector<std::wstring>{L"10.1.0.100"}));
}

// A process that hangs holding the cache's mutex costs the others their
// cache, not their resolutions: the wait is bounded and the access goes on
// without the cache.
TEST_F(DnsCacheTest, AMutexHeldForGoodElsewhereLeavesTheCacheOutInsteadOfHanging) {
  m_cache.Store("a.test", {ARecord("a.test", "10.0.0.1", 300)}, false, 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    KestMT::Mutex mutex;
    mutex.Config(DnsCache::kMutexName, nullptr);
    if (!mutex.Acquire(INFINITE)) ::_exit(1);
    const char byte = 1;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  DnsRecordList records;
  EXPECT_FALSE(m_cache.Lookup("a.test", records));
  m_cache.Store("b.test", {ARecord("b.test", "10.0.0.2", 300)}, false, 0);
  ::kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_FALSE(Registry::DoesKeyExist(HKEY_CURRENT_USER, EntryPath(L"b.test")));
  // Once the holder is gone the cache is there again, untouched.
  EXPECT_TRUE(m_cache.Lookup("a.test", records));
}

}  // namespace
}  // namespace KestNet::testing
