#include "automation/mail_object_support.h"

#include <string_view>

#include "automation/created_object.h"
#include "automation/message_data.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/bstr.h"
#include "platform/os/debug_output.h"
#include "runtime/exceptions.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {

namespace {

using KestUtilsLib::StringConversion;

constexpr std::wstring_view kHeaderSeparator = L": ";
constexpr const wchar_t* kAnonymousMailer = L"<AnonymousMailer>";
constexpr const char* kCharset = "utf-8";

using TextGetter = HRESULT (STDMETHODCALLTYPE IKestNetMessageData::*)(BSTR*);

ATL::CComBSTR ReadBstr(IKestNetMessageData* message, TextGetter get) {
  ATL::CComBSTR value;
  const HRESULT hr = (message->*get)(&value);
  if (FAILED(hr)) ATL::AtlThrow(hr);
  return value;
}

std::wstring_view ViewOf(const ATL::CComBSTR& text) {
  return text.m_str == nullptr ? std::wstring_view() : std::wstring_view(text.m_str, SysStringLen(text.m_str));
}

std::wstring ReadText(IKestNetMessageData* message, TextGetter get) { return std::wstring(ViewOf(ReadBstr(message, get))); }

// A body of many megabytes is converted once, straight from the BSTR the
// getter hands over, to the UTF-8 the MIME parts carry.
std::string ReadUtf8Text(IKestNetMessageData* message, TextGetter get) {
  return StringConversion::ConvertCAtlStringWToUTF8(ViewOf(ReadBstr(message, get)));
}

void Check(HRESULT hr) {
  if (FAILED(hr)) ATL::AtlThrow(hr);
}

ATL::CComBSTR OwnedText(std::wstring_view text) {
  ATL::CComBSTR copy(static_cast<int>(text.size()), text.data());
  if (copy.m_str == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);
  return copy;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] - L'A' + L'a' : a[i];
    wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] - L'A' + L'a' : b[i];
    if (x != y) return false;
  }
  return true;
}

// RFC 5322 §2.2: a field name is one or more printable ASCII characters
// other than the colon. A line whose "name" is anything else is no header.
bool IsFieldName(std::wstring_view name) {
  if (name.empty()) return false;
  for (wchar_t c : name) {
    if (c < 33 || c > 126 || c == L':') return false;
  }
  return true;
}

// Copies the message's header lines into mime (the message's Date and
// X-Mailer already settled).
void CopyHeaders(IKestNetMessageData* message, KestNet::MIME& mime) {
  LONG count = 0;
  Check(message->get_NumHeaders(&count));
  for (LONG index = 0; index < count; ++index) {
    ATL::CComBSTR line;
    Check(message->GetHeader(index, &line));
    const std::wstring_view text = ViewOf(line);
    const size_t separator = text.find(kHeaderSeparator);
    if (separator == std::wstring_view::npos || !IsFieldName(text.substr(0, separator))) continue;
    const std::wstring_view name = text.substr(0, separator);
    const std::wstring_view value = text.substr(separator + kHeaderSeparator.size());
    if (EqualsIgnoringAsciiCase(name, L"Subject")) {
      mime.SetEncodedHeader("Subject", StringConversion::ConvertCAtlStringWToUTF8(value));
    } else {
      mime.SetHeader(StringConversion::ConvertCAtlStringWToANSI(name),
                     StringConversion::ConvertCAtlStringWToANSI(value));
    }
  }
}

void FillRetrievedMessage(IKestNetMessageData* message, const std::vector<std::string>& headerLines,
                          const std::vector<std::string>& bodyLines) {
  for (const std::string& line : headerLines) Check(message->AddHeader(MailEventText(line)));
  // Each body line goes to the debugger channel only while someone listens:
  // a message has thousands of them.
  const bool traced = kestnet::platform::IsDebugOutputObserved();
  size_t size = 0;
  for (const std::string& line : bodyLines) size += line.size() + 2;
  std::string body;
  body.reserve(size);
  for (const std::string& line : bodyLines) {
    if (traced) OutputDebugStringA(line.c_str());
    body += line;
    body += "\r\n";
  }
  ATL::CComBSTR text = MailEventText(body);
  Check(message->put_TextMessage(text));
  Check(message->put_HtmlMessage(text));
}

}  // namespace

ATL::CComBSTR MailEventText(const std::string& narrow) {
  ATL::CComBSTR text;
  text.Attach(kestnet::platform::AllocateBstrFromText(narrow, StringConversion::ConvertANSIToCAtlStringW));
  if (text.m_str == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);
  return text;
}

BSTR NewPropertyText(const std::string& narrow) {
  const std::wstring wide = StringConversion::ConvertANSIToCAtlStringW(narrow);
  BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (copy == nullptr) throw KestBase::OutOfMemoryException();
  return copy;
}

std::string NarrowText(BSTR text) {
  if (text == nullptr) return std::string();
  return StringConversion::ConvertCAtlStringWToANSI(std::wstring_view(text, SysStringLen(text)));
}

OutgoingMessage ReadOutgoingMessage(const ObjectIdentity& who, const MailObjectTexts& texts, IDispatch* messageData) {
  OutgoingMessage outgoing;
  if (messageData == nullptr ||
      FAILED(messageData->QueryInterface(IID_IKestNetMessageData, reinterpret_cast<void**>(&outgoing.message))) ||
      outgoing.message == nullptr) {
    RejectArgument(who, texts.invalidMessage);
  }
  // The sender is looked at before the recipient: a message lacking both
  // is reported for its sender.
  outgoing.from = ReadText(outgoing.message, &IKestNetMessageData::get_From);
  if (outgoing.from.empty()) RejectArgument(who, texts.noSender);
  if (ReadText(outgoing.message, &IKestNetMessageData::get_To).empty()) RejectArgument(who, texts.noRecipient);
  if (const auto* own = dynamic_cast<const CMessageData*>(outgoing.message.p)) {
    // This module's own message is read in place; any other implementation
    // through its interface.
    outgoing.borrowedText = own->TextMessage().Ascii();
    if (outgoing.borrowedText == nullptr) outgoing.ownedText = own->TextMessage().Utf8();
    outgoing.borrowedHtml = own->HtmlMessage().Ascii();
    if (outgoing.borrowedHtml == nullptr) outgoing.ownedHtml = own->HtmlMessage().Utf8();
  } else {
    outgoing.ownedText = ReadUtf8Text(outgoing.message, &IKestNetMessageData::get_TextMessage);
    outgoing.ownedHtml = ReadUtf8Text(outgoing.message, &IKestNetMessageData::get_HtmlMessage);
  }
  return outgoing;
}

std::unique_ptr<KestNet::MIME> ComposeMime(const OutgoingMessage& outgoing) {
  const std::string& text = outgoing.Text();
  const std::string& html = outgoing.Html();
  std::unique_ptr<KestNet::MIME> mime;
  if (!text.empty() && !html.empty()) {
    auto multipart = std::make_unique<KestNet::MultipartMIME>();
    multipart->SetMultipartType(KestNet::MIME_MULTIPART_ALTERNATIVE);
    // RFC 2046 §5.1.4: the richest alternative comes last for readers that
    // pick the last one they understand; this mailer has always put the
    // HTML part first, and its readers rely on that order.
    multipart->AddPart(html, KestNet::MIME_CONTENT_TEXT_HTML, kCharset, KestNet::MIME_ENCODING_BASE64, true);
    multipart->AddPart(text, KestNet::MIME_CONTENT_TEXT_PLAIN, kCharset, KestNet::MIME_ENCODING_BASE64, true);
    mime = std::move(multipart);
  } else {
    mime = std::make_unique<KestNet::MIME>();
    const bool htmlOnly = !html.empty();
    mime->SetContentType(htmlOnly ? KestNet::MIME_CONTENT_TEXT_HTML : KestNet::MIME_CONTENT_TEXT_PLAIN, kCharset);
    mime->SetBody(htmlOnly ? html : text, true);
  }
  mime->SetTransferEncoding(KestNet::MIME_ENCODING_BASE64);

  IKestNetMessageData* message = outgoing.message;
  // The defaults are written into the script's message itself, so that it
  // reads back what went out.
  if (ReadText(message, &IKestNetMessageData::get_Date).empty()) Check(message->SetDateToNow());
  if (ReadText(message, &IKestNetMessageData::get_XMailer).empty()) {
    Check(message->put_XMailer(OwnedText(kAnonymousMailer)));
  }
  CopyHeaders(message, *mime);
  return mime;
}

std::string RecipientList(IKestNetMessageData* message) {
  std::wstring list;
  for (TextGetter get : {&IKestNetMessageData::get_To, &IKestNetMessageData::get_Cc, &IKestNetMessageData::get_Bcc}) {
    list += ReadText(message, get);
    list += L';';
  }
  return StringConversion::ConvertCAtlStringWToANSI(list);
}

ATL::CComPtr<IKestNetMessageData> CreateMessageDataWithSite(const ObjectIdentity& who, IUnknown* site) {
  return CreateInstanceWithSite<CMessageData, IKestNetMessageData>(who, site);
}

ATL::CComPtr<IKestNetMessageData> RetrievedMessage(const ObjectIdentity& who, IUnknown* site, DWORD status,
                                                   const std::vector<std::string>& headerLines,
                                                   const std::vector<std::string>& bodyLines) {
  ATL::CComPtr<IKestNetMessageData> message = CreateMessageDataWithSite(who, site);
  if (message != nullptr && status == 0) FillRetrievedMessage(message, headerLines, bodyLines);
  return message;
}

void SplitRetrievedLines(const std::vector<std::string>& lines, std::vector<std::string>& headerLines,
                         std::vector<std::string>& bodyLines) {
  size_t index = 0;
  for (; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    // RFC 5322 §2.2.3: a line that starts with white space continues the
    // header before it (long encoded subjects arrive folded).
    const bool continuation = !headerLines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (line.find(':') == std::string::npos && !continuation) break;
    headerLines.push_back(line);
  }
  if (index < lines.size()) bodyLines.assign(lines.begin() + static_cast<std::ptrdiff_t>(index) + 1, lines.end());
}

}  // namespace KestAXLib
