// KestNetPOP3: the scriptable face of the POP3 client (KestNet::Pop3Client).
//
// A script sets Server, Port, Username and Password, calls Connect, and
// hears the session as events: OnPOP3Connect, OnPOP3Header, OnPOP3UserName,
// OnPOP3Password, then OnPOP3Ready whenever the client waits for the next
// command (GetMessageCount, RetrieveMessage, DeleteMessage, Disconnect). The
// object adds no state of its own: the client refuses what its state does
// not allow, and the method guard turns that into E_FAIL with the error's
// name.
//
// The client reports on its socket and watchdog threads with its mutex held;
// each report only becomes a CPOP3Event posted to the hidden window. On the
// object's thread the window fires the event; a retrieved message is first
// turned into a new KestNetMessageData given this object's site.
//
// Ownership: the object owns its client. At final release the window goes
// first (records still queued are dropped), then the client, whose
// destruction closes a connection still open; that close finds no window.
#pragma once

#include <memory>
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
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"
#include "net/mail/pop3_client.h"

namespace KestAXLib {

// Event ids of the POP3 object's records.
inline constexpr DWORD kPop3ConnectEventId = 0;
inline constexpr DWORD kPop3HeaderEventId = 1;
inline constexpr DWORD kPop3UserNameEventId = 2;
inline constexpr DWORD kPop3PasswordEventId = 3;
inline constexpr DWORD kPop3QuitEventId = 4;
inline constexpr DWORD kPop3DisconnectEventId = 5;
inline constexpr DWORD kPop3ReadyEventId = 6;
inline constexpr DWORD kPop3MessageCountEventId = 7;
inline constexpr DWORD kPop3DeleteEventId = 8;
inline constexpr DWORD kPop3RetrieveEventId = 9;

// One report of the client, copied on the reporting thread; each event uses
// the fields it needs.
class CPOP3Event : public KestBase::CAsyncEventData {
 public:
  DWORD m_dwStatus = 0;
  std::string m_strResponse;
  DWORD m_dwMessageCount = 0;
  DWORD m_dwMailboxSize = 0;
  DWORD m_dwMessageNumber = 0;
  std::vector<std::string> m_messageLines;
};

class CPOP3 : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
              public ATL::CComCoClass<CPOP3, &CLSID_KestNetPOP3>,
              public TolLock<CPOP3, MailSessionMembers<CPOP3, IKestNetPOP3>, &IID_IKestNetPOP3, &LIBID_KestNet, 1, 0>,
              public ATL::IObjectWithSiteImpl<CPOP3>,
              public ATL::IObjectSafetyImpl<CPOP3, 3>,
              public ATL::IConnectionPointContainerImpl<CPOP3>,
              public CProxy_IKestNetPOP3Events<CPOP3>,
              public ATL::ISupportErrorInfoImpl<&IID_IKestNetPOP3>,
              public ATL::IProvideClassInfo2Impl<&CLSID_KestNetPOP3, &IID_IKestNetPOP3Events, &LIBID_KestNet, 1, 0>,
              public KestNet::Pop3ClientListener,
              public KestBase::CAsyncEventMgrWnd {
 public:
  CPOP3();
  ~CPOP3() override;

  BEGIN_COM_MAP(CPOP3)
  COM_INTERFACE_ENTRY(IKestNetPOP3)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetPOP3)
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
  KestNet::Pop3Client& Client() { return m_client.Get(); }
  static constexpr const char* kGetServerName = "get_ServerAddress";
  static constexpr const char* kPutServerName = "put_ServerAddress";

  // IKestNetPOP3, besides the members of MailSessionMembers.
  STDMETHODIMP GetMessageCount() override;
  STDMETHODIMP RetrieveMessage(LONG MessageNumber) override;
  STDMETHODIMP DeleteMessage(LONG MessageNumber) override;
  STDMETHODIMP get_POP3_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_POP3_SOCKET_FAILURE(LONG* pVal) override;
  STDMETHODIMP get_POP3_AUTH_ERROR(LONG* pVal) override;
  STDMETHODIMP get_POP3_CONNECT_ERROR(LONG* pVal) override;
  STDMETHODIMP get_POP3_TERMINATED(LONG* pVal) override;
  STDMETHODIMP get_POP3_INVALID_ARGS(LONG* pVal) override;
  STDMETHODIMP get_POP3_BUSY(LONG* pVal) override;
  STDMETHODIMP get_POP3_INVALID_STATE(LONG* pVal) override;
  STDMETHODIMP get_POP3_UNEXPECTED(LONG* pVal) override;

  // Pop3ClientListener: the client's threads; each posts a CPOP3Event.
  void OnPOP3Connected(DWORD p_dwStatus) override;
  void OnPOP3Header(DWORD p_dwStatus, const std::string& p_strLine) override;
  void OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) override;
  void OnReady() override;
  void OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) override;
  void OnPOP3Close(DWORD p_dwStatus) override;
  void OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount, DWORD p_dwSize) override;
  void OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                      const std::vector<std::string>& p_messageLines) override;
  void OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) override;

  // CAsyncEventMgrWnd: the object's thread; fires the record's event.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // The fire steps of the event ids (HandleAsyncEventMessage holds the table).
  void FireConnect(CPOP3Event& record);
  void FireHeader(CPOP3Event& record);
  void FireUserName(CPOP3Event& record);
  void FirePassword(CPOP3Event& record);
  void FireReady(CPOP3Event& record);
  void FireQuit(CPOP3Event& record);
  void FireDisconnect(CPOP3Event& record);
  void FireMessageCount(CPOP3Event& record);
  void FireRetrieve(CPOP3Event& record);
  void FireDelete(CPOP3Event& record);


  MailClientHolder<KestNet::Pop3Client> m_client;
};

}  // namespace KestAXLib
