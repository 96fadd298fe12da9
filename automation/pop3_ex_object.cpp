#include "automation/pop3_ex_object.h"

#include "automation/module.h"
#include "platform/com/atl_bstr.h"
#include "runtime/log.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::CPOP3Ex", "KestNetPOP3Ex", &CLSID_KestNetPOP3Ex};

}  // namespace

CPOP3Ex::CPOP3Ex() : CProxy_IKestNetPOP3ExEvents<CPOP3Ex>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CPOP3Ex", LifecycleStep::Constructor, [&] { m_client.Create(); });
}

CPOP3Ex::~CPOP3Ex() {
  GuardedLifecycle(kIdentity, "~CPOP3Ex", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CPOP3Ex::FinalConstruct() {
  HRESULT result = S_OK;
  if (!GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct,
                        [&] { result = m_client.Start(this); })) {
    result = S_FALSE;
  }
  return result;
}

void CPOP3Ex::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    m_client.Stop();
  });
}

const ObjectIdentity& CPOP3Ex::Identity() { return kIdentity; }

// ---------------------------------------------------------------------------
// Commands and constants.

STDMETHODIMP CPOP3Ex::GetMessageCount() {
  return Run("GetMessageCount", [](KestNet::Pop3ExClient& client) { client.GetMailCount(); });
}

STDMETHODIMP CPOP3Ex::RetrieveMessage(LONG MessageNumber) {
  return Run("RetrieveMessage",
             [&](KestNet::Pop3ExClient& client) { client.RetrieveMessage(static_cast<DWORD>(MessageNumber)); });
}

STDMETHODIMP CPOP3Ex::DeleteMessage(LONG MessageNumber) {
  return Run("DeleteMessage",
             [&](KestNet::Pop3ExClient& client) { client.DeleteMessage(static_cast<DWORD>(MessageNumber)); });
}

STDMETHODIMP CPOP3Ex::get_POP3EX_SUCCESS(LONG* pVal) {
  return GetConstant("get_POP3EX_SUCCESS", KestNet::POP3EX_SUCCESS, pVal);
}
STDMETHODIMP CPOP3Ex::get_POP3EX_CONNECT_ERROR(LONG* pVal) {
  return GetConstant("get_POP3EX_CONNECT_ERROR", KestNet::POP3EX_CONNECT_ERROR, pVal);
}
STDMETHODIMP CPOP3Ex::get_POP3EX_TERMINATED(LONG* pVal) {
  return GetConstant("get_POP3EX_TERMINATED", KestNet::POP3EX_TERMINATED, pVal);
}
STDMETHODIMP CPOP3Ex::get_POP3EX_INVALID_STATE(LONG* pVal) {
  return GetConstant("get_POP3EX_INVALID_STATE", KestNet::POP3EX_INVALID_STATE, pVal);
}
STDMETHODIMP CPOP3Ex::get_POP3EX_UNEXPECTED(LONG* pVal) {
  return GetConstant("get_POP3EX_UNEXPECTED", KestNet::POP3EX_UNEXPECTED, pVal);
}

// ---------------------------------------------------------------------------
// The client's reports (its worker thread).

template <typename Fill>
void CPOP3Ex::Post(const char* callbackName, DWORD eventId, Fill&& fill) {
  PostMailEvent<CPOP3ExEvent>(kIdentity, kSecureMailObjectTexts, *this, callbackName, eventId,
                              std::forward<Fill>(fill));
}

void CPOP3Ex::OnPop3ExConnect(DWORD p_dwStatus) {
  Post("OnPop3ExConnect", kPop3ExConnectEventId, [&](CPOP3ExEvent& record) { record.m_dwStatus = p_dwStatus; });
}

void CPOP3Ex::OnPop3ExReady() {
  Post("OnPop3ExReady", kPop3ExReadyEventId, [](CPOP3ExEvent&) {});
}

void CPOP3Ex::OnPop3ExQuit(DWORD p_dwStatus, const std::string& p_strText) {
  Post("OnPop3ExQuit", kPop3ExQuitEventId, [&](CPOP3ExEvent& record) {
    record.m_dwStatus = p_dwStatus;
    record.m_strResponse = p_strText;
  });
}

void CPOP3Ex::OnPop3ExClose(DWORD p_dwStatus) {
  Post("OnPop3ExClose", kPop3ExDisconnectEventId, [&](CPOP3ExEvent& record) { record.m_dwStatus = p_dwStatus; });
}

void CPOP3Ex::OnPop3ExCount(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageCount,
                            DWORD p_dwMailboxSize) {
  Post("OnPop3ExCount", kPop3ExMessageCountEventId, [&](CPOP3ExEvent& record) {
    record.m_dwStatus = p_dwStatus;
    record.m_strResponse = p_strText;
    record.m_dwMessageCount = p_dwMessageCount;
    record.m_dwMailboxSize = p_dwMailboxSize;
  });
}

void CPOP3Ex::OnPop3ExRetrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                               const std::vector<std::string>& p_headerLines,
                               const std::vector<std::string>& p_bodyLines) {
  Post("OnPop3ExRetrieve", kPop3ExRetrieveEventId, [&](CPOP3ExEvent& record) {
    record.m_dwStatus = p_dwStatus;
    record.m_dwMessageNumber = p_dwMessageNumber;
    record.m_headerLines = p_headerLines;
    record.m_bodyLines = p_bodyLines;
  });
}

void CPOP3Ex::OnPop3ExDelete(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageNumber) {
  Post("OnPop3ExDelete", kPop3ExDeleteEventId, [&](CPOP3ExEvent& record) {
    record.m_dwStatus = p_dwStatus;
    record.m_strResponse = p_strText;
    record.m_dwMessageNumber = p_dwMessageNumber;
  });
}

void CPOP3Ex::OnPop3ExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                                const std::string& p_strSubject) {
  Post("OnPop3ExRejectedServerCertificate", kPop3ExRejectedCertificateEventId, [&](CPOP3ExEvent& record) {
    record.m_strCertificateStatus = p_strStatusText;
    record.m_strCertificateIssuer = p_strIssuer;
    record.m_strCertificateSubject = p_strSubject;
  });
}

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CPOP3Ex::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // A sink may drop the script's last reference while it runs; the object
  // stays until the event has reached every sink.
  ATL::CComPtr<IKestNetPOP3Ex> keepAlive(static_cast<IKestNetPOP3Ex*>(this));
  // Function-local: a program may hold this library twice, and each copy
  // keeps its own table.
  static const MailEventHandler<CPOP3Ex, CPOP3ExEvent> kEventHandlers[] = {
    {kPop3ExConnectEventId, &CPOP3Ex::FireConnect},
    {kPop3ExReadyEventId, &CPOP3Ex::FireReady},
    {kPop3ExQuitEventId, &CPOP3Ex::FireQuit},
    {kPop3ExDisconnectEventId, &CPOP3Ex::FireDisconnect},
    {kPop3ExMessageCountEventId, &CPOP3Ex::FireMessageCount},
    {kPop3ExDeleteEventId, &CPOP3Ex::FireDelete},
    {kPop3ExRetrieveEventId, &CPOP3Ex::FireRetrieve},
    {kPop3ExRejectedCertificateEventId, &CPOP3Ex::FireRejectedCertificate},
  };
  DispatchMailEvent<CPOP3Ex, CPOP3ExEvent>(kIdentity, kSecureMailObjectTexts, kEventHandlers, *this, eventId, record);
}

void CPOP3Ex::FireConnect(CPOP3ExEvent& record) { Fire_OnPOP3Connect(static_cast<LONG>(record.m_dwStatus)); }

void CPOP3Ex::FireReady(CPOP3ExEvent&) { Fire_OnPOP3Ready(); }

void CPOP3Ex::FireQuit(CPOP3ExEvent& record) {
  Fire_OnPOP3Quit(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CPOP3Ex::FireDisconnect(CPOP3ExEvent& record) { Fire_OnPOP3Disconnect(static_cast<LONG>(record.m_dwStatus)); }

void CPOP3Ex::FireMessageCount(CPOP3ExEvent& record) {
  Fire_OnPOP3GetMessageCount(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse),
                             static_cast<LONG>(record.m_dwMessageCount), static_cast<LONG>(record.m_dwMailboxSize));
}

void CPOP3Ex::FireRetrieve(CPOP3ExEvent& record) {
  // A failed retrieval hands over an empty message, as the plain object does.
  ATL::CComPtr<IKestNetMessageData> message =
      RetrievedMessage(kIdentity, SiteUnknown(), record.m_dwStatus, record.m_headerLines, record.m_bodyLines);
  Fire_OnPOP3RetrieveMessage(static_cast<LONG>(record.m_dwStatus), static_cast<LONG>(record.m_dwMessageNumber),
                             message);
}

void CPOP3Ex::FireDelete(CPOP3ExEvent& record) {
  Fire_OnPOP3DeleteMessage(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse),
                           static_cast<LONG>(record.m_dwMessageNumber));
}

void CPOP3Ex::FireRejectedCertificate(CPOP3ExEvent& record) {
  Fire_OnPOP3RejectedServerCertificate(MailEventText(record.m_strCertificateStatus),
                                       MailEventText(record.m_strCertificateIssuer),
                                       MailEventText(record.m_strCertificateSubject));
}

OBJECT_ENTRY_AUTO(CLSID_KestNetPOP3Ex, CPOP3Ex)

}  // namespace KestAXLib
