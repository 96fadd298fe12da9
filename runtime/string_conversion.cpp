#include "runtime/string_conversion.h"

#include "platform/os/utf8.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestUtilsLib {
namespace {

constexpr const char* kLogClass = "KestUtilsLib::StringConversion";

// The Windows conversions without their strict flag replace each byte of a
// malformed sequence.
std::wstring WideFromUtf8(std::string_view text) {
  return kestnet::platform::WideFromUtf8(text, kestnet::platform::Utf8Replacement::kPerByte);
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
  auto converted = kestnet::platform::Utf8FromWide(p_cstrwText);
  if (!p_cstrwText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertCAtlStringWToANSI",
                     "%s - Fail to convert CAtlStringW %S to ANSI", p_cstrwText);
  }
  return converted;
}

std::wstring StringConversion::ConvertANSIToCAtlStringW(std::string_view p_strText) {
  auto converted = WideFromUtf8(p_strText);
  if (!p_strText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertANSIToCAtlStringW",
                     "%s - Fail to convert ANSI %s to CAtlStringW", p_strText);
  }
  return converted;
}

std::string StringConversion::ConvertCAtlStringWToUTF8(std::wstring_view p_cstrwText) {
  auto converted = kestnet::platform::Utf8FromWide(p_cstrwText);
  if (!p_cstrwText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertCAtlStringWToUTF8",
                     "%s - Fail to convert CAtlStringW %S to UTF8", p_cstrwText);
  }
  return converted;
}

std::wstring StringConversion::ConvertUTF8ToCAtlStringW(std::string_view p_strText) {
  auto converted = WideFromUtf8(p_strText);
  if (!p_strText.empty() && converted.empty()) {
    ConversionFailed("StringConversion::ConvertUTF8ToCAtlStringW",
                     "%s - Fail to convert UTF8 %s to CAtlStringW", p_strText);
  }
  return converted;
}

}  // namespace KestUtilsLib
