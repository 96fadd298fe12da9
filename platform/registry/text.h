// Text conversions the registry store needs: wide (UTF-32 wchar_t) to and from
// UTF-8, and case folding of names for comparison.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestnet::platform::registry_store {

// Encodes every unit, embedded NULs included. Surrogate code points are kept
// (encoded as three bytes) so that any text a caller stored reads back the
// same; units above U+10FFFF have no encoding and give nullopt.
std::optional<std::string> WideToUtf8(const wchar_t* text, std::size_t units);
inline std::optional<std::string> WideToUtf8(std::wstring_view text) { return WideToUtf8(text.data(), text.size()); }

// Decodes UTF-8 (and the three-byte surrogates WideToUtf8 writes); a byte that
// starts no valid sequence becomes U+FFFD, so narrow callers' stray bytes never
// make a value unreadable through the wide calls.
std::wstring Utf8ToWide(std::string_view text);

// Number of code points, as the wide calls count characters.
std::size_t Utf8Length(std::string_view text);

// The name as compared: Unicode simple case folding of each code point.
std::string FoldName(std::string_view utf8Name);

}  // namespace kestnet::platform::registry_store
