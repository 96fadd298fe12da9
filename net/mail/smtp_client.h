// KestNet::SmtpClient: an SMTP client (RFC 5321) that runs on the
// notifications of a line socket.
//
// The caller sets the server, optionally a user name and password (which
// switch on EHLO and AUTH LOGIN), a listener, and calls Connect. Once the
// handshake is done (OnSMTPReady) the client is idle: SetSenderName and Send
// run one message through MAIL, one RCPT per recipient, DATA and the message,
// and OnSMTPMailSent reports the outcome. Disconnect sends QUIT. Every
// outcome reaches the listener once; a lost connection reports the action it
// interrupted before OnSMTPClose.
//
// With SetTransportSecurity the client speaks TLS: from the first byte, or
// after STARTTLS when the EHLO reply offers it (RFC 3207), followed by a new
// EHLO (§4.2). A refused STARTTLS, a failed handshake or a rejected
// certificate reaches OnSMTPSecureChannelFailed and ends the connection
// before AUTH, reported as a connection lost during the handshake.
//
// Every reply the client waits for is bounded by the reply watchdog
// (MailTimeouts: 5 minutes, 10 after the "." ending a message); when it
// expires the connection is closed and reported as lost.
//
// Locking. The client's mutex guards every field; the caller's operations
// and the socket notifications all run under it. The event thread calls the
// notifications holding the socket's mutex, so the order is: socket mutex,
// then the client's mutex, then the watchdog's. A caller's operation
// therefore never holds the client's mutex while it calls into the socket
// (Send, Close): it decides under the mutex what to send, moves the state on,
// and sends after releasing it. On the event thread the socket mutex is held
// already and the client sends under its own mutex.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "net/mail/mail_transport_security.h"
#include "net/mail/reply_watchdog.h"
#include "net/mail/smtp_client_listener.h"
#include "net/sockets/tcp_non_blocking_line_socket.h"
#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

class MIME;

class SmtpClient : public TcpNonBlockingLineSocketListener {
 public:
  // States (6 and 7 are not used).
  static constexpr DWORD STATE_DISCONNECTED = 0;
  static constexpr DWORD STATE_CONNECTING = 1;
  static constexpr DWORD STATE_WAIT_FOR_HEADER = 2;
  static constexpr DWORD STATE_WAIT_FOR_SEND_HELLO = 3;
  static constexpr DWORD STATE_WAIT_FOR_HELLO_RESPONSE = 4;
  static constexpr DWORD STATE_IDLE = 5;
  static constexpr DWORD STATE_WAIT_FOR_SEND_FROM = 8;
  static constexpr DWORD STATE_WAIT_FOR_FROM_RESPONSE = 9;
  static constexpr DWORD STATE_WAIT_FOR_SEND_RCPT_TO = 10;
  static constexpr DWORD STATE_WAIT_FOR_RCPT_TO_RESPONSE = 11;
  static constexpr DWORD STATE_WAIT_FOR_SEND_DATA = 12;
  static constexpr DWORD STATE_WAIT_FOR_DATA_RESPONSE = 13;
  static constexpr DWORD STATE_WAIT_FOR_SEND_BODY = 14;
  static constexpr DWORD STATE_WAIT_FOR_BODY_RESPONSE = 15;
  static constexpr DWORD STATE_WAIT_FOR_SEND_QUIT = 16;
  static constexpr DWORD STATE_WAIT_FOR_QUIT_RESPONSE = 17;
  static constexpr DWORD STATE_WAIT_FOR_SEND_AUTH = 18;
  static constexpr DWORD STATE_WAIT_FOR_AUTH_RESPONSE = 19;
  static constexpr DWORD STATE_WAIT_FOR_SEND_USER = 20;
  static constexpr DWORD STATE_WAIT_FOR_USER_RESPONSE = 21;
  static constexpr DWORD STATE_WAIT_FOR_SEND_PASSWORD = 22;
  static constexpr DWORD STATE_WAIT_FOR_PASSWORD_RESPONSE = 23;
  // RFC 5321 §4.1.1.5: a send that follows one refused after its MAIL was
  // accepted first resets the transaction still open on the server.
  static constexpr DWORD STATE_WAIT_FOR_SEND_RESET = 24;
  static constexpr DWORD STATE_WAIT_FOR_RESET_RESPONSE = 25;
  static constexpr DWORD STATE_WAIT_FOR_SEND_STARTTLS = 26;
  static constexpr DWORD STATE_WAIT_FOR_STARTTLS_RESPONSE = 27;
  // STARTTLS accepted, TLS handshake running.
  static constexpr DWORD STATE_WAIT_FOR_TLS_HANDSHAKE = 28;

  // What a lost connection interrupts.
  static constexpr DWORD PENDING_CONNECT = 0;
  static constexpr DWORD PENDING_SEND = 1;
  static constexpr DWORD PENDING_DISCONNECT = 2;

  SmtpClient();
  // Closes a connection still open; the listener hears its OnClose.
  virtual ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // The listener is not owned; it must outlive the connection.
  void SetListener(SmtpClientListener* p_pListener);
  void SetServer(const std::string& p_strServer, DWORD p_dwPort);
  // An empty user name means no authentication. Neither may hold CR, LF or
  // NUL (they go on the wire as lines).
  void SetUser(const std::string& p_strUser);
  void SetPassword(const std::string& p_strPassword);
  void GetServer(std::string& p_strServer, DWORD& p_dwPort);
  void GetUser(std::string& p_strUser);
  void GetPassword(std::string& p_strPassword);
  // Only in STATE_IDLE; no CR, LF or NUL.
  void SetSenderName(const std::string& p_strName);
  // Shortens or lengthens the reply limits (tests); takes effect at the next
  // reply waited for.
  void SetTimeouts(const MailTimeouts& p_timeouts);
  // Only while disconnected; applies from the next Connect.
  void SetTransportSecurity(const MailTransportSecurity& p_security);
  bool IsReady();
  bool IsConnected();

  void Connect();
  // p_strRecipients: addresses separated by spaces, "," or ";". The MIME is
  // not owned and must not change until OnSMTPMailSent.
  void Send(const std::string& p_strRecipients, MIME* p_pMime);
  void Disconnect();

  // TcpNonBlockingLineSocketListener.
  void OnAccept(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnClose(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnConnect(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnOutOfBandData(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnReceive(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnSend(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnReceiveLine(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnTlsHandshake(TcpNonBlockingLineSocket* p_pSocket, const TlsHandshakeOutcome& p_outcome) override;

 private:
  struct SendStep;
  struct ReplyHandler;
  // The command sent in each send state, and the handler of each state's
  // replies.
  static std::span<const SendStep> SendSteps();
  static std::span<const ReplyHandler> ReplyHandlers();
  // A reply line as ReadResponse sees it.
  struct Reply {
    bool positive = false;
    bool continued = false;  // more lines of the same reply follow
  };

  // The one setter of the state; it also arms the watchdog for the wait
  // states and disarms it elsewhere. Mutex held.
  void SetState(DWORD p_dwState);
  // Takes one line into the last reply text. Mutex held.
  Reply ReadResponse();
  // Sends the command due in the current state and moves to its wait state.
  // On a caller's thread (p_pDeferred given) the bytes are appended there to
  // be sent after the mutex is released. Mutex held.
  void SendWhenYouCan(std::string* p_pDeferred = nullptr);
  // Hands bytes to the socket, or appends them to p_pDeferred.
  void Transmit(std::string p_strBytes, std::string* p_pDeferred);
  void SendMessageBody(std::string* p_pDeferred);
  std::string HelloCommand() const;
  std::string AuthCommand() const;
  std::string UserCommand() const;
  std::string PasswordCommand() const;
  std::string FromCommand() const;
  std::string RecipientCommand() const;
  std::string DataCommand() const;
  std::string QuitCommand() const;
  std::string ResetCommand() const;
  std::string StartTlsCommand() const;

  // One per wait state; Mutex held, a line read.
  void OnHeaderReply(const Reply& p_reply);
  void OnHelloReply(const Reply& p_reply);
  void OnIdleLine(const Reply& p_reply);
  void OnAuthReply(const Reply& p_reply);
  void OnUserReply(const Reply& p_reply);
  void OnPasswordReply(const Reply& p_reply);
  void OnFromReply(const Reply& p_reply);
  void OnRecipientReply(const Reply& p_reply);
  void OnDataReply(const Reply& p_reply);
  void OnBodyReply(const Reply& p_reply);
  void OnQuitReply(const Reply& p_reply);
  void OnResetReply(const Reply& p_reply);
  void OnStartTlsReply(const Reply& p_reply);
  // A line during the handshake: only an unasked plain line can be one.
  void OnHandshakeLine(const Reply& p_reply);
  // Starts TLS on the socket; its end arrives in OnTlsHandshake. Mutex held.
  void StartTls();
  // Reports a failed upgrade. Mutex held.
  void ReportSecureChannelFailure(const TlsHandshakeOutcome& p_outcome);
  // A send refused at any step: back to idle, OnSMTPMailSent(SMTP_UNEXPECTED).
  void RefuseMail(const char* p_szLogLine);
  // A negative authentication reply: p_report, OnSMTPAuthenticated(8), close.
  void FailAuthentication(const char* p_szLogLine, const char* p_szCallback,
                          void (SmtpClientListener::*p_report)(DWORD, const std::string&));
  // Calls the listener when one is set; what it throws is logged with
  // p_szFailureFormat, which names p_szCallback.
  template <typename Call>
  void Notify(const char* p_szFailureFormat, const char* p_szCallback, Call&& p_call);
  // Closing from inside a notification (socket mutex already held).
  void CloseSocket();
  // Watchdog expiry, on the watchdog's thread.
  void OnReplyTimeout();
  // Refuses text that would break out of its command line.
  static void CheckLineSafe(const char* p_szOperation, const char* p_szWhat, const std::string& p_strValue);

  std::string m_strUser;
  std::string m_strPassword;
  std::string m_strServer;
  DWORD m_dwPort = 25;
  std::string m_strLastReply;
  std::string m_strSenderName;
  DWORD m_dwRecipientIndex = 0;
  std::string m_strCurrentRecipient;
  std::vector<std::string> m_recipients;
  DWORD m_dwPendingAction = PENDING_CONNECT;
  DWORD m_dwState = STATE_DISCONNECTED;
  bool m_bConnected = false;
  // Before the socket: a socket closed by its destructor still reports.
  KestMT::Mutex m_mutex;
  TcpNonBlockingLineSocket m_socket;
  SmtpClientListener* m_pListener = nullptr;  // not owned
  bool m_bCanSend = false;
  bool m_bUseAuthentication = false;
  MIME* m_pMime = nullptr;  // not owned
  // The server accepted MAIL and the transaction has not ended since.
  bool m_bTransactionOpen = false;
  // Connect is closing what a refused attempt left: OnClose reports nothing.
  bool m_bRetiringSocket = false;
  MailTimeouts m_timeouts;
  MailTransportSecurity m_security;
  // The EHLO reply under way named STARTTLS; the connection is encrypted.
  bool m_bStartTlsOffered = false;
  bool m_bEncrypted = false;
  // The reply line ReadResponse read last, whole.
  std::string m_strLastLine;
  // Last: destroyed first, so its thread ends before the fields it reaches.
  ReplyWatchdog m_watchdog{[this] { OnReplyTimeout(); }};
};

}  // namespace KestNet
