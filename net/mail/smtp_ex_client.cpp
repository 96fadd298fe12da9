#include "net/mail/smtp_ex_client.h"

namespace KestNet {

class CSmtpExClientThread {};

SmtpExClient::SmtpExClient() = default;
SmtpExClient::~SmtpExClient() = default;

void SmtpExClient::SetListener(SmtpExClientListener*) {}
void SmtpExClient::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}
std::string SmtpExClient::GetServer() { return m_strServer; }
DWORD SmtpExClient::GetPort() { return m_dwPort; }
void SmtpExClient::SetUser(const std::string& p_strUser) { m_strUser = p_strUser; }
std::string SmtpExClient::GetUser() { return m_strUser; }
void SmtpExClient::SetPassword(const std::string& p_strPassword) { m_strPassword = p_strPassword; }
std::string SmtpExClient::GetPassword() { return m_strPassword; }
void SmtpExClient::SetUseSSL(bool) {}
bool SmtpExClient::GetUseSSL() { return false; }
void SmtpExClient::SetCertificateSubject(const std::string&) {}
std::string SmtpExClient::GetCertificateSubject() { return {}; }
void SmtpExClient::SetCertificateIssuer(const std::string&) {}
std::string SmtpExClient::GetCertificateIssuer() { return {}; }
bool SmtpExClient::IsConnected() { return false; }
bool SmtpExClient::IsReady() { return false; }
void SmtpExClient::Connect() {}
void SmtpExClient::Disconnect() {}
void SmtpExClient::Send(MIME*) {}

}  // namespace KestNet
