#include "net/mail/smtp_client.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>
#include <utility>

#include "net/mail/base64.h"
#include "net/mail/command_text.h"
#include "net/mail/mime.h"
#include "net/sockets/socket_result.h"
#include "net/sockets/tls_session.h"
#include "runtime/exceptions.h"
#include "runtime/guarded_call.h"
#include "runtime/log.h"

namespace KestNet {

namespace {

constexpr const char* kClassName = "KestNet::SmtpClient";
// The OnConnect notification waits this long for the client's mutex.
constexpr DWORD kConnectLockTimeout = 250;
// The host name buffer HELO and EHLO name the machine from.
constexpr std::size_t kHostNameBufferSize = 200;
// RFC 5321 §4.1.1.4: the end of the mail data.
constexpr std::string_view kEndOfData = "\r\n.\r\n";

constexpr const char* kReceiveLineFailure = "OnReceiveLine():  Error - An Exception occured in or trying to call %s";
constexpr const char* kConnectFailure = "OnConnect():  Error - Caught Exception during %s callback.";
constexpr const char* kCloseFailure = "OnClose():  Error - An exception occurred during a call to %s.";
constexpr const char* kDisconnectFailure = "Disconnect():  Error - An exception occurred during a call to %s.";

// RFC 5321 §4.5.2: a line of the data that starts with "." gets one more, so
// that no line of the message reads as the end of the data. Lines end at LF
// (a bare LF included: servers may take it as a line end).
void MakeTransparent(std::string& p_strText) {
  std::size_t dotLines = !p_strText.empty() && p_strText[0] == '.' ? 1 : 0;
  for (std::size_t at = p_strText.find("\n."); at != std::string::npos; at = p_strText.find("\n.", at + 2)) {
    ++dotLines;
  }
  if (dotLines == 0) return;  // the usual case: no copy
  std::string transparent;
  transparent.reserve(p_strText.size() + dotLines);
  bool lineStart = true;
  for (const char character : p_strText) {
    if (lineStart && character == '.') transparent += '.';
    transparent += character;
    lineStart = character == '\n';
  }
  p_strText.swap(transparent);
}

// RFC 5321 §4.1.1.1: an EHLO reply line after the first names one
// extension, case-insensitively, then its parameters.
bool NamesExtension(const std::string& p_strText, const std::string& p_strName) {
  const std::string name = p_strText.substr(0, p_strText.find(' '));
  return name.size() == p_strName.size() &&
         std::equal(name.begin(), name.end(), p_strName.begin(),
                    [](char p_a, char p_b) { return std::toupper(static_cast<unsigned char>(p_a)) == p_b; });
}

std::string LocalHostName() {
  char name[kHostNameBufferSize] = {};
  gethostname(name, sizeof(name) - 1);
  return name;
}

}  // namespace

// One command step: what is sent in a send state, and the state that then
// waits for its reply. A null command is the message itself.
struct SmtpClient::SendStep {
  DWORD state;
  DWORD nextState;
  const char* logLine;
  std::string (SmtpClient::*command)() const;
};

// One reply step: the handler of the lines received in a state.
struct SmtpClient::ReplyHandler {
  DWORD state;
  void (SmtpClient::*handle)(const Reply&);
  // A reply is awaited (the watchdog runs, continuation lines are waited out).
  bool awaitsReply;
};

std::span<const SmtpClient::SendStep> SmtpClient::SendSteps() {
  // Function-local, so of internal linkage: a program may hold this
  // library twice (linked in and as a loaded module).
  static const SendStep kSendSteps[] = {
      {STATE_WAIT_FOR_SEND_HELLO, STATE_WAIT_FOR_HELLO_RESPONSE,
       "SendWhenYouCan():  Sending HELLO, State = STATE_WAIT_FOR_SEND_HELLO.", &SmtpClient::HelloCommand},
      {STATE_WAIT_FOR_SEND_FROM, STATE_WAIT_FOR_FROM_RESPONSE,
       "SendWhenYouCan():  Sending FROM, State = STATE_WAIT_FOR_SEND_FROM.", &SmtpClient::FromCommand},
      {STATE_WAIT_FOR_SEND_RCPT_TO, STATE_WAIT_FOR_RCPT_TO_RESPONSE,
       "SendWhenYouCan():  Sending TO, State = STATE_WAIT_FOR_SEND_RCPT_TO.", &SmtpClient::RecipientCommand},
      {STATE_WAIT_FOR_SEND_DATA, STATE_WAIT_FOR_DATA_RESPONSE,
       "SendWhenYouCan():  Sending DATA, State = STATE_WAIT_FOR_SEND_DATA.", &SmtpClient::DataCommand},
      {STATE_WAIT_FOR_SEND_BODY, STATE_WAIT_FOR_BODY_RESPONSE,
       "SendWhenYouCan():  Sending BODY, State = STATE_WAIT_FOR_SEND_BODY.", nullptr},
      {STATE_WAIT_FOR_SEND_QUIT, STATE_WAIT_FOR_QUIT_RESPONSE,
       "SendWhenYouCan():  Sending QUIT, State = STATE_WAIT_FOR_SEND_QUIT.", &SmtpClient::QuitCommand},
      {STATE_WAIT_FOR_SEND_AUTH, STATE_WAIT_FOR_AUTH_RESPONSE,
       "SendWhenYouCan():  Sending AUTH, State = STATE_WAIT_FOR_SEND_AUTH.", &SmtpClient::AuthCommand},
      {STATE_WAIT_FOR_SEND_USER, STATE_WAIT_FOR_USER_RESPONSE,
       "SendWhenYouCan():  Sending user, State = STATE_WAIT_FOR_SEND_USER.", &SmtpClient::UserCommand},
      {STATE_WAIT_FOR_SEND_PASSWORD, STATE_WAIT_FOR_PASSWORD_RESPONSE,
       "SendWhenYouCan():  Sending password, State = STATE_WAIT_FOR_SEND_PASSWORD.", &SmtpClient::PasswordCommand},
      {STATE_WAIT_FOR_SEND_RESET, STATE_WAIT_FOR_RESET_RESPONSE,
       "SendWhenYouCan():  Sending RSET, State = STATE_WAIT_FOR_SEND_RESET.", &SmtpClient::ResetCommand},
      {STATE_WAIT_FOR_SEND_STARTTLS, STATE_WAIT_FOR_STARTTLS_RESPONSE,
       "SendWhenYouCan():  Sending STARTTLS, State = STATE_WAIT_FOR_SEND_STARTTLS.", &SmtpClient::StartTlsCommand},
  };
  return kSendSteps;
}

std::span<const SmtpClient::ReplyHandler> SmtpClient::ReplyHandlers() {
  // Function-local, so of internal linkage: a program may hold this
  // library twice (linked in and as a loaded module).
  static const ReplyHandler kReplyHandlers[] = {
      {STATE_WAIT_FOR_HEADER, &SmtpClient::OnHeaderReply, true},
      {STATE_WAIT_FOR_HELLO_RESPONSE, &SmtpClient::OnHelloReply, true},
      {STATE_IDLE, &SmtpClient::OnIdleLine, false},
      {STATE_WAIT_FOR_AUTH_RESPONSE, &SmtpClient::OnAuthReply, true},
      {STATE_WAIT_FOR_USER_RESPONSE, &SmtpClient::OnUserReply, true},
      {STATE_WAIT_FOR_PASSWORD_RESPONSE, &SmtpClient::OnPasswordReply, true},
      {STATE_WAIT_FOR_FROM_RESPONSE, &SmtpClient::OnFromReply, true},
      {STATE_WAIT_FOR_RCPT_TO_RESPONSE, &SmtpClient::OnRecipientReply, true},
      {STATE_WAIT_FOR_DATA_RESPONSE, &SmtpClient::OnDataReply, true},
      {STATE_WAIT_FOR_BODY_RESPONSE, &SmtpClient::OnBodyReply, true},
      {STATE_WAIT_FOR_QUIT_RESPONSE, &SmtpClient::OnQuitReply, true},
      {STATE_WAIT_FOR_RESET_RESPONSE, &SmtpClient::OnResetReply, true},
      {STATE_WAIT_FOR_STARTTLS_RESPONSE, &SmtpClient::OnStartTlsReply, true},
      {STATE_WAIT_FOR_TLS_HANDSHAKE, &SmtpClient::OnHandshakeLine, true},
  };
  return kReplyHandlers;
}

SmtpClient::SmtpClient() = default;

SmtpClient::~SmtpClient() {
  try {
    m_watchdog.Disarm();
    // Without the client's mutex: the close reaches OnClose, which takes it
    // under the socket's mutex (see the lock order).
    m_socket.Close(true);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~SmtpClient");
  }
}

void SmtpClient::CheckLineSafe(const char* p_szOperation, const char* p_szWhat, const std::string& p_strValue) {
  if (!HoldsLineBreakOrNul(p_strValue)) return;
  Log(kClassName, kLogLevelWarning, "%s():  Error - %s may not contain CR, LF or NUL characters.", p_szOperation,
      p_szWhat);
  throw KestBase::InvalidParameterException();
}

void SmtpClient::SetListener(SmtpClientListener* p_pListener) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "SetListener():  Error - Invalid Listener paramter.");
    throw KestBase::InvalidParameterException();
  }
  m_pListener = p_pListener;
}

void SmtpClient::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning, "SetServer():  Error - Can't change the server while connected.");
    throw KestBase::InvalidOperationException();
  }
  if (p_dwPort < 1 || p_dwPort > 65535) {
    Log(kClassName, kLogLevelWarning, "SetServer():  Error - Invalid Port range, must be between 0 and 65535.");
    throw KestBase::InvalidParameterException();
  }
  if (p_strServer.empty()) {
    Log(kClassName, kLogLevelWarning,
        "SetServer():  Error - You may not specify and empty string for a server address.");
    throw KestBase::InvalidParameterException();
  }
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}

void SmtpClient::SetUser(const std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning, "SetUser():  Error - Can't change the user name while connected.");
    throw KestBase::InvalidOperationException();
  }
  CheckLineSafe("SetUser", "The user name", p_strUser);
  m_strUser = p_strUser;
}

void SmtpClient::SetPassword(const std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning, "SetPassword():  Error - Can't change the password name while connected.");
    throw KestBase::InvalidOperationException();
  }
  CheckLineSafe("SetPassword", "The password", p_strPassword);
  m_strPassword = p_strPassword;
}

void SmtpClient::SetSenderName(const std::string& p_strName) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_strName.empty()) {
    Log(kClassName, kLogLevelWarning, "SetSenderName():  Error - Sender Name (From:) may not be empty.");
    throw KestBase::InvalidParameterException();
  }
  if (m_dwState != STATE_IDLE) {
    Log(kClassName, kLogLevelWarning,
        "SetSenderName():  Error - You may only change the sender name when the object is Ready (In an Idle "
        "state).");
    throw KestBase::InvalidOperationException();
  }
  CheckLineSafe("SetSenderName", "The sender name", p_strName);
  m_strSenderName = p_strName;
}

void SmtpClient::SetTimeouts(const MailTimeouts& p_timeouts) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  m_timeouts = p_timeouts;
}

void SmtpClient::GetServer(std::string& p_strServer, DWORD& p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strServer = m_strServer;
  p_dwPort = m_dwPort;
}

void SmtpClient::GetUser(std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strUser = m_strUser;
}

void SmtpClient::GetPassword(std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strPassword = m_strPassword;
}

void SmtpClient::SetTransportSecurity(const MailTransportSecurity& p_security) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning,
        "SetTransportSecurity():  Error - Can't change the transport security while connected.");
    throw KestBase::InvalidOperationException();
  }
  m_security = p_security;
}

bool SmtpClient::IsConnected() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_bConnected;
}

bool SmtpClient::IsReady() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_dwState == STATE_IDLE;
}

void SmtpClient::Connect() {
  // Under the client's mutex throughout: in STATE_DISCONNECTED no
  // notification of this client is waiting for it, so the socket calls
  // cannot meet one in the opposite lock order.
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  Log(kClassName, kLogLevelDetail, "Connect():  Starting connection to SMTP server <%s> on port <%u>",
      m_strServer.c_str(), m_dwPort);
  if (m_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Object does not have a valid listener!");
    throw KestBase::InvalidOperationException();
  }
  if (m_strServer.empty() || m_dwPort == 0) {
    Log(kClassName, kLogLevelWarning,
        "Connect():  Error - Object does not have a valid port and/or server address.");
    throw KestBase::InvalidOperationException();
  }
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Object is not in a disconnected state.");
    throw KestBase::InvalidOperationException();
  }
  m_bUseAuthentication = !m_strUser.empty();
  if (m_bUseAuthentication) {
    Log(kClassName, kLogLevelDetail, "Connect():  Using Authentication with Username <%s>", m_strUser.c_str());
  } else {
    Log(kClassName, kLogLevelDetail, "Connect():  Not using authentication.");
  }
  m_dwPendingAction = PENDING_CONNECT;
  if (m_socket.IsCreated()) {
    // A refused attempt leaves its socket behind, unusable; the refusal has
    // been reported, so its close is not.
    m_bRetiringSocket = true;
    m_socket.Close(true);
    m_bRetiringSocket = false;
  }
  if (m_socket.Create(this) == 0) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Failed to create the socket.");
    throw KestBase::Win32ErrorException(__FILE__, __LINE__);
  }
  // A message leaves as headers, body and the final "." in separate sends;
  // with Nagle the last small segment would wait for the server's delayed
  // acknowledgement (tens of milliseconds per message). Without the option
  // the client still works, only slower, so a refusal is not an error.
  (void)m_socket.SetNoDelay(true);
  if (!m_socket.Connect(m_strServer, static_cast<USHORT>(m_dwPort))) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Failed call to Connect on the socket.");
    throw KestBase::Win32ErrorException(__FILE__, __LINE__);
  }
  SetState(STATE_CONNECTING);
}

void SmtpClient::Send(const std::string& p_strRecipients, MIME* p_pMime) {
  std::string deferred;
  {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (!m_bConnected) {
      Log(kClassName, kLogLevelWarning, "Send():  Error - Not Connected!");
      throw KestBase::InvalidOperationException();
    }
    if (m_pListener == nullptr) {
      Log(kClassName, kLogLevelWarning, "Send():  Error - No Listener Set (or it has become invalid)!");
      throw KestBase::InvalidObjectException();
    }
    if (m_dwState != STATE_IDLE) {
      Log(kClassName, kLogLevelWarning,
          "Send():  Error - Not is a ready state! Can't send until the the handshake is completed.");
      throw KestBase::InvalidOperationException();
    }
    if (p_pMime == nullptr) {
      Log(kClassName, kLogLevelWarning, "Send():  Error - Invalid Mime Object");
      throw KestBase::InvalidParameterException();
    }
    std::vector<std::string> recipients;
    std::size_t start = 0;
    while ((start = p_strRecipients.find_first_not_of(" ,;", start)) != std::string::npos) {
      const std::size_t end = p_strRecipients.find_first_of(" ,;", start);
      recipients.push_back(p_strRecipients.substr(start, end - start));
      CheckLineSafe("Send", "A recipient address", recipients.back());
      start = end;
    }
    if (recipients.empty()) {
      Log(kClassName, kLogLevelWarning, "Send():  Error - No recipient addresses were specified!");
      throw KestBase::InvalidParameterException();
    }
    m_recipients = std::move(recipients);
    m_dwRecipientIndex = 0;
    m_strCurrentRecipient = m_recipients.front();
    m_pMime = p_pMime;
    m_dwPendingAction = PENDING_SEND;
    SetState(m_bTransactionOpen ? STATE_WAIT_FOR_SEND_RESET : STATE_WAIT_FOR_SEND_FROM);
    SendWhenYouCan(&deferred);
  }
  if (!deferred.empty()) Transmit(std::move(deferred), nullptr);
}

void SmtpClient::Disconnect() {
  std::string deferred;
  bool close = false;
  {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelDetail, "Disconnect():  Attempting to disconnect from <%s> on port <%u> with UserName <%s>",
        m_strServer.c_str(), m_dwPort, m_strUser.c_str());
    if (!m_bConnected) {
      Log(kClassName, kLogLevelInformation,
          "Disconnect():  Error - Invalid Operation, this object does not have a connection.");
      Notify(kDisconnectFailure, "OnSMTPClose",
             [](SmtpClientListener& p_listener) { p_listener.OnSMTPClose(SMTP_INVALID_STATE); });
    } else if (m_dwState == STATE_IDLE) {
      m_dwPendingAction = PENDING_DISCONNECT;
      SetState(STATE_WAIT_FOR_SEND_QUIT);
      SendWhenYouCan(&deferred);
    } else {
      Log(kClassName, kLogLevelDetail,
          "Disconnect():  This object is in operation.  Closing Socket.  Last State was <%u>", m_dwState);
      close = true;
    }
  }
  if (!deferred.empty()) Transmit(std::move(deferred), nullptr);
  if (close) m_socket.Close(false);
}

void SmtpClient::SetState(DWORD p_dwState) {
  m_dwState = p_dwState;
  for (const ReplyHandler& handler : ReplyHandlers()) {
    if (handler.state == p_dwState && handler.awaitsReply) {
      // RFC 5321 §4.5.3.2: the reply to the "." ending the data may take
      // longer than any other.
      m_watchdog.Arm(p_dwState == STATE_WAIT_FOR_BODY_RESPONSE ? m_timeouts.smtpDataTermination
                                                               : m_timeouts.smtpReply);
      return;
    }
  }
  m_watchdog.Disarm();
}

SmtpClient::Reply SmtpClient::ReadResponse() {
  m_strLastReply.clear();
  std::string line;
  m_socket.ReceiveLine(line);
  Log(kClassName, kLogLevelTrace, "ReadResponse():  Received Line <%s>", line.c_str());
  Reply reply;
  reply.positive = !line.empty() && (line[0] == '1' || line[0] == '2' || line[0] == '3');
  // RFC 5321 §4.2.1: "ddd-" continues a reply, negative or positive; the
  // reply's last line decides, and only then is the next command due.
  reply.continued = line.size() >= 4 && line[3] == '-';
  if (reply.positive && line.size() >= 4) m_strLastReply = line.substr(4);
  m_strLastLine = std::move(line);
  return reply;
}

std::string SmtpClient::HelloCommand() const {
  // Only EHLO hears of STARTTLS (RFC 3207 §4).
  const bool extended = m_bUseAuthentication || m_security.mode == MailTransportMode::kStartTlsWhenOffered;
  return (extended ? "EHLO " : "HELO ") + LocalHostName() + "\r\n";
}
std::string SmtpClient::AuthCommand() const { return "AUTH LOGIN\r\n"; }
std::string SmtpClient::UserCommand() const { return Base64Encode(m_strUser) + "\r\n"; }
std::string SmtpClient::PasswordCommand() const { return Base64Encode(m_strPassword) + "\r\n"; }
std::string SmtpClient::FromCommand() const { return "MAIL From: <" + m_strSenderName + ">\r\n"; }
std::string SmtpClient::RecipientCommand() const { return "RCPT TO: <" + m_strCurrentRecipient + ">\r\n"; }
std::string SmtpClient::DataCommand() const { return "DATA\r\n"; }
std::string SmtpClient::QuitCommand() const { return "QUIT\r\n"; }
std::string SmtpClient::ResetCommand() const { return "RSET\r\n"; }
std::string SmtpClient::StartTlsCommand() const { return "STARTTLS\r\n"; }

void SmtpClient::SendWhenYouCan(std::string* p_pDeferred) {
  if (!m_bCanSend) return;
  for (const SendStep& step : SendSteps()) {
    if (step.state != m_dwState) continue;
    Log(kClassName, kLogLevelTrace, "%s", step.logLine);
    SetState(step.nextState);
    if (step.command == nullptr) {
      SendMessageBody(p_pDeferred);
    } else {
      Transmit((this->*step.command)(), p_pDeferred);
    }
    return;
  }
  Log(kClassName, kLogLevelTrace, "SendWhenYouCan():  State we don't care to send in.");
}

void SmtpClient::Transmit(std::string p_strBytes, std::string* p_pDeferred) {
  if (p_pDeferred != nullptr) {
    *p_pDeferred += p_strBytes;
    return;
  }
  // The line socket queues what the connection cannot take at once.
  std::string_view rest = p_strBytes;
  while (!rest.empty()) {
    const std::size_t piece = std::min<std::size_t>(rest.size(), std::numeric_limits<DWORD>::max());
    m_socket.Send(reinterpret_cast<const BYTE*>(rest.data()), static_cast<DWORD>(piece));
    rest.remove_prefix(piece);
  }
}

void SmtpClient::SendMessageBody(std::string* p_pDeferred) {
  // The header block is made transparent too: a header name may begin with
  // "." (RFC 5322 §2.2 allows it).
  std::string headers = m_pMime->GetHeaders();
  MakeTransparent(headers);
  std::string body = m_pMime->GetBody();
  MakeTransparent(body);
  Transmit(std::move(headers), p_pDeferred);
  Transmit(std::move(body), p_pDeferred);
  Transmit(std::string(kEndOfData), p_pDeferred);
}

template <typename Call>
void SmtpClient::Notify(const char* p_szFailureFormat, const char* p_szCallback, Call&& p_call) {
  if (m_pListener == nullptr) return;
  try {
    p_call(*m_pListener);
  } catch (...) {
    Log(kClassName, kLogLevelWarning, p_szFailureFormat, p_szCallback);
  }
}

void SmtpClient::CloseSocket() { m_socket.Close(false); }

void SmtpClient::OnAccept(TcpNonBlockingLineSocket*, DWORD) {}
void SmtpClient::OnOutOfBandData(TcpNonBlockingLineSocket*, DWORD) {}
void SmtpClient::OnReceive(TcpNonBlockingLineSocket*, DWORD) {}

void SmtpClient::OnConnect(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, kConnectLockTimeout);
    if (p_dwResult == SOCKET_NO_ERROR) {
      Log(kClassName, kLogLevelTrace, "Connect():  We have received a successful connect event.");
      m_bConnected = true;
      m_bEncrypted = false;
      SetState(STATE_WAIT_FOR_HEADER);
      Notify(kConnectFailure, "OnSMTPConnected",
             [](SmtpClientListener& p_listener) { p_listener.OnSMTPConnected(SMTP_SUCCESS); });
      if (m_security.mode == MailTransportMode::kImplicit) {
        // The greeting comes through TLS; the wait for it bounds the handshake.
        StartTls();
      }
    } else {
      Log(kClassName, kLogLevelTrace, "Connect():  We have received a unsuccessful connect event.");
      Notify(kConnectFailure, "OnSMTPConnected",
             [](SmtpClientListener& p_listener) { p_listener.OnSMTPConnected(SMTP_CONNECT_ERROR); });
      SetState(STATE_DISCONNECTED);
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnConnect():  Error - Internal Exception, not rethrowing.");
  }
}

void SmtpClient::OnSend(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  if (p_dwResult != SOCKET_NO_ERROR) return;
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_bCanSend = true;
    SendWhenYouCan();
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnSend():  Error - Exception within OnSend().");
  }
}

void SmtpClient::OnReceiveLine(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  if (p_dwResult != SOCKET_NO_ERROR) return;
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    // Every line is taken, whatever the state, so that the next line read
    // is the next line received.
    const Reply reply = ReadResponse();
    if (m_dwState == STATE_WAIT_FOR_HELLO_RESPONSE && reply.positive && m_strLastLine.size() >= 4) {
      m_bStartTlsOffered = m_bStartTlsOffered || NamesExtension(m_strLastLine.substr(4), "STARTTLS");
    }
    for (const ReplyHandler& handler : ReplyHandlers()) {
      if (handler.state != m_dwState) continue;
      if (handler.awaitsReply && reply.continued) {
        if (m_dwState == STATE_WAIT_FOR_HEADER) {
          Log(kClassName, kLogLevelTrace,
              "OnReceiveLine():  This is a multiline statement.  We have more data to mine.");
        }
        SetState(m_dwState);  // the server is answering: a new period
        return;
      }
      (this->*handler.handle)(reply);
      return;
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - An exception was thrown");
  }
}

void SmtpClient::OnHeaderReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - Received a invalid header from the server.");
    Notify(kReceiveLineFailure, "OnSMTPHeader",
           [](SmtpClientListener& p_listener) { p_listener.OnSMTPHeader(SMTP_CONNECT_ERROR, std::string()); });
    CloseSocket();
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceiveLine():  Received a Header response from the server.");
  Notify(kReceiveLineFailure, "OnSMTPHeader",
         [this](SmtpClientListener& p_listener) { p_listener.OnSMTPHeader(SMTP_SUCCESS, m_strLastReply); });
  SetState(STATE_WAIT_FOR_SEND_HELLO);
  SendWhenYouCan();
}

void SmtpClient::OnHelloReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - Invalid Hello Response.");
    Notify(kReceiveLineFailure, "OnSMTPHello",
           [](SmtpClientListener& p_listener) { p_listener.OnSMTPHello(SMTP_CONNECT_ERROR, std::string()); });
    CloseSocket();
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceiveLine():  Received a HELO response.");
  Notify(kReceiveLineFailure, "OnSMTPHello",
         [this](SmtpClientListener& p_listener) { p_listener.OnSMTPHello(SMTP_SUCCESS, m_strLastReply); });
  const bool upgrade =
      m_security.mode == MailTransportMode::kStartTlsWhenOffered && m_bStartTlsOffered && !m_bEncrypted;
  m_bStartTlsOffered = false;
  if (upgrade) {
    SetState(STATE_WAIT_FOR_SEND_STARTTLS);
  } else if (m_bUseAuthentication) {
    Log(kClassName, kLogLevelTrace,
        "OnReceiveLine():  We need authendication, so we are in STATE_WAIT_FOR_SEND_AUTH.");
    SetState(STATE_WAIT_FOR_SEND_AUTH);
  } else {
    Log(kClassName, kLogLevelTrace, "OnReceiveLine():  No authentication, so we are in STATE_IDLE.");
    SetState(STATE_IDLE);
    Notify(kReceiveLineFailure, "OnSMTPReady", [](SmtpClientListener& p_listener) { p_listener.OnSMTPReady(); });
  }
  SendWhenYouCan();
}

void SmtpClient::OnIdleLine(const Reply& p_reply) {
  if (p_reply.positive) {
    Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - In Idle state and we received <%s>.",
        m_strLastReply.c_str());
  }
}

void SmtpClient::FailAuthentication(const char* p_szLogLine, const char* p_szCallback,
                                    void (SmtpClientListener::*p_report)(DWORD, const std::string&)) {
  Log(kClassName, kLogLevelWarning, "%s", p_szLogLine);
  Notify(kReceiveLineFailure, p_szCallback,
         [p_report](SmtpClientListener& p_listener) { (p_listener.*p_report)(SMTP_AUTH_ERROR, std::string()); });
  Notify(kReceiveLineFailure, "OnSMTPAuthenticated",
         [](SmtpClientListener& p_listener) { p_listener.OnSMTPAuthenticated(SMTP_AUTH_ERROR); });
  CloseSocket();
}

void SmtpClient::OnAuthReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    FailAuthentication("OnReceiveLine():  Error - Invalid response for request for authentication.",
                       "OnSMTPAuthenticateRequest", &SmtpClientListener::OnSMTPAuthenticateRequest);
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceiveLine():  Received a response to our request for authentication.");
  Notify(kReceiveLineFailure, "OnSMTPAuthenticateRequest", [this](SmtpClientListener& p_listener) {
    p_listener.OnSMTPAuthenticateRequest(SMTP_SUCCESS, m_strLastReply);
  });
  SetState(STATE_WAIT_FOR_SEND_USER);
  SendWhenYouCan();
}

void SmtpClient::OnUserReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    FailAuthentication("OnReceiveLine():  Error - Received a invalid response to our user name.", "OnSMTPUsername",
                       &SmtpClientListener::OnSMTPUsername);
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceiveLine():  Received a response to our user name.");
  Notify(kReceiveLineFailure, "OnSMTPUsername",
         [this](SmtpClientListener& p_listener) { p_listener.OnSMTPUsername(SMTP_SUCCESS, m_strLastReply); });
  SetState(STATE_WAIT_FOR_SEND_PASSWORD);
  SendWhenYouCan();
}

void SmtpClient::OnPasswordReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    FailAuthentication("OnReceiveLine():  Error - Received a invalid response to our password.", "OnSMTPPassword",
                       &SmtpClientListener::OnSMTPPassword);
    return;
  }
  SetState(STATE_IDLE);
  Notify(kReceiveLineFailure, "OnSMTPPassword",
         [this](SmtpClientListener& p_listener) { p_listener.OnSMTPPassword(SMTP_SUCCESS, m_strLastReply); });
  Notify(kReceiveLineFailure, "OnSMTPAuthenticated",
         [](SmtpClientListener& p_listener) { p_listener.OnSMTPAuthenticated(SMTP_SUCCESS); });
  Notify(kReceiveLineFailure, "OnSMTPReady", [](SmtpClientListener& p_listener) { p_listener.OnSMTPReady(); });
  SendWhenYouCan();
}

void SmtpClient::RefuseMail(const char* p_szLogLine) {
  Log(kClassName, kLogLevelWarning, "%s", p_szLogLine);
  SetState(STATE_IDLE);
  m_dwPendingAction = PENDING_CONNECT;
  m_pMime = nullptr;
  Notify(kReceiveLineFailure, "OnSMTPMailSent",
         [](SmtpClientListener& p_listener) { p_listener.OnSMTPMailSent(SMTP_UNEXPECTED); });
}

void SmtpClient::OnFromReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    RefuseMail("OnReceiveLine():  Error - Received a invalid response while sending a FROM command.");
    return;
  }
  m_bTransactionOpen = true;
  SetState(STATE_WAIT_FOR_SEND_RCPT_TO);
  SendWhenYouCan();
}

void SmtpClient::OnRecipientReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    // One refused recipient ends the whole send.
    RefuseMail("OnReceiveLine():  Error - Received a invalid response while sending a TO command.");
    return;
  }
  ++m_dwRecipientIndex;
  if (m_dwRecipientIndex < m_recipients.size()) {
    m_strCurrentRecipient = m_recipients[m_dwRecipientIndex];
    SetState(STATE_WAIT_FOR_SEND_RCPT_TO);
  } else {
    SetState(STATE_WAIT_FOR_SEND_DATA);
  }
  SendWhenYouCan();
}

void SmtpClient::OnDataReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    RefuseMail("OnReceiveLine():  Error - Received a invalid response while sending a DATA command.");
    return;
  }
  SetState(STATE_WAIT_FOR_SEND_BODY);
  SendWhenYouCan();
}

void SmtpClient::OnBodyReply(const Reply& p_reply) {
  // Accepted or refused, the reply to the "." ends the transaction.
  m_bTransactionOpen = false;
  if (!p_reply.positive) {
    RefuseMail("OnReceiveLine():  Error - Received a invalid response while sending the BODY of the message.");
    return;
  }
  SetState(STATE_IDLE);
  m_dwPendingAction = PENDING_CONNECT;
  m_pMime = nullptr;
  Notify(kReceiveLineFailure, "OnSMTPMailSent",
         [](SmtpClientListener& p_listener) { p_listener.OnSMTPMailSent(SMTP_SUCCESS); });
  SendWhenYouCan();
}

void SmtpClient::OnResetReply(const Reply& p_reply) {
  if (!p_reply.positive) {
    RefuseMail("OnReceiveLine():  Error - Received a invalid response while sending a RSET command.");
    return;
  }
  m_bTransactionOpen = false;
  SetState(STATE_WAIT_FOR_SEND_FROM);
  SendWhenYouCan();
}

void SmtpClient::OnQuitReply(const Reply& p_reply) {
  SetState(STATE_IDLE);
  if (p_reply.positive) {
    Log(kClassName, kLogLevelTrace,
        "OnReceiveLine():  Response has come from the server in the STATE_WAIT_FOR_QUIT_RESPONSE.");
    Notify(kReceiveLineFailure, "OnSMTPQuit",
           [this](SmtpClientListener& p_listener) { p_listener.OnSMTPQuit(SMTP_SUCCESS, m_strLastReply); });
  } else {
    Log(kClassName, kLogLevelWarning,
        "OnReceiveLine():  Error - A error response has come from the server in the STATE_WAIT_FOR_QUIT_RESPONSE.");
    Notify(kReceiveLineFailure, "OnSMTPQuit",
           [](SmtpClientListener& p_listener) { p_listener.OnSMTPQuit(SMTP_UNEXPECTED, std::string()); });
  }
  CloseSocket();
}

void SmtpClient::OnStartTlsReply(const Reply&) {
  // RFC 3207 §4: only 220 lets the handshake begin.
  if (m_strLastLine.rfind("220", 0) != 0) {
    TlsHandshakeOutcome refusal;
    refusal.failure = "the server refused STARTTLS: " + m_strLastLine;
    ReportSecureChannelFailure(refusal);
    CloseSocket();
    return;
  }
  SetState(STATE_WAIT_FOR_TLS_HANDSHAKE);
  StartTls();
}

void SmtpClient::OnHandshakeLine(const Reply&) {
  Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - Unexpected data during the TLS handshake.");
}

void SmtpClient::StartTls() {
  // A session that cannot be set up is reported through OnTlsHandshake.
  (void)m_socket.StartTls(TlsSettingsFor(m_strServer, m_security));
}

void SmtpClient::OnTlsHandshake(TcpNonBlockingLineSocket*, const TlsHandshakeOutcome& p_outcome) {
  KestBase::Guarded(kClassName, "OnTlsHandshake", [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (!p_outcome.established) {
      ReportSecureChannelFailure(p_outcome);
      return;  // the socket closes the connection
    }
    m_bEncrypted = true;
    Log(kClassName, kLogLevelTrace, "OnTlsHandshake():  The connection is encrypted now.");
    if (m_dwState == STATE_WAIT_FOR_TLS_HANDSHAKE) {
      // RFC 3207 §4.2: what the server said before TLS no longer counts.
      SetState(STATE_WAIT_FOR_SEND_HELLO);
      SendWhenYouCan();
    }
  });
}

void SmtpClient::ReportSecureChannelFailure(const TlsHandshakeOutcome& p_outcome) {
  Log(kClassName, kLogLevelInformation, "OnTlsHandshake():  Error - No secure channel: %s",
      p_outcome.failure.c_str());
  Notify(kReceiveLineFailure, "OnSMTPSecureChannelFailed",
         [&](SmtpClientListener& p_listener) { p_listener.OnSMTPSecureChannelFailed(p_outcome); });
}

void SmtpClient::OnClose(TcpNonBlockingLineSocket*, DWORD) {
  KestBase::Guarded(kClassName, "OnClose", [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_bRetiringSocket) return;
    Log(kClassName, kLogLevelTrace, "OnClose():  Socket has been closed.");
    DWORD status = SMTP_TERMINATED;
    m_bConnected = false;
    // In STATE_DISCONNECTED the failed connect has been reported already.
    if (m_dwState != STATE_IDLE && m_dwState != STATE_DISCONNECTED) {
      if (m_dwPendingAction == PENDING_CONNECT) {
        Notify(kCloseFailure, "OnSMTPConnected",
               [](SmtpClientListener& p_listener) { p_listener.OnSMTPConnected(SMTP_TERMINATED); });
      } else if (m_dwPendingAction == PENDING_SEND) {
        Notify(kCloseFailure, "OnSMTPMailSent",
               [](SmtpClientListener& p_listener) { p_listener.OnSMTPMailSent(SMTP_TERMINATED); });
      } else {
        status = SMTP_SUCCESS;
      }
    }
    SetState(STATE_DISCONNECTED);
    m_dwPendingAction = PENDING_CONNECT;
    m_pMime = nullptr;
    m_bTransactionOpen = false;
    Notify(kCloseFailure, "OnSMTPClose", [status](SmtpClientListener& p_listener) { p_listener.OnSMTPClose(status); });
  });
}

void SmtpClient::OnReplyTimeout() {
  KestBase::Guarded(kClassName, "ReplyTimeout", [&] {
    {
      KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
      // The reply may have arrived while the expiry was on its way.
      if (!m_watchdog.TakeExpiry()) return;
      Log(kClassName, kLogLevelInformation,
          "ReplyTimeout():  Warning - The server did not answer within <%u> ms.  Closing the connection.",
          static_cast<unsigned>(m_watchdog.GetPeriod().count()));
    }
    // Outside the client's mutex (lock order); OnClose reports the action
    // the silence interrupted.
    m_socket.Close(false);
  });
}

}  // namespace KestNet
