#include "runtime/string_conversion.h"

#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestUtilsLib {
namespace {

constexpr const char* kLogClass = "KestUtilsLib::StringConversion";
constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
  if (!IsScalarValue(c)) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) AppendUtf8(out, static_cast<char32_t>(w));
  return out;
}

// Decodes one UTF-8 sequence at text[i]; on a malformed sequence consumes one
// byte and yields U+FFFD, so decoding always makes progress. Overlong forms,
// surrogates and values above U+10FFFF are malformed (RFC 3629, section 3).
char32_t DecodeOne(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacementCharacter;
  }
  if (i + length > text.size()) {
    ++i;
    return kReplacementCharacter;
  }
  for (size_t k = 1; k < length; ++k) {
    const unsigned char continuation = byte(i + k);
    if ((continuation & 0xC0) != 0x80) {
      ++i;
      return kReplacementCharacter;
    }
    value = (value << 6) | (continuation & 0x3F);
  }
  if (value < minimum || !IsScalarValue(value)) {
    ++i;
    return kReplacementCharacter;
  }
  i += length;
  return value;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(static_cast<wchar_t>(DecodeOne(text, i)));
  return out;
}

// The shared failure of the four conversions: a non-empty input that yields
// nothing is logged with the text that could not be converted, then thrown.
template <typename Char>
[[noreturn]] void ConversionFailed(const char* operation, const char* format,
                                   std::basic_string_view<Char> text) {
  const std::basic_string<Char> terminated(text);
  Log(kLogClass, 1, format, operation, terminated.c_str());
  throw KestBase::StringConversionException();
}

}  // namespace

std::string StringConversion::ConvertCAtlStringWToANSI(std::wstring_view p_cstrwText) {
  auto converted = WideToUtf8(p_cstrwText);
  if (!p_cstrwText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertCAtlStringWToANSI",
                     "%s - Fail to convert CAtlStringW %S to ANSI", p_cstrwText);
  }
  return converted;
}

std::wstring StringConversion::ConvertANSIToCAtlStringW(std::string_view p_strText) {
  auto converted = Utf8ToWide(p_strText);
  if (!p_strText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertANSIToCAtlStringW",
                     "%s - Fail to convert ANSI %s to CAtlStringW", p_strText);
  }
  return converted;
}

std::string StringConversion::ConvertCAtlStringWToUTF8(std::wstring_view p_cstrwText) {
  auto converted = WideToUtf8(p_cstrwText);
  if (!p_cstrwText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertCAtlStringWToUTF8",
                     "%s - Fail to convert CAtlStringW %S to UTF8", p_cstrwText);
  }
  return converted;
}

std::wstring StringConversion::ConvertUTF8ToCAtlStringW(std::string_view p_strText) {
  auto converted = Utf8ToWide(p_strText);
  if (!p_strText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertUTF8ToCAtlStringW",
                     "%s - Fail to convert UTF8 %s to CAtlStringW", p_strText);
  }
  return converted;
}

}  // namespace KestUtilsLib
