#include "automation/smtp_object.h"

#include <utility>

#include "automation/module.h"
#include "net/sockets/set_manager.h"
#include "platform/com/atl_bstr.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::SMTP", "KestNetSMTP", &CLSID_KestNetSMTP};

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

const MailEventHandler<CSMTP, CSMTPEvent> CSMTP::kEventHandlers[] = {
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

CSMTP::CSMTP() : CProxy_IKestNetSMTPEvents<CSMTP>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CSMTP", LifecycleStep::Constructor,
                   [&] { m_client = std::make_unique<KestNet::SmtpClient>(); });
}

CSMTP::~CSMTP() {
  GuardedLifecycle(kIdentity, "~CSMTP", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CSMTP::FinalConstruct() {
  HRESULT result = S_OK;
  GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct, [&] {
    m_bSocketsInitialized = KestNet::InitializeSockets();
    // Without the socket layer the object still exists, but no client
    // reports to it: every command then fails in the client.
    if (!m_bSocketsInitialized) {
      result = S_FALSE;
      return;
    }
    if (m_client != nullptr) m_client->SetListener(this);
  });
  return result;
}

void CSMTP::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    m_client.reset();
    m_mime.reset();
    if (m_bSocketsInitialized) {
      m_bSocketsInitialized = false;
      KestNet::UninitializeSockets();
    }
  });
}

KestNet::SmtpClient& CSMTP::Client() {
  if (m_client == nullptr) throw KestBase::InvalidObjectException();
  return *m_client;
}

// ---------------------------------------------------------------------------
// Properties and commands.

STDMETHODIMP CSMTP::get_Server(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_Server", [&] {
    CheckOutputPointer(kIdentity, "get_Server", pVal);
    *pVal = NewPropertyText(ClientHost(Client()));
  });
}

STDMETHODIMP CSMTP::put_Server(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_Server", [&] { PutClientServer(Client(), newVal); });
}

STDMETHODIMP CSMTP::get_Port(LONG* pVal) {
  return GuardedMethod(kIdentity, "get_Port", [&] {
    CheckOutputPointer(kIdentity, "get_Port", pVal);
    *pVal = static_cast<LONG>(ClientPort(Client()));
  });
}

STDMETHODIMP CSMTP::put_Port(LONG newVal) {
  return GuardedMethod(kIdentity, "put_Port", [&] { PutClientPort(Client(), newVal); });
}

STDMETHODIMP CSMTP::get_Username(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_Username", [&] {
    CheckOutputPointer(kIdentity, "get_Username", pVal);
    std::string user;
    Client().GetUser(user);
    *pVal = NewPropertyText(user);
  });
}

STDMETHODIMP CSMTP::put_Username(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_Username", [&] { Client().SetUser(NarrowText(newVal)); });
}

STDMETHODIMP CSMTP::get_Password(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_Password", [&] {
    CheckOutputPointer(kIdentity, "get_Password", pVal);
    std::string password;
    Client().GetPassword(password);
    *pVal = NewPropertyText(password);
  });
}

STDMETHODIMP CSMTP::put_Password(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_Password", [&] { Client().SetPassword(NarrowText(newVal)); });
}

STDMETHODIMP CSMTP::Connect() {
  return GuardedMethod(kIdentity, "Connect", [&] { Client().Connect(); });
}

STDMETHODIMP CSMTP::get_Connected(VARIANT_BOOL* pVal) {
  return GuardedMethod(kIdentity, "get_Connected", [&] {
    CheckOutputPointer(kIdentity, "get_Connected", pVal);
    *pVal = AsVariantBool(Client().IsConnected());
  });
}

STDMETHODIMP CSMTP::get_Ready(VARIANT_BOOL* pVal) {
  return GuardedMethod(kIdentity, "get_Ready", [&] {
    CheckOutputPointer(kIdentity, "get_Ready", pVal);
    *pVal = AsVariantBool(Client().IsReady());
  });
}

STDMETHODIMP CSMTP::Disconnect() {
  return GuardedMethod(kIdentity, "Disconnect", [&] { Client().Disconnect(); });
}

STDMETHODIMP CSMTP::SendMessage(IDispatch* MessageData) {
  return GuardedMethod(kIdentity, "SendMessage", [&] {
    if (m_bSending) {
      Log(kIdentity.className, kLogLevelWarning, "%s", kPlainMailObjectTexts.alreadySending);
      throw KestBase::InvalidOperationException();
    }
    OutgoingMessage outgoing = ReadOutgoingMessage(kIdentity, kPlainMailObjectTexts, MessageData);
    KestNet::SmtpClient& client = Client();
    client.SetSenderName(KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(outgoing.from));
    std::unique_ptr<KestNet::MIME> mime = ComposeMime(outgoing);
    client.Send(RecipientList(outgoing.message), mime.get());
    // The client holds the new message now; the previous one, sent or
    // refused, is no longer read by anyone.
    m_mime = std::move(mime);
    m_bSending = true;
  });
}

HRESULT CSMTP::GetConstant(const char* methodName, DWORD value, LONG* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    CheckOutputPointer(kIdentity, methodName, pVal);
    *pVal = static_cast<LONG>(value);
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
