// KestNetSMTP: the scriptable face of the SMTP client (KestNet::SmtpClient).
//
// A script sets Server, Port and, for AUTH LOGIN, Username and Password,
// calls Connect and waits for OnSMTPReady; SendMessage then sends a
// KestNetMessageData, converted to a MIME message, and OnSMTPSendComplete
// tells how it went. Disconnect sends QUIT; OnSMTPClose ends every session.
//
// One message at a time: the sending flag is set when the client has taken
// a message and cleared on the object's thread when its send-complete record
// is handled (before the event fires, so that the handler may send the next
// one) or when the connection's close record is, since a connection lost
// while sending may end without a send-complete report. The MIME of the
// message being sent stays with the object until the next send replaces it.
//
// The client reports on its socket and watchdog threads with its mutex held;
// each report only becomes a CSMTPEvent posted to the hidden window, which
// fires the event on the object's thread.
//
// Ownership: the object owns its client and the MIME being sent. At final
// release the window goes first (records still queued are dropped), then the
// client, whose destruction closes a connection still open, then the MIME.
#pragma once

#include <memory>
#include <string>

#include "automation/async_event_window.h"
#include "automation/class_factory.h"
#include "automation/com_object.h"
#include "automation/event_proxies.h"
#include "automation/interfaces.h"
#include "automation/kest_coclass.h"
#include "automation/mail_object_support.h"
#include "automation/mail_session_members.h"
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"
#include "net/mail/mime.h"
#include "net/mail/smtp_client.h"

namespace KestAXLib {

// Event ids of the SMTP object's records.
inline constexpr DWORD kSmtpConnectEventId = 0;
inline constexpr DWORD kSmtpHeaderEventId = 1;
inline constexpr DWORD kSmtpReadyEventId = 2;
inline constexpr DWORD kSmtpHelloEventId = 3;
inline constexpr DWORD kSmtpAuthenticationRequestEventId = 4;
inline constexpr DWORD kSmtpUserNameEventId = 5;
inline constexpr DWORD kSmtpPasswordEventId = 6;
inline constexpr DWORD kSmtpAuthenticatedEventId = 7;
inline constexpr DWORD kSmtpCloseEventId = 8;
inline constexpr DWORD kSmtpQuitEventId = 9;
inline constexpr DWORD kSmtpSendCompleteEventId = 10;

// One report of the client, copied on the reporting thread.
class CSMTPEvent : public KestBase::CAsyncEventData {
 public:
  DWORD m_dwStatus = 0;
  std::string m_strResponse;
};

class CSMTP : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
              public ATL::CComCoClass<CSMTP, &CLSID_KestNetSMTP>,
              public TolLock<CSMTP, MailSessionMembers<CSMTP, IKestNetSMTP>, &IID_IKestNetSMTP, &LIBID_KestNet, 1, 0>,
              public ATL::IObjectWithSiteImpl<CSMTP>,
              public ATL::IObjectSafetyImpl<CSMTP, 3>,
              public ATL::IConnectionPointContainerImpl<CSMTP>,
              public CProxy_IKestNetSMTPEvents<CSMTP>,
              public ATL::ISupportErrorInfoImpl<&IID_IKestNetSMTP>,
              public ATL::IProvideClassInfo2Impl<&CLSID_KestNetSMTP, &IID_IKestNetSMTPEvents, &LIBID_KestNet, 1, 0>,
              public KestNet::SmtpClientListener,
              public KestBase::CAsyncEventMgrWnd {
 public:
  CSMTP();
  ~CSMTP() override;

  BEGIN_COM_MAP(CSMTP)
  COM_INTERFACE_ENTRY(IKestNetSMTP)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetSMTP)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  HRESULT FinalConstruct();
  void FinalRelease();

  // What MailSessionMembers asks of the object.
  static const ObjectIdentity& Identity();
  // The client; throws InvalidObjectException when construction failed.
  KestNet::SmtpClient& Client() { return m_client.Get(); }
  static constexpr const char* kGetServerName = "get_Server";
  static constexpr const char* kPutServerName = "put_Server";

  // IKestNetSMTP, besides the members of MailSessionMembers.
  STDMETHODIMP SendMessage(IDispatch* MessageData) override;
  STDMETHODIMP get_SMTP_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_SMTP_SOCKET_FAILURE(LONG* pVal) override;
  STDMETHODIMP get_SMTP_CONNECT_ERROR(LONG* pVal) override;
  STDMETHODIMP get_SMTP_TERMINATED(LONG* pVal) override;
  STDMETHODIMP get_SMTP_INVALID_ARGS(LONG* pVal) override;
  STDMETHODIMP get_SMTP_BUSY(LONG* pVal) override;
  STDMETHODIMP get_SMTP_INVALID_STATE(LONG* pVal) override;
  STDMETHODIMP get_SMTP_UNEXPECTED(LONG* pVal) override;
  STDMETHODIMP get_SMTP_AUTH_ERROR(LONG* pVal) override;

  // SmtpClientListener: the client's threads; each posts a CSMTPEvent.
  void OnSMTPConnected(DWORD p_dwStatus) override;
  void OnSMTPHeader(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPHello(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPAuthenticateRequest(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPUsername(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPPassword(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPAuthenticated(DWORD p_dwStatus) override;
  void OnSMTPMailSent(DWORD p_dwStatus) override;
  void OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPClose(DWORD p_dwStatus) override;
  void OnSMTPReady() override;

  // CAsyncEventMgrWnd: the object's thread; fires the record's event.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // The fire steps of the event ids (HandleAsyncEventMessage holds the table).
  void FireConnect(CSMTPEvent& record);
  void FireHeader(CSMTPEvent& record);
  void FireReady(CSMTPEvent& record);
  void FireHello(CSMTPEvent& record);
  void FireAuthenticationRequest(CSMTPEvent& record);
  void FireUserName(CSMTPEvent& record);
  void FirePassword(CSMTPEvent& record);
  void FireAuthenticated(CSMTPEvent& record);
  void FireClose(CSMTPEvent& record);
  void FireQuit(CSMTPEvent& record);
  void FireSendComplete(CSMTPEvent& record);

  // Posts a record of status and text as eventId.
  void PostStatus(const char* callbackName, DWORD eventId, DWORD status, const std::string& text = std::string());

  // The message the client sends or sent last; not touched while sending.
  // Declared before the client, which may still read it until it is gone.
  std::unique_ptr<KestNet::MIME> m_mime;
  MailClientHolder<KestNet::SmtpClient> m_client;
  // Object's thread only: set by SendMessage, cleared by the send-complete
  // and close handlers.
  bool m_bSending = false;
};

}  // namespace KestAXLib
