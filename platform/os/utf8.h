// UTF-8 conversions for the platform layer: narrow text is UTF-8, wide text
// is wchar_t (UTF-32 on Linux). Invalid input never fails: a malformed byte
// sequence or a value that is not a character becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace kestnet::platform {

// Appends one character; c must be a character (not a surrogate, <= U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

}  // namespace kestnet::platform
