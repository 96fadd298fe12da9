#include "automation/smtp_ex_object.h"

#include "automation/module.h"
#include "platform/com/atl_bstr.h"
#include "runtime/log.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::SMTPEx", "KestNetSMTPEx", &CLSID_KestNetSMTPEx};

}  // namespace

CSMTPEx::CSMTPEx() : CProxy_IKestNetSMTPExEvents<CSMTPEx>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CSMTPEx", LifecycleStep::Constructor, [&] { m_client.Create(); });
}

CSMTPEx::~CSMTPEx() {
  GuardedLifecycle(kIdentity, "~CSMTPEx", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CSMTPEx::FinalConstruct() {
  HRESULT result = S_OK;
  if (!GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct,
                        [&] { result = m_client.Start(this); })) {
    result = S_FALSE;
  }
  return result;
}

void CSMTPEx::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    m_client.Stop();
    m_mime.reset();
  });
}

const ObjectIdentity& CSMTPEx::Identity() { return kIdentity; }

// ---------------------------------------------------------------------------
// Commands and constants.

STDMETHODIMP CSMTPEx::SendMessage(IDispatch* MessageData) {
  return GuardedMethod(kIdentity, "SendMessage", [&] {
    SendMailMessage(kIdentity, kSecureMailObjectTexts, m_bSending, m_mime, MessageData,
                    [&](const OutgoingMessage&, KestNet::MIME& mime) { Client().Send(&mime); });
  });
}

STDMETHODIMP CSMTPEx::get_SMTPEX_SUCCESS(LONG* pVal) {
  return GetConstant("get_SMTPEX_SUCCESS", KestNet::SMTPEX_SUCCESS, pVal);
}
STDMETHODIMP CSMTPEx::get_SMTPEX_CONNECT_ERROR(LONG* pVal) {
  return GetConstant("get_SMTPEX_CONNECT_ERROR", KestNet::SMTPEX_CONNECT_ERROR, pVal);
}
STDMETHODIMP CSMTPEx::get_SMTPEX_TERMINATED(LONG* pVal) {
  return GetConstant("get_SMTPEX_TERMINATED", KestNet::SMTPEX_TERMINATED, pVal);
}
STDMETHODIMP CSMTPEx::get_SMTPEX_INVALID_STATE(LONG* pVal) {
  return GetConstant("get_SMTPEX_INVALID_STATE", KestNet::SMTPEX_INVALID_STATE, pVal);
}
STDMETHODIMP CSMTPEx::get_SMTPEX_UNEXPECTED(LONG* pVal) {
  return GetConstant("get_SMTPEX_UNEXPECTED", KestNet::SMTPEX_UNEXPECTED, pVal);
}

// ---------------------------------------------------------------------------
// The client's reports (its worker thread).

void CSMTPEx::PostStatus(const char* callbackName, DWORD eventId, DWORD status, const std::string& text) {
  PostMailEvent<CSMTPExEvent>(kIdentity, kSecureMailObjectTexts, *this, callbackName, eventId,
                              [&](CSMTPExEvent& record) {
                                record.m_dwStatus = status;
                                record.m_strResponse = text;
                              });
}

void CSMTPEx::OnSmtpExConnect(DWORD p_dwStatus) { PostStatus("OnSmtpExConnect", kSmtpExConnectEventId, p_dwStatus); }
void CSMTPEx::OnSmtpExReady() { PostStatus("OnSmtpExReady", kSmtpExReadyEventId, KestNet::SMTPEX_SUCCESS); }
void CSMTPEx::OnSmtpExQuit(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSmtpExQuit", kSmtpExQuitEventId, p_dwStatus, p_strText);
}
void CSMTPEx::OnSmtpExClose(DWORD p_dwStatus) { PostStatus("OnSmtpExClose", kSmtpExCloseEventId, p_dwStatus); }
void CSMTPEx::OnSmtpExMailSent(DWORD p_dwStatus) {
  PostStatus("OnSmtpExMailSent", kSmtpExSendCompleteEventId, p_dwStatus);
}

void CSMTPEx::OnSmtpExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                                const std::string& p_strSubject) {
  PostMailEvent<CSMTPExEvent>(kIdentity, kSecureMailObjectTexts, *this, "OnSmtpExRejectedServerCertificate",
                              kSmtpExRejectedCertificateEventId, [&](CSMTPExEvent& record) {
                                record.m_strCertificateStatus = p_strStatusText;
                                record.m_strCertificateIssuer = p_strIssuer;
                                record.m_strCertificateSubject = p_strSubject;
                              });
}

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CSMTPEx::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // A sink may drop the script's last reference while it runs; the object
  // stays until the event has reached every sink.
  ATL::CComPtr<IKestNetSMTPEx> keepAlive(static_cast<IKestNetSMTPEx*>(this));
  // Function-local: a program may hold this library twice, and each copy
  // keeps its own table.
  static const MailEventHandler<CSMTPEx, CSMTPExEvent> kEventHandlers[] = {
    {kSmtpExConnectEventId, &CSMTPEx::FireConnect},
    {kSmtpExReadyEventId, &CSMTPEx::FireReady},
    {kSmtpExCloseEventId, &CSMTPEx::FireClose},
    {kSmtpExQuitEventId, &CSMTPEx::FireQuit},
    {kSmtpExSendCompleteEventId, &CSMTPEx::FireSendComplete},
    {kSmtpExRejectedCertificateEventId, &CSMTPEx::FireRejectedCertificate},
  };
  DispatchMailEvent<CSMTPEx, CSMTPExEvent>(kIdentity, kSecureMailObjectTexts, kEventHandlers, *this, eventId, record);
}

void CSMTPEx::FireConnect(CSMTPExEvent& record) { Fire_OnSMTPConnect(static_cast<LONG>(record.m_dwStatus)); }
void CSMTPEx::FireReady(CSMTPExEvent&) { Fire_OnSMTPReady(); }
void CSMTPEx::FireQuit(CSMTPExEvent& record) {
  Fire_OnSMTPQuit(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CSMTPEx::FireClose(CSMTPExEvent& record) {
  // A connection lost in the middle of a send may end without a
  // send-complete report; the next connection must be able to send.
  m_bSending = false;
  Fire_OnSMTPClose(static_cast<LONG>(record.m_dwStatus));
}

void CSMTPEx::FireSendComplete(CSMTPExEvent& record) {
  // Cleared first: the script's handler may send the next message.
  m_bSending = false;
  Fire_OnSMTPSendComplete(static_cast<LONG>(record.m_dwStatus));
}

void CSMTPEx::FireRejectedCertificate(CSMTPExEvent& record) {
  Fire_OnSMTPRejectedServerCertificate(MailEventText(record.m_strCertificateStatus),
                                       MailEventText(record.m_strCertificateIssuer),
                                       MailEventText(record.m_strCertificateSubject));
}

OBJECT_ENTRY_AUTO(CLSID_KestNetSMTPEx, CSMTPEx)

}  // namespace KestAXLib
