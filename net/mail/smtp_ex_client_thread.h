// KestNet::CSmtpExClientThread: SmtpExClient's worker thread. It owns the
// engine ("SMTP and SMTPS": an SmtpClient, plain with STARTTLS when offered
// or TLS from the first byte), runs every operation on the thread and turns
// each engine report into an SmtpExClientListener call made there.
//
// As in CPop3ExClientThread, every engine report is posted to the worker
// thread as it comes; the mapping state (m_phase) lives on that thread.
//
// Locks: m_listenerMutex guards the listener, which the front end sets and
// the worker reads; it is never held while the engine or the listener is
// called. The TLS settings have their own mutex. Order: the front end's
// mutex, then these.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "net/mail/mail_ex_common.h"
#include "net/mail/mail_ex_worker_thread.h"
#include "net/mail/smtp_client.h"
#include "net/mail/smtp_ex_client.h"

namespace KestNet {

class CSmtpExClientThread : private SmtpClientListener {
 public:
  CSmtpExClientThread();
  virtual ~CSmtpExClientThread();
  CSmtpExClientThread(const CSmtpExClientThread&) = delete;
  CSmtpExClientThread& operator=(const CSmtpExClientThread&) = delete;

  void SetListener(SmtpExClientListener* p_pListener);
  bool HasListener();
  // Use-SSL and the expected certificate names, read at each Connect.
  MailExTlsSettings& TlsSettings() { return m_tlsSettings; }
  bool IsConnected();
  bool IsReady();

  // Each is queued to the worker thread.
  void Connect(const std::string& p_strServer, DWORD p_dwPort, const std::string& p_strUser,
               const std::string& p_strPassword);
  void Disconnect();
  // p_strSender: the address for MAIL FROM. The MIME is not owned and must
  // not change until OnSmtpExMailSent.
  void Send(const std::string& p_strSender, const std::string& p_strRecipients, MIME* p_pMime);

 private:
  enum class Phase { kIdle, kConnecting, kConnected };

  // SmtpClientListener: each posts the report to the worker thread.
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

  template <typename Call>
  void Notify(const char* p_szProcedure, Call&& p_call);
  void FailConnect();

  std::mutex m_listenerMutex;
  SmtpExClientListener* m_pListener = nullptr;  // not owned; m_listenerMutex
  MailExTlsSettings m_tlsSettings;
  Phase m_phase = Phase::kIdle;                 // worker thread only
  // The session's end was asked for: its close is no loss. Worker thread.
  bool m_bDisconnectRequested = false;
  std::unique_ptr<SmtpClient> m_pEngine;        // made and destroyed on the worker thread
  // Last: constructed when everything it reaches exists, destroyed first.
  MailExWorkerThread m_worker;
};

}  // namespace KestNet
