// Conversions between the libraries' wide text and narrow text.
//
// Wide text is wchar_t (UTF-32 here); narrow text is UTF-8, and the system's
// "ANSI" code page is UTF-8 as well, so the ANSI and UTF-8 pairs convert the
// same way. As the Windows conversions do without their strict flag, a
// malformed sequence (an invalid UTF-8 byte sequence, a surrogate or a value
// above U+10FFFF in wide text) becomes U+FFFD and the rest of the text is kept.
// An empty input gives an empty output; a non-empty input that converts to
// nothing is logged and thrown as KestBase::StringConversionException.
#pragma once

#include <string>
#include <string_view>

namespace KestUtilsLib {

class StringConversion {
 public:
  static std::string ConvertCAtlStringWToANSI(std::wstring_view p_cstrwText);
  static std::wstring ConvertANSIToCAtlStringW(std::string_view p_strText);
  static std::string ConvertCAtlStringWToUTF8(std::wstring_view p_cstrwText);
  static std::wstring ConvertUTF8ToCAtlStringW(std::string_view p_strText);
};

}  // namespace KestUtilsLib
