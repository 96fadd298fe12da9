// KestNetMessageData through IDispatch, as a script uses it: the header list
// by name and index, continuation lines, the bodies, the Date header from the
// object's clock, and the errors a script sees. The objects run behind the
// module's trust gate, with a companion that trusts the container.
#include <chrono>

#include "tests/automation/trust_support.h"
#include "tests/support/log_capture.h"

namespace trust_test {
namespace {

using namespace std::chrono;

class MessageDataTest : public TrustTest {
 protected:
  void SetUp() override {
    TrustTest::SetUp();
    script_.containerTrusted = true;
    OfferCompanion();
  }

  std::wstring Header(IDispatch* message, LONG index) { return GetText(message, L"GetHeader", {Long(index)}); }
  std::wstring ByName(IDispatch* message, const wchar_t* name) {
    return GetText(message, L"GetHeaderByName", {Text(name)});
  }
  // A method failure reaches a script as DISP_E_EXCEPTION carrying the
  // member's E_FAIL and its error name; returns that name.
  std::wstring FailureOf(IDispatch* message, const wchar_t* name, std::vector<VARIANT> arguments,
                         VARIANT* result = nullptr) {
    EXCEPINFO exception{};
    EXPECT_EQ(CallByName(message, name, DISPATCH_METHOD, std::move(arguments), result, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    std::wstring description = exception.bstrDescription == nullptr ? L"<none>" : exception.bstrDescription;
    kestnet::platform::ClearExcepInfo(&exception);
    return description;
  }
};

TEST_F(MessageDataTest, FreshObjectReadsEmptyStringsAndHasNoHeaders) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  VARIANT to;
  VariantInit(&to);
  ASSERT_EQ(CallByName(message, L"To", DISPATCH_PROPERTYGET, {}, &to), S_OK);
  EXPECT_EQ(to.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(to.bstrVal), 0u);
  VariantClear(&to);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 0);
  EXPECT_EQ(GetText(message, L"TextMessage"), L"");
  EXPECT_EQ(GetText(message, L"HtmlMessage"), L"");
  EXPECT_EQ(ByName(message, L"Subject"), L"");
}

TEST_F(MessageDataTest, SubjectSetTwiceKeepsOneLineWithTheSecondValue) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(PutText(message, L"Subject", L"first"), S_OK);
  ASSERT_EQ(PutText(message, L"Subject", L"second"), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 1);
  EXPECT_EQ(GetText(message, L"Subject"), L"second");
  EXPECT_EQ(Header(message, 0), L"Subject: second");
}

TEST_F(MessageDataTest, NamedPropertiesWriteTheirOwnHeaderNamesInOrder) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  const wchar_t* properties[][2] = {{L"To", L"To"}, {L"From", L"From"}, {L"Subject", L"Subject"},
                                    {L"XMailer", L"X-Mailer"}, {L"Cc", L"Cc"}, {L"Bcc", L"Bcc"},
                                    {L"Date", L"Date"}};
  for (auto& [property, header] : properties) ASSERT_EQ(PutText(message, property, property), S_OK) << property;
  ASSERT_EQ(GetLong(message, L"NumHeaders"), 7);
  for (LONG i = 0; i < 7; ++i) {
    EXPECT_EQ(Header(message, i), std::wstring(properties[i][1]) + L": " + properties[i][0]);
    EXPECT_EQ(GetText(message, properties[i][0]), properties[i][0]);
  }
}

TEST_F(MessageDataTest, LowerCaseNameReplacesTheExistingLineAndKeepsTheCallersSpelling) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(PutText(message, L"To", L"a@example.org"), S_OK);
  ASSERT_EQ(PutText(message, L"Subject", L"Hello"), S_OK);
  ASSERT_EQ(CallByName(message, L"SetHeaderByName", DISPATCH_METHOD, {Text(L"subject"), Text(L"Bye")}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 2);
  EXPECT_EQ(Header(message, 1), L"subject: Bye");
  EXPECT_EQ(GetText(message, L"Subject"), L"Bye");
  EXPECT_EQ(ByName(message, L"SUBJECT"), L"Bye");
}

TEST_F(MessageDataTest, ContinuationLinesCountAndJoinTheHeaderBeforeThemTrimmed) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(PutText(message, L"To", L"a@example.org,"), S_OK);
  ASSERT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(L"  \tb@example.org,  ")}), S_OK);
  ASSERT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(L" c@example.org")}), S_OK);
  ASSERT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(L"From: me@example.org")}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 4);
  EXPECT_EQ(Header(message, 1), L"  \tb@example.org,  ");
  EXPECT_EQ(GetText(message, L"To"), L"a@example.org,b@example.org,c@example.org");
  EXPECT_EQ(GetText(message, L"From"), L"me@example.org");

  // Replacing the header leaves its continuation lines where they were.
  ASSERT_EQ(PutText(message, L"To", L"z@example.org "), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 4);
  EXPECT_EQ(GetText(message, L"To"), L"z@example.org b@example.org,c@example.org");
}

TEST_F(MessageDataTest, LineWithColonButNoSpaceIsAContinuationNotAHeader) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(L"X-Odd:value")}), S_OK);
  ASSERT_EQ(CallByName(message, L"SetHeaderByName", DISPATCH_METHOD, {Text(L"X-Odd"), Text(L"v")}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 2);
  EXPECT_EQ(ByName(message, L"X-Odd"), L"v");
}

TEST_F(MessageDataTest, RemoveHeaderRefusesIndicesOutsideTheListAndLeavesItUnchanged) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(PutText(message, L"Subject", L"only"), S_OK);
  for (LONG bad : {-1L, 1L}) {
    EXPECT_EQ(FailureOf(message, L"RemoveHeader", {Long(bad)}), L"INVALID_ARG_ERROR") << bad;
    EXPECT_EQ(GetLong(message, L"NumHeaders"), 1);
  }
  ASSERT_EQ(CallByName(message, L"RemoveHeader", DISPATCH_METHOD, {Long(0)}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 0);
  EXPECT_EQ(FailureOf(message, L"RemoveHeader", {Long(0)}), L"INVALID_ARG_ERROR");
}

TEST_F(MessageDataTest, RemoveHeaderKeepsTheOrderOfTheOthers) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  for (const wchar_t* line : {L"A: 1", L"B: 2", L"C: 3"}) {
    ASSERT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(line)}), S_OK);
  }
  ASSERT_EQ(CallByName(message, L"RemoveHeader", DISPATCH_METHOD, {Long(1)}), S_OK);
  EXPECT_EQ(Header(message, 0), L"A: 1");
  EXPECT_EQ(Header(message, 1), L"C: 3");
}

TEST_F(MessageDataTest, GetHeaderWithABadIndexFailsAsAnInvalidArgument) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(FailureOf(message, L"GetHeader", {Long(0)}, &result), L"INVALID_ARG_ERROR");
  EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(MessageDataTest, NullOutputPointersFailWithNullPointerError) {
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  ASSERT_NE(object, nullptr);
  IKestNetMessageData* data = object;
  EXPECT_EQ(data->get_NumHeaders(nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(data->get_Subject(nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(data->GetHeaderByName(nullptr, nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");
}

TEST_F(MessageDataTest, SetDateToNowWritesTheClocksMomentWithoutWeekdayOrPadding) {
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  ASSERT_NE(object, nullptr);
  object->SetClock([] { return sys_days{year{2026} / December / 4} + hours{3} + minutes{5} + seconds{9}; });
  ASSERT_EQ(PutText(message, L"Date", L"yesterday"), S_OK);
  ASSERT_EQ(CallByName(message, L"SetDateToNow", DISPATCH_METHOD, {}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 1);
  EXPECT_EQ(GetText(message, L"Date"), L"4 Dec 2026 03:05:09 -0000 (GMT)");
}

TEST_F(MessageDataTest, MessageDateUsesEnglishMonthsAndFourDigitYears) {
  EXPECT_EQ(KestAXLib::FormatMessageDate(sys_days{year{1999} / January / 31} + hours{23} + minutes{59} + seconds{59}),
            L"31 Jan 1999 23:59:59 -0000 (GMT)");
  EXPECT_EQ(KestAXLib::FormatMessageDate(sys_days{year{2030} / July / 1}), L"1 Jul 2030 00:00:00 -0000 (GMT)");
}

TEST_F(MessageDataTest, BodiesAreKeptApartFromTheHeaders) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  ASSERT_EQ(PutText(message, L"TextMessage", L"plain\r\nbody"), S_OK);
  ASSERT_EQ(PutText(message, L"HtmlMessage", L"<p>html</p>"), S_OK);
  ASSERT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  ASSERT_EQ(CallByName(message, L"ClearAllHeaders", DISPATCH_METHOD, {}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 0);
  EXPECT_EQ(GetText(message, L"TextMessage"), L"plain\r\nbody");
  EXPECT_EQ(GetText(message, L"HtmlMessage"), L"<p>html</p>");

  // A null text stores the empty body.
  VARIANT nullText;
  VariantInit(&nullText);
  nullText.vt = VT_BSTR;
  nullText.bstrVal = nullptr;
  ASSERT_EQ(CallByName(message, L"TextMessage", DISPATCH_PROPERTYPUT, {nullText}), S_OK);
  EXPECT_EQ(GetText(message, L"TextMessage"), L"");
}

TEST_F(MessageDataTest, TextsKeepEmbeddedNulsAndNonAsciiCharacters) {
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  VARIANT withNul;
  VariantInit(&withNul);
  withNul.vt = VT_BSTR;
  withNul.bstrVal = SysAllocStringLen(L"a\0b", 3);
  ASSERT_EQ(CallByName(message, L"HtmlMessage", DISPATCH_PROPERTYPUT, {withNul}), S_OK);
  EXPECT_EQ(GetText(message, L"HtmlMessage"), std::wstring(L"a\0b", 3));
  // A body is held narrow while it is ASCII: one character past it, in a
  // whole block or the tail, or beyond UTF-16 must come back as it went.
  const std::wstring ascii(130, L'x');
  for (const auto& [at, character] : std::vector<std::pair<size_t, wchar_t>>{
           {0, L'\u00E9'}, {63, L'\x80'}, {129, L'\U0001F600'}, {64, static_cast<wchar_t>(0xD800)}, {5, L'y'}}) {
    std::wstring body = ascii;
    body[at] = character;
    ASSERT_EQ(PutText(message, L"TextMessage", body.c_str()), S_OK);
    EXPECT_EQ(GetText(message, L"TextMessage"), body) << at;
  }
  // Only A to Z fold: "Ä" and "ä" name two different headers.
  ASSERT_EQ(CallByName(message, L"SetHeaderByName", DISPATCH_METHOD, {Text(L"X-\u00C4"), Text(L"1")}), S_OK);
  ASSERT_EQ(CallByName(message, L"SetHeaderByName", DISPATCH_METHOD, {Text(L"x-\u00E4"), Text(L"2")}), S_OK);
  EXPECT_EQ(GetLong(message, L"NumHeaders"), 2);
}

TEST_F(MessageDataTest, BadIndexOfRemoveHeaderAndGetHeaderLogsTheRemoveHeaderMessage) {
  using kestnet::testing::LoggedLine;
  constexpr const char* kClass = "KestNetX::CMessageData";
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  ASSERT_NE(object, nullptr);
  kestnet::testing::LogCapture capture(kClass);
  object->RemoveHeader(-1);
  BSTR line = nullptr;
  object->GetHeader(0, &line);
  SysFreeString(line);
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<LoggedLine>{{kClass, 1, "RemoveHeader():  Error - Invalid Index into the Header Array."},
                                     {kClass, 1, "RemoveHeader():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"},
                                     {kClass, 1, "RemoveHeader():  Error - Invalid Index into the Header Array."},
                                     {kClass, 1, "GetHeader():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}));
}

}  // namespace
}  // namespace trust_test
