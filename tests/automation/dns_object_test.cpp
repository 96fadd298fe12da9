// KestNetDNS through IDispatch, as a script uses it, against dnsmasq in a
// private network namespace: the time-out and server-list rules, the
// OnResolveNameComplete event and its array of addresses (also when empty),
// abort and the cache flags. Many names through one object, and the servers
// the companion supplies, run end to end in the host tests.
#include <gtest/gtest.h>

#include <set>

#include "automation/dns_object.h"
#include "platform/com/safearray.h"
#include "platform/registry/registry.h"
#include "runtime/exceptions.h"
#include "tests/automation/net_object_support.h"

namespace kestnet::companions::testing {
// The companion module registers itself through the host's registrar; this
// reference keeps that part of the runtime in the test binary.
HRESULT (kestnet::platform::Registrar::*g_hostRegistrar)(LPCOLESTR) = &kestnet::platform::Registrar::StringRegister;
}  // namespace kestnet::companions::testing

namespace net_object_test {
namespace {

using KestAXLib::CDNS;
using trust_test::CallByName;
using trust_test::Long;
using trust_test::Text;

constexpr DISPID kDispOnResolveNameComplete = 1;

// OnResolveNameComplete as a script receives it, with its argument types checked.
struct Resolution {
  INT result = -1;
  std::wstring name;
  std::vector<std::wstring> addresses;
  bool operator==(const Resolution&) const = default;
};

void PrintTo(const Resolution& resolution, std::ostream* out) {
  *out << "result " << resolution.result << " for " << ::testing::PrintToString(resolution.name) << ": "
       << ::testing::PrintToString(resolution.addresses);
}

constexpr INT kResolved = static_cast<INT>(KestNet::DNS_SUCCESS);

Resolution ReadResolution(const FiredEvent& event) {
  Resolution resolution;
  EXPECT_EQ(event.dispid, kDispOnResolveNameComplete);
  if (event.arguments.size() != 3) {
    ADD_FAILURE() << event.arguments.size() << " arguments";
    return resolution;
  }
  EXPECT_EQ(event.arguments[0].vt, VT_INT);
  resolution.result = event.arguments[0].intVal;
  EXPECT_EQ(event.arguments[1].vt, VT_BSTR);
  resolution.name = TextOf(event.arguments[1]);
  resolution.addresses = TextsOfArray(event.arguments[2]);
  return resolution;
}

// The resolver writes a name to its registry cache just after it has
// reported the name; waits (up to five seconds) until the entry of name in
// the cache named vendor is complete (its expiry is written last).
bool WaitForCacheEntry(const std::wstring& vendor, const std::wstring& name) {
  const std::wstring cache = (vendor.empty() ? L"" : vendor + L"\\") + L"KestNet\\DNSCache\\" + name;
  const std::wstring keys[] = {L"SOFTWARE\\Tolvar\\Kest\\Config\\" + cache,
                               L"SOFTWARE\\Tolvar\\Pelwick\\Config\\" + cache};
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const std::wstring& key : keys) {
      HKEY opened = nullptr;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) continue;
      DWORD expiry = 0;
      DWORD size = sizeof(expiry);
      const bool complete =
          RegQueryValueExW(opened, L"ExpirationDate", nullptr, nullptr, reinterpret_cast<BYTE*>(&expiry), &size) ==
          ERROR_SUCCESS;
      RegCloseKey(opened);
      if (complete) return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

class DnsObjectTest : public NetObjectWithServersTest {
 protected:
  // A server on address that takes every query and never answers.
  void StartSilentServer(const std::string& address) {
    std::string error;
    ASSERT_TRUE(m_silentServer.Start(address, 53, error)) << error;
  }

  ATL::CComPtr<IDispatch> MakeDns() { return Make<CDNS>(); }
  // The object with sink advised on its events.
  ATL::CComPtr<IDispatch> MakeDns(ATL::CComPtr<RecordingSink>& sink) {
    return MakeConnected<CDNS>(sink, IID_IKestNetDNSEvents);
  }

  static HRESULT SetServers(IDispatch* dns, const wchar_t* servers) {
    return CallByName(dns, L"SetDNSServers", DISPATCH_METHOD, {Text(servers)});
  }
  static HRESULT Resolve(IDispatch* dns, const wchar_t* name) {
    return CallByName(dns, L"ResolveName", DISPATCH_METHOD, {Text(name)});
  }
  static HRESULT PutTimeout(IDispatch* dns, LONG timeout) {
    return CallByName(dns, L"Timeout", DISPATCH_PROPERTYPUT, {Long(timeout)});
  }

  // Pumps until sink has count events; then the one resolution when count is 1.
  static std::vector<Resolution> AwaitResolutions(RecordingSink* sink, size_t count) {
    return AwaitEvents(sink, count, ReadResolution);
  }
};

// --- Properties and arguments ------------------------------------------------

TEST_F(DnsObjectTest, TimeoutTakesFiveHundredToThirtyThousandAndKeepsItsValueOtherwise) {
  ATL::CComPtr<IDispatch> dns = MakeDns();
  EXPECT_EQ(trust_test::GetLong(dns, L"Timeout"), 7000);
  for (LONG refused : {499L, 30001L, 0L, -1L}) {
    EXPECT_EQ(FailureOf(dns, L"Timeout", DISPATCH_PROPERTYPUT, {Long(refused)}), L"INVALID_ARG_ERROR") << refused;
    EXPECT_EQ(trust_test::GetLong(dns, L"Timeout"), 7000) << refused;
  }
  for (LONG accepted : {500L, 30000L}) {
    EXPECT_EQ(PutTimeout(dns, accepted), S_OK);
    EXPECT_EQ(trust_test::GetLong(dns, L"Timeout"), accepted);
  }
}

TEST_F(DnsObjectTest, ConstantsReadThroughTheirDispids) {
  ExpectConstants(MakeDns(), VT_I4, {{8, 0}, {9, 1}, {10, 2}, {11, 3}, {12, 4}, {13, 5}, {14, 1}, {15, 2}, {16, 4}});
}

TEST_F(DnsObjectTest, NullOutputPointersFailWithTheNullPointerError) {
  CDNS* object = nullptr;
  ATL::CComPtr<IDispatch> dns = Make<CDNS>(&object);
  ASSERT_NE(object, nullptr);
  auto* direct = static_cast<IKestNetDNS*>(object);
  EXPECT_EQ(direct->get_Timeout(nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(direct->get_VendorID(nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(direct->get_DNS_ERROR_NO_SERVERS(nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
  // A refused argument is the same E_FAIL with its own name, not E_INVALIDARG.
  EXPECT_EQ(direct->put_Timeout(1), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"INVALID_ARG_ERROR");
}

TEST_F(DnsObjectTest, DelimitersThatCouldCutAnAddressAreRefused) {
  ATL::CComPtr<IDispatch> dns = MakeDns();
  for (const wchar_t* delimiter : {L".", L"5", L"", L";0", L" ."}) {
    EXPECT_EQ(FailureOf(dns, L"SetDNSServers", DISPATCH_METHOD, {Text(L"127.0.0.53"), Text(delimiter)}),
              L"INVALID_ARG_ERROR")
        << "delimiter \"" << std::string(delimiter, delimiter + std::wcslen(delimiter)) << "\"";
  }
}

TEST_F(DnsObjectTest, ServerTextOfDelimitersOnlyIsRefused) {
  ATL::CComPtr<IDispatch> dns = MakeDns();
  for (const wchar_t* servers : {L"", L",", L",,,", L" , , "}) {
    EXPECT_EQ(FailureOf(dns, L"SetDNSServers", DISPATCH_METHOD, {Text(servers)}), L"INVALID_ARG_ERROR");
  }
}

TEST_F(DnsObjectTest, ServerTextSplitsAtEveryDelimiterCharacterAndTrimsSpaces) {
  using KestAXLib::SplitDnsServerText;
  EXPECT_EQ(SplitDnsServerText(L"127.0.0.53, 127.0.0.54", L","),
            (std::vector<std::string>{"127.0.0.53", "127.0.0.54"}));
  EXPECT_EQ(SplitDnsServerText(L";;a;b; c ;;", L";"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitDnsServerText(L"a;b|c d", L";| "), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitDnsServerText(L"  one  ", L","), (std::vector<std::string>{"one"}));
  EXPECT_TRUE(SplitDnsServerText(L" ,  , ", L",").empty());
  EXPECT_TRUE(SplitDnsServerText(L"", L",").empty());
}

TEST_F(DnsObjectTest, VendorIdNamesTheCacheAndRefusesABackslash) {
  ATL::CComPtr<IDispatch> dns = MakeDns();
  EXPECT_EQ(trust_test::GetText(dns, L"VendorID"), L"");
  ASSERT_EQ(trust_test::PutText(dns, L"VendorID", L"Acme"), S_OK);
  EXPECT_EQ(trust_test::GetText(dns, L"VendorID"), L"Acme");
  EXPECT_EQ(FailureOf(dns, L"VendorID", DISPATCH_PROPERTYPUT, {Text(L"a\\b")}), L"INVALID_ARG_ERROR");
  EXPECT_EQ(trust_test::GetText(dns, L"VendorID"), L"Acme");
  EXPECT_EQ(CallByName(dns, L"ClearCache", DISPATCH_METHOD, {}), S_OK);
}

TEST_F(DnsObjectTest, ResolveRefusesAnEmptyNameAndBadFlagsWithoutAnEvent) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  EXPECT_EQ(FailureOf(dns, L"ResolveName", DISPATCH_METHOD, {Text(L"")}), L"INVALID_ARG_ERROR");
  EXPECT_EQ(FailureOf(dns, L"ResolveNameAdvanced", DISPATCH_METHOD, {Text(L"a.test"), Long(8), Long(0)}),
            L"INVALID_ARG_ERROR");
  EXPECT_EQ(FailureOf(dns, L"ResolveNameAdvanced", DISPATCH_METHOD,
                      {Text(L"a.test"), Long(KestNet::DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT), Long(0)}),
            L"INVALID_ARG_ERROR");
  EXPECT_EQ(FailureOf(dns, L"Abort", DISPATCH_METHOD, {Text(L"")}), L"INVALID_ARG_ERROR");
  PumpFor(100ms);
  EXPECT_EQ(sink->Count(), 0u);
}

// --- Resolutions ---------------------------------------------------------------

TEST_F(DnsObjectTest, ANameFiresOneEventWithItsAddressesOnTheObjectsThread) {
  StartDnsmasq({{"10.1.0.1", "pair.kestnet.test"}, {"10.1.0.2", "pair.kestnet.test"}});
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  ASSERT_EQ(Resolve(dns, L"pair.kestnet.test"), S_OK);
  std::vector<Resolution> resolutions = AwaitResolutions(sink, 1);
  PumpFor(200ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(resolutions[0].result, kResolved);
  EXPECT_EQ(resolutions[0].name, L"pair.kestnet.test");
  EXPECT_EQ(std::multiset<std::wstring>(resolutions[0].addresses.begin(), resolutions[0].addresses.end()),
            (std::multiset<std::wstring>{L"10.1.0.1", L"10.1.0.2"}));
  EXPECT_EQ(sink->Events()[0].thread, std::this_thread::get_id());
}

TEST_F(DnsObjectTest, AnUnresolvableNameGivesAnEmptyArrayNotEmpty) {
  StartDnsmasq({{"10.1.0.1", "known.kestnet.test"}});
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  ASSERT_EQ(PutTimeout(dns, 500), S_OK);
  ASSERT_EQ(Resolve(dns, L"unknown.kestnet.test"), S_OK);
  std::vector<Resolution> resolutions = AwaitResolutions(sink, 1);
  ASSERT_EQ(resolutions.size(), 1u);
  EXPECT_NE(resolutions[0].result, kResolved);
  EXPECT_EQ(resolutions[0].name, L"unknown.kestnet.test");
  EXPECT_TRUE(resolutions[0].addresses.empty());
}

TEST_F(DnsObjectTest, AnAliasReportsOnlyTheAddressesNotTheCanonicalName) {
  StartDnsmasq({{"10.2.0.7", "target.kestnet.test"}}, 0, {"--cname=alias.kestnet.test,target.kestnet.test"});
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  ASSERT_EQ(Resolve(dns, L"alias.kestnet.test"), S_OK);
  EXPECT_EQ(AwaitResolutions(sink, 1), (std::vector<Resolution>{{kResolved, L"alias.kestnet.test", {L"10.2.0.7"}}}));
}

TEST_F(DnsObjectTest, TwoServersWithTheDefaultDelimiterAreBothAsked) {
  // Only the second server answers; the first takes the query and stays silent.
  StartSilentServer("127.0.0.53");
  StartDnsmasq({{"10.3.0.3", "second.kestnet.test"}}, 0, {}, "127.0.0.54");
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53, 127.0.0.54"), S_OK);
  ASSERT_EQ(Resolve(dns, L"second.kestnet.test"), S_OK);
  EXPECT_EQ(AwaitResolutions(sink, 1), (std::vector<Resolution>{{kResolved, L"second.kestnet.test", {L"10.3.0.3"}}}));
  EXPECT_TRUE(m_silentServer.WaitForDatagrams(1, 2s)) << "the first server was not asked";
}

TEST_F(DnsObjectTest, AnotherDelimiterAndABadEntryKeepThePreviousList) {
  StartDnsmasq({{"10.3.0.4", "kept.kestnet.test"}});
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(CallByName(dns, L"SetDNSServers", DISPATCH_METHOD, {Text(L"127.0.0.9;127.0.0.53"), Text(L";")}), S_OK);
  EXPECT_EQ(FailureOf(dns, L"SetDNSServers", DISPATCH_METHOD, {Text(L"127.0.0.99, bogus")}), L"INVALID_ARG_ERROR");
  ASSERT_EQ(Resolve(dns, L"kept.kestnet.test"), S_OK);
  EXPECT_EQ(AwaitResolutions(sink, 1), (std::vector<Resolution>{{kResolved, L"kept.kestnet.test", {L"10.3.0.4"}}}));
}

TEST_F(DnsObjectTest, AbortEndsAPendingResolutionWithOneAbortEvent) {
  StartSilentServer("127.0.0.53");
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  ASSERT_EQ(PutTimeout(dns, 30000), S_OK);
  ASSERT_EQ(Resolve(dns, L"never.kestnet.test"), S_OK);
  ASSERT_TRUE(m_silentServer.WaitForDatagrams(1, 5s));
  ASSERT_EQ(CallByName(dns, L"Abort", DISPATCH_METHOD, {Text(L"NEVER.kestnet.test")}), S_OK);
  std::vector<Resolution> resolutions = AwaitResolutions(sink, 1);
  PumpFor(200ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(resolutions[0].result, static_cast<INT>(KestNet::DNS_ERROR_ABORT));
  EXPECT_TRUE(resolutions[0].addresses.empty());
  // Nothing runs for the name any more.
  EXPECT_EQ(CallByName(dns, L"Abort", DISPATCH_METHOD, {Text(L"never.kestnet.test")}), S_OK);
  PumpFor(100ms);
  EXPECT_EQ(sink->Count(), 1u);
}

TEST_F(DnsObjectTest, CacheAnswersUntilClearedAndFlagsPassTheirLow16Bits) {
  StartDnsmasq({{"10.5.0.5", "cached.kestnet.test"}}, 600);
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
  ASSERT_EQ(PutTimeout(dns, 500), S_OK);
  ASSERT_EQ(Resolve(dns, L"cached.kestnet.test"), S_OK);
  ASSERT_EQ(AwaitResolutions(sink, 1).size(), 1u);
  ASSERT_TRUE(WaitForCacheEntry(L"", L"cached.kestnet.test"));
  m_server.Stop();

  // From the cache while the server is gone.
  ASSERT_EQ(Resolve(dns, L"cached.kestnet.test"), S_OK);
  std::vector<Resolution> resolutions = AwaitResolutions(sink, 2);
  ASSERT_EQ(resolutions.size(), 2u);
  EXPECT_EQ(resolutions[1].result, kResolved);
  EXPECT_EQ(resolutions[1].addresses, std::vector<std::wstring>{L"10.5.0.5"});

  // Bits above the low 16 are not flags: this is ALWAYS_QUERY, which asks the missing server.
  ASSERT_EQ(CallByName(dns, L"ResolveNameAdvanced", DISPATCH_METHOD,
                       {Text(L"cached.kestnet.test"), Long(0x10000 | KestNet::DNS_RESOLVE_NAME_ALWAYS_QUERY), Long(0)}),
            S_OK);
  resolutions = AwaitResolutions(sink, 3);
  ASSERT_EQ(resolutions.size(), 3u);
  EXPECT_NE(resolutions[2].result, kResolved);
  EXPECT_TRUE(resolutions[2].addresses.empty());

  ASSERT_EQ(CallByName(dns, L"ClearCache", DISPATCH_METHOD, {}), S_OK);
  ASSERT_EQ(Resolve(dns, L"cached.kestnet.test"), S_OK);
  resolutions = AwaitResolutions(sink, 4);
  ASSERT_EQ(resolutions.size(), 4u);
  EXPECT_NE(resolutions[3].result, kResolved);
}

TEST_F(DnsObjectTest, RecordsOfAnotherClassOrEventIdAreDroppedUnfired) {
  CDNS* object = nullptr;
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = Make<CDNS>(&object);
  sink = Connect(dns, IID_IKestNetDNSEvents);
  ASSERT_TRUE(object->PostAsyncEvent(KestAXLib::kResolveNameCompleteEventId, new ForeignRecord()));
  ASSERT_TRUE(object->PostAsyncEvent(7, new KestAXLib::ResolveNameCompleteData(0, L"seven.test", {L"10.0.0.7"})));
  ASSERT_TRUE(object->PostAsyncEvent(KestAXLib::kResolveNameCompleteEventId,
                                     new KestAXLib::ResolveNameCompleteData(0, L"zero.test", {L"10.0.0.1", L"10.0.0.2"})));
  std::vector<Resolution> resolutions = AwaitResolutions(sink, 1);
  PumpFor(100ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(resolutions[0].name, L"zero.test");
  EXPECT_EQ(resolutions[0].addresses, (std::vector<std::wstring>{L"10.0.0.1", L"10.0.0.2"}));
}

TEST_F(DnsObjectTest, ASinkMayReleaseTheLastReferenceFromItsEvent) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> dns = MakeDns(sink);
  ASSERT_EQ(Resolve(dns, L"first.test"), S_OK);
  ASSERT_EQ(Resolve(dns, L"second.test"), S_OK);
  ReleaseOnEvent(sink, dns.Detach());
  // The second event was posted before the object went; it is not fired.
  EXPECT_TRUE(PumpUntil([&] { return sink->Count() >= 1; }));
  PumpFor(200ms);
  EXPECT_EQ(sink->Count(), 1u);
}

TEST_F(DnsObjectTest, EachVendorIdKeepsACacheOfItsOwn) {
  StartDnsmasq({{"10.7.0.7", "vendor.kestnet.test"}}, 600);
  const auto resolveAs = [&](const wchar_t* vendor) {
    ATL::CComPtr<RecordingSink> sink;
    ATL::CComPtr<IDispatch> dns = MakeDns(sink);
    EXPECT_EQ(trust_test::PutText(dns, L"VendorID", vendor), S_OK);
    EXPECT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
    EXPECT_EQ(PutTimeout(dns, 500), S_OK);
    EXPECT_EQ(Resolve(dns, L"vendor.kestnet.test"), S_OK);
    std::vector<Resolution> resolutions = AwaitResolutions(sink, 1);
    return resolutions.empty() ? -1 : resolutions[0].result;
  };
  ASSERT_EQ(resolveAs(L"Acme"), kResolved);
  ASSERT_TRUE(WaitForCacheEntry(L"Acme", L"vendor.kestnet.test"));
  m_server.Stop();
  // With the server gone only a cache can answer: Acme's, not Other's.
  EXPECT_NE(resolveAs(L"Other"), kResolved);
  EXPECT_EQ(resolveAs(L"Acme"), kResolved);
}

// Without servers the event carries DNS_ERROR_NO_SERVERS and an empty array.
TEST_F(DnsObjectTest, AnAggregatedObjectWithoutServersFiresNoServersAndGoesWithItsOuterObject) {
  Outer* outer = new Outer();
  ASSERT_EQ(CDNS::_CreatorClass::CreateInstance(outer, IID_IUnknown, outer->InnerSlot()), S_OK);
  ATL::CComPtr<RecordingSink> sink;
  {
    ATL::CComPtr<IDispatch> dns;
    ASSERT_EQ(outer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dns)), S_OK);
    sink = Connect(dns, IID_IKestNetDNSEvents);
    ASSERT_EQ(Resolve(dns, L"nowhere.test"), S_OK);
    EXPECT_EQ(AwaitResolutions(sink, 1),
              (std::vector<Resolution>{{static_cast<INT>(KestNet::DNS_ERROR_NO_SERVERS), L"nowhere.test", {}}}));
  }
  outer->Release();
  EXPECT_EQ(sink->Count(), 1u);
}

TEST_F(DnsObjectTest, ReleasingTheObjectWithAQueryRunningFiresNothing) {
  StartSilentServer("127.0.0.53");
  ATL::CComPtr<RecordingSink> sink;
  {
    ATL::CComPtr<IDispatch> dns = MakeDns(sink);
    ASSERT_EQ(SetServers(dns, L"127.0.0.53"), S_OK);
    ASSERT_EQ(Resolve(dns, L"pending.kestnet.test"), S_OK);
    ASSERT_TRUE(m_silentServer.WaitForDatagrams(1, 5s));
  }
  PumpFor(200ms);
  EXPECT_EQ(sink->Count(), 0u);
}

}  // namespace
}  // namespace net_object_test
