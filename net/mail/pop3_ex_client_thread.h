// KestNet::CPop3ExClientThread: Pop3ExClient's worker thread. The engine
// ("POP and POPS") is a Pop3Client, plain with STLS when offered or TLS from
// the first byte; MailExClientThread runs it on the worker thread, and this
// class, its listener, posts each report there as a Pop3ExClientListener
// call.
#pragma once

#include <string>
#include <vector>

#include "net/mail/mail_ex_client_thread.h"
#include "net/mail/pop3_client.h"
#include "net/mail/pop3_ex_client.h"

namespace KestNet {

class CPop3ExClientThread : public MailExClientThread<Pop3Client, Pop3ClientListener, Pop3ExClientListener>,
                            private Pop3ClientListener {
 public:
  CPop3ExClientThread();
  virtual ~CPop3ExClientThread();

  // Queued to the worker thread; without a session each is answered with
  // INVALID_STATE there.
  void GetMailCount();
  void RetrieveMessage(DWORD p_dwMessageNumber);
  void DeleteMessage(DWORD p_dwMessageNumber);

 private:
  // Pop3ClientListener: each posts the report to the worker thread.
  void OnPOP3Connected(DWORD p_dwStatus) override;
  void OnPOP3Header(DWORD, const std::string&) override {}
  void OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) override;
  void OnReady() override;
  void OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) override;
  void OnPOP3Close(DWORD p_dwStatus) override;
  void OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount, DWORD p_dwSize) override;
  void OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                      const std::vector<std::string>& p_messageLines) override;
  void OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) override;
  void OnPOP3SecureChannelFailed(const TlsHandshakeOutcome& p_outcome) override;
};

}  // namespace KestNet
