// KestNetPOP3Ex: the scriptable face of the secure POP3 client
// (KestNet::Pop3ExClient). Used like KestNetPOP3, with UseSSL (TLS from the
// first byte when VARIANT_TRUE, otherwise STLS whenever the server offers
// it) and the CertificateSubject and CertificateIssuer the server's
// certificate must carry; a refused certificate arrives as
// OnPOP3RejectedServerCertificate before the session ends.
//
// The client makes every report on its worker thread; each only becomes a
// CPOP3ExEvent posted to the hidden window, which fires the event on the
// object's thread. The engine runs natively in this process, so the object
// never works through a 32-bit instance of itself.
//
// Ownership: the object owns its client. At final release the window goes
// first (records still queued are dropped), then the client, whose
// destruction stops its worker and closes a session still open.
#pragma once

#include <string>
#include <vector>

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
#include "net/mail/pop3_ex_client.h"

namespace KestAXLib {

// Event ids of the secure POP3 object's records.
inline constexpr DWORD kPop3ExConnectEventId = 0;
inline constexpr DWORD kPop3ExReadyEventId = 1;
inline constexpr DWORD kPop3ExQuitEventId = 2;
inline constexpr DWORD kPop3ExDisconnectEventId = 3;
inline constexpr DWORD kPop3ExMessageCountEventId = 4;
inline constexpr DWORD kPop3ExDeleteEventId = 5;
inline constexpr DWORD kPop3ExRetrieveEventId = 6;
inline constexpr DWORD kPop3ExRejectedCertificateEventId = 7;

// One report of the client, copied on its worker thread.
class CPOP3ExEvent : public KestBase::CAsyncEventData {
 public:
  DWORD m_dwStatus = 0;
  std::string m_strResponse;
  DWORD m_dwMessageCount = 0;
  DWORD m_dwMailboxSize = 0;
  DWORD m_dwMessageNumber = 0;
  std::vector<std::string> m_headerLines;
  std::vector<std::string> m_bodyLines;
  std::string m_strCertificateStatus;
  std::string m_strCertificateIssuer;
  std::string m_strCertificateSubject;
};

class CPOP3Ex
    : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
      public KestComCoClass<CPOP3Ex, &CLSID_KestNetPOP3Ex, IKestNetPOP3Ex, &IID_IKestNetPOP3Ex>,
      public TolLock<CPOP3Ex, SecureMailSessionMembers<CPOP3Ex, IKestNetPOP3Ex>, &IID_IKestNetPOP3Ex, &LIBID_KestNet,
                     1, 0>,
      public ATL::IObjectSafetyImpl<CPOP3Ex, 3>,
      public ATL::IConnectionPointContainerImpl<CPOP3Ex>,
      public CProxy_IKestNetPOP3ExEvents<CPOP3Ex>,
      public ATL::ISupportErrorInfoImpl<&IID_IKestNetPOP3Ex>,
      public ATL::IProvideClassInfo2Impl<&CLSID_KestNetPOP3Ex, &IID_IKestNetPOP3ExEvents, &LIBID_KestNet, 1, 0>,
      public KestNet::Pop3ExClientListener,
      public KestBase::CAsyncEventMgrWnd {
 public:
  CPOP3Ex();
  ~CPOP3Ex() override;

  BEGIN_COM_MAP(CPOP3Ex)
  COM_INTERFACE_ENTRY(IKestNetPOP3Ex)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetPOP3Ex)
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
  KestNet::Pop3ExClient& Client() { return m_client.Get(); }
  static constexpr const char* kGetServerName = "get_Server";
  static constexpr const char* kPutServerName = "put_Server";

  // IKestNetPOP3Ex, besides the members of SecureMailSessionMembers.
  STDMETHODIMP GetMessageCount() override;
  STDMETHODIMP RetrieveMessage(LONG MessageNumber) override;
  STDMETHODIMP DeleteMessage(LONG MessageNumber) override;
  STDMETHODIMP get_POP3EX_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_POP3EX_CONNECT_ERROR(LONG* pVal) override;
  STDMETHODIMP get_POP3EX_TERMINATED(LONG* pVal) override;
  STDMETHODIMP get_POP3EX_INVALID_STATE(LONG* pVal) override;
  STDMETHODIMP get_POP3EX_UNEXPECTED(LONG* pVal) override;

  // Pop3ExClientListener: the client's worker thread; each posts a CPOP3ExEvent.
  void OnPop3ExConnect(DWORD p_dwStatus) override;
  void OnPop3ExReady() override;
  void OnPop3ExQuit(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnPop3ExClose(DWORD p_dwStatus) override;
  void OnPop3ExCount(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageCount,
                     DWORD p_dwMailboxSize) override;
  void OnPop3ExRetrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber, const std::vector<std::string>& p_headerLines,
                        const std::vector<std::string>& p_bodyLines) override;
  void OnPop3ExDelete(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageNumber) override;
  void OnPop3ExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                         const std::string& p_strSubject) override;

  // CAsyncEventMgrWnd: the object's thread; fires the record's event.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // The fire steps of the event ids (HandleAsyncEventMessage holds the table).
  void FireConnect(CPOP3ExEvent& record);
  void FireReady(CPOP3ExEvent& record);
  void FireQuit(CPOP3ExEvent& record);
  void FireDisconnect(CPOP3ExEvent& record);
  void FireMessageCount(CPOP3ExEvent& record);
  void FireRetrieve(CPOP3ExEvent& record);
  void FireDelete(CPOP3ExEvent& record);
  void FireRejectedCertificate(CPOP3ExEvent& record);

  // Posts a record that fill completes as eventId.
  template <typename Fill>
  void Post(const char* callbackName, DWORD eventId, Fill&& fill);

  MailClientHolder<KestNet::Pop3ExClient> m_client;
};

}  // namespace KestAXLib
