// KestNet::SmtpExClient: the SMTP client for servers that want an encrypted
// channel, either TLS from the first byte (SMTPS, "use SSL") or the plain
// protocol upgraded with STARTTLS (RFC 3207) whenever the server offers it.
//
// Like Pop3ExClient, a validated front end: the settings live under the
// client's mutex, every operation goes to the worker thread
// (CSmtpExClientThread), which owns the engine and makes every listener call.
// A failed upgrade or a rejected certificate ends the session before AUTH.
//
// How the engine's outcomes reach the listener:
//   - OnSmtpExConnect(0) once the server is ready for mail (after AUTH when
//     a user is set), then OnSmtpExReady.
//   - OnSmtpExConnect(1) when the connection, the greeting, EHLO, the
//     upgrade, the TLS handshake or AUTH fails; a rejected certificate is
//     first reported through OnSmtpExRejectedServerCertificate.
//   - OnSmtpExMailSent(0) accepted, (4) refused, (2) connection lost.
//   - OnSmtpExClose(2) when an open session is lost; (0) after a requested
//     disconnect.
//   - status 3 (INVALID_STATE) for an operation without a connection.
#pragma once

#include <memory>
#include <string>

#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

class MIME;

// Result codes; the automation layer exposes the same values.
inline constexpr DWORD SMTPEX_SUCCESS = 0;
inline constexpr DWORD SMTPEX_CONNECT_ERROR = 1;
inline constexpr DWORD SMTPEX_TERMINATED = 2;
inline constexpr DWORD SMTPEX_INVALID_STATE = 3;
inline constexpr DWORD SMTPEX_UNEXPECTED = 4;

// Every call comes from the client's worker thread.
class SmtpExClientListener {
 public:
  virtual void OnSmtpExConnect(DWORD p_dwStatus) = 0;
  virtual void OnSmtpExReady() = 0;
  virtual void OnSmtpExQuit(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSmtpExClose(DWORD p_dwStatus) = 0;
  virtual void OnSmtpExMailSent(DWORD p_dwStatus) = 0;
  // Why the server's certificate was refused, and its issuer and subject
  // (RFC 2253 text).
  virtual void OnSmtpExRejectedServerCertificate(const std::string& p_strStatusText, const std::string& p_strIssuer,
                                                 const std::string& p_strSubject) = 0;

 protected:
  ~SmtpExClientListener() = default;
};

class CSmtpExClientThread;

class SmtpExClient {
 public:
  SmtpExClient();
  ~SmtpExClient();
  SmtpExClient(const SmtpExClient&) = delete;
  SmtpExClient& operator=(const SmtpExClient&) = delete;

  // Not owned; must outlive the client. Null throws InvalidParameterException.
  void SetListener(SmtpExClientListener* p_pListener);
  void SetServer(const std::string& p_strServer, DWORD p_dwPort);
  std::string GetServer();
  DWORD GetPort();
  // Empty: no authentication.
  void SetUser(const std::string& p_strUser);
  std::string GetUser();
  void SetPassword(const std::string& p_strPassword);
  std::string GetPassword();
  // true: TLS from the first byte; false: STARTTLS whenever offered.
  void SetUseSSL(bool p_bUseSSL);
  bool GetUseSSL();
  void SetCertificateSubject(const std::string& p_strSubject);
  std::string GetCertificateSubject();
  void SetCertificateIssuer(const std::string& p_strIssuer);
  std::string GetCertificateIssuer();
  bool IsConnected();
  bool IsReady();

  void Connect();
  void Disconnect();
  // The recipients are the MIME's To, Cc and Bcc headers. The MIME is not
  // owned and must not change until OnSmtpExMailSent.
  void Send(MIME* p_pMime);

 private:
  KestMT::Mutex m_mutex;
  std::string m_strServer;
  DWORD m_dwPort = 25;
  std::string m_strUser;
  std::string m_strPassword;
  // Last: destroyed first, so the worker thread ends before the fields above.
  std::unique_ptr<CSmtpExClientThread> m_pThread;
};

}  // namespace KestNet
