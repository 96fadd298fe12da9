#include "automation/message_data.h"

#include <ctime>
#include <cwchar>
#include <string_view>

#include "automation/module.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/bstr.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::CMessageData", "KestNetMessageData", &CLSID_KestNetMessageData};

constexpr std::wstring_view kHeaderSeparator = L": ";

constexpr const wchar_t* kMonthNames[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                          L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

// Only A to Z are folded: header names are ASCII, and folding anything else
// would make two different non-ASCII names one header.
std::wstring AsciiLower(std::wstring_view text) {
  std::wstring lowered(text);
  for (wchar_t& c : lowered) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lowered;
}

struct ParsedHeader {
  bool isHeader = false;
  std::wstring_view name;
  std::wstring_view value;
};

ParsedHeader ParseHeaderLine(std::wstring_view line) {
  size_t separator = line.find(kHeaderSeparator);
  if (separator == std::wstring_view::npos) return {};
  return {true, line.substr(0, separator), line.substr(separator + kHeaderSeparator.size())};
}

std::wstring_view TrimWhiteSpace(std::wstring_view text) {
  constexpr std::wstring_view kWhiteSpace = L" \t\r\n\v\f";
  size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::wstring_view::npos) return {};
  size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::wstring_view ViewOf(BSTR text) { return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text)); }

// A new BSTR copy; running out of memory is the method's failure, not an empty result.
BSTR AllocateCopy(std::wstring_view text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) throw KestBase::OutOfMemoryException();
  return copy;
}

BSTR NewBodyText(const MessageBody& body) {
  BSTR copy = body.NewBstr();
  if (copy == nullptr) throw KestBase::OutOfMemoryException();
  return copy;
}

// A BSTR made for one call into the object's own interface.
ATL::CComBSTR OwnedCopy(std::wstring_view text) {
  ATL::CComBSTR copy;
  copy.Attach(AllocateCopy(text));
  return copy;
}

}  // namespace


CMessageData::CMessageData() : m_clock([] { return std::chrono::system_clock::now(); }) {}

CMessageData::~CMessageData() = default;

std::wstring FormatMessageDate(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm calendar{};
  if (gmtime_r(&seconds, &calendar) == nullptr) throw KestBase::InvalidOperationException();
  wchar_t buffer[200];
  int written = std::swprintf(buffer, std::size(buffer), L"%d %ls %d %02d:%02d:%02d -0000 (GMT)", calendar.tm_mday,
                              kMonthNames[calendar.tm_mon], calendar.tm_year + 1900, calendar.tm_hour,
                              calendar.tm_min, calendar.tm_sec);
  if (written < 0) throw KestBase::InvalidOperationException();
  return std::wstring(buffer, static_cast<size_t>(written));
}

void CMessageData::AppendLine(std::wstring line) {
  // The list refuses to grow past its limit; the caller hears of it rather
  // than losing the line without a word.
  if (m_headers.size() >= kMaxMessageHeaderLines) throw KestBase::OutOfMemoryException();
  if (m_headers.size() == m_headers.capacity()) m_headers.reserve(m_headers.empty() ? 1 : m_headers.size() * 2);
  m_headers.push_back(std::move(line));
}

size_t CMessageData::CheckedIndex(LONG index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_headers.size()) {
    RejectArgument(kIdentity, "RemoveHeader():  Error - Invalid Index into the Header Array.");
  }
  return static_cast<size_t>(index);
}

HRESULT CMessageData::GetNamedHeader(const wchar_t* name, const char* methodName, BSTR* pVal) {
  HRESULT result = S_OK;
  HRESULT guarded = GuardedMethod(kIdentity, methodName, [&] {
    CheckOutputPointer(kIdentity, methodName, pVal);
    *pVal = nullptr;
    ATL::CComBSTR headerName = OwnedCopy(name);
    // A header that is not there reads as null (an empty string to a script);
    // only a real failure (out of memory) is passed on, never hidden as S_OK.
    result = static_cast<IKestNetMessageData*>(this)->GetHeaderByName(headerName, pVal);
  });
  return FAILED(guarded) ? guarded : result;
}

HRESULT CMessageData::PutNamedHeader(const wchar_t* name, const char* failedMessage, BSTR newVal) {
  HRESULT hr = E_FAIL;
  try {
    ATL::CComBSTR headerName = OwnedCopy(name);
    hr = static_cast<IKestNetMessageData*>(this)->SetHeaderByName(headerName, newVal);
  } catch (...) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    Log(kIdentity.className, 1, "%s", failedMessage);
    return E_FAIL;
  }
  return S_OK;
}

STDMETHODIMP CMessageData::get_To(BSTR* pVal) { return GetNamedHeader(L"To", "get_To", pVal); }
STDMETHODIMP CMessageData::put_To(BSTR newVal) {
  return PutNamedHeader(L"To", "put_To():  Error - Failed to place the message", newVal);
}
STDMETHODIMP CMessageData::get_From(BSTR* pVal) { return GetNamedHeader(L"From", "get_From", pVal); }
STDMETHODIMP CMessageData::put_From(BSTR newVal) {
  return PutNamedHeader(L"From", "put_From():  Error - Failed to place the data.", newVal);
}
STDMETHODIMP CMessageData::get_Subject(BSTR* pVal) { return GetNamedHeader(L"Subject", "get_Subject", pVal); }
STDMETHODIMP CMessageData::put_Subject(BSTR newVal) {
  return PutNamedHeader(L"Subject", "put_Subject():  Error - Failed to place the data.", newVal);
}
STDMETHODIMP CMessageData::get_XMailer(BSTR* pVal) { return GetNamedHeader(L"X-Mailer", "get_XMailer", pVal); }
STDMETHODIMP CMessageData::put_XMailer(BSTR newVal) {
  return PutNamedHeader(L"X-Mailer", "put_XMailer():  Error - Failed to place the message.", newVal);
}
STDMETHODIMP CMessageData::get_Cc(BSTR* pVal) { return GetNamedHeader(L"Cc", "get_Cc", pVal); }
STDMETHODIMP CMessageData::put_Cc(BSTR newVal) {
  return PutNamedHeader(L"Cc", "put_Cc():  Error - Failed to place the data.", newVal);
}
STDMETHODIMP CMessageData::get_Bcc(BSTR* pVal) { return GetNamedHeader(L"Bcc", "get_Bcc", pVal); }
STDMETHODIMP CMessageData::put_Bcc(BSTR newVal) {
  return PutNamedHeader(L"Bcc", "put_Bcc():  Error - Failed to place the data.", newVal);
}
STDMETHODIMP CMessageData::get_Date(BSTR* pVal) { return GetNamedHeader(L"Date", "get_Date", pVal); }
STDMETHODIMP CMessageData::put_Date(BSTR newVal) {
  return PutNamedHeader(L"Date", "put_Date():  Error - Failed to place the data.", newVal);
}

STDMETHODIMP CMessageData::get_NumHeaders(LONG* pVal) {
  return GuardedMethod(kIdentity, "get_NumHeaders", [&] {
    CheckOutputPointer(kIdentity, "get_NumHeaders", pVal);
    *pVal = static_cast<LONG>(m_headers.size());
  });
}

STDMETHODIMP CMessageData::get_TextMessage(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_TextMessage", [&] {
    CheckOutputPointer(kIdentity, "get_TextMessage", pVal);
    *pVal = NewBodyText(m_textMessage);
  });
}
STDMETHODIMP CMessageData::put_TextMessage(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_TextMessage", [&] { m_textMessage.Assign(ViewOf(newVal)); });
}
STDMETHODIMP CMessageData::get_HtmlMessage(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_HtmlMessage", [&] {
    CheckOutputPointer(kIdentity, "get_HtmlMessage", pVal);
    *pVal = NewBodyText(m_htmlMessage);
  });
}
STDMETHODIMP CMessageData::put_HtmlMessage(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_HtmlMessage", [&] { m_htmlMessage.Assign(ViewOf(newVal)); });
}

STDMETHODIMP CMessageData::AddHeader(BSTR CustomHeader) {
  return GuardedMethod(kIdentity, "AddHeader", [&] { AppendLine(std::wstring(ViewOf(CustomHeader))); });
}

STDMETHODIMP CMessageData::RemoveHeader(LONG HeaderIndex) {
  return GuardedMethod(kIdentity, "RemoveHeader", [&] {
    size_t index = CheckedIndex(HeaderIndex);
    m_headers.erase(m_headers.begin() + static_cast<std::ptrdiff_t>(index));
  });
}

STDMETHODIMP CMessageData::GetHeader(LONG HeaderIndex, BSTR* pVal) {
  return GuardedMethod(kIdentity, "GetHeader", [&] {
    CheckOutputPointer(kIdentity, "GetHeader", pVal);
    // The index check shares RemoveHeader's message: scripts that parse the
    // error log for it see one text for both.
    *pVal = AllocateCopy(m_headers[CheckedIndex(HeaderIndex)]);
  });
}

STDMETHODIMP CMessageData::ClearAllHeaders() {
  return GuardedMethod(kIdentity, "ClearAllHeaders", [&] { m_headers.clear(); });
}

STDMETHODIMP CMessageData::SetDateToNow() {
  HRESULT hr = E_FAIL;
  try {
    std::wstring now = FormatMessageDate(m_clock());
    ATL::CComBSTR name = OwnedCopy(L"Date");
    ATL::CComBSTR value = OwnedCopy(now);
    hr = static_cast<IKestNetMessageData*>(this)->SetHeaderByName(name, value);
  } catch (...) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    Log(kIdentity.className, 1, "SetDateToNow():  Error - Failed to place the data.");
    return E_FAIL;
  }
  return S_OK;
}

STDMETHODIMP CMessageData::GetHeaderByName(BSTR HeaderName, BSTR* pVal) {
  return GuardedMethod(kIdentity, "GetHeaderByName", [&] {
    CheckOutputPointer(kIdentity, "GetHeaderByName", pVal);
    *pVal = nullptr;
    std::wstring wanted = AsciiLower(ViewOf(HeaderName));
    for (size_t i = 0; i < m_headers.size(); ++i) {
      ParsedHeader header = ParseHeaderLine(m_headers[i]);
      if (!header.isHeader || AsciiLower(header.name) != wanted) continue;
      std::wstring value(header.value);
      for (size_t next = i + 1; next < m_headers.size() && !ParseHeaderLine(m_headers[next]).isHeader; ++next) {
        value += TrimWhiteSpace(m_headers[next]);
      }
      *pVal = AllocateCopy(value);
      return;
    }
  });
}

STDMETHODIMP CMessageData::SetHeaderByName(BSTR HeaderName, BSTR HeaderValue) {
  return GuardedMethod(kIdentity, "SetHeaderByName", [&] {
    std::wstring line(ViewOf(HeaderName));
    line += kHeaderSeparator;
    line += ViewOf(HeaderValue);
    std::wstring wanted = AsciiLower(ViewOf(HeaderName));
    for (std::wstring& existing : m_headers) {
      ParsedHeader header = ParseHeaderLine(existing);
      if (header.isHeader && AsciiLower(header.name) == wanted) {
        existing = std::move(line);
        return;
      }
    }
    AppendLine(std::move(line));
  });
}

OBJECT_ENTRY_AUTO(CLSID_KestNetMessageData, CMessageData)

}  // namespace KestAXLib
