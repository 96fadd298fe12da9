#include "platform/registry/text.h"

#include <unicode/uchar.h>

#include <cstdint>

#include "platform/os/utf8.h"

namespace kestnet::platform::registry_store {
namespace {

using kestnet::platform::AppendUtf8;

// The store reads narrow callers' stray bytes one U+FFFD each and gives back
// the surrogates WideToUtf8 wrote.
char32_t NextCodePoint(std::string_view text, std::size_t* position) {
  return NextUtf8Character(text, position, Utf8Replacement::kPerByte, Utf8Surrogates::kKeep);
}

}  // namespace

std::optional<std::string> WideToUtf8(const wchar_t* text, std::size_t units) {
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const auto cp = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
    if (cp > 0x10FFFF) return std::nullopt;
    AppendUtf8(out, cp);
  }
  return out;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out.push_back(static_cast<wchar_t>(NextCodePoint(text, &pos)));
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) NextCodePoint(text, &pos);
  return count;
}

std::string FoldName(std::string_view utf8Name) {
  std::string out;
  out.reserve(utf8Name.size());
  for (std::size_t pos = 0; pos < utf8Name.size();) {
    const char32_t cp = NextCodePoint(utf8Name, &pos);
    AppendUtf8(out, static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT)));
  }
  return out;
}

}  // namespace kestnet::platform::registry_store
