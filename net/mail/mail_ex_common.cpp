#include "net/mail/mail_ex_common.h"

#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {

void MailExTlsSettings::SetUseSSL(bool p_bUseSSL) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bUseSSL = p_bUseSSL;
}

bool MailExTlsSettings::GetUseSSL() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bUseSSL;
}

void MailExTlsSettings::SetCertificateSubject(const std::string& p_strSubject) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strCertificateSubject = p_strSubject;
}

std::string MailExTlsSettings::GetCertificateSubject() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strCertificateSubject;
}

void MailExTlsSettings::SetCertificateIssuer(const std::string& p_strIssuer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strCertificateIssuer = p_strIssuer;
}

std::string MailExTlsSettings::GetCertificateIssuer() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strCertificateIssuer;
}

MailTransportSecurity MailExTlsSettings::Security() {
  std::lock_guard<std::mutex> lock(m_mutex);
  MailTransportSecurity security;
  security.mode = m_bUseSSL ? MailTransportMode::kImplicit : MailTransportMode::kStartTlsWhenOffered;
  security.certificateSubject = m_strCertificateSubject;
  security.certificateIssuer = m_strCertificateIssuer;
  return security;
}

namespace mail_ex {

void RefuseWhileConnected(const char* p_szClassName, bool p_bConnected, const char* p_szLogLine) {
  if (p_bConnected) {
    Log(p_szClassName, kLogLevelWarning, "%s", p_szLogLine);
    throw KestBase::InvalidOperationException();
  }
}

void CheckServer(const char* p_szClassName, bool p_bConnected, const std::string& p_strServer, DWORD p_dwPort) {
  RefuseWhileConnected(p_szClassName, p_bConnected,
                       "SetServer():  Error - You may not change the server or port while connected");
  if (p_dwPort < 1 || p_dwPort > 65535) {
    Log(p_szClassName, kLogLevelWarning, "SetServer():  Error - Invalid Port range, must be between 0 and 65535");
    throw KestBase::InvalidParameterException();
  }
  if (p_strServer.empty()) {
    Log(p_szClassName, kLogLevelWarning,
        "SetServer():  Error - You may not specify and empty string for a server address");
    throw KestBase::InvalidParameterException();
  }
  Log(p_szClassName, kLogLevelDetail, "SetServer():  Setting server to <%s> and port to <%u>", p_strServer.c_str(),
      static_cast<unsigned>(p_dwPort));
}

void RequireListener(const char* p_szClassName, bool p_bHasListener, const char* p_szOperation) {
  if (!p_bHasListener) {
    Log(p_szClassName, kLogLevelWarning, "%s():  Error -  A listener has not been set", p_szOperation);
    throw KestBase::InvalidObjectException();
  }
}

void LogPassword(const char* p_szClassName, const std::string& p_strPassword) {
  // The password itself is never logged.
  Log(p_szClassName, kLogLevelDetail, "%s",
      p_strPassword.empty() ? "SetPassword():  Setting the password to <EMPTY STRING>"
                            : "SetPassword():  Setting the password");
}

void CheckCertificateName(const char* p_szClassName, bool p_bConnected, const char* p_szWhat,
                          const std::string& p_strName) {
  const std::string what = p_szWhat;
  const std::string setter = what == "subject" ? "SetCertificateSubject" : "SetCertificateIssuer";
  RefuseWhileConnected(p_szClassName, p_bConnected,
                       (setter + "():  Error - Cannot change the certificate " + what + " while connected").c_str());
  // Both setters log under SetCertificateSubject's name, as they always have.
  Log(p_szClassName, kLogLevelDetail, "SetCertificateSubject():  Setting the certificate %s to <%s>", p_szWhat,
      p_strName.empty() ? "EMPTY STRING" : p_strName.c_str());
}

void LogDisconnect(const char* p_szClassName, const std::string& p_strServer, DWORD p_dwPort,
                   const std::string& p_strUser) {
  Log(p_szClassName, kLogLevelDetail,
      "Disconnect():  Attempting to disconnect from <%s> on port <%u> with UserName <%s>", p_strServer.c_str(),
      static_cast<unsigned>(p_dwPort), p_strUser.c_str());
}

void LogConnect(const char* p_szClassName, const std::string& p_strServer, DWORD p_dwPort,
                const std::string& p_strUser) {
  Log(p_szClassName, kLogLevelDetail, "Connect():  Starting connection to <%s> on port <%u> with UserName <%s>",
      p_strServer.c_str(), static_cast<unsigned>(p_dwPort), p_strUser.c_str());
}

}  // namespace mail_ex
}  // namespace KestNet
