// KestNet::CSmtpExClientThread: SmtpExClient's worker thread. The engine
// ("SMTP and SMTPS") is an SmtpClient, plain with STARTTLS when offered or
// TLS from the first byte; MailExClientThread runs it on the worker thread,
// and this class, its listener, posts each report there as an
// SmtpExClientListener call.
#pragma once

#include <string>

#include "net/mail/mail_ex_client_thread.h"
#include "net/mail/smtp_client.h"
#include "net/mail/smtp_ex_client.h"

namespace KestNet {

class CSmtpExClientThread : public MailExClientThread<SmtpClient, SmtpClientListener, SmtpExClientListener>,
                            private SmtpClientListener {
 public:
  CSmtpExClientThread();
  virtual ~CSmtpExClientThread();

  // Queued to the worker thread; without a session it is answered with
  // INVALID_STATE there. p_strSender: the address for MAIL FROM. The MIME is
  // not owned and must not change until OnSmtpExMailSent.
  void Send(const std::string& p_strSender, const std::string& p_strRecipients, MIME* p_pMime);

 private:
  // SmtpClientListener: the reports the secure client passes on are posted
  // to the worker thread; the handshake's steps end in Ready or a close.
  void OnSMTPConnected(DWORD p_dwStatus) override;
  void OnSMTPHeader(DWORD, const std::string&) override {}
  void OnSMTPHello(DWORD, const std::string&) override {}
  void OnSMTPAuthenticateRequest(DWORD, const std::string&) override {}
  void OnSMTPUsername(DWORD, const std::string&) override {}
  void OnSMTPPassword(DWORD, const std::string&) override {}
  void OnSMTPAuthenticated(DWORD) override {}
  void OnSMTPMailSent(DWORD p_dwStatus) override;
  void OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) override;
  void OnSMTPClose(DWORD p_dwStatus) override;
  void OnSMTPReady() override;
  void OnSMTPSecureChannelFailed(const TlsHandshakeOutcome& p_outcome) override;
};

}  // namespace KestNet
