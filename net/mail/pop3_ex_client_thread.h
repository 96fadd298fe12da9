// KestNet::CPop3ExClientThread: Pop3ExClient's worker thread. It owns the
// engine ("POP and POPS": a Pop3Client, plain with STLS when offered or TLS
// from the first byte), runs every operation on the thread and turns each
// engine report into a Pop3ExClientListener call made there.
//
// The engine reports from the socket event thread (or its watchdog's, or the
// worker itself) with its locks held; each report is posted to the worker
// thread as it comes, so the listener hears everything on the worker thread
// and in the order the engine reported it. The mapping state (m_phase) is
// touched only on the worker thread and needs no lock.
//
// Locks: m_listenerMutex guards the listener, which the front end sets and
// the worker reads; it is never held while the engine or the listener is
// called. The TLS settings have their own mutex. Order: the front end's
// mutex, then these.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/mail/mail_ex_common.h"
#include "net/mail/mail_ex_worker_thread.h"
#include "net/mail/pop3_client.h"
#include "net/mail/pop3_ex_client.h"

namespace KestNet {

class CPop3ExClientThread : private Pop3ClientListener {
 public:
  CPop3ExClientThread();
  virtual ~CPop3ExClientThread();
  CPop3ExClientThread(const CPop3ExClientThread&) = delete;
  CPop3ExClientThread& operator=(const CPop3ExClientThread&) = delete;

  void SetListener(Pop3ExClientListener* p_pListener);
  bool HasListener();
  // Use-SSL and the expected certificate names, read at each Connect.
  MailExTlsSettings& TlsSettings() { return m_tlsSettings; }
  bool IsConnected();
  bool IsReady();

  // Each is queued to the worker thread; without a running thread nothing
  // happens.
  void Connect(const std::string& p_strServer, DWORD p_dwPort, const std::string& p_strUser,
               const std::string& p_strPassword);
  void Disconnect();
  void GetMailCount();
  void RetrieveMessage(DWORD p_dwMessageNumber);
  void DeleteMessage(DWORD p_dwMessageNumber);

 private:
  // Where the session stands, as the listener has heard it.
  enum class Phase { kIdle, kConnecting, kConnected };

  // Pop3ClientListener: each posts the report to the worker thread.
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
  void OnPOP3SecureChannelFailed(const TlsHandshakeOutcome& p_outcome) override;

  // Runs p_call with the listener on the worker thread; p_szProcedure names
  // the step in the log when there is no listener.
  template <typename Call>
  void Notify(const char* p_szProcedure, Call&& p_call);
  // Ends a connect attempt that did not come through (once).
  void FailConnect();
  // Runs p_operation on the worker thread when connected, else answers
  // with p_notConnected.
  template <typename Operation, typename Refusal>
  void RunWhenConnected(const char* p_szProcedure, Operation&& p_operation, Refusal&& p_notConnected);

  std::mutex m_listenerMutex;
  Pop3ExClientListener* m_pListener = nullptr;  // not owned; m_listenerMutex
  MailExTlsSettings m_tlsSettings;
  Phase m_phase = Phase::kIdle;                 // worker thread only
  // The session's end was asked for: its close is no loss. Worker thread.
  bool m_bDisconnectRequested = false;
  // Made and destroyed on the worker thread.
  std::unique_ptr<Pop3Client> m_pEngine;
  // Last: constructed when everything it reaches exists, destroyed first.
  MailExWorkerThread m_worker;
};

}  // namespace KestNet
