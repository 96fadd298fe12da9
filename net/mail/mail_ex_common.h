// What the two secure mail clients (Pop3ExClient, SmtpExClient) share: the
// TLS settings their worker threads keep, and the front ends' checks with
// their log lines.
#pragma once

#include <mutex>
#include <string>

#include "net/mail/mail_transport_security.h"
#include "platform/os/win_types.h"

namespace KestNet {

// Use-SSL and the expected certificate names, under their own mutex (the
// front end sets them, the worker thread reads them at Connect).
class MailExTlsSettings {
 public:
  void SetUseSSL(bool p_bUseSSL);
  bool GetUseSSL();
  void SetCertificateSubject(const std::string& p_strSubject);
  std::string GetCertificateSubject();
  void SetCertificateIssuer(const std::string& p_strIssuer);
  std::string GetCertificateIssuer();
  // Use-SSL: TLS from the first byte; otherwise STLS/STARTTLS when offered.
  MailTransportSecurity Security();

 private:
  std::mutex m_mutex;
  bool m_bUseSSL = false;
  std::string m_strCertificateSubject;
  std::string m_strCertificateIssuer;
};

// The front ends' checks: each logs p_szClassName's line and throws the
// exception of its kind when the check fails.
namespace mail_ex {

// InvalidOperationException with p_szLogLine while connected.
void RefuseWhileConnected(const char* p_szClassName, bool p_bConnected, const char* p_szLogLine);
// SetServer's checks and its log line.
void CheckServer(const char* p_szClassName, bool p_bConnected, const std::string& p_strServer, DWORD p_dwPort);
// InvalidObjectException without a listener.
void RequireListener(const char* p_szClassName, bool p_bHasListener, const char* p_szOperation);
void LogPassword(const char* p_szClassName, const std::string& p_strPassword);
// SetCertificateSubject's and SetCertificateIssuer's checks and log lines;
// p_szWhat is "subject" or "issuer".
void CheckCertificateName(const char* p_szClassName, bool p_bConnected, const char* p_szWhat,
                          const std::string& p_strName);
void LogDisconnect(const char* p_szClassName, const std::string& p_strServer, DWORD p_dwPort,
                   const std::string& p_strUser);
void LogConnect(const char* p_szClassName, const std::string& p_strServer, DWORD p_dwPort,
                const std::string& p_strUser);

}  // namespace mail_ex
}  // namespace KestNet
