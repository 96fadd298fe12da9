#include "platform/os/utf8.h"

#include <cstddef>
#include <cstdint>

namespace kestnet::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsCharacter(char32_t c) { return c <= 0x10FFFF && !IsSurrogate(c); }

// The length of the run of ASCII units of `text` from `at`: mail bodies and
// most other texts are mostly such runs, which every form here writes as they
// are, a unit for a unit.
template <typename Unit>
std::size_t AsciiRun(std::basic_string_view<Unit> text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && static_cast<std::uint32_t>(text[end]) < 0x80) ++end;
  return end - at;
}

// Appends the ASCII run of `text` at `at` to `out` and moves `at` past it.
template <typename Out, typename Unit>
void AppendAsciiRun(Out& out, std::basic_string_view<Unit> text, std::size_t& at) {
  std::size_t length = AsciiRun(text, at);
  out.append(text.begin() + static_cast<std::ptrdiff_t>(at), text.begin() + static_cast<std::ptrdiff_t>(at + length));
  at += length;
}

// One byte sequence of text at offset `at`. A well-formed sequence gives its
// value (a surrogate too: whether one is acceptable is the caller's
// question); a malformed one gives wellFormed false and the bytes to skip.
struct Sequence {
  char32_t value = kReplacement;
  std::size_t length = 1;
  bool wellFormed = false;
};

Sequence DecodeSequence(std::string_view text, std::size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0) return {};
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  // A sequence cut short (by a wrong byte or the end of the text) is one
  // replacement for the bytes it had.
  std::size_t k = 1;
  for (; k < length && at + k < text.size(); ++k) {
    auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) break;
    c = (c << 6) | (next & 0x3F);
  }
  if (k < length) return {kReplacement, k, false};
  // Overlong forms and values past U+10FFFF are malformed too.
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF) return {kReplacement, length, false};
  return {c, length, true};
}

void AppendCesu8(std::string& out, char32_t c) {
  if (c < 0x10000) {
    AppendUtf8(out, c);
    return;
  }
  // AppendUtf8's three-byte form is what CESU-8 wants for each half.
  c -= 0x10000;
  AppendUtf8(out, 0xD800 + (c >> 10));
  AppendUtf8(out, 0xDC00 + (c & 0x3FF));
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    AppendAsciiRun(out, text, i);
    if (i == text.size()) break;
    auto c = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
    AppendUtf8(out, IsCharacter(c) ? c : kReplacement);
  }
  return out;
}

char32_t NextUtf8Character(std::string_view text, std::size_t* position, Utf8Replacement replacement,
                           Utf8Surrogates surrogates) {
  Sequence sequence = DecodeSequence(text, *position);
  if (sequence.wellFormed && (surrogates == Utf8Surrogates::kKeep || !IsSurrogate(sequence.value))) {
    *position += sequence.length;
    return sequence.value;
  }
  *position += replacement == Utf8Replacement::kPerByte ? 1 : sequence.length;
  return kReplacement;
}

std::wstring WideFromUtf8(std::string_view text, Utf8Replacement replacement) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    AppendAsciiRun(out, text, i);
    if (i < text.size()) out += static_cast<wchar_t>(NextUtf8Character(text, &i, replacement));
  }
  return out;
}

std::string Cesu8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    AppendAsciiRun(out, text, i);
    if (i == text.size()) break;
    auto c = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
    AppendCesu8(out, IsCharacter(c) ? c : kReplacement);
  }
  return out;
}

std::wstring WideFromCesu8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    AppendAsciiRun(out, text, i);
    if (i == text.size()) break;
    Sequence sequence = DecodeSequence(text, i);
    i += sequence.length;
    char32_t c = sequence.wellFormed ? sequence.value : kReplacement;
    if (IsHighSurrogate(c) && i < text.size()) {
      Sequence low = DecodeSequence(text, i);
      if (low.wellFormed && IsLowSurrogate(low.value)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low.value - 0xDC00);
        i += low.length;
      }
    }
    out += static_cast<wchar_t>(IsSurrogate(c) ? kReplacement : c);
  }
  return out;
}

bool IsAsciiText(std::string_view text) {
  // A body may be megabytes: whole blocks are tested with no exit inside,
  // which the compiler vectorises.
  constexpr std::size_t kBlock = 64;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t blocks = text.size() / kBlock;
  for (std::size_t block = 0; block < blocks; ++block) {
    const unsigned char* first = bytes + block * kBlock;
    unsigned char seen = 0;
    for (std::size_t i = 0; i < kBlock; ++i) seen |= first[i];
    if (seen >= 0x80) return false;
  }
  for (std::size_t index = blocks * kBlock; index < text.size(); ++index) {
    if (bytes[index] >= 0x80) return false;
  }
  return true;
}

}  // namespace kestnet::platform
