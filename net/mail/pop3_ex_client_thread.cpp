#include "net/mail/pop3_ex_client_thread.h"

#include <algorithm>
#include <utility>

#include "net/sockets/tls_session.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNetLib::CPop3ExClientThread";

constexpr MailExWorkerTexts kTexts = {kClassName, "CPop3ExClientThread", "Pop3ExClientThreadProc", "POP and POPS"};

// The engine's codes as the secure client reports them.
DWORD ToPop3ExStatus(DWORD p_dwStatus) {
  switch (p_dwStatus) {
    case POP3_SUCCESS:
      return POP3EX_SUCCESS;
    case POP3_TERMINATED:
      return POP3EX_TERMINATED;
    case POP3_INVALID_STATE:
      return POP3EX_INVALID_STATE;
    default:
      return POP3EX_UNEXPECTED;
  }
}

}  // namespace

CPop3ExClientThread::CPop3ExClientThread()
    : m_worker(
          kTexts, [this] { m_pEngine = std::make_unique<Pop3Client>(); }, [this] { m_pEngine.reset(); }) {}

CPop3ExClientThread::~CPop3ExClientThread() = default;

void CPop3ExClientThread::SetListener(Pop3ExClientListener* p_pListener) {
  std::lock_guard<std::mutex> lock(m_listenerMutex);
  m_pListener = p_pListener;
}

bool CPop3ExClientThread::HasListener() {
  std::lock_guard<std::mutex> lock(m_listenerMutex);
  return m_pListener != nullptr;
}

// The engine exists from the moment the thread runs until it stops.
bool CPop3ExClientThread::IsConnected() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsConnected(); }

bool CPop3ExClientThread::IsReady() { return m_worker.IsRunning() && m_pEngine && m_pEngine->IsReady(); }

template <typename Call>
void CPop3ExClientThread::Notify(const char* p_szProcedure, Call&& p_call) {
  Pop3ExClientListener* listener = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    listener = m_pListener;
  }
  if (listener == nullptr) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Invalid IPop3ExClientThreadData pointer (or Pop3ExClientListener interface), cannot continue",
        p_szProcedure);
    return;
  }
  p_call(*listener);
}

void CPop3ExClientThread::FailConnect() {
  if (m_phase != Phase::kConnecting) {
    return;
  }
  m_phase = Phase::kIdle;
  Notify("Pop3ExClientThreadConnectProc",
         [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExConnect(POP3EX_CONNECT_ERROR); });
}

void CPop3ExClientThread::Connect(const std::string& p_strServer, DWORD p_dwPort, const std::string& p_strUser,
                                  const std::string& p_strPassword) {
  m_worker.Post([this, p_strServer, p_dwPort, p_strUser, p_strPassword] {
    if (!m_pEngine || m_phase != Phase::kIdle) {
      Notify("Pop3ExClientThreadConnectProc",
             [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExConnect(POP3EX_INVALID_STATE); });
      return;
    }
    const MailTransportSecurity security = m_tlsSettings.Security();
    try {
      // The engine refuses new settings while a session is open.
      m_pEngine->SetServer(p_strServer, p_dwPort);
      m_pEngine->SetUser(p_strUser);
      m_pEngine->SetPassword(p_strPassword);
      m_pEngine->SetTransportSecurity(security);
      m_pEngine->SetListener(this);
    } catch (const KestBase::InvalidOperationException&) {
      Notify("Pop3ExClientThreadConnectProc",
             [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExConnect(POP3EX_INVALID_STATE); });
      return;
    } catch (...) {
      Notify("Pop3ExClientThreadConnectProc",
             [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExConnect(POP3EX_CONNECT_ERROR); });
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

template <typename Operation, typename Refusal>
void CPop3ExClientThread::RunWhenConnected(const char* p_szProcedure, Operation&& p_operation,
                                           Refusal&& p_notConnected) {
  m_worker.Post([this, p_szProcedure, operation = std::forward<Operation>(p_operation),
                 notConnected = std::forward<Refusal>(p_notConnected)]() mutable {
    if (m_pEngine && m_phase == Phase::kConnected) {
      try {
        operation(*m_pEngine);
        return;
      } catch (...) {
        // Busy with another operation: answered like no connection.
      }
    } else {
      Log(kClassName, kLogLevelInformation, "%s():  Not connected!", p_szProcedure);
    }
    Notify(p_szProcedure, notConnected);
  });
}

void CPop3ExClientThread::Disconnect() {
  RunWhenConnected(
      "Pop3ExClientThreadDisconnectProc",
      [this](Pop3Client& p_engine) {
        m_bDisconnectRequested = true;
        p_engine.Disconnect();
      },
      [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExClose(POP3EX_INVALID_STATE); });
}

void CPop3ExClientThread::GetMailCount() {
  RunWhenConnected(
      "Pop3ExClientThreadGetMessageCountProc", [](Pop3Client& p_engine) { p_engine.GetMailCount(); },
      [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExCount(POP3EX_INVALID_STATE, std::string(), 0, 0); });
}

void CPop3ExClientThread::RetrieveMessage(DWORD p_dwMessageNumber) {
  RunWhenConnected(
      "Pop3ExClientThreadRetrieveMessageProc",
      [p_dwMessageNumber](Pop3Client& p_engine) { p_engine.RetrieveMessage(p_dwMessageNumber); },
      [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExRetrieve(POP3EX_INVALID_STATE, 0, {}, {}); });
}

void CPop3ExClientThread::DeleteMessage(DWORD p_dwMessageNumber) {
  RunWhenConnected(
      "Pop3ExClientThreadDeleteMessageProc",
      [p_dwMessageNumber](Pop3Client& p_engine) { p_engine.DeleteMessage(p_dwMessageNumber); },
      [p_dwMessageNumber](Pop3ExClientListener& p_listener) {
        p_listener.OnPop3ExDelete(POP3EX_INVALID_STATE, std::string(), p_dwMessageNumber);
      });
}

// The engine's reports. Each is copied and handed to the worker thread.

void CPop3ExClientThread::OnPOP3Connected(DWORD p_dwStatus) {
  if (p_dwStatus != POP3_SUCCESS) {
    m_worker.Post([this] { FailConnect(); });
  }
}

// A refused greeting ends in the engine's close, which reports it.
void CPop3ExClientThread::OnPOP3Header(DWORD, const std::string&) {}

void CPop3ExClientThread::OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string&) {
  if (p_dwStep != 1 || p_dwStatus != POP3_SUCCESS) {
    return;  // a refusal ends in the engine's close
  }
  m_worker.Post([this] {
    if (m_phase != Phase::kConnecting) {
      return;
    }
    m_phase = Phase::kConnected;
    Notify("Pop3ExClientThreadConnectProc",
           [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExConnect(POP3EX_SUCCESS); });
  });
}

void CPop3ExClientThread::OnReady() {
  m_worker.Post([this] {
    if (m_phase == Phase::kConnected) {
      Notify("Pop3ExClientThreadReadyProc", [](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExReady(); });
    }
  });
}

void CPop3ExClientThread::OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) {
  m_worker.Post([this, p_dwStatus, p_strLine] {
    Notify("Pop3ExClientThreadDisconnectProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExQuit(ToPop3ExStatus(p_dwStatus), p_strLine);
    });
  });
}

// The engine's close status only says whether a QUIT was under way; the
// request is what tells a wanted end from a loss.
void CPop3ExClientThread::OnPOP3Close(DWORD) {
  m_worker.Post([this] {
    if (m_phase == Phase::kConnecting) {
      FailConnect();
      return;
    }
    if (m_phase == Phase::kConnected) {
      m_phase = Phase::kIdle;
      const DWORD status = m_bDisconnectRequested ? POP3EX_SUCCESS : POP3EX_TERMINATED;
      Notify("Pop3ExClientThreadDisconnectProc",
             [status](Pop3ExClientListener& p_listener) { p_listener.OnPop3ExClose(status); });
    }
  });
}

void CPop3ExClientThread::OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount,
                                      DWORD p_dwSize) {
  m_worker.Post([this, p_dwStatus, p_strLine, p_dwCount, p_dwSize] {
    Notify("Pop3ExClientThreadGetMessageCountProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExCount(ToPop3ExStatus(p_dwStatus), p_strLine, p_dwCount, p_dwSize);
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
  m_worker.Post([this, p_dwStatus, p_dwMessageNumber, headerLines = std::move(headerLines),
                 bodyLines = std::move(bodyLines)] {
    Notify("Pop3ExClientThreadRetrieveMessageProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExRetrieve(ToPop3ExStatus(p_dwStatus), p_dwMessageNumber, headerLines, bodyLines);
    });
  });
}

void CPop3ExClientThread::OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) {
  m_worker.Post([this, p_dwStatus, p_strLine, p_dwMessageNumber] {
    Notify("Pop3ExClientThreadDeleteMessageProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExDelete(ToPop3ExStatus(p_dwStatus), p_strLine, p_dwMessageNumber);
    });
  });
}

void CPop3ExClientThread::OnPOP3SecureChannelFailed(const TlsHandshakeOutcome& p_outcome) {
  if (!p_outcome.rejection) {
    return;  // the close that follows reports the failed connect
  }
  m_worker.Post([this, rejection = *p_outcome.rejection] {
    Notify("Pop3ExClientThreadConnectProc", [&](Pop3ExClientListener& p_listener) {
      p_listener.OnPop3ExRejectedServerCertificate(rejection.reason, rejection.issuer, rejection.subject);
    });
  });
}

}  // namespace KestNet
