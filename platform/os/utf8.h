// The one UTF-8 codec of the tree: narrow text is UTF-8, wide text is wchar_t
// (UTF-32 on Linux). Invalid input never fails: a malformed byte sequence, an
// encoded surrogate, an overlong form, a value above U+10FFFF, and in wide
// text a surrogate or a unit above U+10FFFF, become U+FFFD.
//
// How much of a malformed sequence one U+FFFD stands for is the caller's
// choice: the whole maximal subpart (Unicode's recommended practice, the
// default), or each byte (as the Windows conversions without their strict
// flag do, which callers that imitate them keep).
//
// CESU-8 is the form embedded script engines keep their strings in: UTF-8
// of UTF-16 code units, so a character above U+FFFF is a surrogate pair of
// two three-byte sequences. The CESU-8 decoder also takes four-byte UTF-8,
// and a surrogate without its partner becomes U+FFFD: it is no character,
// and everything past the script speaks UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestnet::platform {

// Appends one code point, c <= U+10FFFF. A surrogate is written as its three
// bytes (generalised UTF-8): only a store that must give back whatever wide
// units it was handed wants that; text conversions go through Utf8FromWide.
void AppendUtf8(std::string& out, char32_t c);

enum class Utf8Replacement {
  kPerSequence,  // "\xE2\x82" gives one U+FFFD
  kPerByte,      // "\xE2\x82" gives two
};

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text, Utf8Replacement replacement = Utf8Replacement::kPerSequence);

// Whether an encoded surrogate decodes to itself (generalised UTF-8, what
// AppendUtf8 writes for one) or is malformed.
enum class Utf8Surrogates { kReplace, kKeep };

// Reads the character at text[*position] and moves *position past what it
// consumed; a malformed sequence gives U+FFFD.
char32_t NextUtf8Character(std::string_view text, std::size_t* position,
                           Utf8Replacement replacement = Utf8Replacement::kPerSequence,
                           Utf8Surrogates surrogates = Utf8Surrogates::kReplace);

// Whether every byte of `text` is ASCII: the same characters in UTF-8, in
// CESU-8 and as wide text, so a conversion between them is a widening or a
// copy.
bool IsAsciiText(std::string_view text);

std::string Cesu8FromWide(std::wstring_view text);
std::wstring WideFromCesu8(std::string_view text);

}  // namespace kestnet::platform
