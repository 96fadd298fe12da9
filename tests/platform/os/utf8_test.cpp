#include "platform/os/utf8.h"

#include <gtest/gtest.h>

namespace {

using kestnet::platform::Cesu8FromWide;
using kestnet::platform::Utf8FromWide;
using kestnet::platform::WideFromCesu8;
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

// Script engines keep strings in CESU-8: a character past U+FFFF is a
// surrogate pair, each half three bytes.
TEST(Cesu8, RoundTripsTheScalarValuesAtEveryEncodingEdge) {
  struct Edge {
    char32_t scalar;
    std::string cesu8;
  };
  const Edge edges[] = {{0x7F, "\x7F"},
                        {0x80, "\xC2\x80"},
                        {0x7FF, "\xDF\xBF"},
                        {0x800, "\xE0\xA0\x80"},
                        {0xFFFF, "\xEF\xBF\xBF"},
                        {0x10000, "\xED\xA0\x80\xED\xB0\x80"},
                        {0x1F600, "\xED\xA0\xBD\xED\xB8\x80"},
                        {0x10FFFF, "\xED\xAF\xBF\xED\xBF\xBF"}};
  for (const Edge& edge : edges) {
    std::wstring wide(1, static_cast<wchar_t>(edge.scalar));
    EXPECT_EQ(Cesu8FromWide(wide), edge.cesu8) << std::hex << static_cast<unsigned>(edge.scalar);
    EXPECT_EQ(WideFromCesu8(edge.cesu8), wide) << std::hex << static_cast<unsigned>(edge.scalar);
    EXPECT_EQ(WideFromCesu8(Utf8FromWide(wide)), wide);  // four-byte UTF-8 is taken too
  }
}

TEST(Cesu8, SurrogatesWithoutTheirPartnerBecomeReplacements) {
  EXPECT_EQ(WideFromCesu8("\xED\xA0\xBDx"), L"\uFFFDx");          // high, then no low
  EXPECT_EQ(WideFromCesu8("\xED\xB8\x80\xED\xA0\xBD"), L"\uFFFD\uFFFD");  // low first
  EXPECT_EQ(WideFromCesu8("\xED\xA0\xBD\xED\xA0\xBD\xED\xB8\x80"), L"\uFFFD\U0001F600");
}

}  // namespace
