#include "net/mail/pop3_client.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <optional>
#include <utility>

#include "net/mail/command_text.h"
#include "net/sockets/socket_result.h"
#include "net/sockets/tls_session.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::Pop3Client";

unsigned long AsUnsignedLong(DWORD p_dwValue) { return static_cast<unsigned long>(p_dwValue); }

// RFC 1939 §3: "+OK" opens a positive reply, anything else is negative.
bool IsPositive(const std::string& p_strLine) { return !p_strLine.empty() && p_strLine[0] == '+'; }

bool IsDigit(char p_c) { return p_c >= '0' && p_c <= '9'; }

// Reads the next decimal number at or after p_position, moving past it; none
// when no digit follows or the number does not fit 32 bits.
std::optional<DWORD> NextNumber(const std::string& p_strLine, std::size_t& p_position) {
  while (p_position < p_strLine.size() && !IsDigit(p_strLine[p_position])) {
    ++p_position;
  }
  const char* first = p_strLine.data() + p_position;
  const char* last = p_strLine.data() + p_strLine.size();
  DWORD value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc()) {
    return std::nullopt;
  }
  p_position += static_cast<std::size_t>(end - first);
  return value;
}

// The states in which the client waits for the server, under the idle limit.
// STATE_CONNECTING is not one: the socket bounds its connect itself.
constexpr Pop3Client::State kWaitingStates[] = {
    Pop3Client::STATE_WAIT_FOR_HEADER,        Pop3Client::STATE_WAIT_FOR_USER_RESPONSE,
    Pop3Client::STATE_WAIT_FOR_PASS_RESPONSE, Pop3Client::STATE_WAIT_FOR_STAT_RESPONSE,
    Pop3Client::STATE_WAIT_FOR_RETR_RESPONSE, Pop3Client::STATE_WAIT_FOR_RETR_DATA,
    Pop3Client::STATE_WAIT_FOR_DELE_RESPONSE, Pop3Client::STATE_WAIT_FOR_QUIT_RESPONSE,
    Pop3Client::STATE_WAIT_FOR_CAPA_RESPONSE, Pop3Client::STATE_WAIT_FOR_CAPA_DATA,
    Pop3Client::STATE_WAIT_FOR_STLS_RESPONSE, Pop3Client::STATE_WAIT_FOR_TLS_HANDSHAKE,
};

// RFC 2449 §6: a capability line is its name, then arguments after a space;
// names are case-insensitive.
bool NamesCapability(const std::string& p_strLine, const std::string& p_strName) {
  const std::string name = p_strLine.substr(0, p_strLine.find(' '));
  return name.size() == p_strName.size() &&
         std::equal(name.begin(), name.end(), p_strName.begin(),
                    [](char p_a, char p_b) { return std::toupper(static_cast<unsigned char>(p_a)) == p_b; });
}

bool AwaitsReply(Pop3Client::State p_state) {
  return std::find(std::begin(kWaitingStates), std::end(kWaitingStates), p_state) != std::end(kWaitingStates);
}

// What SendWhenYouCan puts after a command's verb.
enum class CommandOperand { kNone, kUser, kPassword, kMessageNumber };

}  // namespace

struct Pop3Client::CommandStep {
  State due;
  const char* verb;
  CommandOperand operand;
  State next;
  const char* log;
};

std::span<const Pop3Client::CommandStep> Pop3Client::CommandSteps() {
  // Function-local, so of internal linkage: a program may hold this
  // library twice (linked in and as a loaded module).
  static const CommandStep kCommandSteps[] = {
      {STATE_SEND_USER, "USER", CommandOperand::kUser, STATE_WAIT_FOR_USER_RESPONSE,
       "SendWhenYouCan():  Sending USER, State = STATE_WAIT_FOR_USER_RESPONSE."},
      {STATE_SEND_PASS, "PASS", CommandOperand::kPassword, STATE_WAIT_FOR_PASS_RESPONSE,
       "SendWhenYouCan():  Sending PASS, State = STATE_WAIT_FOR_PASS_RESPONSE."},
      {STATE_SEND_STAT, "STAT", CommandOperand::kNone, STATE_WAIT_FOR_STAT_RESPONSE,
       "SendWhenYouCan():  Sending STAT, State = STATE_WAIT_FOR_STAT_RESPONSE."},
      {STATE_SEND_RETR, "RETR", CommandOperand::kMessageNumber, STATE_WAIT_FOR_RETR_RESPONSE,
       "SendWhenYouCan():  Sending RETR, State = STATE_WAIT_FOR_RETR_RESPONSE."},
      {STATE_SEND_DELE, "DELE", CommandOperand::kMessageNumber, STATE_WAIT_FOR_DELE_RESPONSE,
       "SendWhenYouCan():  Sending DELE, State = STATE_WAIT_FOR_DELE_RESPONSE."},
      {STATE_SEND_QUIT, "QUIT", CommandOperand::kNone, STATE_WAIT_FOR_QUIT_RESPONSE,
       "SendWhenYouCan():  Sending QUIT, State = STATE_WAIT_FOR_QUIT_RESPONSE."},
      {STATE_SEND_CAPA, "CAPA", CommandOperand::kNone, STATE_WAIT_FOR_CAPA_RESPONSE,
       "SendWhenYouCan():  Sending CAPA, State = STATE_WAIT_FOR_CAPA_RESPONSE."},
      {STATE_SEND_STLS, "STLS", CommandOperand::kNone, STATE_WAIT_FOR_STLS_RESPONSE,
       "SendWhenYouCan():  Sending STLS, State = STATE_WAIT_FOR_STLS_RESPONSE."},
  };
  return kCommandSteps;
}

// How OnReceiveLine handles a line in a state that waits for one; in the
// other states the line is unasked for and dropped.
struct Pop3Client::ReplyStep {
  State state;
  const char* logPrefix;  // logged with the line's size and the line
  void (Pop3Client::*handle)(std::string);
};

std::span<const Pop3Client::ReplyStep> Pop3Client::ReplySteps() {
  // Function-local, so of internal linkage: a program may hold this
  // library twice (linked in and as a loaded module).
  static const ReplyStep kReplySteps[] = {
      {STATE_WAIT_FOR_HEADER, "OnReceiveLine():  State <WAIT_FOR_HEADER>",
       &Pop3Client::OnGreeting},
      {STATE_WAIT_FOR_USER_RESPONSE, "OnReceiveLine():  WAIT_FOR_USER/PASS_RESPONSE",
       &Pop3Client::OnUserOrPassReply},
      {STATE_WAIT_FOR_PASS_RESPONSE, "OnReceiveLine():  WAIT_FOR_USER/PASS_RESPONSE",
       &Pop3Client::OnUserOrPassReply},
      {STATE_WAIT_FOR_STAT_RESPONSE, "OnReceiveLine():  WAIT_FOR_STAT_RESPONSE",
       &Pop3Client::OnStatReply},
      {STATE_WAIT_FOR_RETR_RESPONSE, "OnReceiveLine():  STATE_WAIT_FOR_RETR_RESPONSE",
       &Pop3Client::OnRetrReply},
      {STATE_WAIT_FOR_RETR_DATA, "OnReceiveLine():   STATE_WAIT_FOR_RETR_DATA",
       &Pop3Client::OnRetrData},
      {STATE_WAIT_FOR_DELE_RESPONSE, "OnReceiveLine():  STATE_WAIT_FOR_DELE_RESPONSE",
       &Pop3Client::OnDeleReply},
      {STATE_WAIT_FOR_QUIT_RESPONSE, "OnReceiveLine(): WAIT_FOR_QUIT_RESPONSE",
       &Pop3Client::OnQuitReply},
      {STATE_WAIT_FOR_CAPA_RESPONSE, "OnReceiveLine():  STATE_WAIT_FOR_CAPA_RESPONSE",
       &Pop3Client::OnCapaReply},
      {STATE_WAIT_FOR_CAPA_DATA, "OnReceiveLine():  STATE_WAIT_FOR_CAPA_DATA",
       &Pop3Client::OnCapaData},
      {STATE_WAIT_FOR_STLS_RESPONSE, "OnReceiveLine():  STATE_WAIT_FOR_STLS_RESPONSE",
       &Pop3Client::OnStlsReply},
      {STATE_WAIT_FOR_TLS_HANDSHAKE, "OnReceiveLine():  STATE_WAIT_FOR_TLS_HANDSHAKE",
       &Pop3Client::OnHandshakeLine},
  };
  return kReplySteps;
}

Pop3Client::Pop3Client() : m_replyWatchdog([this] { OnReplyTimeout(); }) {}

Pop3Client::~Pop3Client() {
  try {
    m_replyWatchdog.Disarm();
    // Without the client's mutex: the close reaches OnClose, which takes it
    // under the socket's mutex (see the lock order).
    m_socket.Close(true);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~Pop3Client");
  }
}

void Pop3Client::SetListener(Pop3ClientListener* p_pListener) { m_pListener = p_pListener; }

void Pop3Client::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning,
        "SetServer():  Error - You may not change the server or port while connected.");
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
  Log(kClassName, kLogLevelDetail, "SetServer():  Setting server to <%s> and port to <%u>", p_strServer.c_str(),
      static_cast<unsigned>(p_dwPort));
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}

void Pop3Client::GetServer(std::string& p_strServer, DWORD& p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strServer = m_strServer;
  p_dwPort = m_dwPort;
}

void Pop3Client::SetUser(const std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning,
        "SetUser():  Error - Already connected with a user. Disconnect before attempting to set a new user.");
    throw KestBase::InvalidOperationException();
  }
  if (p_strUser.empty()) {
    Log(kClassName, kLogLevelWarning, "SetUser():  Error - You may not specify an empty user name.");
    throw KestBase::InvalidParameterException();
  }
  if (HoldsLineBreakOrNul(p_strUser)) {
    Log(kClassName, kLogLevelWarning, "SetUser():  Error - The user name may not contain CR, LF or NUL characters.");
    throw KestBase::InvalidParameterException();
  }
  Log(kClassName, kLogLevelDetail, "SetUser():  Setting the user name to <%s>", p_strUser.c_str());
  m_strUser = p_strUser;
}

void Pop3Client::GetUser(std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strUser = m_strUser;
}

void Pop3Client::SetPassword(const std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning, "SetPassword():  Error - May not change the password while connected.");
    throw KestBase::InvalidOperationException();
  }
  if (HoldsLineBreakOrNul(p_strPassword)) {
    Log(kClassName, kLogLevelWarning,
        "SetPassword():  Error - The password may not contain CR, LF or NUL characters.");
    throw KestBase::InvalidParameterException();
  }
  if (p_strPassword.empty()) {
    Log(kClassName, kLogLevelDetail, "SetPassword():  Setting the password to <EMPTY STRING>.");
  }
  m_strPassword = p_strPassword;
}

void Pop3Client::GetPassword(std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  p_strPassword = m_strPassword;
}

void Pop3Client::SetTimeouts(const MailTimeouts& p_timeouts) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  m_timeouts = p_timeouts;
}

void Pop3Client::SetTransportSecurity(const MailTransportSecurity& p_security) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning,
        "SetTransportSecurity():  Error - You may not change the transport security while connected.");
    throw KestBase::InvalidOperationException();
  }
  m_security = p_security;
}

bool Pop3Client::IsConnected() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_bConnected;
}

bool Pop3Client::IsReady() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_dwState == STATE_READY;
}

void Pop3Client::SetState(State p_state) {
  m_dwState = p_state;
  if (AwaitsReply(p_state)) {
    m_replyWatchdog.Arm(m_timeouts.pop3Reply);
  } else {
    m_replyWatchdog.Disarm();
  }
}

void Pop3Client::Connect() {
  std::string server;
  DWORD port = 0;
  {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    ClaimConnection();
    server = m_strServer;
    port = m_dwPort;
  }
  // The socket calls run without the client's mutex (lock order); the claim
  // keeps every other operation away meanwhile.
  Log(kClassName, kLogLevelTrace, "Connect():  Calling Socket Create.");
  if (!m_socket.IsCreated() && m_socket.Create(this) == 0) {
    const DWORD error = m_socket.GetLastSocketError();
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelWarning, "Connect():  Socket Create failed rc = %lu", AsUnsignedLong(error));
    SetState(STATE_DISCONNECTED);
    throw KestBase::InvalidObjectException();
  }
  if (!m_socket.Connect(server, static_cast<USHORT>(port))) {
    const DWORD error = m_socket.GetLastSocketError();
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelInformation, "Connect():  Socket Connect failed rc = %lu", AsUnsignedLong(error));
    SetState(STATE_DISCONNECTED);
    m_pListener->OnPOP3Connected(POP3_SOCKET_FAILURE);
  }
}

void Pop3Client::ClaimConnection() {
  Log(kClassName, kLogLevelDetail, "Connect():  Starting connection to <%s> on port <%u> with UserName <%s>",
      m_strServer.c_str(), static_cast<unsigned>(m_dwPort), m_strUser.c_str());
  if (m_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Invalid Parameter, you must specific a listener!");
    throw KestBase::InvalidObjectException();
  }
  if (m_strServer.empty() || m_dwPort == 0 || m_strUser.empty()) {
    Log(kClassName, kLogLevelWarning,
        "Connect():  Error - You have not set the server address, port, or user name.");
    throw KestBase::InvalidObjectException();
  }
  if (m_dwState != STATE_DISCONNECTED) {
    Log(kClassName, kLogLevelWarning,
        "Connect():  Error - You may not call Connect in this state.  Check to see if the object is already "
        "connencted.");
    throw KestBase::InvalidOperationException();
  }
  m_dwPendingAction = ACTION_CONNECT;
  SetState(STATE_CONNECTING);
}

void Pop3Client::Disconnect() {
  SocketWork work;
  {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    work = PlanDisconnect();
  }
  Perform(work);
}

Pop3Client::SocketWork Pop3Client::PlanDisconnect() {
  SocketWork work;
  Log(kClassName, kLogLevelDetail,
      "Disconnect():  Attempting to disconnect from <%s> on port <%u> with UserName <%s>", m_strServer.c_str(),
      static_cast<unsigned>(m_dwPort), m_strUser.c_str());
  if (!m_bConnected) {
    Log(kClassName, kLogLevelInformation,
        "Disconnect():  Error - Invalid Operation, this object does not have a connection.");
    if (m_pListener != nullptr) {
      m_pListener->OnPOP3Close(POP3_INVALID_STATE);
    }
    return work;
  }
  if (m_dwState == STATE_WAIT_FOR_QUIT_RESPONSE) {
    Log(kClassName, kLogLevelWarning,
        "Disconnect():  Error - You may not call DisConnect in this state.  Check to see if the object is being "
        "disconnected.");
    throw KestBase::InvalidOperationException();
  }
  if (m_dwState == STATE_READY) {
    m_dwPendingAction = ACTION_DISCONNECT;
    SetState(STATE_SEND_QUIT);
    SendWhenYouCan(&work.bytes);
    return work;
  }
  Log(kClassName, kLogLevelDetail,
      "Disconnect():  This object is in operation.  Closing Socket.  Last State was <%u>",
      static_cast<unsigned>(m_dwState));
  work.close = true;
  return work;
}

void Pop3Client::Perform(const SocketWork& p_work) {
  if (!p_work.bytes.empty()) {
    m_socket.Send(reinterpret_cast<const BYTE*>(p_work.bytes.data()), static_cast<DWORD>(p_work.bytes.size()));
  }
  if (p_work.close) {
    m_socket.Close(true);
  }
}

void Pop3Client::StartOperation(const char* p_szMethod, PendingAction p_action, State p_sendState,
                                std::optional<DWORD> p_messageNumber) {
  std::string command;
  {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    ClaimOperation(p_szMethod, p_action, p_sendState, p_messageNumber, command);
  }
  Perform({std::move(command), false});
}

void Pop3Client::ClaimOperation(const char* p_szMethod, PendingAction p_action, State p_sendState,
                                std::optional<DWORD> p_messageNumber, std::string& p_strCommand) {
  if (m_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "%s():  Error -  A listener has not been set.", p_szMethod);
    throw KestBase::InvalidObjectException();
  }
  if (m_dwState != STATE_READY) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - You may not perform this operation as the the pop client is not ready.", p_szMethod);
    throw KestBase::InvalidOperationException();
  }
  if (p_messageNumber) {
    m_dwMessageNumber = *p_messageNumber;
  }
  m_dwPendingAction = p_action;
  SetState(p_sendState);
  SendWhenYouCan(&p_strCommand);
}

void Pop3Client::GetMailCount() {
  Log(kClassName, kLogLevelTrace, "GetMailCount():  Start");
  StartOperation("GetMailCount", ACTION_MAIL_COUNT, STATE_SEND_STAT, std::nullopt);
}

void Pop3Client::RetrieveMessage(DWORD p_dwMessageNumber) {
  Log(kClassName, kLogLevelDetail, "RetrieveMessage():  Starting to retrieve message <%lu>",
      AsUnsignedLong(p_dwMessageNumber));
  StartOperation("RetrieveMessage", ACTION_RETRIEVE, STATE_SEND_RETR, p_dwMessageNumber);
}

void Pop3Client::DeleteMessage(DWORD p_dwMessageNumber) {
  Log(kClassName, kLogLevelTrace, "DeleteMessage():  Attempting to Delete Message <%lu>",
      AsUnsignedLong(p_dwMessageNumber));
  StartOperation("DeleteMessage", ACTION_DELETE, STATE_SEND_DELE, p_dwMessageNumber);
}

void Pop3Client::SendWhenYouCan(std::string* p_pDeferred) {
  if (!m_bCanSend) {
    return;
  }
  for (const CommandStep& step : CommandSteps()) {
    if (step.due != m_dwState) {
      continue;
    }
    std::string command = step.verb;
    switch (step.operand) {
      case CommandOperand::kNone:
        break;
      case CommandOperand::kUser:
        command += " " + m_strUser;
        break;
      case CommandOperand::kPassword:
        command += " " + m_strPassword;
        break;
      case CommandOperand::kMessageNumber:
        command += " " + std::to_string(m_dwMessageNumber);
        break;
    }
    command += "\r\n";
    // The state moves on before the bytes leave: the reply cannot find the
    // client still in the send state, and no other thread sends them again.
    SetState(step.next);
    Log(kClassName, kLogLevelTrace, "%s", step.log);
    if (p_pDeferred != nullptr) {
      *p_pDeferred = std::move(command);
    } else {
      m_socket.Send(reinterpret_cast<const BYTE*>(command.data()), static_cast<DWORD>(command.size()));
    }
    return;
  }
}

void Pop3Client::OnAccept(TcpNonBlockingLineSocket*, DWORD) {}
void Pop3Client::OnOutOfBandData(TcpNonBlockingLineSocket*, DWORD) {}
void Pop3Client::OnReceive(TcpNonBlockingLineSocket*, DWORD) {}

void Pop3Client::OnConnect(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "OnConnect():  rc = %lu", AsUnsignedLong(p_dwResult));
    if (p_dwResult == SOCKET_NO_ERROR) {
      SetState(STATE_WAIT_FOR_HEADER);
      m_bConnected = true;
      m_bStlsOffered = false;
      m_pListener->OnPOP3Connected(POP3_SUCCESS);
      if (m_security.mode == MailTransportMode::kImplicit) {
        // The greeting comes through TLS; the wait for it bounds the handshake.
        StartTls();
      }
    } else {
      m_pListener->OnPOP3Connected(POP3_CONNECT_ERROR);
      SetState(STATE_DISCONNECTED);
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnConnect():  Error - Unknown Exception.");
  }
}

void Pop3Client::OnSend(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "OnSend(): rc = %lu", AsUnsignedLong(p_dwResult));
    if (p_dwResult == SOCKET_NO_ERROR) {
      m_bCanSend = true;
      SendWhenYouCan();
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnSend():  Error - Unknown Exception.");
  }
}

void Pop3Client::OnReceiveLine(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "OnReceiveLine():  rc = %lu", AsUnsignedLong(p_dwResult));
    if (p_dwResult != SOCKET_NO_ERROR) {
      return;
    }
    // Every line is taken, whatever the state, so that the next line read is
    // the next line received: a line left behind would pass for the reply to
    // the next command.
    std::string line;
    const DWORD size = m_socket.ReceiveLine(line);
    if (size == TcpNonBlockingLineSocket::kNoLine) {
      return;
    }
    for (const ReplyStep& step : ReplySteps()) {
      if (step.state != m_dwState) {
        continue;
      }
      Log(kClassName, kLogLevelTrace, "%s, Size = %lu, Line = %s", step.logPrefix, AsUnsignedLong(size),
          line.c_str());
      (this->*step.handle)(std::move(line));
      return;
    }
    // RFC 1939 §3: a server answers commands and says nothing unasked.
    Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - Unexpected data from server.");
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - Unknown Exception.");
  }
}

void Pop3Client::OnGreeting(std::string p_strLine) {
  if (!IsPositive(p_strLine)) {
    try {
      m_pListener->OnPOP3Header(POP3_CONNECT_ERROR, p_strLine);
    } catch (...) {
      Log(kClassName, kLogLevelWarning,
          "OnReceiveLine():  State <WAIT_FOR_HEADER>.  Failed during listener callback.");
    }
    m_socket.Close(true);
    return;
  }
  SetState(m_security.mode == MailTransportMode::kStartTlsWhenOffered ? STATE_SEND_CAPA : STATE_SEND_USER);
  try {
    m_pListener->OnPOP3Header(POP3_SUCCESS, p_strLine);
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  State <WAIT_FOR_HEADER>.  Failed during listener callback.");
  }
  SendWhenYouCan();
}

void Pop3Client::OnUserOrPassReply(std::string p_strLine) {
  const DWORD step = m_dwState == STATE_WAIT_FOR_USER_RESPONSE ? 0 : 1;
  if (!IsPositive(p_strLine)) {
    try {
      m_pListener->OnPOP3Authenticated(step, POP3_AUTH_ERROR, p_strLine);
    } catch (...) {
      Log(kClassName, kLogLevelWarning,
          "OnReceiveLine():  STATE_WAIT_FOR_PASS_RESPONSE/STATE_WAIT_FOR_USER_RESPONSE - Failed to notify "
          "listener of POP3_AUTH_ERROR");
    }
    m_socket.Close(true);
    return;
  }
  if (step == 0) {
    SetState(STATE_SEND_PASS);
    try {
      m_pListener->OnPOP3Authenticated(0, POP3_SUCCESS, p_strLine);
    } catch (...) {
      Log(kClassName, kLogLevelWarning,
          "OnReceiveLine():  STATE_WAIT_FOR_USER_RESPONSE - Failed to notify listener of POP3_SUCCESS");
    }
    SendWhenYouCan();
    return;
  }
  SetState(STATE_READY);
  try {
    m_pListener->OnPOP3Authenticated(1, POP3_SUCCESS, p_strLine);
    m_pListener->OnReady();
  } catch (...) {
    Log(kClassName, kLogLevelWarning,
        "OnReceiveLine():  STATE_WAIT_FOR_PASS_RESPONSE - Failed to notify listener of POP3_SUCCESS and Ready "
        "State.");
  }
}

void Pop3Client::OnStatReply(std::string p_strLine) {
  // RFC 1939 §5: "+OK nn mm", the message count and the mailbox size. A
  // positive reply without both is as useless as a negative one.
  std::size_t position = 0;
  std::optional<DWORD> count;
  std::optional<DWORD> size;
  if (IsPositive(p_strLine)) {
    count = NextNumber(p_strLine, position);
    size = count ? NextNumber(p_strLine, position) : std::nullopt;
  }
  SetState(STATE_READY);
  try {
    if (count && size) {
      m_pListener->OnPOP3Count(POP3_SUCCESS, p_strLine, *count, *size);
    } else {
      Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - Unexpected data from server.");
      m_pListener->OnPOP3Count(POP3_UNEXPECTED, p_strLine, 0, 0);
    }
    m_pListener->OnReady();
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - Unexpected exception in call to OnPOP3Count/OnReady. ");
  }
}

void Pop3Client::OnRetrReply(std::string p_strLine) {
  if (IsPositive(p_strLine)) {
    Log(kClassName, kLogLevelTrace, "OnReceiveLine():  RETR is good.  Moving on to collect the data.");
    m_messageLines.clear();
    SetState(STATE_WAIT_FOR_RETR_DATA);
    return;
  }
  SetState(STATE_READY);
  try {
    m_pListener->OnPOP3Retrieve(POP3_UNEXPECTED, m_dwMessageNumber, {});
    m_pListener->OnReady();
  } catch (...) {
    Log(kClassName, kLogLevelWarning,
        "OnReceiveLine():  Error - Unexpected exception in call to OnPOP3Retrieve/OnReady. ");
  }
}

void Pop3Client::OnRetrData(std::string p_strLine) {
  if (p_strLine != ".") {
    // RFC 1939 §3: a line the server began with "." came with one more "."
    // in front; exactly one is removed.
    if (p_strLine.starts_with('.')) {
      p_strLine.erase(0, 1);
    }
    m_messageLines.push_back(std::move(p_strLine));
    // Every line shows the server alive: the idle limit starts again.
    SetState(STATE_WAIT_FOR_RETR_DATA);
    return;
  }
  SetState(STATE_READY);
  std::vector<std::string> lines;
  lines.swap(m_messageLines);
  try {
    m_pListener->OnPOP3Retrieve(POP3_SUCCESS, m_dwMessageNumber, lines);
    m_pListener->OnReady();
  } catch (...) {
    Log(kClassName, kLogLevelWarning,
        "OnReceiveLine():  Error - Unexpected exception in call to OnPOP3Retrieve/OnReady. ");
  }
}

void Pop3Client::OnDeleReply(std::string p_strLine) {
  SetState(STATE_READY);
  const bool positive = IsPositive(p_strLine);
  if (!positive) {
    Log(kClassName, kLogLevelWarning,
        "OnReceiveLine():  Error - STATE_WAIT_FOR_DELE_RESPONSE - Unexpected Results or Failure.");
  }
  try {
    m_pListener->OnPOP3Delete(positive ? POP3_SUCCESS : POP3_UNEXPECTED, p_strLine, m_dwMessageNumber);
    m_pListener->OnReady();
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - Unexpected exception in call to OnPOP3Delete/OnReady.");
  }
}

void Pop3Client::OnQuitReply(std::string p_strLine) {
  SetState(STATE_READY);
  try {
    m_pListener->OnPOP3Quit(IsPositive(p_strLine) ? POP3_SUCCESS : POP3_UNEXPECTED, p_strLine);
  } catch (...) {
    // The connection is closed all the same.
    Log(kClassName, kLogLevelWarning, "OnReceiveLine():  Error - Unexpected exception in call to OnPOP3Quit.");
  }
  m_socket.Close(true);
}

void Pop3Client::OnCapaReply(std::string p_strLine) {
  if (IsPositive(p_strLine)) {
    SetState(STATE_WAIT_FOR_CAPA_DATA);
    return;
  }
  // A server without CAPA (RFC 1939 only) offers no STLS either.
  SetState(STATE_SEND_USER);
  SendWhenYouCan();
}

void Pop3Client::OnCapaData(std::string p_strLine) {
  if (p_strLine != ".") {
    m_bStlsOffered = m_bStlsOffered || NamesCapability(p_strLine, "STLS");
    SetState(STATE_WAIT_FOR_CAPA_DATA);
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceiveLine():  STLS %s.", m_bStlsOffered ? "offered" : "not offered");
  SetState(m_bStlsOffered ? STATE_SEND_STLS : STATE_SEND_USER);
  SendWhenYouCan();
}

void Pop3Client::OnStlsReply(std::string p_strLine) {
  if (!IsPositive(p_strLine)) {
    TlsHandshakeOutcome refusal;
    refusal.failure = "the server refused STLS: " + p_strLine;
    ReportSecureChannelFailure(refusal);
    m_socket.Close(true);
    return;
  }
  SetState(STATE_WAIT_FOR_TLS_HANDSHAKE);
  StartTls();
}

void Pop3Client::OnHandshakeLine(std::string) {
  Log(kClassName, kLogLevelInformation, "OnReceiveLine():  Warning - Unexpected data from server.");
}

void Pop3Client::StartTls() {
  // A session that cannot be set up is reported through OnTlsHandshake.
  (void)m_socket.StartTls(TlsSettingsFor(m_strServer, m_security));
}

void Pop3Client::OnTlsHandshake(TcpNonBlockingLineSocket*, const TlsHandshakeOutcome& p_outcome) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (!p_outcome.established) {
      ReportSecureChannelFailure(p_outcome);
      return;  // the socket closes the connection
    }
    Log(kClassName, kLogLevelTrace, "OnTlsHandshake():  The connection is encrypted now.");
    if (m_dwState == STATE_WAIT_FOR_TLS_HANDSHAKE) {
      SetState(STATE_SEND_USER);
      SendWhenYouCan();
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnTlsHandshake():  Error - Unknown Exception.");
  }
}

void Pop3Client::ReportSecureChannelFailure(const TlsHandshakeOutcome& p_outcome) {
  Log(kClassName, kLogLevelInformation, "OnTlsHandshake():  Error - No secure channel: %s",
      p_outcome.failure.c_str());
  try {
    m_pListener->OnPOP3SecureChannelFailed(p_outcome);
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnTlsHandshake():  Error - Failed in call listener's OnPOP3SecureChannelFailed.");
  }
}

void Pop3Client::OnClose(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "OnClose():  rc = %lu", AsUnsignedLong(p_dwResult));
    if (p_dwResult == SOCKET_MESSAGE_TOO_LONG) {
      Log(kClassName, kLogLevelInformation,
          "OnClose():  Warning - The server sent a line longer than <%lu> bytes.  The connection was closed.",
          AsUnsignedLong(TcpNonBlockingLineSocket::kMaxLineLength));
    }
    m_bConnected = false;
    const DWORD status = m_dwState == STATE_READY ? POP3_TERMINATED : ReportInterruptedAction();
    SetState(STATE_DISCONNECTED);
    m_dwPendingAction = ACTION_CONNECT;
    m_messageLines.clear();
    try {
      if (m_pListener != nullptr) {
        m_pListener->OnPOP3Close(status);
      }
    } catch (...) {
      Log(kClassName, kLogLevelWarning, "OnClose():  Error - Failed to call listener's OnPOP3Close.");
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "OnClose():  Error - Unhandled Exception.");
  }
}

DWORD Pop3Client::ReportInterruptedAction() {
  if (m_pListener == nullptr) {
    return m_dwPendingAction == ACTION_DISCONNECT ? POP3_SUCCESS : POP3_TERMINATED;
  }
  const char* failure = nullptr;
  try {
    switch (m_dwPendingAction) {
      case ACTION_CONNECT:
        failure = "OnClose():  Error - Failed in call listener's OnPOP3Authenticated.";
        m_pListener->OnPOP3Authenticated(0, POP3_TERMINATED, std::string());
        break;
      case ACTION_MAIL_COUNT:
        failure = "OnClose():  Error - Failed in call listener's OnPOP3Count.";
        m_pListener->OnPOP3Count(POP3_TERMINATED, std::string(), 0, 0);
        break;
      case ACTION_RETRIEVE:
        failure = "OnClose():  Error - Failed in call listener's OnPOP3Retrieve.";
        m_pListener->OnPOP3Retrieve(POP3_TERMINATED, 0, {});
        break;
      case ACTION_DELETE:
        failure = "OnClose():  Error - Failed in call listener's OnPOP3Delete.";
        m_pListener->OnPOP3Delete(POP3_TERMINATED, std::string(), 0);
        break;
      case ACTION_DISCONNECT:
        // The close was asked for: it ends the session as wanted.
        return POP3_SUCCESS;
      default:
        Log(kClassName, kLogLevelWarning, "OnClose():  Error - Unknown Action.");
        break;
    }
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "%s", failure);
  }
  return POP3_TERMINATED;
}

void Pop3Client::OnReplyTimeout() {
  DWORD periodMs = 0;
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    // The reply may have come, or another wait begun, since the expiry.
    if (!m_replyWatchdog.TakeExpiry() || !AwaitsReply(m_dwState)) {
      return;
    }
    periodMs = static_cast<DWORD>(m_replyWatchdog.GetPeriod().count());
    Log(kClassName, kLogLevelInformation,
        "ReplyTimeout():  Warning - The server did not answer within <%u> ms.  Closing the connection.",
        static_cast<unsigned>(periodMs));
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "ReplyTimeout():  Error - Unknown Exception.");
    return;
  }
  // Closed without the client's mutex, in the socket event thread's order
  // (socket mutex, then the client's in OnClose). A reply that slips in
  // meanwhile is lost with the connection, as it would be a moment later.
  m_socket.Close(true);
}

}  // namespace KestNet
