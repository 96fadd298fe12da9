#include "automation/message_body.h"

#include <cstdint>

#include "runtime/string_conversion.h"

namespace KestAXLib {

namespace {

// Narrows `text` into `narrow` (sized to match) when every character is
// ASCII; false at the first block holding another. One pass over the wide
// text, with the test made once a block rather than once a character.
bool NarrowAscii(std::wstring_view text, std::string& narrow) {
  constexpr size_t kBlock = 64;
  const size_t blocks = text.size() / kBlock;
  for (size_t block = 0; block < blocks; ++block) {
    const wchar_t* from = text.data() + block * kBlock;
    char* to = narrow.data() + block * kBlock;
    std::uint32_t seen = 0;
    for (size_t i = 0; i < kBlock; ++i) {
      seen |= static_cast<std::uint32_t>(from[i]);
      to[i] = static_cast<char>(from[i]);
    }
    if (seen >= 0x80) return false;
  }
  for (size_t index = blocks * kBlock; index < text.size(); ++index) {
    if (static_cast<std::uint32_t>(text[index]) >= 0x80) return false;
    narrow[index] = static_cast<char>(text[index]);
  }
  return true;
}

}  // namespace

void MessageBody::Assign(std::wstring_view text) {
  std::string narrow(text.size(), '\0');
  if (NarrowAscii(text, narrow)) {
    m_ascii = std::move(narrow);
    m_wide = std::wstring();
    m_bAscii = true;
    return;
  }
  m_wide.assign(text);
  m_ascii = std::string();
  m_bAscii = false;
}

BSTR MessageBody::NewBstr() const {
  if (m_bAscii) return kestnet::platform::AllocateAsciiBstr(m_ascii);
  return SysAllocStringLen(m_wide.data(), static_cast<UINT>(m_wide.size()));
}

std::string MessageBody::Utf8() const {
  if (m_bAscii) return m_ascii;
  return KestUtilsLib::StringConversion::ConvertCAtlStringWToUTF8(m_wide);
}

}  // namespace KestAXLib
