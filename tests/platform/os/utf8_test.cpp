#include "platform/os/utf8.h"

#include <gtest/gtest.h>

namespace {

using kestnet::platform::Utf8FromWide;
using kestnet::platform::WideFromUtf8;

TEST(Utf8, RoundTripsEveryPlane) {
  std::wstring text = L"a\u00e9\u20ac\U0001F600z";
  std::string narrow = Utf8FromWide(text);
  EXPECT_EQ(narrow, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(WideFromUtf8(narrow), text);
}

struct Malformed {
  const char* name;
  std::string bytes;
  std::wstring expected;
};

class Utf8Malformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(Utf8Malformed, BecomesReplacementCharactersAndNeverReadsPastTheEnd) {
  EXPECT_EQ(WideFromUtf8(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Malformed,
    ::testing::Values(Malformed{"LoneContinuation", "a\x80z", L"a\uFFFDz"},
                      Malformed{"TruncatedAtEnd", "a\xE2\x82", L"a\uFFFD"},
                      Malformed{"BrokenInMiddle", "\xE2(z", L"\uFFFD(z"},
                      Malformed{"Overlong", "\xC0\xAF", L"\uFFFD"},
                      Malformed{"Surrogate", "\xED\xA0\x80", L"\uFFFD"},
                      Malformed{"BeyondUnicode", "\xF4\x90\x80\x80", L"\uFFFD"},
                      Malformed{"InvalidLead", "\xFF", L"\uFFFD"}),
    [](const ::testing::TestParamInfo<Malformed>& param) { return std::string(param.param.name); });

TEST(Utf8, WideValuesThatAreNotCharactersBecomeReplacements) {
  std::wstring text;
  text += static_cast<wchar_t>(0xD800);
  text += static_cast<wchar_t>(0x110000);
  EXPECT_EQ(Utf8FromWide(text), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
