// KestNet::Pop3Client: an event-driven POP3 client (RFC 1939: USER, PASS,
// STAT, RETR, DELE, QUIT) that runs entirely on the notifications of a
// TcpNonBlockingLineSocket.
//
// The caller sets server, port, user and password and a Pop3ClientListener,
// calls Connect, and then starts one operation at a time (GetMailCount,
// RetrieveMessage, DeleteMessage, Disconnect) whenever the listener has heard
// OnReady. The operations only validate and start; every outcome, success or
// failure, reaches the listener.
//
// With SetTransportSecurity the client speaks TLS: from the first byte, or
// after STLS when the greeting's CAPA list offers it (RFC 2595 §4). The TLS
// handshake is bounded like a reply. A refused STLS, a failed handshake or a
// rejected certificate reaches OnPOP3SecureChannelFailed and ends the
// connection before USER, reported as a connection lost during log-in.
//
// Every reply the client waits for is bounded by the reply watchdog
// (MailTimeouts::pop3Reply, re-armed by each line of a retrieved message): a
// server that falls silent has its connection closed, and the listener hears
// the interrupted action as for a lost connection.
//
// Threads and locks: caller threads run the operations, the socket event
// thread runs OnConnect, OnSend, OnReceiveLine and OnClose (a Close on a
// caller's or the watchdog's thread runs OnClose there), the watchdog's thread
// runs its expiry. The client's mutex (recursive) guards every field. The
// socket calls its notifications holding its own mutexes, so the lock order
// is: the socket's mutexes, then the client's, then the watchdog's. Hence no
// thread holds the client's mutex while it waits for the socket: an operation
// on a caller's thread (Connect, GetMailCount, RetrieveMessage,
// DeleteMessage, Disconnect) decides under the client's mutex what to send or
// whether to close and moves the state on (the claim no other thread can
// repeat), then releases the mutex and makes the socket call; the watchdog's
// expiry and the destructor close without it. Inside a notification the
// socket's mutex is held already, and the client sends under its own. Every
// thread may therefore wait for the client's mutex without limit. Listener
// calls are made with the client's mutex held: a listener may call the client
// from the notifying thread, but must not wait for another thread that calls
// it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/mail/mail_transport_security.h"
#include "net/mail/reply_watchdog.h"
#include "net/sockets/tcp_non_blocking_line_socket.h"
#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

// POP3 result codes; the automation layer exposes the same values.
inline constexpr DWORD POP3_SUCCESS = 0;
inline constexpr DWORD POP3_SOCKET_FAILURE = 1;  // the socket could not start connecting
inline constexpr DWORD POP3_AUTH_ERROR = 2;      // USER or PASS was refused
inline constexpr DWORD POP3_CONNECT_ERROR = 3;   // connection failed, or a negative greeting
inline constexpr DWORD POP3_TERMINATED = 4;      // the connection closed
inline constexpr DWORD POP3_INVALID_ARGS = 5;    // automation layer
inline constexpr DWORD POP3_BUSY = 6;            // automation layer
inline constexpr DWORD POP3_INVALID_STATE = 7;   // Disconnect without a connection
inline constexpr DWORD POP3_UNEXPECTED = 8;      // a negative or malformed reply to STAT, RETR, DELE or QUIT

// "status" is a POP3 result code, "line" the server's reply line without its
// line end. Calls come on the socket event thread, the watchdog's thread or
// the caller's, always with the client's mutex held.
class Pop3ClientListener {
 public:
  // The TCP connection is up (0), failed (3), or could not be started (1).
  virtual void OnPOP3Connected(DWORD p_dwStatus) = 0;
  // The greeting was positive (0) or not (3).
  virtual void OnPOP3Header(DWORD p_dwStatus, const std::string& p_strLine) = 0;
  // Step 0: the USER reply, 1: the PASS reply; status 0, 2, or 4 (the
  // connection was lost during log-in; empty line).
  virtual void OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) = 0;
  // The client is ready for the next operation.
  virtual void OnReady() = 0;
  virtual void OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) = 0;
  // 4 normally, 0 when the connection closed during a requested disconnect
  // before the QUIT reply, 7 from Disconnect without a connection.
  virtual void OnPOP3Close(DWORD p_dwStatus) = 0;
  virtual void OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount,
                           DWORD p_dwSize) = 0;
  // The message's lines in order, without line ends or the final ".", each
  // with its byte-stuffing dot removed (RFC 1939 §3).
  virtual void OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                              const std::vector<std::string>& p_messageLines) = 0;
  virtual void OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwMessageNumber) = 0;
  // TLS could not be set up (refused STLS, failed handshake, rejected
  // certificate); the connection closes next. Only clients with transport
  // security call it.
  virtual void OnPOP3SecureChannelFailed(const TlsHandshakeOutcome&) {}

 protected:
  ~Pop3ClientListener() = default;
};

class Pop3Client : public TcpNonBlockingLineSocketListener {
 public:
  enum State : DWORD {
    STATE_DISCONNECTED = 0,            // no connection
    STATE_CONNECTING = 1,              // socket connect started
    STATE_WAIT_FOR_HEADER = 2,         // connected, waiting for the greeting
    STATE_SEND_USER = 3,               // USER is due
    STATE_WAIT_FOR_USER_RESPONSE = 4,  // USER sent
    STATE_SEND_PASS = 5,               // PASS is due
    STATE_WAIT_FOR_PASS_RESPONSE = 6,  // PASS sent
    STATE_READY = 7,                   // authenticated and idle: operations start only here
    STATE_SEND_STAT = 8,
    STATE_WAIT_FOR_STAT_RESPONSE = 9,
    STATE_SEND_RETR = 10,
    STATE_WAIT_FOR_RETR_RESPONSE = 11,
    STATE_WAIT_FOR_RETR_DATA = 12,  // collecting the message lines
    STATE_SEND_DELE = 13,
    STATE_WAIT_FOR_DELE_RESPONSE = 14,
    STATE_SEND_QUIT = 15,
    STATE_WAIT_FOR_QUIT_RESPONSE = 16,
    STATE_SEND_CAPA = 17,               // greeted; asking whether STLS is offered
    STATE_WAIT_FOR_CAPA_RESPONSE = 18,
    STATE_WAIT_FOR_CAPA_DATA = 19,      // collecting the capability lines
    STATE_SEND_STLS = 20,
    STATE_WAIT_FOR_STLS_RESPONSE = 21,
    STATE_WAIT_FOR_TLS_HANDSHAKE = 22,  // STLS accepted, TLS handshake running
  };

  // What the caller waits for; it decides what a lost connection reports.
  enum PendingAction : DWORD {
    ACTION_CONNECT = 0,  // connect and log in
    ACTION_MAIL_COUNT = 1,
    ACTION_RETRIEVE = 2,
    ACTION_DELETE = 3,
    ACTION_DISCONNECT = 4,
  };

  Pop3Client();
  virtual ~Pop3Client();
  Pop3Client(const Pop3Client&) = delete;
  Pop3Client& operator=(const Pop3Client&) = delete;

  // Not owned; must outlive the client's last notification.
  void SetListener(Pop3ClientListener* p_pListener);
  void SetServer(const std::string& p_strServer, DWORD p_dwPort);
  void GetServer(std::string& p_strServer, DWORD& p_dwPort);
  void SetUser(const std::string& p_strUser);
  void GetUser(std::string& p_strUser);
  void SetPassword(const std::string& p_strPassword);
  void GetPassword(std::string& p_strPassword);
  // The idle limit applies from the next reply awaited.
  void SetTimeouts(const MailTimeouts& p_timeouts);
  // Only while disconnected; applies from the next Connect.
  void SetTransportSecurity(const MailTransportSecurity& p_security);
  bool IsConnected();
  bool IsReady();

  void Connect();
  void Disconnect();
  void GetMailCount();
  void RetrieveMessage(DWORD p_dwMessageNumber);
  void DeleteMessage(DWORD p_dwMessageNumber);

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
  struct CommandStep;
  struct ReplyStep;
  static std::span<const CommandStep> CommandSteps();
  static std::span<const ReplyStep> ReplySteps();

  // The one setter of the state; arms the watchdog in the states that wait
  // for a reply and disarms it in the others. Mutex held.
  void SetState(State p_state);
  // What a caller's operation does on the socket once it has released the
  // client's mutex.
  struct SocketWork {
    std::string bytes;  // a command to send
    bool close = false;
  };

  // Sends the command that is due, if the socket may send, and moves to the
  // state that waits for its reply. On a caller's thread (p_pDeferred given)
  // the command is handed back to be sent once the mutex is released. Mutex
  // held.
  void SendWhenYouCan(std::string* p_pDeferred = nullptr);
  // Does a caller's socket work; the client's mutex NOT held.
  void Perform(const SocketWork& p_work);
  // Connect's checks and claim (STATE_CONNECTING). Mutex held.
  void ClaimConnection();
  // Disconnect's decision: QUIT when ready, a close while busy. Mutex held.
  SocketWork PlanDisconnect();
  // Starts an operation from STATE_READY (GetMailCount, RetrieveMessage,
  // DeleteMessage): claims it under the mutex, sends without it.
  void StartOperation(const char* p_szMethod, PendingAction p_action, State p_sendState,
                      std::optional<DWORD> p_messageNumber);
  // The claim: the checks, the message number (stored only when given and the
  // operation starts), the state; p_strCommand gets the command to send.
  // Mutex held.
  void ClaimOperation(const char* p_szMethod, PendingAction p_action, State p_sendState,
                      std::optional<DWORD> p_messageNumber, std::string& p_strCommand);
  // The reply handlers, one per waiting state. Mutex held.
  void OnGreeting(std::string p_strLine);
  void OnUserOrPassReply(std::string p_strLine);
  void OnStatReply(std::string p_strLine);
  void OnRetrReply(std::string p_strLine);
  void OnRetrData(std::string p_strLine);
  void OnDeleReply(std::string p_strLine);
  void OnQuitReply(std::string p_strLine);
  void OnCapaReply(std::string p_strLine);
  void OnCapaData(std::string p_strLine);
  void OnStlsReply(std::string p_strLine);
  // A line during the handshake: only an unasked plain line can be one.
  void OnHandshakeLine(std::string p_strLine);
  // Starts TLS on the socket; its end arrives in OnTlsHandshake. Mutex held.
  void StartTls();
  // Reports a failed upgrade; the connection is closed by the caller or, for
  // a failed handshake, by the socket. Mutex held.
  void ReportSecureChannelFailure(const TlsHandshakeOutcome& p_outcome);
  // Reports what a close interrupted (OnClose); the status OnPOP3Close gets.
  DWORD ReportInterruptedAction();
  // The watchdog's expiry, on its thread.
  void OnReplyTimeout();

  std::string m_strServer;
  DWORD m_dwPort = 110;
  std::string m_strUser;
  std::string m_strPassword;
  PendingAction m_dwPendingAction = ACTION_CONNECT;
  State m_dwState = STATE_DISCONNECTED;
  // Before the socket: a socket closed by its destructor still reports.
  KestMT::Mutex m_mutex;
  TcpNonBlockingLineSocket m_socket;
  Pop3ClientListener* m_pListener = nullptr;  // not owned
  bool m_bCanSend = false;
  DWORD m_dwMessageNumber = 0;
  std::vector<std::string> m_messageLines;
  bool m_bConnected = false;
  MailTimeouts m_timeouts;
  MailTransportSecurity m_security;
  bool m_bStlsOffered = false;  // the CAPA list named STLS
  // Last, so it is destroyed first: its thread is joined while everything
  // its expiry touches still exists.
  ReplyWatchdog m_replyWatchdog;
};

}  // namespace KestNet
