#include "net/mail/smtp_ex_client_thread.h"

#include <iterator>

namespace KestNet {
namespace {

using Base = MailExClientThread<SmtpClient, SmtpClientListener, SmtpExClientListener>;

static_assert(SMTPEX_SUCCESS == kMailExSuccess && SMTPEX_CONNECT_ERROR == kMailExConnectError &&
              SMTPEX_TERMINATED == kMailExTerminated && SMTPEX_INVALID_STATE == kMailExInvalidState &&
              SMTPEX_UNEXPECTED == kMailExUnexpected);

constexpr MailExStatusMapping kStatuses[] = {
    {SMTP_SUCCESS, SMTPEX_SUCCESS},
    {SMTP_TERMINATED, SMTPEX_TERMINATED},
    {SMTP_INVALID_STATE, SMTPEX_INVALID_STATE},
};

const Base::Traits kTraits = {
    {"KestNetLib::CSmtpExClientThread", "CSmtpExClientThread", "SmtpExClientThreadProc", "SMTP and SMTPS"},
    "%s():  Invalid ISmtpExClientThreadData pointer (or SmtpExClientListener interface), cannot continue",
    "SmtpExClientThreadConnectProc",
    "SmtpExClientThreadDisconnectProc",
    &SmtpExClientListener::OnSmtpExConnect,
    &SmtpExClientListener::OnSmtpExReady,
    &SmtpExClientListener::OnSmtpExClose,
    &SmtpExClientListener::OnSmtpExRejectedServerCertificate,
    kStatuses,
    std::size(kStatuses),
};

constexpr const char* kSendProcedure = "SmtpExClientThreadSendProc";

}  // namespace

CSmtpExClientThread::CSmtpExClientThread() : Base(kTraits, this) {}

CSmtpExClientThread::~CSmtpExClientThread() { StopWorker(); }

void CSmtpExClientThread::Send(const std::string& p_strSender, const std::string& p_strRecipients, MIME* p_pMime) {
  RunWhenConnected(
      kSendProcedure,
      [p_strSender, p_strRecipients, p_pMime](SmtpClient& p_engine) {
        p_engine.SetSenderName(p_strSender);
        p_engine.Send(p_strRecipients, p_pMime);
      },
      [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExMailSent(SMTPEX_INVALID_STATE); });
}

void CSmtpExClientThread::OnSMTPConnected(DWORD p_dwStatus) {
  if (p_dwStatus != SMTP_SUCCESS) PostConnectFailed();
}

// The handshake is done (after AUTH when a user is set): the session is open.
void CSmtpExClientThread::OnSMTPReady() {
  PostLoggedIn();
  PostReady();
}

void CSmtpExClientThread::OnSMTPMailSent(DWORD p_dwStatus) {
  Post([this, p_dwStatus] {
    Notify(kSendProcedure,
           [&](SmtpExClientListener& p_listener) { p_listener.OnSmtpExMailSent(ToSecureStatus(p_dwStatus)); });
  });
}

void CSmtpExClientThread::OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) {
  Post([this, p_dwStatus, p_strText] {
    Notify("SmtpExClientThreadDisconnectProc", [&](SmtpExClientListener& p_listener) {
      p_listener.OnSmtpExQuit(ToSecureStatus(p_dwStatus), p_strText);
    });
  });
}

void CSmtpExClientThread::OnSMTPClose(DWORD) { PostClosed(); }

void CSmtpExClientThread::OnSMTPSecureChannelFailed(const TlsHandshakeOutcome& p_outcome) {
  PostSecureChannelFailed(p_outcome);
}

}  // namespace KestNet
