// KestNet::MIME and KestNet::MultipartMIME: an outgoing message, rendered as
// the header block and the body that an SMTP client sends after DATA.
//
// A MIME is a single-part message; a MultipartMIME a multipart/mixed or
// multipart/alternative one whose parts are appended one after another. All
// text is narrow UTF-8; the only charset ever named is the caller's.
//
// Rendering keeps the message on the wire within the mail line limits: Base64
// content is cut into lines of 76 characters (RFC 2045 §6.8), and an encoded
// header too long for one encoded word becomes several words on folded lines
// (RFC 2047 §2, §5). Header names and values that could smuggle extra header
// lines into the message (CR or LF, and names outside RFC 5322 §2.2's
// printable characters) are refused with InvalidParameterException.
//
// Not thread-safe: one thread fills the object, and it must not change while
// a client sends it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/os/win_types.h"

namespace KestNet {

// Content type codes; any other value renders as text/plain.
inline constexpr DWORD MIME_CONTENT_TEXT_PLAIN = 0;
inline constexpr DWORD MIME_CONTENT_TEXT_HTML = 1;
inline constexpr DWORD MIME_CONTENT_TEXT_RICHTEXT = 2;
inline constexpr DWORD MIME_CONTENT_TEXT_XML = 3;
inline constexpr DWORD MIME_CONTENT_IMAGE_GIF = 4;
inline constexpr DWORD MIME_CONTENT_IMAGE_JPEG = 5;
inline constexpr DWORD MIME_CONTENT_IMAGE_PNG = 6;

// Transfer encoding codes; any other value renders as 7bit. The code only
// names the encoding: content is encoded where a Base64 flag says so.
inline constexpr DWORD MIME_ENCODING_7BIT = 0;
inline constexpr DWORD MIME_ENCODING_BASE64 = 1;
inline constexpr DWORD MIME_ENCODING_QUOTED_PRINTABLE = 2;

// Multipart kinds; any other value renders as multipart/mixed.
inline constexpr DWORD MIME_MULTIPART_MIXED = 0;
inline constexpr DWORD MIME_MULTIPART_ALTERNATIVE = 1;

class MIME {
 public:
  // The one boundary of every message and every part.
  static constexpr const char* kBoundary = "3FC440BC44204c7d8CB9E436D5F4DA71308C06271A0749d3885DF264A65A3472";

  MIME() = default;
  virtual ~MIME();
  MIME(const MIME&) = delete;
  MIME& operator=(const MIME&) = delete;

  virtual std::string GetBody();
  // Empties the body, the content fields and the header table.
  virtual void Clear();
  virtual std::string GetDefaultContentType();

  // The type's text; text/plain and text/html also name the charset.
  void SetContentType(DWORD p_dwType, const std::string& p_strCharset);
  void SetTransferEncoding(DWORD p_dwEncoding);
  void SetDescription(const std::string& p_strDescription);
  void SetContentID(const std::string& p_strContentID);
  // The text, or its Base64 in lines of 76 characters.
  void SetBody(const std::string& p_strText, bool p_bBase64);
  // Stores the pair (exact name; setting a name again replaces its value).
  void SetHeader(const std::string& p_strName, const std::string& p_strValue);
  // Stores the text as RFC 2047 "B" encoded words of UTF-8 (used for the
  // subject): "abc" is "=?utf-8?B?YWJj?=".
  void SetEncodedHeader(const std::string& p_strName, const std::string& p_strText);
  // The stored value, empty when absent. To, Cc and Bcc (any letter case)
  // come back with spaces and ";" turned into ",".
  std::string GetHeader(const std::string& p_strName) const;
  // MIME-Version, Content-type, Content-Transfer-Encoding, description and
  // id when set, the table's non-empty headers in the order first set
  // (except Bcc), and the empty line that ends the block.
  std::string GetHeaders();

 protected:
  // Throws InvalidParameterException (after a level-1 line naming
  // p_szOperation) for a value holding CR or LF.
  static void CheckHeaderValue(const char* p_szOperation, const std::string& p_strValue);
  static std::string ContentTypeText(DWORD p_dwType);
  static std::string TransferEncodingText(DWORD p_dwEncoding);
  // Sets or replaces the value of p_strName, both already checked.
  void StoreHeader(const std::string& p_strName, const std::string& p_strValue);

  std::string m_strContentType;       // the full header value with CR LF, or empty
  std::string m_strTransferEncoding;  // the full header value with CR LF, or empty
  std::string m_strDescription;
  std::string m_strContentID;
  std::string m_strBody;
  std::vector<std::pair<std::string, std::string>> m_headers;
};

class MultipartMIME : public MIME {
 public:
  MultipartMIME() = default;
  ~MultipartMIME() override;

  // The parts followed by the closing delimiter (no line end after it).
  std::string GetBody() override;
  void Clear() override;
  std::string GetDefaultContentType() override;

  void SetMultipartType(DWORD p_dwKind);
  // Appends one part: its delimiter, Content-type (always with the charset)
  // and Content-Transfer-Encoding lines, an empty line and the content (or
  // its Base64 in lines of 76 characters).
  void AddPart(const std::string& p_strContent, DWORD p_dwType, const std::string& p_strCharset,
               DWORD p_dwEncoding, bool p_bBase64);

 private:
  void AppendPartHeader(const char* p_szName, const std::string& p_strValue);

  bool m_bPartOpen = false;
};

}  // namespace KestNet
