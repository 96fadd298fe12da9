#include "net/mail/smtp_ex_client.h"

#include "net/mail/mail_ex_common.h"
#include "net/mail/mime.h"
#include "net/mail/smtp_ex_client_thread.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::SmtpExClient";
constexpr const char* kAddressSeparators = " ,;";

// The address MAIL FROM names: the part in angle brackets of a From value
// like "Ann <ann@example.com>", or the whole value without one.
std::string SenderAddress(const std::string& p_strFrom) {
  const std::size_t open = p_strFrom.rfind('<');
  const std::size_t close = p_strFrom.rfind('>');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    return p_strFrom.substr(open + 1, close - open - 1);
  }
  const std::size_t first = p_strFrom.find_first_not_of(' ');
  const std::size_t last = p_strFrom.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : p_strFrom.substr(first, last - first + 1);
}

}  // namespace

SmtpExClient::SmtpExClient() : m_pThread(std::make_unique<CSmtpExClientThread>()) {}

SmtpExClient::~SmtpExClient() = default;

void SmtpExClient::SetListener(SmtpExClientListener* p_pListener) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "SetListener():  Error - Invalid Listener paramter.");
    throw KestBase::InvalidParameterException();
  }
  m_pThread->SetListener(p_pListener);
}

void SmtpExClient::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckServer(kClassName, m_pThread->IsConnected(), p_strServer, p_dwPort);
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}

std::string SmtpExClient::GetServer() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strServer;
}

DWORD SmtpExClient::GetPort() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_dwPort;
}

void SmtpExClient::SetUser(const std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RefuseWhileConnected(
      kClassName, m_pThread->IsConnected(),
      "SetUser():  Error - Already connected with a user.  Disconnect before attempting to set a new user");
  Log(kClassName, kLogLevelDetail, "SetUser():  Setting the user name to <%s>",
      p_strUser.empty() ? "EMPTY STRING" : p_strUser.c_str());
  m_strUser = p_strUser;
}

std::string SmtpExClient::GetUser() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strUser;
}

void SmtpExClient::SetPassword(const std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RefuseWhileConnected(kClassName, m_pThread->IsConnected(),
                                "SetPassword():  Error - Cannot change the password while connected");
  mail_ex::LogPassword(kClassName, p_strPassword);
  m_strPassword = p_strPassword;
}

std::string SmtpExClient::GetPassword() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strPassword;
}

void SmtpExClient::SetUseSSL(bool p_bUseSSL) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  m_pThread->TlsSettings().SetUseSSL(p_bUseSSL);
}

bool SmtpExClient::GetUseSSL() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetUseSSL();
}

void SmtpExClient::SetCertificateSubject(const std::string& p_strSubject) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckCertificateName(kClassName, m_pThread->IsConnected(), "subject", p_strSubject);
  m_pThread->TlsSettings().SetCertificateSubject(p_strSubject);
}

std::string SmtpExClient::GetCertificateSubject() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetCertificateSubject();
}

void SmtpExClient::SetCertificateIssuer(const std::string& p_strIssuer) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckCertificateName(kClassName, m_pThread->IsConnected(), "issuer", p_strIssuer);
  m_pThread->TlsSettings().SetCertificateIssuer(p_strIssuer);
}

std::string SmtpExClient::GetCertificateIssuer() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetCertificateIssuer();
}

bool SmtpExClient::IsConnected() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->IsConnected();
}

bool SmtpExClient::IsReady() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->IsConnected() && m_pThread->IsReady();
}

void SmtpExClient::Connect() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "Connect");
  if (m_strServer.empty() || m_dwPort == 0) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - Object does not have a valid port and/or server address");
    throw KestBase::InvalidOperationException();
  }
  mail_ex::LogConnect(kClassName, m_strServer, m_dwPort, m_strUser);
  m_pThread->Connect(m_strServer, m_dwPort, m_strUser, m_strPassword);
}

void SmtpExClient::Disconnect() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::LogDisconnect(kClassName, m_strServer, m_dwPort, m_strUser);
  m_pThread->Disconnect();
}

void SmtpExClient::Send(MIME* p_pMime) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "Send");
  if (p_pMime == nullptr) {
    Log(kClassName, kLogLevelWarning, "Send():  Error - Invalid Mime Object");
    throw KestBase::InvalidParameterException();
  }
  const std::string joined =
      p_pMime->GetHeader("To") + ";" + p_pMime->GetHeader("Cc") + ";" + p_pMime->GetHeader("Bcc");
  if (joined.find_first_not_of(kAddressSeparators) == std::string::npos) {
    Log(kClassName, kLogLevelWarning, "Send():  Error - No recipient addresses were specified!");
    throw KestBase::InvalidParameterException();
  }
  // The engine splits the list at the same separators.
  m_pThread->Send(SenderAddress(p_pMime->GetHeader("From")), joined, p_pMime);
}

}  // namespace KestNet
