#include "net/mail/pop3_ex_client.h"

namespace KestNet {

class CPop3ExClientThread {};

Pop3ExClient::Pop3ExClient() = default;
Pop3ExClient::~Pop3ExClient() = default;

void Pop3ExClient::SetListener(Pop3ExClientListener*) {}
void Pop3ExClient::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}
std::string Pop3ExClient::GetServer() { return m_strServer; }
DWORD Pop3ExClient::GetPort() { return m_dwPort; }
void Pop3ExClient::SetUser(const std::string& p_strUser) { m_strUser = p_strUser; }
std::string Pop3ExClient::GetUser() { return m_strUser; }
void Pop3ExClient::SetPassword(const std::string& p_strPassword) { m_strPassword = p_strPassword; }
std::string Pop3ExClient::GetPassword() { return m_strPassword; }
void Pop3ExClient::SetUseSSL(bool) {}
bool Pop3ExClient::GetUseSSL() { return false; }
void Pop3ExClient::SetCertificateSubject(const std::string&) {}
std::string Pop3ExClient::GetCertificateSubject() { return {}; }
void Pop3ExClient::SetCertificateIssuer(const std::string&) {}
std::string Pop3ExClient::GetCertificateIssuer() { return {}; }
bool Pop3ExClient::IsConnected() { return false; }
bool Pop3ExClient::IsReady() { return false; }
void Pop3ExClient::Connect() {}
void Pop3ExClient::Disconnect() {}
void Pop3ExClient::GetMailCount() {}
void Pop3ExClient::RetrieveMessage(DWORD) {}
void Pop3ExClient::DeleteMessage(DWORD) {}

}  // namespace KestNet
