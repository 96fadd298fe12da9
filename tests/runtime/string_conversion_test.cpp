#include "runtime/string_conversion.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using KestUtilsLib::StringConversion;

TEST(StringConversionTest, EmptyInEmptyOut) {
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToANSI(L""), "");
  EXPECT_EQ(StringConversion::ConvertANSIToCAtlStringW(""), L"");
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToUTF8(L""), "");
  EXPECT_EQ(StringConversion::ConvertUTF8ToCAtlStringW(""), L"");
}

TEST(StringConversionTest, EveryPlaneRoundTripsThroughBothNarrowForms) {
  // ASCII, two-, three- and four-byte forms, including the largest scalar.
  const std::wstring wide = L"mail.example.org \u00e9\u20ac\U0001F600\U0010FFFF";
  const std::string utf8 = "mail.example.org \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToUTF8(wide), utf8);
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToANSI(wide), utf8);
  EXPECT_EQ(StringConversion::ConvertUTF8ToCAtlStringW(utf8), wide);
  EXPECT_EQ(StringConversion::ConvertANSIToCAtlStringW(utf8), wide);
}

TEST(StringConversionTest, EmbeddedNulsAreKept) {
  const std::wstring wide(L"a\0b", 3);
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToUTF8(wide), std::string("a\0b", 3));
  EXPECT_EQ(StringConversion::ConvertUTF8ToCAtlStringW(std::string("a\0b", 3)), wide);
}

TEST(StringConversionTest, MalformedNarrowSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::string input;
    std::wstring expected;
  };
  const Case cases[] = {
      {"stray continuation", "a\x80z", L"a\uFFFDz"},
      {"truncated at the end", "a\xE2\x82", L"a\uFFFD\uFFFD"},
      {"overlong slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"Latin-1 byte", "caf\xE9", L"caf\uFFFD"},
      {"invalid lead", "\xFF!", L"\uFFFD!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StringConversion::ConvertUTF8ToCAtlStringW(c.input), c.expected);
    EXPECT_EQ(StringConversion::ConvertANSIToCAtlStringW(c.input), c.expected);
  }
}

TEST(StringConversionTest, WideValuesThatAreNotCharactersBecomeReplacementCharacters) {
  const std::wstring wide = {L'x', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                             L'y'};
  EXPECT_EQ(StringConversion::ConvertCAtlStringWToUTF8(wide), "x\xEF\xBF\xBD\xEF\xBF\xBDy");
}

}  // namespace
