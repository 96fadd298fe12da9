#include "net/mail/smtp_ex_client_thread.h"

#include <utility>

#include "net/sockets/tls_session.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNetLib::CSmtpExClientThread";

constexpr MailExWorkerTexts kTexts = {kClassName, "CSmtpExClientThread", "SmtpExClientThreadProc", "SMTP and SMTPS"};

DWORD ToSmtpExStatus(DWORD p_dwStatus) {
  switch (p_dwStatus) {
    case SMTP_SUCCESS:
      return SMTPEX_SUCCESS;
    case SMTP_TERMINATED:
      return SMTPEX_TERMINATED;
    case SMTP_INVALID_STATE:
      return SMTPEX_INVALID_STATE;
    default:
      return SMTPEX_UNEXPECTED;
  }
}

}  // namespace

CSmtpExClientThread::CSmtpExClientThread()
    : m_worker(
          kTexts, [this] { m_pEngine = std::make_unique<SmtpClient>(); }, [this] { m_pEngine.reset(); }) {}

CSmtpExClientThread::~CSmtpExClientThread() = default;

void CSmtpExClientThread::SetListener(SmtpExClientListener* p_pListener) {
  std::lock_guard<std::mutex> lock(m_listenerMutex);
  m_pListener = p_pListener;
}

bool CSmtpExClientThread::HasListener() {
  std::lock_guard<std::mutex> lock(m_listenerMutex);
  return m_pListener != nullptr;
}

// The engine exists from the moment the thread runs until it stops.
bool CSmtpExClientThread::IsConnected() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsConnected(); }

bool CSmtpExClientThread::IsReady() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsReady(); }

template <typename Call>
void CSmtpExClientThread::Notify(const char* p_szProcedure, Call&& p_call) {
  SmtpExClientListener* listener = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    listener = m_pListener;
  }
  if (listener == nullptr) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Invalid ISmtpExClientThreadData pointer (or SmtpExClientListener interface), cannot continue",
        p_szProcedure);
    return;
  }
  p_call(*listener);
}

void CSmtpExClientThread::FailConnect() {
  if (m_phase != Phase::kConnecting) {
    return;
  }
  m_phase = Phase::kIdle;
  Notify("SmtpExClientThreadConnectProc",
         [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExConnect(SMTPEX_CONNECT_ERROR); });
}

void CSmtpExClientThread::Connect(const std::string& p_strServer, DWORD p_dwPort, const std::string& p_strUser,
                                  const std::string& p_strPassword) {
  m_worker.Post([this, p_strServer, p_dwPort, p_strUser, p_strPassword] {
    if (!m_pEngine || m_phase != Phase::kIdle) {
      Notify("SmtpExClientThreadConnectProc",
             [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExConnect(SMTPEX_INVALID_STATE); });
      return;
    }
    const MailTransportSecurity security = m_tlsSettings.Security();
    try {
      m_pEngine->SetServer(p_strServer, p_dwPort);
      m_pEngine->SetUser(p_strUser);
      m_pEngine->SetPassword(p_strPassword);
      m_pEngine->SetTransportSecurity(security);
      m_pEngine->SetListener(this);
    } catch (const KestBase::InvalidOperationException&) {
      Notify("SmtpExClientThreadConnectProc",
             [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExConnect(SMTPEX_INVALID_STATE); });
      return;
    } catch (...) {
      Notify("SmtpExClientThreadConnectProc",
             [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExConnect(SMTPEX_CONNECT_ERROR); });
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

void CSmtpExClientThread::Disconnect() {
  m_worker.Post([this] {
    if (m_pEngine && m_phase == Phase::kConnected) {
      try {
        m_bDisconnectRequested = true;
        m_pEngine->Disconnect();
        return;
      } catch (...) {
        // A QUIT under way already: answered like no connection.
      }
    } else {
      Log(kClassName, kLogLevelInformation, "SmtpExClientThreadDisconnectProc():  Not connected!");
    }
    Notify("SmtpExClientThreadDisconnectProc",
           [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExClose(SMTPEX_INVALID_STATE); });
  });
}

void CSmtpExClientThread::Send(const std::string& p_strSender, const std::string& p_strRecipients, MIME* p_pMime) {
  m_worker.Post([this, p_strSender, p_strRecipients, p_pMime] {
    DWORD status = SMTPEX_INVALID_STATE;
    if (m_pEngine && m_phase == Phase::kConnected) {
      try {
        m_pEngine->SetSenderName(p_strSender);
        m_pEngine->Send(p_strRecipients, p_pMime);
        return;
      } catch (const KestBase::InvalidParameterException&) {
        status = SMTPEX_UNEXPECTED;  // an address the engine cannot put on a line
      } catch (...) {
        // Busy with another message: answered like no connection.
      }
    } else {
      Log(kClassName, kLogLevelInformation, "SmtpExClientThreadSendProc():  Not connected!");
    }
    Notify("SmtpExClientThreadSendProc", [status](SmtpExClientListener& p_listener) { p_listener.OnSmtpExMailSent(status); });
  });
}

void CSmtpExClientThread::OnSMTPConnected(DWORD p_dwStatus) {
  if (p_dwStatus != SMTP_SUCCESS) {
    m_worker.Post([this] { FailConnect(); });
  }
}

void CSmtpExClientThread::OnSMTPReady() {
  m_worker.Post([this] {
    if (m_phase == Phase::kConnecting) {
      m_phase = Phase::kConnected;
      Notify("SmtpExClientThreadConnectProc",
             [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExConnect(SMTPEX_SUCCESS); });
    }
    if (m_phase == Phase::kConnected) {
      Notify("SmtpExClientThreadReadyProc", [](SmtpExClientListener& p_listener) { p_listener.OnSmtpExReady(); });
    }
  });
}

void CSmtpExClientThread::OnSMTPMailSent(DWORD p_dwStatus) {
  m_worker.Post([this, p_dwStatus] {
    Notify("SmtpExClientThreadSendProc",
           [&](SmtpExClientListener& p_listener) { p_listener.OnSmtpExMailSent(ToSmtpExStatus(p_dwStatus)); });
  });
}

void CSmtpExClientThread::OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) {
  m_worker.Post([this, p_dwStatus, p_strText] {
    Notify("SmtpExClientThreadDisconnectProc", [&](SmtpExClientListener& p_listener) {
      p_listener.OnSmtpExQuit(ToSmtpExStatus(p_dwStatus), p_strText);
    });
  });
}

// The engine's close status only says whether a QUIT was under way; the
// request is what tells a wanted end from a loss.
void CSmtpExClientThread::OnSMTPClose(DWORD) {
  m_worker.Post([this] {
    if (m_phase == Phase::kConnecting) {
      FailConnect();
      return;
    }
    if (m_phase == Phase::kConnected) {
      m_phase = Phase::kIdle;
      const DWORD status = m_bDisconnectRequested ? SMTPEX_SUCCESS : SMTPEX_TERMINATED;
      Notify("SmtpExClientThreadDisconnectProc",
             [status](SmtpExClientListener& p_listener) { p_listener.OnSmtpExClose(status); });
    }
  });
}

void CSmtpExClientThread::OnSMTPSecureChannelFailed(const TlsHandshakeOutcome& p_outcome) {
  if (!p_outcome.rejection) {
    return;  // the close that follows reports the failed connect
  }
  m_worker.Post([this, rejection = *p_outcome.rejection] {
    Notify("SmtpExClientThreadConnectProc", [&](SmtpExClientListener& p_listener) {
      p_listener.OnSmtpExRejectedServerCertificate(rejection.reason, rejection.issuer, rejection.subject);
    });
  });
}

}  // namespace KestNet
