// KestNetPing through IDispatch, as a script uses it, with real echoes inside
// a private network namespace (127.0.0.x answers; the namespace can be told
// to drop every echo) and names resolved by the engine's own resolver from
// the servers the companion reports (dnsmasq, or a server that never answers).
#include <gtest/gtest.h>

#include <fstream>

#include "automation/dns_object.h"
#include "automation/ping_object.h"
#include "platform/net/icmp_echo.h"
#include "tests/automation/net_object_support.h"

namespace net_object_test {
namespace {

using KestAXLib::CPing;
using trust_test::CallByName;
using trust_test::Long;
using trust_test::Text;

constexpr DISPID kDispOnPingComplete = 1;

// OnPingComplete as a script receives it, with its argument types checked.
struct PingOutcome {
  SHORT status = -1;
  std::wstring targetHost;
  std::wstring targetAddress;
  std::wstring responseAddress;
  LONG responseTime = -1;
};

PingOutcome ReadOutcome(const FiredEvent& event) {
  PingOutcome outcome;
  EXPECT_EQ(event.dispid, kDispOnPingComplete);
  if (event.arguments.size() != 5) {
    ADD_FAILURE() << event.arguments.size() << " arguments";
    return outcome;
  }
  EXPECT_EQ(event.arguments[0].vt, VT_I2);
  outcome.status = event.arguments[0].iVal;
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(event.arguments[static_cast<size_t>(i)].vt, VT_BSTR) << i;
  outcome.targetHost = TextOf(event.arguments[1]);
  outcome.targetAddress = TextOf(event.arguments[2]);
  outcome.responseAddress = TextOf(event.arguments[3]);
  EXPECT_EQ(event.arguments[4].vt, VT_I4);
  outcome.responseTime = event.arguments[4].lVal;
  return outcome;
}

// Echo tests need ping or raw sockets, which the private namespace grants to root.
class PingObjectTest : public NetObjectWithServersTest {
 protected:
  void SetUp() override {
    NetObjectWithServersTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string problem = kestnet::platform::IcmpAccessProblem();
    if (!problem.empty()) GTEST_SKIP() << problem;
  }
  // The namespace drops every echo from now on: targets that never answer.
  static void IgnoreEchoes() {
    std::ofstream setting("/proc/sys/net/ipv4/icmp_echo_ignore_all");
    setting << "1";
    setting.flush();
    ASSERT_TRUE(setting) << "cannot switch echo replies off in the namespace";
  }

  // Names resolve through the companion's server list: server.
  void UseNameServer(const std::string& server) {
    ASSERT_TRUE(m_companion.Load("nameserver " + server + "\n", ""));
  }

  ATL::CComPtr<IDispatch> MakePing() { return Make<CPing>(); }
  // The object with sink advised on its events.
  ATL::CComPtr<IDispatch> MakePing(ATL::CComPtr<RecordingSink>& sink) {
    return MakeConnected<CPing>(sink, IID_IKestNetPingEvents);
  }

  static HRESULT Ping(IDispatch* ping, const wchar_t* target, SHORT ttl = 64, SHORT size = 32, LONG timeout = 2000) {
    return CallByName(ping, L"Ping", DISPATCH_METHOD, {Text(target), Short(ttl), Short(size), Long(timeout)});
  }

  // BlockingPing's HRESULT; *answer receives the VARIANT_BOOL it returned.
  static HRESULT BlockingPing(IDispatch* ping, const wchar_t* target, LONG timeout, VARIANT_BOOL* answer) {
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = CallByName(ping, L"BlockingPing", DISPATCH_METHOD,
                            {Text(target), Short(64), Short(32), Long(timeout)}, &result);
    EXPECT_EQ(result.vt, SUCCEEDED(hr) ? VT_BOOL : VT_EMPTY);
    *answer = result.boolVal;
    return hr;
  }

  static std::vector<PingOutcome> AwaitOutcomes(RecordingSink* sink, size_t count) {
    return AwaitEvents(sink, count, ReadOutcome);
  }
};

// --- Properties and arguments ------------------------------------------------

TEST_F(PingObjectTest, DnsTimeoutTakesFiveHundredAndAboveWithNoUpperLimit) {
  ATL::CComPtr<IDispatch> ping = MakePing();
  EXPECT_EQ(trust_test::GetLong(ping, L"DNSTimeout"), 5000);
  for (LONG refused : {499L, 0L, -1L}) {
    EXPECT_EQ(FailureOf(ping, L"DNSTimeout", DISPATCH_PROPERTYPUT, {Long(refused)}), L"INVALID_ARG_ERROR");
    EXPECT_EQ(trust_test::GetLong(ping, L"DNSTimeout"), 5000);
  }
  for (LONG accepted : {500L, 30001L, 0x7FFFFFFFL}) {
    EXPECT_EQ(CallByName(ping, L"DNSTimeout", DISPATCH_PROPERTYPUT, {Long(accepted)}), S_OK);
    EXPECT_EQ(trust_test::GetLong(ping, L"DNSTimeout"), accepted);
  }
}

TEST_F(PingObjectTest, ConstantsReadThroughTheirDispidsWithErrorAndTimeoutCrossed) {
  // PING_TIMEOUT (8) sits at dispid 11 and PING_ERROR (7) at dispid 17.
  ExpectConstants(MakePing(), VT_I2,
                  {{4, 0}, {5, 1}, {6, 2}, {7, 3}, {8, 4}, {9, 5}, {10, 6}, {11, 8}, {12, 9}, {13, 10}, {14, 11},
                   {15, 12}, {16, 13}, {17, 7}});
}

TEST_F(PingObjectTest, NullOutputPointersFailWithTheNullPointerError) {
  CPing* object = nullptr;
  ATL::CComPtr<IDispatch> ping = Make<CPing>(&object);
  ASSERT_NE(object, nullptr);
  auto* direct = static_cast<IKestNetPing*>(object);
  EXPECT_EQ(direct->get_DNSTimeout(nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(direct->get_PING_ERROR(nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
  ATL::CComBSTR target(L"127.0.0.1");
  EXPECT_EQ(direct->BlockingPing(target, 64, 32, 500, nullptr), E_FAIL);
  EXPECT_EQ(trust_test::TakeErrorDescription(), L"NULL_POINTER_ERROR");
}

TEST_F(PingObjectTest, RefusedArgumentsFailTheCallAndFireNothing) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  struct Refused {
    const wchar_t* target;
    SHORT ttl;
    SHORT size;
    LONG timeout;
  };
  const Refused cases[] = {
      {L"", 64, 32, 1000},           {L"127.0.0.1", 0, 32, 1000},  {L"127.0.0.1", 255, 32, 1000},
      {L"127.0.0.1", -1, 32, 1000},  {L"127.0.0.1", 64, 1473, 1000}, {L"127.0.0.1", 64, -1, 1000},
      {L"127.0.0.1", 64, 32, 9},     {L"127.0.0.1", 64, 32, -1},
  };
  for (const Refused& c : cases) {
    EXPECT_EQ(FailureOf(ping, L"Ping", DISPATCH_METHOD, {Text(c.target), Short(c.ttl), Short(c.size), Long(c.timeout)}),
              L"INVALID_ARG_ERROR")
        << c.ttl << " " << c.size << " " << c.timeout;
  }
  EXPECT_EQ(FailureOf(ping, L"Abort", DISPATCH_METHOD, {Text(L"")}), L"INVALID_ARG_ERROR");
  PumpFor(100ms);
  EXPECT_EQ(sink->Count(), 0u);
}

// --- Echoes ------------------------------------------------------------------------

TEST_F(PingObjectTest, PingFiresExactlyOneEventWithTheReply) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(Ping(ping, L"127.0.0.1"), S_OK);
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(300ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_SUCCESS));
  EXPECT_EQ(outcomes[0].targetHost, L"127.0.0.1");
  EXPECT_EQ(outcomes[0].targetAddress, L"127.0.0.1");
  EXPECT_EQ(outcomes[0].responseAddress, L"127.0.0.1");
  EXPECT_GE(outcomes[0].responseTime, 0);
  EXPECT_EQ(sink->Events()[0].thread, std::this_thread::get_id());
}

TEST_F(PingObjectTest, ASecondPingOfARunningTargetIsRefusedAsAnInvalidOperation) {
  IgnoreEchoes();
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(Ping(ping, L"127.0.0.1", 64, 32, 300), S_OK);
  EXPECT_EQ(FailureOf(ping, L"Ping", DISPATCH_METHOD, {Text(L"127.0.0.1"), Short(64), Short(32), Long(300)}),
            L"INVALID_OPERATION_ERROR");
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(100ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_TIMEOUT));
}

TEST_F(PingObjectTest, AbortOfAnEchoInFlightFiresOneAbortedEvent) {
  IgnoreEchoes();
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(Ping(ping, L"127.0.0.1", 64, 32, 1500), S_OK);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(CallByName(ping, L"Abort", DISPATCH_METHOD, {Text(L"127.0.0.1")}), S_OK);
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(200ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_ABORTED));
}

TEST_F(PingObjectTest, ANameIsResolvedBeforeTheEcho) {
  StartDnsmasq({{"127.0.0.7", "loop.kestnet.test"}});
  if (IsSkipped() || HasFatalFailure()) return;
  UseNameServer("127.0.0.53");
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(Ping(ping, L"loop.kestnet.test"), S_OK);
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_SUCCESS));
  EXPECT_EQ(outcomes[0].targetHost, L"loop.kestnet.test");
  EXPECT_EQ(outcomes[0].targetAddress, L"127.0.0.7");
  EXPECT_EQ(outcomes[0].responseAddress, L"127.0.0.7");
}

TEST_F(PingObjectTest, ReleasingTheObjectWithAnEchoInFlightFiresNothing) {
  IgnoreEchoes();
  ATL::CComPtr<RecordingSink> sink;
  {
    ATL::CComPtr<IDispatch> ping = MakePing(sink);
    ASSERT_EQ(Ping(ping, L"127.0.0.1", 64, 32, 300), S_OK);
    std::this_thread::sleep_for(50ms);
  }
  PumpFor(500ms);
  EXPECT_EQ(sink->Count(), 0u);
}

TEST_F(PingObjectTest, RecordsOfAnotherClassOrEventIdAreDroppedUnfired) {
  CPing* object = nullptr;
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = Make<CPing>(&object);
  sink = Connect(ping, IID_IKestNetPingEvents);
  ASSERT_TRUE(object->PostAsyncEvent(KestAXLib::kPingCompleteEventId, new ForeignRecord()));
  ASSERT_TRUE(object->PostAsyncEvent(3, new KestAXLib::PingResponseData(0, L"three", L"10.0.0.3", L"10.0.0.3", 3)));
  ASSERT_TRUE(object->PostAsyncEvent(KestAXLib::kPingCompleteEventId,
                                     new KestAXLib::PingResponseData(8, L"zero", L"10.0.0.9", L"0.0.0.0", 0)));
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(100ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_TIMEOUT));
  EXPECT_EQ(outcomes[0].targetHost, L"zero");
  EXPECT_EQ(outcomes[0].targetAddress, L"10.0.0.9");
  EXPECT_EQ(outcomes[0].responseAddress, L"0.0.0.0");
}

TEST_F(PingObjectTest, ASinkMayReleaseTheLastReferenceFromItsEvent) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(Ping(ping, L"127.0.0.1"), S_OK);
  ReleaseOnEvent(sink, ping.Detach());
  EXPECT_TRUE(PumpUntil([&] { return sink->Count() >= 1; }));
  PumpFor(100ms);
  EXPECT_EQ(sink->Count(), 1u);
}

TEST_F(PingObjectTest, AnAggregatedObjectFiresItsEventsAndGoesWithItsOuterObject) {
  Outer* outer = new Outer();
  ASSERT_EQ(CPing::_CreatorClass::CreateInstance(outer, IID_IUnknown, outer->InnerSlot()), S_OK);
  ATL::CComPtr<RecordingSink> sink;
  {
    ATL::CComPtr<IDispatch> ping;
    ASSERT_EQ(outer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ping)), S_OK);
    sink = Connect(ping, IID_IKestNetPingEvents);
    ASSERT_EQ(Ping(ping, L"127.0.0.1"), S_OK);
    std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_SUCCESS));
  }
  outer->Release();
  EXPECT_EQ(sink->Count(), 1u);
}

// --- BlockingPing -----------------------------------------------------------------

TEST_F(PingObjectTest, BlockingPingOfAnAnsweringHostIsTrueAndFiresNoEvent) {
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  VARIANT_BOOL answer = VARIANT_FALSE;
  ASSERT_EQ(BlockingPing(ping, L"127.0.0.1", 2000, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_TRUE);
  PumpFor(300ms);
  EXPECT_EQ(sink->Count(), 0u);
}

TEST_F(PingObjectTest, BlockingPingWhoseEchoTimesOutIsFalseAndFiresNoEvent) {
  IgnoreEchoes();
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  VARIANT_BOOL answer = VARIANT_TRUE;
  ASSERT_EQ(BlockingPing(ping, L"127.0.0.1", 300, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_FALSE);
  // The engine reported, so the target is free at once.
  ASSERT_EQ(Ping(ping, L"127.0.0.1", 64, 32, 100), S_OK);
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(200ms);
  ASSERT_EQ(sink->Count(), 1u);
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_TIMEOUT));
}

TEST_F(PingObjectTest, BlockingPingThatNeverHearsBackGivesUpAfterItsWaitAndAbortsTheEcho) {
  // The name's server takes the query and never answers; the resolver would
  // wait for the whole DNS time-out, far beyond the blocking wait.
  std::string error;
  ASSERT_TRUE(m_silentServer.Start("127.0.0.53", 53, error)) << error;
  UseNameServer("127.0.0.53");
  ATL::CComPtr<RecordingSink> sink;
  ATL::CComPtr<IDispatch> ping = MakePing(sink);
  ASSERT_EQ(CallByName(ping, L"DNSTimeout", DISPATCH_PROPERTYPUT, {Long(30000)}), S_OK);

  constexpr LONG kTimeout = 500;
  VARIANT_BOOL answer = VARIANT_TRUE;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(BlockingPing(ping, L"silent.kestnet.test", kTimeout, &answer), S_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeout + 300));
  EXPECT_EQ(answer, VARIANT_FALSE);
  EXPECT_TRUE(m_silentServer.WaitForDatagrams(1, 1s));

  // The engine's echo was aborted: the target takes a new request at once,
  // which now gives up on the name after a short DNS time-out.
  ASSERT_EQ(CallByName(ping, L"DNSTimeout", DISPATCH_PROPERTYPUT, {Long(1000)}), S_OK);
  ASSERT_EQ(Ping(ping, L"silent.kestnet.test"), S_OK);
  std::vector<PingOutcome> outcomes = AwaitOutcomes(sink, 1);
  PumpFor(300ms);
  ASSERT_EQ(sink->Count(), 1u) << "the blocking call fired an event of its own";
  EXPECT_EQ(outcomes[0].status, static_cast<SHORT>(KestNet::PING_DNS_TIMEOUT));
  EXPECT_EQ(outcomes[0].targetHost, L"silent.kestnet.test");
}

// --- Log lines ------------------------------------------------------------------

// A refused setting logs its own words under the object's class name. The
// objects are called directly: no echoes or servers are needed.
struct RefusedSettingLog {
  const char* object;
  const char* logClass;
  ATL::CComPtr<IDispatch> (*make)();
  void (*refuse)(IDispatch* object);
  std::vector<std::pair<unsigned, const char*>> lines;
};

void PrintTo(const RefusedSettingLog& setting, std::ostream* out) { *out << setting.object; }

class RefusedSettingLogTest : public NetObjectTest, public ::testing::WithParamInterface<RefusedSettingLog> {};

TEST_P(RefusedSettingLogTest, LogsTheObjectsOwnWords) {
  const RefusedSettingLog& setting = GetParam();
  kestnet::testing::LogCapture capture(setting.logClass);
  ATL::CComPtr<IDispatch> object = setting.make();
  ASSERT_NE(object, nullptr);
  setting.refuse(object);
  object.Release();
  std::vector<kestnet::testing::LoggedLine> expected;
  for (const auto& [level, text] : setting.lines) expected.push_back({setting.logClass, level, text});
  EXPECT_EQ(capture.TakeLines(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Objects, RefusedSettingLogTest,
    ::testing::Values(
        RefusedSettingLog{"DNS", "KestNetX::IDNS", [] { return NetObjectTest::Make<KestAXLib::CDNS>(); },
                          [](IDispatch* object) {
                            ATL::CComQIPtr<IKestNetDNS> dns(object);
                            dns->put_Timeout(499);
                            LONG timeout = 0;
                            dns->get_Timeout(&timeout);
                            dns->SetDNSServers(ATL::CComBSTR(L",,"), ATL::CComBSTR(L","));
                            dns->SetDNSServers(ATL::CComBSTR(L"10.0.0.1"), ATL::CComBSTR(L"."));
                          },
                          {{3, "set_Timeout():  Setting timeout of <499>ms."},
                           {1, "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be in the range of "
                               "500 to 30000 ms."},
                           {1, "put_Timeout():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"},
                           {3, "get_Timeout():  Returning timeout of <7000>ms."},
                           {3, "SetDNSServers():  Set the DNS servers to <,,>"},
                           {3, "SetDNSServers():  Set the DNS servers to <,,>"},
                           {1, "SetDNSServers():  Error - No Servers Defined."},
                           {1, "SetDNSServers():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"},
                           {3, "SetDNSServers():  Set the DNS servers to <10.0.0.1>"},
                           {1, "SetDNSServers():  Error - You may be empty and you may not use a '.' as a delimiter."},
                           {1, "SetDNSServers():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}},
        RefusedSettingLog{"Ping", "KestNet::Ping", [] { return NetObjectTest::Make<CPing>(); },
                          [](IDispatch* object) {
                            ATL::CComQIPtr<IKestNetPing> ping(object);
                            ping->put_DNSTimeout(499);
                            ping->put_DNSTimeout(500);
                          },
                          {{1, "put_Timeout():  Error - Timeouts must be positive integers (not <= 0 )"},
                           {1, "put_DNSTimeout():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}}),
    [](const ::testing::TestParamInfo<RefusedSettingLog>& p_case) { return std::string(p_case.param.object); });

}  // namespace
}  // namespace net_object_test
