// UTF-8 conversions for the platform layer: narrow text is UTF-8, wide text
// is wchar_t (UTF-32 on Linux). Invalid input never fails: a malformed byte
// sequence or a value that is not a character becomes U+FFFD.
//
// CESU-8 is the form embedded script engines keep their strings in: UTF-8
// of UTF-16 code units, so a character above U+FFFF is a surrogate pair of
// two three-byte sequences. The CESU-8 decoder also takes four-byte UTF-8,
// and a surrogate without its partner becomes U+FFFD: it is no character,
// and everything past the script speaks UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestnet::platform {

// Appends one character; c must be a character (not a surrogate, <= U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

std::string Cesu8FromWide(std::wstring_view text);
std::wstring WideFromCesu8(std::string_view text);

}  // namespace kestnet::platform
