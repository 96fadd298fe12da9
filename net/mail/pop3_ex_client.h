// KestNet::Pop3ExClient: the POP3 client for servers that want an encrypted
// channel, either TLS from the first byte (POP3S, "use SSL") or the plain
// protocol upgraded with STLS (RFC 2595) whenever the server offers it.
//
// The client is a validated front end. It keeps server, port, user and
// password under its own mutex and hands every operation to its worker
// thread (CPop3ExClientThread), which owns the protocol engine and makes
// every listener call: whatever happens on the wire, the listener hears it
// once and on that worker thread. A failed upgrade or a rejected server
// certificate ends the session before any credential is sent; the session
// never falls back to plain text.
//
// How the engine's outcomes reach the listener:
//   - OnPop3ExConnect(0) after PASS is accepted, then OnPop3ExReady.
//   - OnPop3ExConnect(1) when the connection, the greeting, the upgrade, the
//     TLS handshake or the log-in fails; a rejected certificate is first
//     reported through OnPop3ExRejectedServerCertificate.
//   - OnPop3ExClose(2) when an open session is lost; OnPop3ExClose(0) after
//     a requested disconnect.
//   - status 4 for a negative or malformed reply to STAT, RETR, DELE or QUIT.
//   - status 3 (INVALID_STATE) for an operation without a connection.
//
// Locks: the client's mutex guards its own fields and is held only while an
// operation validates and hands over; the worker thread has its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

// Result codes; the automation layer exposes the same values.
inline constexpr DWORD POP3EX_SUCCESS = 0;
inline constexpr DWORD POP3EX_CONNECT_ERROR = 1;
inline constexpr DWORD POP3EX_TERMINATED = 2;
inline constexpr DWORD POP3EX_INVALID_STATE = 3;
inline constexpr DWORD POP3EX_UNEXPECTED = 4;

// Every call comes from the client's worker thread. "status" is a POP3EX
// code, "text" the server's reply line.
class Pop3ExClientListener {
 public:
  virtual void OnPop3ExConnect(DWORD p_dwStatus) = 0;
  virtual void OnPop3ExReady() = 0;
  virtual void OnPop3ExQuit(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnPop3ExClose(DWORD p_dwStatus) = 0;
  virtual void OnPop3ExCount(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageCount,
                             DWORD p_dwMailboxSize) = 0;
  // The message split at its first empty line: the header lines before it,
  // the body lines after it (the empty line itself is in neither).
  virtual void OnPop3ExRetrieve(DWORD p_dwStatus, DWORD p_dwMessageNumber,
                                const std::vector<std::string>& p_headerLines,
                                const std::vector<std::string>& p_bodyLines) = 0;
  virtual void OnPop3ExDelete(DWORD p_dwStatus, const std::string& p_strText, DWORD p_dwMessageNumber) = 0;
  // Why the server's certificate was refused, and its issuer and subject
  // (RFC 2253 text).
  virtual void OnPop3ExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                                 const std::string& p_strSubject) = 0;

 protected:
  ~Pop3ExClientListener() = default;
};

class CPop3ExClientThread;

class Pop3ExClient {
 public:
  // Starts the worker thread.
  Pop3ExClient();
  // Stops the worker thread, closing a session still open.
  ~Pop3ExClient();
  Pop3ExClient(const Pop3ExClient&) = delete;
  Pop3ExClient& operator=(const Pop3ExClient&) = delete;

  // Not owned; must outlive the client. Null throws InvalidParameterException.
  void SetListener(Pop3ExClientListener* p_pListener);
  void SetServer(const std::string& p_strServer, DWORD p_dwPort);
  std::string GetServer();
  DWORD GetPort();
  void SetUser(const std::string& p_strUser);
  std::string GetUser();
  void SetPassword(const std::string& p_strPassword);
  std::string GetPassword();
  // true: TLS from the first byte; false: STLS whenever the server offers it.
  void SetUseSSL(bool p_bUseSSL);
  bool GetUseSSL();
  // Empty: any certificate that verifies for the server's host name.
  void SetCertificateSubject(const std::string& p_strSubject);
  std::string GetCertificateSubject();
  void SetCertificateIssuer(const std::string& p_strIssuer);
  std::string GetCertificateIssuer();
  bool IsConnected();
  // Connected, logged in and idle.
  bool IsReady();

  void Connect();
  void Disconnect();
  void GetMailCount();
  void RetrieveMessage(DWORD p_dwMessageNumber);
  void DeleteMessage(DWORD p_dwMessageNumber);

 private:
  KestMT::Mutex m_mutex;
  std::string m_strServer;
  DWORD m_dwPort = 110;
  std::string m_strUser;
  std::string m_strPassword;
  // Last: destroyed first, so the worker thread ends before the fields above.
  std::unique_ptr<CPop3ExClientThread> m_pThread;
};

}  // namespace KestNet
