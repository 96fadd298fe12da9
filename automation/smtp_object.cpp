#include "automation/smtp_object.h"

#include <utility>

#include "automation/module.h"
#include "platform/com/atl_bstr.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::SMTP", "KestNetSMTP", &CLSID_KestNetSMTP};

}  // namespace

CSMTP::CSMTP() : CProxy_IKestNetSMTPEvents<CSMTP>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CSMTP", LifecycleStep::Constructor,
                   [&] { m_client.Create(); });
}

CSMTP::~CSMTP() {
  GuardedLifecycle(kIdentity, "~CSMTP", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CSMTP::FinalConstruct() {
  HRESULT result = S_OK;
  GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct, [&] { result = m_client.Start(this); });
  return result;
}

void CSMTP::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    m_client.Stop();
    m_mime.reset();
  });
}

const ObjectIdentity& CSMTP::Identity() { return kIdentity; }

// ---------------------------------------------------------------------------
// Commands and constants.

STDMETHODIMP CSMTP::SendMessage(IDispatch* MessageData) {
  return GuardedMethod(kIdentity, "SendMessage", [&] {
    SendMailMessage(kIdentity, kPlainMailObjectTexts, m_bSending, m_mime, MessageData,
                    [&](const OutgoingMessage& outgoing, KestNet::MIME& mime) {
                      KestNet::SmtpClient& client = Client();
                      client.SetSenderName(KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(outgoing.from));
                      client.Send(RecipientList(outgoing.message), &mime);
                    });
  });
}

STDMETHODIMP CSMTP::get_SMTP_SUCCESS(LONG* pVal) {
  return GetConstant("get_SMTP_SUCCESS", KestNet::SMTP_SUCCESS, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_SOCKET_FAILURE(LONG* pVal) {
  return GetConstant("get_SMTP_SOCKET_FAILURE", KestNet::SMTP_SOCKET_FAILURE, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_CONNECT_ERROR(LONG* pVal) {
  return GetConstant("get_SMTP_CONNECT_ERROR", KestNet::SMTP_CONNECT_ERROR, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_TERMINATED(LONG* pVal) {
  return GetConstant("get_SMTP_TERMINATED", KestNet::SMTP_TERMINATED, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_INVALID_ARGS(LONG* pVal) {
  return GetConstant("get_SMTP_INVALID_ARGS", KestNet::SMTP_INVALID_ARGS, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_BUSY(LONG* pVal) { return GetConstant("get_SMTP_BUSY", KestNet::SMTP_BUSY, pVal); }
STDMETHODIMP CSMTP::get_SMTP_INVALID_STATE(LONG* pVal) {
  return GetConstant("get_SMTP_INVALID_STATE", KestNet::SMTP_INVALID_STATE, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_UNEXPECTED(LONG* pVal) {
  return GetConstant("get_SMTP_UNEXPECTED", KestNet::SMTP_UNEXPECTED, pVal);
}
STDMETHODIMP CSMTP::get_SMTP_AUTH_ERROR(LONG* pVal) {
  return GetConstant("get_SMTP_AUTH_ERROR", KestNet::SMTP_AUTH_ERROR, pVal);
}

// ---------------------------------------------------------------------------
// The client's reports (its threads, its mutex held).

void CSMTP::PostStatus(const char* callbackName, DWORD eventId, DWORD status, const std::string& text) {
  PostMailEvent<CSMTPEvent>(kIdentity, kPlainMailObjectTexts, *this, callbackName, eventId, [&](CSMTPEvent& record) {
    record.m_dwStatus = status;
    record.m_strResponse = text;
  });
}

void CSMTP::OnSMTPConnected(DWORD p_dwStatus) { PostStatus("OnSMTPConnected", kSmtpConnectEventId, p_dwStatus); }
void CSMTP::OnSMTPHeader(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPHeader", kSmtpHeaderEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPHello(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPHello", kSmtpHelloEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPAuthenticateRequest(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPAuthenticateRequest", kSmtpAuthenticationRequestEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPUsername(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPUsername", kSmtpUserNameEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPPassword(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPPassword", kSmtpPasswordEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPAuthenticated(DWORD p_dwStatus) {
  PostStatus("OnSMTPAuthenticated", kSmtpAuthenticatedEventId, p_dwStatus);
}
void CSMTP::OnSMTPMailSent(DWORD p_dwStatus) { PostStatus("OnSMTPMailSent", kSmtpSendCompleteEventId, p_dwStatus); }
void CSMTP::OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) {
  PostStatus("OnSMTPQuit", kSmtpQuitEventId, p_dwStatus, p_strText);
}
void CSMTP::OnSMTPClose(DWORD p_dwStatus) { PostStatus("OnSMTPClose", kSmtpCloseEventId, p_dwStatus); }
void CSMTP::OnSMTPReady() { PostStatus("OnSMTPReady", kSmtpReadyEventId, KestNet::SMTP_SUCCESS); }

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CSMTP::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // A sink may drop the script's last reference while it runs; the object
  // stays until the event has reached every sink.
  ATL::CComPtr<IKestNetSMTP> keepAlive(static_cast<IKestNetSMTP*>(this));
  // Function-local: a program may hold this library twice, and each copy
  // keeps its own table.
  static const MailEventHandler<CSMTP, CSMTPEvent> kEventHandlers[] = {
    {kSmtpConnectEventId, &CSMTP::FireConnect},
    {kSmtpHeaderEventId, &CSMTP::FireHeader},
    {kSmtpReadyEventId, &CSMTP::FireReady},
    {kSmtpHelloEventId, &CSMTP::FireHello},
    {kSmtpAuthenticationRequestEventId, &CSMTP::FireAuthenticationRequest},
    {kSmtpUserNameEventId, &CSMTP::FireUserName},
    {kSmtpPasswordEventId, &CSMTP::FirePassword},
    {kSmtpAuthenticatedEventId, &CSMTP::FireAuthenticated},
    {kSmtpCloseEventId, &CSMTP::FireClose},
    {kSmtpQuitEventId, &CSMTP::FireQuit},
    {kSmtpSendCompleteEventId, &CSMTP::FireSendComplete},
  };
  DispatchMailEvent<CSMTP, CSMTPEvent>(kIdentity, kPlainMailObjectTexts, kEventHandlers, *this, eventId, record);
}

void CSMTP::FireConnect(CSMTPEvent& record) { Fire_OnSMTPConnect(static_cast<LONG>(record.m_dwStatus)); }
void CSMTP::FireHeader(CSMTPEvent& record) {
  Fire_OnSMTPHeader(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}
void CSMTP::FireReady(CSMTPEvent&) { Fire_OnSMTPReady(); }
void CSMTP::FireHello(CSMTPEvent& record) {
  Fire_OnSMTPHello(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}
void CSMTP::FireAuthenticationRequest(CSMTPEvent& record) {
  Fire_OnSMTPAuthenticationRequest(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}
void CSMTP::FireUserName(CSMTPEvent& record) {
  Fire_OnSMTPUserName(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}
void CSMTP::FirePassword(CSMTPEvent& record) {
  Fire_OnSMTPPassword(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}
void CSMTP::FireAuthenticated(CSMTPEvent& record) { Fire_OnSMTPAuthenticated(static_cast<LONG>(record.m_dwStatus)); }
void CSMTP::FireQuit(CSMTPEvent& record) {
  Fire_OnSMTPQuit(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CSMTP::FireClose(CSMTPEvent& record) {
  // A connection lost in the middle of a send may end without a
  // send-complete report; the next connection must be able to send.
  m_bSending = false;
  Fire_OnSMTPClose(static_cast<LONG>(record.m_dwStatus));
}

void CSMTP::FireSendComplete(CSMTPEvent& record) {
  // Cleared first: the script's handler may send the next message.
  m_bSending = false;
  Fire_OnSMTPSendComplete(static_cast<LONG>(record.m_dwStatus));
}

OBJECT_ENTRY_AUTO(CLSID_KestNetSMTP, CSMTP)

}  // namespace KestAXLib
