#include "net/mail/base64.h"

#include <array>
#include <cstdint>

namespace KestNet {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::uint8_t kNotInAlphabet = 0xFF;

// The value of each byte in the alphabet, kNotInAlphabet elsewhere.
constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotInAlphabet);
  for (std::uint8_t value = 0; value < 64; ++value) {
    table[static_cast<unsigned char>(kAlphabet[value])] = value;
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kDecodeTable = MakeDecodeTable();

std::size_t EncodedLength(std::size_t p_dataLength) { return (p_dataLength + 2) / 3 * 4; }

// Appends the encoding of p_data to p_out, inserting CR LF after every
// p_lineLength characters except at the very end (0: one line). The output
// is sized once and written in place: bodies run to megabytes.
void AppendEncoded(std::string_view p_data, std::size_t p_lineLength, std::string& p_out) {
  const std::size_t encodedLength = EncodedLength(p_data.size());
  const std::size_t lineBreaks = p_lineLength == 0 || encodedLength == 0 ? 0 : (encodedLength - 1) / p_lineLength;
  std::size_t at = p_out.size();
  p_out.resize(at + encodedLength + 2 * lineBreaks);
  std::size_t column = 0;
  auto put = [&](char p_character) {
    if (p_lineLength != 0 && column == p_lineLength) {
      p_out[at++] = '\r';
      p_out[at++] = '\n';
      column = 0;
    }
    p_out[at++] = p_character;
    ++column;
  };
  std::size_t index = 0;
  for (; index + 3 <= p_data.size(); index += 3) {
    const std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(p_data[index])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(p_data[index + 1])) << 8 |
                                static_cast<unsigned char>(p_data[index + 2]);
    put(kAlphabet[group >> 18 & 0x3F]);
    put(kAlphabet[group >> 12 & 0x3F]);
    put(kAlphabet[group >> 6 & 0x3F]);
    put(kAlphabet[group & 0x3F]);
  }
  const std::size_t rest = p_data.size() - index;
  if (rest == 0) return;
  std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(p_data[index])) << 16;
  if (rest == 2) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(p_data[index + 1])) << 8;
  put(kAlphabet[group >> 18 & 0x3F]);
  put(kAlphabet[group >> 12 & 0x3F]);
  put(rest == 2 ? kAlphabet[group >> 6 & 0x3F] : kPad);
  put(kPad);
}

}  // namespace

std::string Base64Encode(std::string_view p_data) {
  std::string encoded;
  AppendEncoded(p_data, 0, encoded);
  return encoded;
}

std::string Base64EncodeLines(std::string_view p_data) {
  std::string encoded;
  AppendEncoded(p_data, kBase64LineLength, encoded);
  return encoded;
}

bool Base64Decode(std::string_view p_text, std::string& p_decoded) {
  p_decoded.clear();
  std::string decoded;
  decoded.reserve(p_text.size() / 4 * 3);
  std::uint32_t group = 0;
  int symbols = 0;   // of the current group of four
  int padding = 0;   // "=" seen in the current group
  bool ended = false;  // a padded group ends the data
  for (const char character : p_text) {
    if (character == '\r' || character == '\n') continue;
    if (ended) return false;
    std::uint8_t value = 0;
    if (character == kPad) {
      // Only the last one or two symbols of a group may be padding.
      if (symbols < 2) return false;
      ++padding;
    } else {
      value = kDecodeTable[static_cast<unsigned char>(character)];
      if (value == kNotInAlphabet || padding != 0) return false;
    }
    group = group << 6 | value;
    if (++symbols < 4) continue;
    decoded += static_cast<char>(group >> 16 & 0xFF);
    if (padding < 2) decoded += static_cast<char>(group >> 8 & 0xFF);
    if (padding < 1) decoded += static_cast<char>(group & 0xFF);
    ended = padding != 0;
    group = 0;
    symbols = 0;
    padding = 0;
  }
  if (symbols != 0) return false;
  p_decoded = std::move(decoded);
  return true;
}

}  // namespace KestNet
