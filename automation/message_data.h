// KestNetMessageData: the mail message a script composes before an SMTP
// object sends it, and the form in which a POP3 object hands a retrieved
// message over. A plain value object: an ordered list of header lines and two
// bodies, with no events, window or listener.
//
// The well-known headers (To, From, Subject, X-Mailer, Cc, Bcc, Date) are not
// fields of their own: their properties read and write lines of the list by
// name. A line "Name: value" is a header; a line without ": " continues the
// header line before it. Names compare without regard to ASCII case.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "automation/class_factory.h"
#include "automation/com_object.h"
#include "automation/interfaces.h"
#include "automation/message_body.h"
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"

namespace KestAXLib {

// The most header lines a message holds; a line beyond it is refused.
inline constexpr size_t kMaxMessageHeaderLines = 0x0FFFFFFF;

class CMessageData : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
                     public ATL::CComCoClass<CMessageData, &CLSID_KestNetMessageData>,
                     public TolLock<CMessageData, IKestNetMessageData, &IID_IKestNetMessageData, &LIBID_KestNet, 1, 0>,
                     public ATL::IObjectWithSiteImpl<CMessageData>,
                     public ATL::IObjectSafetyImpl<CMessageData, 3>,
                     public ATL::ISupportErrorInfoImpl<&IID_IKestNetMessageData> {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  CMessageData();
  virtual ~CMessageData();

  BEGIN_COM_MAP(CMessageData)
  COM_INTERFACE_ENTRY(IKestNetMessageData)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetMessageData)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  END_COM_MAP()

  // Where SetDateToNow reads the time; the system clock unless replaced.
  void SetClock(Clock clock) { m_clock = std::move(clock); }

  // IKestNetMessageData
  STDMETHODIMP get_To(BSTR* pVal) override;
  STDMETHODIMP put_To(BSTR newVal) override;
  STDMETHODIMP get_From(BSTR* pVal) override;
  STDMETHODIMP put_From(BSTR newVal) override;
  STDMETHODIMP get_Subject(BSTR* pVal) override;
  STDMETHODIMP put_Subject(BSTR newVal) override;
  STDMETHODIMP get_XMailer(BSTR* pVal) override;
  STDMETHODIMP put_XMailer(BSTR newVal) override;
  STDMETHODIMP get_Cc(BSTR* pVal) override;
  STDMETHODIMP put_Cc(BSTR newVal) override;
  STDMETHODIMP get_Bcc(BSTR* pVal) override;
  STDMETHODIMP put_Bcc(BSTR newVal) override;
  STDMETHODIMP get_Date(BSTR* pVal) override;
  STDMETHODIMP put_Date(BSTR newVal) override;
  STDMETHODIMP get_NumHeaders(LONG* pVal) override;
  STDMETHODIMP get_TextMessage(BSTR* pVal) override;
  STDMETHODIMP put_TextMessage(BSTR newVal) override;
  STDMETHODIMP get_HtmlMessage(BSTR* pVal) override;
  STDMETHODIMP put_HtmlMessage(BSTR newVal) override;
  STDMETHODIMP AddHeader(BSTR CustomHeader) override;
  STDMETHODIMP RemoveHeader(LONG HeaderIndex) override;
  STDMETHODIMP GetHeader(LONG HeaderIndex, BSTR* pVal) override;
  STDMETHODIMP ClearAllHeaders() override;
  STDMETHODIMP SetDateToNow() override;
  STDMETHODIMP GetHeaderByName(BSTR HeaderName, BSTR* pVal) override;
  STDMETHODIMP SetHeaderByName(BSTR HeaderName, BSTR HeaderValue) override;

  // The bodies and lines as they are held (the POP3 object fills a message
  // through these on its own thread before handing it over).
  const std::vector<std::wstring>& HeaderLines() const { return m_headers; }
  const MessageBody& TextMessage() const { return m_textMessage; }
  const MessageBody& HtmlMessage() const { return m_htmlMessage; }

 private:
  // The named-property pattern: get reads the header through the object's
  // own interface; put writes it and reports failedMessage when that fails.
  HRESULT GetNamedHeader(const wchar_t* name, const char* methodName, BSTR* pVal);
  HRESULT PutNamedHeader(const wchar_t* name, const char* failedMessage, BSTR newVal);

  void AppendLine(std::wstring line);
  size_t CheckedIndex(LONG index) const;

  std::vector<std::wstring> m_headers;
  MessageBody m_textMessage;
  MessageBody m_htmlMessage;
  Clock m_clock;
};

// The Date header text of a moment: "4 Dec 2026 03:05:09 -0000 (GMT)".
std::wstring FormatMessageDate(std::chrono::system_clock::time_point when);

}  // namespace KestAXLib
