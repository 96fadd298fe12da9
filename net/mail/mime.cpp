#include "net/mail/mime.h"

#include <algorithm>
#include <array>
#include <strings.h>

#include "net/mail/base64.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {

namespace {

constexpr const char* kClassName = "KestNet::MIME";
constexpr const char* kLineEnd = "\r\n";

constexpr std::array<const char*, 7> kContentTypes = {
    "text/plain", "text/html", "text/richtext", "text/xml", "image/gif", "image/jpeg", "image/png"};
constexpr std::array<const char*, 3> kTransferEncodings = {"7bit", "base64", "Quoted-Printable"};
constexpr std::array<const char*, 2> kMultipartKinds = {"multipart/mixed;", "multipart/alternative;"};

// The code's text, or the table's first entry for a code outside it.
template <std::size_t N>
const char* TextOf(const std::array<const char*, N>& p_table, DWORD p_dwCode) {
  return p_dwCode < N ? p_table[p_dwCode] : p_table[0];
}

// RFC 2047 §2: an encoded word is at most 75 characters. Its frame,
// "=?utf-8?B?" and "?=", takes 12 of them; the rest holds whole groups of
// four Base64 characters, 15 groups of 3 bytes.
constexpr const char* kEncodedWordStart = "=?utf-8?B?";
constexpr const char* kEncodedWordEnd = "?=";
constexpr std::size_t kEncodedWordMaxBytes = (75 - 12) / 4 * 3;
// RFC 5322 §2.2.3: a folded line goes on after CR LF and white space.
constexpr const char* kFold = "\r\n ";

bool IsUtf8Continuation(char p_byte) { return (static_cast<unsigned char>(p_byte) & 0xC0) == 0x80; }

// The longest prefix of p_text of at most kEncodedWordMaxBytes that ends on
// a character boundary (RFC 2047 §5: a word holds whole characters). Text
// that is not UTF-8 is cut at the limit.
std::size_t EncodedWordChunk(std::string_view p_text) {
  if (p_text.size() <= kEncodedWordMaxBytes) return p_text.size();
  std::size_t length = kEncodedWordMaxBytes;
  while (length > 0 && IsUtf8Continuation(p_text[length])) --length;
  return length > 0 ? length : kEncodedWordMaxBytes;
}

std::string EncodedWords(std::string_view p_text) {
  std::string words;
  do {
    const std::size_t chunk = EncodedWordChunk(p_text);
    if (!words.empty()) words += kFold;
    words += kEncodedWordStart;
    words += Base64Encode(p_text.substr(0, chunk));
    words += kEncodedWordEnd;
    p_text.remove_prefix(chunk);
  } while (!p_text.empty());
  return words;
}

// RFC 5322 §2.2: a field name is printable US-ASCII other than ":".
bool IsValidHeaderName(const std::string& p_strName) {
  return !p_strName.empty() && std::all_of(p_strName.begin(), p_strName.end(), [](char p_character) {
    return p_character > ' ' && p_character < 127 && p_character != ':';
  });
}

void CheckHeaderName(const char* p_szOperation, const std::string& p_strName) {
  if (IsValidHeaderName(p_strName)) return;
  Log(kClassName, kLogLevelWarning,
      "%s():  Error - The header name may not be empty or contain CR, LF, NUL, ':', space or other "
      "control characters.",
      p_szOperation);
  throw KestBase::InvalidParameterException();
}

bool IsAddressListHeader(const std::string& p_strName) {
  return strcasecmp(p_strName.c_str(), "To") == 0 || strcasecmp(p_strName.c_str(), "Cc") == 0 ||
         strcasecmp(p_strName.c_str(), "Bcc") == 0;
}

}  // namespace

MIME::~MIME() = default;

std::string MIME::GetBody() { return m_strBody; }

void MIME::Clear() {
  m_strContentType.clear();
  m_strTransferEncoding.clear();
  m_strDescription.clear();
  m_strContentID.clear();
  m_strBody.clear();
  m_headers.clear();
}

std::string MIME::GetDefaultContentType() { return TextOf(kContentTypes, MIME_CONTENT_TEXT_PLAIN); }

void MIME::CheckHeaderValue(const char* p_szOperation, const std::string& p_strValue) {
  if (p_strValue.find_first_of("\r\n") == std::string::npos) return;
  Log(kClassName, kLogLevelWarning, "%s():  Error - The header value may not contain CR or LF characters.",
      p_szOperation);
  throw KestBase::InvalidParameterException();
}

std::string MIME::ContentTypeText(DWORD p_dwType) { return TextOf(kContentTypes, p_dwType); }

std::string MIME::TransferEncodingText(DWORD p_dwEncoding) { return TextOf(kTransferEncodings, p_dwEncoding); }

void MIME::SetContentType(DWORD p_dwType, const std::string& p_strCharset) {
  CheckHeaderValue("SetContentType", p_strCharset);
  m_strContentType = ContentTypeText(p_dwType);
  // Only text types carry a charset; the image types would not use one.
  if (p_dwType == MIME_CONTENT_TEXT_PLAIN || p_dwType == MIME_CONTENT_TEXT_HTML) {
    m_strContentType += "; charset=" + p_strCharset;
  }
  m_strContentType += kLineEnd;
}

void MIME::SetTransferEncoding(DWORD p_dwEncoding) {
  m_strTransferEncoding = TransferEncodingText(p_dwEncoding) + kLineEnd;
}

void MIME::SetDescription(const std::string& p_strDescription) {
  CheckHeaderValue("SetDescription", p_strDescription);
  m_strDescription = p_strDescription;
}

void MIME::SetContentID(const std::string& p_strContentID) {
  CheckHeaderValue("SetContentID", p_strContentID);
  m_strContentID = p_strContentID;
}

void MIME::SetBody(const std::string& p_strText, bool p_bBase64) {
  m_strBody = p_bBase64 ? Base64EncodeLines(p_strText) : p_strText;
}

void MIME::SetHeader(const std::string& p_strName, const std::string& p_strValue) {
  CheckHeaderName("SetHeader", p_strName);
  CheckHeaderValue("SetHeader", p_strValue);
  StoreHeader(p_strName, p_strValue);
}

void MIME::StoreHeader(const std::string& p_strName, const std::string& p_strValue) {
  auto found = std::find_if(m_headers.begin(), m_headers.end(),
                            [&](const auto& p_header) { return p_header.first == p_strName; });
  if (found != m_headers.end()) {
    found->second = p_strValue;
  } else {
    m_headers.emplace_back(p_strName, p_strValue);
  }
}

void MIME::SetEncodedHeader(const std::string& p_strName, const std::string& p_strText) {
  CheckHeaderName("SetEncodedHeader", p_strName);
  // The only line breaks in the value are the folds between its words.
  StoreHeader(p_strName, EncodedWords(p_strText));
}

std::string MIME::GetHeader(const std::string& p_strName) const {
  auto found = std::find_if(m_headers.begin(), m_headers.end(),
                            [&](const auto& p_header) { return p_header.first == p_strName; });
  if (found == m_headers.end()) return {};
  std::string value = found->second;
  if (IsAddressListHeader(p_strName)) {
    std::replace_if(value.begin(), value.end(), [](char p_c) { return p_c == ' ' || p_c == ';'; }, ',');
  }
  return value;
}

std::string MIME::GetHeaders() {
  std::string headers = "MIME-Version: 1-0\r\n";
  headers += "Content-type: ";
  headers += m_strContentType.empty() ? GetDefaultContentType() + kLineEnd : m_strContentType;
  headers += "Content-Transfer-Encoding: ";
  headers += m_strTransferEncoding.empty() ? TransferEncodingText(MIME_ENCODING_7BIT) + kLineEnd
                                           : m_strTransferEncoding;
  if (!m_strDescription.empty()) headers += "Content-Description: " + m_strDescription + kLineEnd;
  if (!m_strContentID.empty()) headers += "Content-ID: " + m_strContentID + kLineEnd;
  for (const auto& [name, value] : m_headers) {
    // RFC 5322 §3.6.3: the blind copies' addresses are the envelope's
    // business; every recipient would read them in the header.
    if (value.empty() || strcasecmp(name.c_str(), "Bcc") == 0) continue;
    headers += name + ": " + value + kLineEnd;
  }
  headers += kLineEnd;
  return headers;
}

MultipartMIME::~MultipartMIME() = default;

std::string MultipartMIME::GetBody() { return m_strBody + kLineEnd + "--" + kBoundary + "--"; }

void MultipartMIME::Clear() {
  MIME::Clear();
  m_bPartOpen = false;
}

std::string MultipartMIME::GetDefaultContentType() {
  return std::string(TextOf(kMultipartKinds, MIME_MULTIPART_MIXED)) + "boundary=" + kBoundary;
}

void MultipartMIME::SetMultipartType(DWORD p_dwKind) {
  m_strContentType = std::string(TextOf(kMultipartKinds, p_dwKind)) + "\tboundary=\"" + kBoundary + "\"" + kLineEnd;
}

void MultipartMIME::AddPart(const std::string& p_strContent, DWORD p_dwType, const std::string& p_strCharset,
                            DWORD p_dwEncoding, bool p_bBase64) {
  CheckHeaderValue("AddPart", p_strCharset);
  AppendPartHeader("Content-type: ", ContentTypeText(p_dwType) + "; charset=" + p_strCharset);
  AppendPartHeader("Content-Transfer-Encoding: ", TransferEncodingText(p_dwEncoding));
  m_strBody += kLineEnd;
  m_strBody += p_bBase64 ? Base64EncodeLines(p_strContent) : p_strContent;
  m_bPartOpen = false;
}

void MultipartMIME::AppendPartHeader(const char* p_szName, const std::string& p_strValue) {
  if (!m_bPartOpen) {
    m_strBody += std::string(kLineEnd) + "--" + kBoundary + kLineEnd;
    m_bPartOpen = true;
  }
  m_strBody += p_szName + p_strValue + kLineEnd;
}

}  // namespace KestNet
