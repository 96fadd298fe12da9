#include "automation/pop3_object.h"

#include "automation/mail_object_support.h"
#include "automation/module.h"
#include "platform/com/atl_bstr.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::CPOP3", "KestNetPOP3", &CLSID_KestNetPOP3};

}  // namespace

CPOP3::CPOP3() : CProxy_IKestNetPOP3Events<CPOP3>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CPOP3", LifecycleStep::Constructor,
                   [&] { m_client.Create(); });
}

CPOP3::~CPOP3() {
  GuardedLifecycle(kIdentity, "~CPOP3", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CPOP3::FinalConstruct() {
  HRESULT result = S_OK;
  GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct, [&] { result = m_client.Start(this); });
  return result;
}

void CPOP3::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    m_client.Stop();
  });
}

const ObjectIdentity& CPOP3::Identity() { return kIdentity; }

// ---------------------------------------------------------------------------
// Commands and constants.

STDMETHODIMP CPOP3::GetMessageCount() {
  return Run("GetMessageCount", [](KestNet::Pop3Client& client) { client.GetMailCount(); });
}

STDMETHODIMP CPOP3::RetrieveMessage(LONG MessageNumber) {
  return Run("RetrieveMessage",
             [&](KestNet::Pop3Client& client) { client.RetrieveMessage(static_cast<DWORD>(MessageNumber)); });
}

STDMETHODIMP CPOP3::DeleteMessage(LONG MessageNumber) {
  return Run("DeleteMessage",
             [&](KestNet::Pop3Client& client) { client.DeleteMessage(static_cast<DWORD>(MessageNumber)); });
}

STDMETHODIMP CPOP3::get_POP3_SUCCESS(LONG* pVal) {
  return GetConstant("get_POP3_SUCCESS", KestNet::POP3_SUCCESS, pVal);
}
STDMETHODIMP CPOP3::get_POP3_SOCKET_FAILURE(LONG* pVal) {
  return GetConstant("get_POP3_SOCKET_FAILURE", KestNet::POP3_SOCKET_FAILURE, pVal);
}
STDMETHODIMP CPOP3::get_POP3_AUTH_ERROR(LONG* pVal) {
  return GetConstant("get_POP3_AUTH_ERROR", KestNet::POP3_AUTH_ERROR, pVal);
}
STDMETHODIMP CPOP3::get_POP3_CONNECT_ERROR(LONG* pVal) {
  return GetConstant("get_POP3_CONNECT_ERROR", KestNet::POP3_CONNECT_ERROR, pVal);
}
STDMETHODIMP CPOP3::get_POP3_TERMINATED(LONG* pVal) {
  return GetConstant("get_POP3_TERMINATED", KestNet::POP3_TERMINATED, pVal);
}
STDMETHODIMP CPOP3::get_POP3_INVALID_ARGS(LONG* pVal) {
  return GetConstant("get_POP3_INVALID_ARGS", KestNet::POP3_INVALID_ARGS, pVal);
}
STDMETHODIMP CPOP3::get_POP3_BUSY(LONG* pVal) { return GetConstant("get_POP3_BUSY", KestNet::POP3_BUSY, pVal); }
STDMETHODIMP CPOP3::get_POP3_INVALID_STATE(LONG* pVal) {
  return GetConstant("get_POP3_INVALID_STATE", KestNet::POP3_INVALID_STATE, pVal);
}
STDMETHODIMP CPOP3::get_POP3_UNEXPECTED(LONG* pVal) {
  return GetConstant("get_POP3_UNEXPECTED", KestNet::POP3_UNEXPECTED, pVal);
}

// ---------------------------------------------------------------------------
// The client's reports (its threads, its mutex held).

void CPOP3::OnPOP3Connected(DWORD p_dwStatus) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Connected", kPop3ConnectEventId,
                            [&](CPOP3Event& record) { record.m_dwStatus = p_dwStatus; });
}

void CPOP3::OnPOP3Header(DWORD p_dwStatus, const std::string& p_strLine) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Header", kPop3HeaderEventId,
                            [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_strResponse = p_strLine;
                            });
}

void CPOP3::OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) {
  // A session lost while logging in is reported by its close alone.
  if (p_dwStatus == KestNet::POP3_TERMINATED) return;
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Authenticated",
                            p_dwStep == 0 ? kPop3UserNameEventId : kPop3PasswordEventId, [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_strResponse = p_strLine;
                            });
}

void CPOP3::OnReady() {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnReady", kPop3ReadyEventId,
                            [](CPOP3Event&) {});
}

void CPOP3::OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Quit", kPop3QuitEventId,
                            [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_strResponse = p_strLine;
                            });
}

void CPOP3::OnPOP3Close(DWORD p_dwStatus) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Close", kPop3DisconnectEventId,
                            [&](CPOP3Event& record) { record.m_dwStatus = p_dwStatus; });
}

void CPOP3::OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount, DWORD p_dwSize) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Count", kPop3MessageCountEventId,
                            [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_strResponse = p_strLine;
                              record.m_dwMessageCount = p_dwCount;
                              record.m_dwMailboxSize = p_dwSize;
                            });
}

void CPOP3::OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                           const std::vector<std::string>& p_messageLines) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Retrieve", kPop3RetrieveEventId,
                            [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_dwMessageNumber = p_dwMessageNumber;
                              record.m_messageLines = p_messageLines;
                            });
}

void CPOP3::OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) {
  PostMailEvent<CPOP3Event>(kIdentity, kPlainMailObjectTexts, *this, "OnPOP3Delete", kPop3DeleteEventId,
                            [&](CPOP3Event& record) {
                              record.m_dwStatus = p_dwStatus;
                              record.m_strResponse = p_strLine;
                              record.m_dwMessageNumber = p_dwMessageNumber;
                            });
}

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CPOP3::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // A sink may drop the script's last reference while it runs; the object
  // stays until the event has reached every sink.
  ATL::CComPtr<IKestNetPOP3> keepAlive(static_cast<IKestNetPOP3*>(this));
  // Function-local: a program may hold this library twice, and each copy
  // keeps its own table.
  static const MailEventHandler<CPOP3, CPOP3Event> kEventHandlers[] = {
    {kPop3ConnectEventId, &CPOP3::FireConnect},         {kPop3HeaderEventId, &CPOP3::FireHeader},
    {kPop3UserNameEventId, &CPOP3::FireUserName},       {kPop3PasswordEventId, &CPOP3::FirePassword},
    {kPop3QuitEventId, &CPOP3::FireQuit},               {kPop3DisconnectEventId, &CPOP3::FireDisconnect},
    {kPop3ReadyEventId, &CPOP3::FireReady},             {kPop3MessageCountEventId, &CPOP3::FireMessageCount},
    {kPop3DeleteEventId, &CPOP3::FireDelete},           {kPop3RetrieveEventId, &CPOP3::FireRetrieve},
  };
  DispatchMailEvent<CPOP3, CPOP3Event>(kIdentity, kPlainMailObjectTexts, kEventHandlers, *this, eventId, record);
}

void CPOP3::FireConnect(CPOP3Event& record) { Fire_OnPOP3Connect(static_cast<LONG>(record.m_dwStatus)); }

void CPOP3::FireHeader(CPOP3Event& record) {
  Fire_OnPOP3Header(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CPOP3::FireUserName(CPOP3Event& record) {
  Fire_OnPOP3UserName(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CPOP3::FirePassword(CPOP3Event& record) {
  Fire_OnPOP3Password(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CPOP3::FireReady(CPOP3Event&) { Fire_OnPOP3Ready(); }

void CPOP3::FireQuit(CPOP3Event& record) {
  Fire_OnPOP3Quit(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse));
}

void CPOP3::FireDisconnect(CPOP3Event& record) { Fire_OnPOP3Disconnect(static_cast<LONG>(record.m_dwStatus)); }

void CPOP3::FireMessageCount(CPOP3Event& record) {
  Fire_OnPOP3GetMessageCount(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse),
                             static_cast<LONG>(record.m_dwMessageCount), static_cast<LONG>(record.m_dwMailboxSize));
}

void CPOP3::FireRetrieve(CPOP3Event& record) {
  std::vector<std::string> headerLines;
  std::vector<std::string> bodyLines;
  SplitRetrievedLines(record.m_messageLines, headerLines, bodyLines);
  ATL::CComPtr<IKestNetMessageData> message =
      RetrievedMessage(kIdentity, SiteUnknown(), record.m_dwStatus, headerLines, bodyLines);
  Fire_OnPOP3RetrieveMessage(static_cast<LONG>(record.m_dwStatus), static_cast<LONG>(record.m_dwMessageNumber),
                             message);
}

void CPOP3::FireDelete(CPOP3Event& record) {
  Fire_OnPOP3DeleteMessage(static_cast<LONG>(record.m_dwStatus), MailEventText(record.m_strResponse),
                           static_cast<ULONG>(record.m_dwMessageNumber));
}

OBJECT_ENTRY_AUTO(CLSID_KestNetPOP3, CPOP3)

}  // namespace KestAXLib
