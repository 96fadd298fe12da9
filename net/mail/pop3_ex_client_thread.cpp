#include "net/mail/pop3_ex_client_thread.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace KestNet {
namespace {

using Base = MailExClientThread<Pop3Client, Pop3ClientListener, Pop3ExClientListener>;

static_assert(POP3EX_SUCCESS == kMailExSuccess && POP3EX_CONNECT_ERROR == kMailExConnectError &&
              POP3EX_TERMINATED == kMailExTerminated && POP3EX_INVALID_STATE == kMailExInvalidState &&
              POP3EX_UNEXPECTED == kMailExUnexpected);

constexpr MailExStatusMapping kStatuses[] = {
    {POP3_SUCCESS, POP3EX_SUCCESS},
    {POP3_TERMINATED, POP3EX_TERMINATED},
    {POP3_INVALID_STATE, POP3EX_INVALID_STATE},
};

const Base::Traits kTraits = {
    {"KestNetLib::CPop3ExClientThread", "CPop3ExClientThread", "Pop3ExClientThreadProc", "POP and POPS"},
    "%s():  Invalid IPop3ExClientThreadData pointer (or Pop3ExClientListener interface), cannot continue",
    "Pop3ExClientThreadConnectProc",
    "Pop3ExClientThreadDisconnectProc",
    &Pop3ExClientListener::OnPop3ExConnect,
    &Pop3ExClientListener::OnPop3ExReady,
    &Pop3ExClientListener::OnPop3ExClose,
    &Pop3ExClientListener::OnPop3ExRejectedServerCertificate,
    kStatuses,
    std::size(kStatuses),
};

constexpr const char* kCountProcedure = "Pop3ExClientThreadGetMessageCountProc";
constexpr const char* kRetrieveProcedure = "Pop3ExClientThreadRetrieveMessageProc";
constexpr const char* kDeleteProcedure = "Pop3ExClientThreadDeleteMessageProc";

}  // namespace

CPop3ExClientThread::CPop3ExClientThread() : Base(kTraits, this) {}

CPop3ExClientThread::~CPop3ExClientThread() { StopWorker(); }

void CPop3ExClientThread::GetMailCount() {
  RunWhenConnected(
      kCountProcedure, [](Pop3Client& p_engine) { p_engine.GetMailCount(); },
      [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExCount(POP3EX_INVALID_STATE, std::string(), 0, 0); });
}

void CPop3ExClientThread::RetrieveMessage(DWORD p_dwMessageNumber) {
  RunWhenConnected(
      kRetrieveProcedure, [p_dwMessageNumber](Pop3Client& p_engine) { p_engine.RetrieveMessage(p_dwMessageNumber); },
      [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExRetrieve(POP3EX_INVALID_STATE, 0, {}, {}); });
}

void CPop3ExClientThread::DeleteMessage(DWORD p_dwMessageNumber) {
  RunWhenConnected(
      kDeleteProcedure, [p_dwMessageNumber](Pop3Client& p_engine) { p_engine.DeleteMessage(p_dwMessageNumber); },
      [p_dwMessageNumber](Pop3ExClientListener& p_listener) {
        p_listener.OnPop3ExDelete(POP3EX_INVALID_STATE, std::string(), p_dwMessageNumber);
      });
}

void CPop3ExClientThread::OnPOP3Connected(DWORD p_dwStatus) {
  if (p_dwStatus != POP3_SUCCESS) PostConnectFailed();
}

// A refused USER or PASS ends in the engine's close, which reports it.
void CPop3ExClientThread::OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string&) {
  if (p_dwStep == 1 && p_dwStatus == POP3_SUCCESS) PostLoggedIn();
}

void CPop3ExClientThread::OnReady() { PostReady(); }

void CPop3ExClientThread::OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) {
  Post([this, p_dwStatus, p_strLine] {
    Notify("Pop3ExClientThreadDisconnectProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExQuit(ToSecureStatus(p_dwStatus), p_strLine);
    });
  });
}

void CPop3ExClientThread::OnPOP3Close(DWORD) { PostClosed(); }

void CPop3ExClientThread::OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount,
                                      DWORD p_dwSize) {
  Post([this, p_dwStatus, p_strLine, p_dwCount, p_dwSize] {
    Notify(kCountProcedure, [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExCount(ToSecureStatus(p_dwStatus), p_strLine, p_dwCount, p_dwSize);
    });
  });
}

void CPop3ExClientThread::OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                                         const std::vector<std::string>& p_messageLines) {
  // RFC 5322 §2.1: the first empty line ends the header section.
  const auto separator = std::find(p_messageLines.begin(), p_messageLines.end(), std::string());
  std::vector<std::string> headerLines(p_messageLines.begin(), separator);
  std::vector<std::string> bodyLines(separator == p_messageLines.end() ? separator : separator + 1,
                                     p_messageLines.end());
  Post([this, p_dwStatus, p_dwMessageNumber, headerLines = std::move(headerLines),
        bodyLines = std::move(bodyLines)] {
    Notify(kRetrieveProcedure, [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExRetrieve(ToSecureStatus(p_dwStatus), p_dwMessageNumber, headerLines, bodyLines);
    });
  });
}

void CPop3ExClientThread::OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) {
  Post([this, p_dwStatus, p_strLine, p_dwMessageNumber] {
    Notify(kDeleteProcedure, [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExDelete(ToSecureStatus(p_dwStatus), p_strLine, p_dwMessageNumber);
    });
  });
}

void CPop3ExClientThread::OnPOP3SecureChannelFailed(const TlsHandshakeOutcome& p_outcome) {
  PostSecureChannelFailed(p_outcome);
}

}  // namespace KestNet
