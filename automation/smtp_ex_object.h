// KestNetSMTPEx: the scriptable face of the secure SMTP client
// (KestNet::SmtpExClient). Used like KestNetSMTP, with UseSSL (TLS from the
// first byte when VARIANT_TRUE, otherwise STARTTLS whenever the server
// offers it) and the CertificateSubject and CertificateIssuer the server's
// certificate must carry; a refused certificate arrives as
// OnSMTPRejectedServerCertificate before the session ends.
//
// SendMessage converts a KestNetMessageData as KestNetSMTP does; the client
// takes the recipients from the message's To, Cc and Bcc. One message at a
// time: the sending flag is set when the client has taken a message and
// cleared on the object's thread when its send-complete record, or the
// connection's close record, is handled.
//
// The client makes every report on its worker thread; each only becomes a
// CSMTPExEvent posted to the hidden window, which fires the event on the
// object's thread. The engine runs natively in this process, so the object
// never works through a 32-bit instance of itself.
//
// Ownership: the object owns its client and the MIME being sent. At final
// release the window goes first, then the client (its worker stops and a
// session still open is closed), then the MIME.
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
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"
#include "net/mail/mime.h"
#include "net/mail/smtp_ex_client.h"

namespace KestAXLib {

// Event ids of the secure SMTP object's records.
inline constexpr DWORD kSmtpExConnectEventId = 0;
inline constexpr DWORD kSmtpExReadyEventId = 1;
inline constexpr DWORD kSmtpExCloseEventId = 2;
inline constexpr DWORD kSmtpExQuitEventId = 3;
inline constexpr DWORD kSmtpExSendCompleteEventId = 4;
inline constexpr DWORD kSmtpExRejectedCertificateEventId = 5;

// One report of the client, copied on its worker thread.
class CSMTPExEvent : public KestBase::CAsyncEventData {
 public:
  DWORD m_dwStatus = 0;
  std::string m_strResponse;
  std::string m_strCertificateStatus;
  std::string m_strCertificateIssuer;
  std::string m_strCertificateSubject;
};

class CSMTPEx
    : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
      public KestComCoClass<CSMTPEx, &CLSID_KestNetSMTPEx, IKestNetSMTPEx, &IID_IKestNetSMTPEx>,
      public TolLock<CSMTPEx, SecureMailSessionMembers<CSMTPEx, IKestNetSMTPEx>, &IID_IKestNetSMTPEx, &LIBID_KestNet,
                     1, 0>,
      public ATL::IObjectSafetyImpl<CSMTPEx, 3>,
      public ATL::IConnectionPointContainerImpl<CSMTPEx>,
      public CProxy_IKestNetSMTPExEvents<CSMTPEx>,
      public ATL::ISupportErrorInfoImpl<&IID_IKestNetSMTPEx>,
      public ATL::IProvideClassInfo2Impl<&CLSID_KestNetSMTPEx, &IID_IKestNetSMTPExEvents, &LIBID_KestNet, 1, 0>,
      public KestNet::SmtpExClientListener,
      public KestBase::CAsyncEventMgrWnd {
 public:
  CSMTPEx();
  ~CSMTPEx() override;

  BEGIN_COM_MAP(CSMTPEx)
  COM_INTERFACE_ENTRY(IKestNetSMTPEx)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetSMTPEx)
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
  KestNet::SmtpExClient& Client() { return m_client.Get(); }
  static constexpr const char* kGetServerName = "get_Server";
  static constexpr const char* kPutServerName = "put_Server";

  // IKestNetSMTPEx, besides the members of SecureMailSessionMembers.
  STDMETHODIMP SendMessage(IDispatch* MessageData) override;
  STDMETHODIMP get_SMTPEX_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_SMTPEX_CONNECT_ERROR(LONG* pVal) override;
  STDMETHODIMP get_SMTPEX_TERMINATED(LONG* pVal) override;
  STDMETHODIMP get_SMTPEX_INVALID_STATE(LONG* pVal) override;
  STDMETHODIMP get_SMTPEX_UNEXPECTED(LONG* pVal) override;

  // SmtpExClientListener: the client's worker thread; each posts a CSMTPExEvent.
  void OnSmtpExConnect(DWORD p_dwStatus) override;
  void OnSmtpExReady() override;
  void OnSmtpExQuit(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSmtpExClose(DWORD p_dwStatus) override;
  void OnSmtpExMailSent(DWORD p_dwStatus) override;
  void OnSmtpExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                         const std::string& p_strSubject) override;

  // CAsyncEventMgrWnd: the object's thread; fires the record's event.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // The fire steps of the event ids (HandleAsyncEventMessage holds the table).
  void FireConnect(CSMTPExEvent& record);
  void FireReady(CSMTPExEvent& record);
  void FireClose(CSMTPExEvent& record);
  void FireQuit(CSMTPExEvent& record);
  void FireSendComplete(CSMTPExEvent& record);
  void FireRejectedCertificate(CSMTPExEvent& record);

  // Posts a record of status and text as eventId.
  void PostStatus(const char* callbackName, DWORD eventId, DWORD status, const std::string& text = std::string());

  // The message the client sends or sent last; declared before the client,
  // which may still read it until it is gone.
  std::unique_ptr<KestNet::MIME> m_mime;
  MailClientHolder<KestNet::SmtpExClient> m_client;
  // Object's thread only: set by SendMessage, cleared by the send-complete
  // and close handlers.
  bool m_bSending = false;
};

}  // namespace KestAXLib
