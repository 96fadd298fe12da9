// One body of a KestNetMessageData, held in the smaller of two lossless
// forms: one byte a character when every character is ASCII (the common
// case, and the one where a body runs to megabytes), otherwise the wide
// text as it was given. A 5 MiB ASCII body is then 5 MiB and not 20 (wchar_t
// is 4 bytes here), and the SMTP objects hand its bytes to the MIME encoder
// as they stand: for ASCII, the held bytes are the UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/bstr.h"

namespace KestAXLib {

class MessageBody {
 public:
  // Replaces the body; throws std::bad_alloc when memory is short (the
  // body is then unchanged).
  void Assign(std::wstring_view text);
  // A new BSTR of the body; null when memory is short.
  BSTR NewBstr() const;
  bool empty() const { return m_bAscii ? m_ascii.empty() : m_wide.empty(); }
  // The held bytes when the body is ASCII (then they are its UTF-8 too),
  // else null.
  const std::string* Ascii() const { return m_bAscii ? &m_ascii : nullptr; }
  // The body in UTF-8.
  std::string Utf8() const;

 private:
  bool m_bAscii = true;
  std::string m_ascii;  // the body when m_bAscii
  std::wstring m_wide;  // the body otherwise
};

}  // namespace KestAXLib
