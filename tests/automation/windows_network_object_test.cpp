// KestNetWindowsNetwork and KestNetWindowsNetworkHost through IDispatch and
// their listener sides, without a network: the host-name checks, refused out
// pointers, the constants, the members still to come, and the events made
// from what the engines report (driven here by calling the listener side as
// the workers do). The same object against real Samba servers is tested in
// tests/netsys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/windows_network_object.h"
#include "netsys/get_host_info_result.h"
#include "netsys/network_listener.h"
#include "tests/automation/net_object_support.h"

namespace net_object_test {
namespace {

using KestAXLib::CWindowsNetwork;
using trust_test::CallByName;
using trust_test::GetLong;
using trust_test::GetText;
using trust_test::Text;

constexpr const char* kLogClass = "KestNetX::IKestNetWindowsNetwork";
constexpr DISPID kDispOnGetHostInfoComplete = 1;

class WindowsNetworkObjectTest : public NetObjectTest {
 protected:
  void SetUp() override {
    NetObjectTest::SetUp();
    if (IsSkipped()) return;
    m_object = Make<CWindowsNetwork>(&m_network);
    ASSERT_NE(m_object, nullptr);
    m_sink = Connect(m_object, IID_IKestNetWindowsNetworkEvents);
  }
  void TearDown() override {
    m_object.Release();
    m_sink.Release();
    NetObjectTest::TearDown();
  }

  CWindowsNetwork* m_network = nullptr;
  ATL::CComPtr<IDispatch> m_object;
  ATL::CComPtr<RecordingSink> m_sink;
};

struct RefusedHostName {
  const char* label;
  const wchar_t* name;
  const char* message;
};

void PrintTo(const RefusedHostName& refused, std::ostream* out) { *out << refused.label; }

class RefusedHostNameTest : public WindowsNetworkObjectTest, public ::testing::WithParamInterface<RefusedHostName> {};

TEST_P(RefusedHostNameTest, FailsWithTheNameCheckMessageAndStartsNothing) {
  kestnet::testing::LogCapture capture(kLogClass);
  EXPECT_EQ(FailureOf(m_object, L"GetHostInfo", DISPATCH_METHOD, {Text(GetParam().name)}), L"INVALID_ARG_ERROR");
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<kestnet::testing::LoggedLine>{
                {kLogClass, 1, GetParam().message},
                {kLogClass, 1, "GetHostInfo():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}));
  PumpFor(100ms);
  EXPECT_EQ(m_sink->Count(), 0u);
}

constexpr const char* kEmptyName = "GetHostInfo():  Error - Invalid Host Name.  Host Name must not be empty.";
constexpr const char* kNotUnc =
    "GetHostInfo():  Error - Invalid Host Name.  Must start with a '\\\\' and the name must have one at least one "
    "charater.";

INSTANTIATE_TEST_SUITE_P(Names, RefusedHostNameTest,
                         ::testing::Values(RefusedHostName{"Empty", L"", kEmptyName},
                                           RefusedHostName{"TwoBackslashesAlone", L"\\\\", kNotUnc},
                                           RefusedHostName{"OneBackslash", L"\\AB", kNotUnc},
                                           RefusedHostName{"NoBackslash", L"ABC", kNotUnc},
                                           RefusedHostName{"BackslashesAfterTheName", L"A\\\\", kNotUnc}));

// Two backslashes and one character is a name: the lookup starts and ends
// in exactly one event, which carries a host object even when nothing was found.
TEST_F(WindowsNetworkObjectTest, ShortestUncNameStartsALookupThatEndsInOneEvent) {
  ASSERT_EQ(CallByName(m_object, L"GetHostInfo", DISPATCH_METHOD, {Text(L"\\\\A")}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return m_sink->Count() >= 1; }));
  PumpFor(200ms);
  ASSERT_EQ(m_sink->Count(), 1u);
  const FiredEvent event = m_sink->Events()[0];
  EXPECT_EQ(event.dispid, kDispOnGetHostInfoComplete);
  ASSERT_EQ(event.arguments.size(), 3u);
  EXPECT_EQ(event.arguments[0].vt, VT_I2);
  // Only loopback exists in the test's namespace: no adapter can find the name.
  EXPECT_EQ(event.arguments[0].iVal, static_cast<SHORT>(KestNet::GETHOSTINFO_HOST_NOT_FOUND));
  EXPECT_EQ(TextOf(event.arguments[1]), L"\\\\A");
  ASSERT_EQ(event.arguments[2].vt, VT_DISPATCH);
  ASSERT_NE(event.arguments[2].pdispVal, nullptr);
  EXPECT_EQ(GetText(event.arguments[2].pdispVal, L"IPAddress"), L"UNKNOWN");
}

// What a worker reports becomes the event on the object's thread, the host's
// six values in a new KestNetWindowsNetworkHost.
TEST_F(WindowsNetworkObjectTest, ReportedHostArrivesAsAHostObject) {
  m_network->GetHostInfoCallback(KestNet::GETHOSTINFO_SUCCESS, L"\\\\KESTSRV1", L"10.77.0.10", L"02:4b:45:53:00:0a",
                                 6, 1, -1, KestNet::PLATFORM_UNIX, L"KestNet test server one");
  ASSERT_TRUE(PumpUntil([&] { return m_sink->Count() >= 1; }));
  const FiredEvent event = m_sink->Events()[0];
  EXPECT_EQ(event.thread, std::this_thread::get_id());
  ASSERT_EQ(event.arguments.size(), 3u);
  EXPECT_EQ(event.arguments[0].iVal, 0);
  EXPECT_EQ(TextOf(event.arguments[1]), L"\\\\KESTSRV1");
  ASSERT_EQ(event.arguments[2].vt, VT_DISPATCH);
  IDispatch* host = event.arguments[2].pdispVal;
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(GetText(host, L"IPAddress"), L"10.77.0.10");
  EXPECT_EQ(GetText(host, L"MACAddress"), L"02:4b:45:53:00:0a");
  EXPECT_EQ(GetText(host, L"Comment"), L"KestNet test server one");
  EXPECT_EQ(GetLong(host, L"MajorVersion"), 6);
  EXPECT_EQ(GetLong(host, L"MinorVersion"), 1);
  EXPECT_EQ(GetLong(host, L"PlatformID"), GetLong(host, L"PLATFORM_UNIX"));
}

// Each list type fires its own event, always with an array: empty (a failed
// listing) or the names in the order the network gave them.
TEST_F(WindowsNetworkObjectTest, EachListTypeFiresItsEventWithAnArray) {
  kestnet::testing::LogCapture capture(kLogClass);
  m_network->NetworkListComplete(KestSys::kListTypeComputers, {"\\\\KESTSRV1", "\\\\KESTSRV2"});
  m_network->NetworkListComplete(KestSys::kListTypeFileShares, {});
  m_network->NetworkListComplete(KestSys::kListTypePrinterShares, {"\\\\KESTSRV1\\laser"});
  m_network->NetworkListComplete(KestSys::kListTypeWorkgroups, {});
  m_network->NetworkListComplete(7, {"lost"});
  ASSERT_TRUE(PumpUntil([&] { return m_sink->Count() >= 4; }));
  PumpFor(100ms);
  const std::vector<FiredEvent> events = m_sink->Events();
  ASSERT_EQ(events.size(), 4u);
  const std::vector<std::pair<DISPID, std::vector<std::wstring>>> expected = {
      {2, {L"\\\\KESTSRV1", L"\\\\KESTSRV2"}}, {3, {}}, {4, {L"\\\\KESTSRV1\\laser"}}, {5, {}}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(events[i].dispid, expected[i].first);
    ASSERT_EQ(events[i].arguments.size(), 1u);
    EXPECT_EQ(TextsOfArray(events[i].arguments[0]), expected[i].second) << "event " << events[i].dispid;
  }
  EXPECT_EQ(capture.TakeLines(), (std::vector<kestnet::testing::LoggedLine>{
                                     {kLogClass, 1, "HandleAsyncEventMessage():  Error - Unknown list lype <7>."}}));
}

TEST_F(WindowsNetworkObjectTest, RecordsOfTheWrongClassOrIdAreLoggedAndDropped) {
  kestnet::testing::LogCapture capture(kLogClass);
  m_network->PostAsyncEvent(KestAXLib::kGetHostInfoEventId, new ForeignRecord);
  m_network->PostAsyncEvent(KestAXLib::kLastWindowsNetworkEventId, new ForeignRecord);
  m_network->PostAsyncEvent(KestAXLib::kLastWindowsNetworkEventId + 1, new ForeignRecord);
  m_network->HandleAsyncEventMessage(KestAXLib::kNetworkListEventId, nullptr);
  PumpFor(200ms);
  EXPECT_EQ(m_sink->Count(), 0u);
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<kestnet::testing::LoggedLine>{
                {kLogClass, 1, "HandleAsyncEventMessage() - NULL async event data, returning without processing."},
                {kLogClass, 1, "HandleAsyncEventMessage():  Error - Invalid Async Event Data found."},
                {kLogClass, 1, "HandleAsyncEventMessage():  Error - Invalid Async Event Data found."},
                {kLogClass, 1, "HandleAsyncEventMessage():  ERROR - Unknown Event!"}}));
}

// A null out pointer fails with the invalid-argument error naming the parameter.
TEST_F(WindowsNetworkObjectTest, NullOutPointersAreRefusedByName) {
  ATL::CComQIPtr<IKestNetWindowsNetwork> network(m_object);
  ATL::CComBSTR share(L"public");
  ATL::CComBSTR file(L"notes.txt");
  kestnet::testing::LogCapture capture(kLogClass);
  EXPECT_EQ(network->GetNetworkWorkgroups(nullptr), E_FAIL);
  EXPECT_EQ(network->GetFileShareList(nullptr, nullptr), E_FAIL);
  EXPECT_EQ(network->FileShareExists(nullptr, share, nullptr), E_FAIL);
  EXPECT_EQ(network->FileSharePermission(nullptr, share, nullptr), E_FAIL);
  EXPECT_EQ(network->CopyFileToShare(file, nullptr, share, nullptr), E_FAIL);
  EXPECT_EQ(network->get_FS_READ_WRITE(nullptr), E_FAIL);
  std::vector<std::string> refusals;
  for (const kestnet::testing::LoggedLine& line : capture.TakeLines()) {
    if (line.message.find("Invalid argument") != std::string::npos) refusals.push_back(line.message);
  }
  EXPECT_EQ(refusals, (std::vector<std::string>{
                          "GetNetworkWorkgroups - Invalid argument detected for parameter p_pfResult.",
                          "GetFileShareList - Invalid argument detected for parameter p_pfResult.",
                          "FileShareExists - Invalid argument detected for parameter p_pfResult.",
                          "FileSharePermission - Invalid argument detected for parameter p_plPermission.",
                          "CopyFileToShare - Invalid argument detected for parameter p_pfResult.",
                          "get_FS_READ_WRITE - Invalid argument detected for parameter p_plVal."}));
  ATL::CComPtr<IErrorInfo> error;
  ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
  ATL::CComBSTR description;
  error->GetDescription(&description);
  EXPECT_EQ(TextOf(description), L"INVALID_ARG_ERROR");
}

TEST_F(WindowsNetworkObjectTest, EmptyShareAndFileNamesAreRefused) {
  const std::vector<std::pair<const wchar_t*, std::vector<VARIANT>>> calls = {
      {L"FileShareExists", {Text(L"\\\\KESTSRV1"), Text(L"")}},
      {L"FileSharePermission", {Text(L""), Text(L"")}},
      {L"CopyFileToShare", {Text(L""), Text(L"\\\\KESTSRV1"), Text(L"incoming")}},
      {L"DeleteFileFromShare", {Text(L"notes.txt"), Text(L"\\\\KESTSRV1"), Text(L"")}},
  };
  for (const auto& [name, arguments] : calls) {
    EXPECT_EQ(FailureOf(m_object, name, DISPATCH_METHOD, arguments), L"INVALID_ARG_ERROR") << name;
  }
}

TEST_F(WindowsNetworkObjectTest, ConstantsReadTheirValues) {
  ExpectConstants(m_object, VT_I4, {{54, 0}, {55, 1}, {56, 2}, {57, 3}, {58, 4}, {66, 0}, {67, 1}, {68, 2}});
  ATL::CComPtr<IDispatch> host = Make<KestAXLib::CWindowsNetworkHost>();
  ExpectConstants(host, VT_I4,
                  {{7, 0}, {8, 1}, {9, 2}, {10, 3}, {11, 4}, {12, 5}, {13, 6}, {14, 8}, {15, -1}});
}

// A host a script makes itself reads as a lookup that found nothing, and keeps what is put.
TEST_F(WindowsNetworkObjectTest, HostObjectStoresItsProperties) {
  ATL::CComPtr<IDispatch> host = Make<KestAXLib::CWindowsNetworkHost>();
  EXPECT_EQ(GetText(host, L"Comment"), L"UNKNOWN");
  EXPECT_EQ(GetLong(host, L"MajorVersion"), -1);
  ASSERT_EQ(trust_test::PutText(host, L"MACAddress", L"02:00:00:00:00:01"), S_OK);
  ASSERT_EQ(CallByName(host, L"PlatformID", DISPATCH_PROPERTYPUT, {trust_test::Long(8)}), S_OK);
  EXPECT_EQ(GetText(host, L"MACAddress"), L"02:00:00:00:00:01");
  EXPECT_EQ(GetLong(host, L"PlatformID"), 8);
}

// Members whose work is still to come say so: E_NOTIMPL, with its own error name and log line.
TEST_F(WindowsNetworkObjectTest, MembersStillToComeAnswerNotImplemented) {
  kestnet::testing::LogCapture capture(kLogClass);
  EXCEPINFO exception{};
  EXPECT_EQ(CallByName(m_object, L"GetLocalPrinters", DISPATCH_METHOD, {}, nullptr, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_NOTIMPL);
  EXPECT_EQ(TextOf(exception.bstrDescription), L"NOT_IMPLEMENTED_ERROR");
  kestnet::platform::ClearExcepInfo(&exception);
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(CallByName(m_object, L"PS_PRINT", DISPATCH_PROPERTYGET, {}, &value, &exception), DISP_E_EXCEPTION);
  kestnet::platform::ClearExcepInfo(&exception);
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<kestnet::testing::LoggedLine>{
                {kLogClass, 1, "GetLocalPrinters():  Error - Not implemented yet."},
                {kLogClass, 1, "get_PS_PRINT():  Error - Not implemented yet."}}));
}

}  // namespace
}  // namespace net_object_test
