// KestNet::MailExClientThread: what CPop3ExClientThread and
// CSmtpExClientThread share. It owns the engine (a Pop3Client or an
// SmtpClient, made and destroyed on the worker thread), the worker thread,
// the secure client's listener and TLS settings, and the session's phase as
// the listener has heard it; it connects and disconnects the engine and turns
// the engine's connect and close reports into listener calls.
//
// Every engine report is posted to the worker thread as it comes (the engine
// reports with its own locks held, and the listener must hear everything on
// the worker thread, in order); the phase is touched only there and needs no
// lock. m_listenerMutex guards the listener pointer, which the front end sets
// and the worker reads; it is never held while the engine or the listener is
// called. The TLS settings have their own mutex. Order: the front end's
// mutex, then these.
//
// The derived class is the engine's listener. Its destructor must call
// StopWorker first: the engine's last reports, made while it is destroyed on
// the worker thread, reach the derived class's overrides.
#pragma once

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "net/mail/mail_ex_common.h"
#include "net/mail/mail_ex_worker_thread.h"
#include "net/sockets/tls_session.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {

// The result codes both secure clients share (POP3EX_* and SMTPEX_*).
inline constexpr DWORD kMailExSuccess = 0;
inline constexpr DWORD kMailExConnectError = 1;
inline constexpr DWORD kMailExTerminated = 2;
inline constexpr DWORD kMailExInvalidState = 3;
inline constexpr DWORD kMailExUnexpected = 4;

// One engine code and the secure client's code for it.
struct MailExStatusMapping {
  DWORD engine;
  DWORD secure;
};

template <typename Engine, typename EngineListener, typename ExListener>
class MailExClientThread {
 public:
  // What differs between the two kinds of client.
  struct Traits {
    MailExWorkerTexts worker;
    // Logged with the procedure's name when no listener is set.
    const char* missingListenerFormat;
    const char* connectProcedure;
    const char* disconnectProcedure;
    void (ExListener::*onConnect)(DWORD);
    void (ExListener::*onReady)();
    void (ExListener::*onClose)(DWORD);
    void (ExListener::*onRejectedCertificate)(const std::string&, const std::string&, const std::string&);
    // The engine's codes that are not UNEXPECTED.
    const MailExStatusMapping* statuses;
    std::size_t statusCount;
  };

  MailExClientThread(const Traits& p_traits, EngineListener* p_pEngineListener)
      : m_traits(p_traits),
        m_pEngineListener(p_pEngineListener),
        m_worker(
            p_traits.worker, [this] { m_pEngine = std::make_unique<Engine>(); }, [this] { m_pEngine.reset(); }) {}
  MailExClientThread(const MailExClientThread&) = delete;
  MailExClientThread& operator=(const MailExClientThread&) = delete;

  void SetListener(ExListener* p_pListener) {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_pListener = p_pListener;
  }
  bool HasListener() {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    return m_pListener != nullptr;
  }
  // Use-SSL and the expected certificate names, read at each Connect.
  MailExTlsSettings& TlsSettings() { return m_tlsSettings; }
  // The engine exists from the moment the thread runs until it stops.
  bool IsConnected() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsConnected(); }
  bool IsReady() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsReady(); }

  // Queued to the worker thread, like every operation; without a running
  // thread nothing happens.
  void Connect(const std::string& p_strServer, DWORD p_dwPort, const std::string& p_strUser,
               const std::string& p_strPassword) {
    m_worker.Post([this, p_strServer, p_dwPort, p_strUser, p_strPassword] {
      if (!m_pEngine || m_phase != Phase::kIdle) {
        NotifyConnect(kMailExInvalidState);
        return;
      }
      try {
        // The engine refuses new settings while a session is open.
        m_pEngine->SetServer(p_strServer, p_dwPort);
        m_pEngine->SetUser(p_strUser);
        m_pEngine->SetPassword(p_strPassword);
        m_pEngine->SetTransportSecurity(m_tlsSettings.Security());
        m_pEngine->SetListener(m_pEngineListener);
      } catch (const KestBase::InvalidOperationException&) {
        NotifyConnect(kMailExInvalidState);
        return;
      } catch (...) {
        NotifyConnect(kMailExConnectError);
        return;
      }
      m_phase = Phase::kConnecting;
      m_bDisconnectRequested = false;
      try {
        m_pEngine->Connect();
      } catch (...) {
        FailConnect();
      }
    });
  }

  void Disconnect() {
    RunWhenConnected(
        m_traits.disconnectProcedure,
        [this](Engine& p_engine) {
          m_bDisconnectRequested = true;
          p_engine.Disconnect();
        },
        [this](ExListener& p_listener) { (p_listener.*m_traits.onClose)(kMailExInvalidState); });
  }

  // Ends the worker thread (and with it the engine); the derived class's
  // destructor calls it first.
  void StopWorker() { m_worker.Stop(); }

 protected:
  ~MailExClientThread() = default;

  // Runs p_work on the worker thread.
  void Post(MailExWorkerThread::Work p_work) { (void)m_worker.Post(std::move(p_work)); }

  // Calls the listener (on the worker thread); p_szProcedure names the step
  // in the log when there is none.
  template <typename Call>
  void Notify(const char* p_szProcedure, Call&& p_call) {
    ExListener* listener = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_listenerMutex);
      listener = m_pListener;
    }
    if (listener == nullptr) {
      Log(m_traits.worker.className, kLogLevelWarning, m_traits.missingListenerFormat, p_szProcedure);
      return;
    }
    p_call(*listener);
  }

  // Queues p_operation on the engine when the session is open; otherwise, or
  // when the engine refuses it (busy with another), p_refusal answers.
  template <typename Operation, typename Refusal>
  void RunWhenConnected(const char* p_szProcedure, Operation p_operation, Refusal p_refusal) {
    m_worker.Post([this, p_szProcedure, p_operation, p_refusal] {
      if (m_pEngine && m_phase == Phase::kConnected) {
        try {
          p_operation(*m_pEngine);
          return;
        } catch (...) {
        }
      } else {
        Log(m_traits.worker.className, kLogLevelInformation, "%s():  Not connected!", p_szProcedure);
      }
      Notify(p_szProcedure, p_refusal);
    });
  }

  DWORD ToSecureStatus(DWORD p_dwEngineStatus) const {
    const MailExStatusMapping* end = m_traits.statuses + m_traits.statusCount;
    const MailExStatusMapping* found = std::find_if(
        m_traits.statuses, end, [&](const MailExStatusMapping& p_entry) { return p_entry.engine == p_dwEngineStatus; });
    return found != end ? found->secure : kMailExUnexpected;
  }

  // The engine's reports, posted to the worker thread: the connection or
  // log-in failed, the session is open (log-in accepted), the engine is
  // ready, the connection closed, the TLS channel failed.
  void PostConnectFailed() {
    Post([this] { FailConnect(); });
  }
  void PostLoggedIn() {
    Post([this] {
      if (m_phase == Phase::kConnecting) {
        m_phase = Phase::kConnected;
        NotifyConnect(kMailExSuccess);
      }
    });
  }
  void PostReady() {
    Post([this] {
      if (m_phase == Phase::kConnected) {
        Notify(m_traits.connectProcedure, [this](ExListener& p_listener) { (p_listener.*m_traits.onReady)(); });
      }
    });
  }
  // The engine's close status only says whether a QUIT was under way; the
  // request is what tells a wanted end from a loss.
  void PostClosed() {
    Post([this] {
      if (m_phase == Phase::kConnecting) {
        FailConnect();
        return;
      }
      if (m_phase == Phase::kConnected) {
        m_phase = Phase::kIdle;
        const DWORD status = m_bDisconnectRequested ? kMailExSuccess : kMailExTerminated;
        Notify(m_traits.disconnectProcedure,
               [this, status](ExListener& p_listener) { (p_listener.*m_traits.onClose)(status); });
      }
    });
  }
  // Only a refused certificate has an event; the close that follows every
  // failure reports the failed connect.
  void PostSecureChannelFailed(const TlsHandshakeOutcome& p_outcome) {
    if (!p_outcome.rejection) {
      return;
    }
    Post([this, rejection = *p_outcome.rejection] {
      Notify(m_traits.connectProcedure, [&](ExListener& p_listener) {
        (p_listener.*m_traits.onRejectedCertificate)(rejection.reason, rejection.issuer, rejection.subject);
      });
    });
  }

 private:
  // Where the session stands, as the listener has heard it.
  enum class Phase { kIdle, kConnecting, kConnected };

  void NotifyConnect(DWORD p_dwStatus) {
    Notify(m_traits.connectProcedure,
           [this, p_dwStatus](ExListener& p_listener) { (p_listener.*m_traits.onConnect)(p_dwStatus); });
  }
  // Ends a connect attempt that did not come through, once.
  void FailConnect() {
    if (m_phase != Phase::kConnecting) {
      return;
    }
    m_phase = Phase::kIdle;
    NotifyConnect(kMailExConnectError);
  }

  const Traits& m_traits;
  EngineListener* const m_pEngineListener;  // the derived object
  std::mutex m_listenerMutex;
  ExListener* m_pListener = nullptr;  // not owned; m_listenerMutex
  MailExTlsSettings m_tlsSettings;
  Phase m_phase = Phase::kIdle;  // worker thread only
  // The session's end was asked for: its close is no loss. Worker thread.
  bool m_bDisconnectRequested = false;
  std::unique_ptr<Engine> m_pEngine;  // made and destroyed on the worker thread
  // Last: constructed when everything it reaches exists.
  MailExWorkerThread m_worker;
};

}  // namespace KestNet
