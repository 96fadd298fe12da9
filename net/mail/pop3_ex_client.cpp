#include "net/mail/pop3_ex_client.h"

#include "net/mail/mail_ex_common.h"
#include "net/mail/pop3_ex_client_thread.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::Pop3ExClient";

unsigned long AsUnsignedLong(DWORD p_dwValue) { return static_cast<unsigned long>(p_dwValue); }

}  // namespace

Pop3ExClient::Pop3ExClient() : m_pThread(std::make_unique<CPop3ExClientThread>()) {}

Pop3ExClient::~Pop3ExClient() = default;

void Pop3ExClient::SetListener(Pop3ExClientListener* p_pListener) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "SetListener():  Error - Invalid Listener paramter");
    throw KestBase::InvalidParameterException();
  }
  m_pThread->SetListener(p_pListener);
}

void Pop3ExClient::SetServer(const std::string& p_strServer, DWORD p_dwPort) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckServer(kClassName, m_pThread->IsConnected(), p_strServer, p_dwPort);
  m_strServer = p_strServer;
  m_dwPort = p_dwPort;
}

std::string Pop3ExClient::GetServer() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strServer;
}

DWORD Pop3ExClient::GetPort() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_dwPort;
}

void Pop3ExClient::SetUser(const std::string& p_strUser) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RefuseWhileConnected(
      kClassName, m_pThread->IsConnected(),
      "SetUser():  Error - Already connected with a user.  Disconnect before attempting to set a new user");
  if (p_strUser.empty()) {
    Log(kClassName, kLogLevelWarning, "SetUser():  Error - You may not specify an empty user name");
    throw KestBase::InvalidParameterException();
  }
  Log(kClassName, kLogLevelDetail, "SetUser():  Setting the user name to <%s>", p_strUser.c_str());
  m_strUser = p_strUser;
}

std::string Pop3ExClient::GetUser() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strUser;
}

void Pop3ExClient::SetPassword(const std::string& p_strPassword) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RefuseWhileConnected(kClassName, m_pThread->IsConnected(),
                                "SetPassword():  Error - Cannot change the password while connected");
  mail_ex::LogPassword(kClassName, p_strPassword);
  m_strPassword = p_strPassword;
}

std::string Pop3ExClient::GetPassword() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_strPassword;
}

void Pop3ExClient::SetUseSSL(bool p_bUseSSL) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  m_pThread->TlsSettings().SetUseSSL(p_bUseSSL);
}

bool Pop3ExClient::GetUseSSL() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetUseSSL();
}

void Pop3ExClient::SetCertificateSubject(const std::string& p_strSubject) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckCertificateName(kClassName, m_pThread->IsConnected(), "subject", p_strSubject);
  m_pThread->TlsSettings().SetCertificateSubject(p_strSubject);
}

std::string Pop3ExClient::GetCertificateSubject() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetCertificateSubject();
}

void Pop3ExClient::SetCertificateIssuer(const std::string& p_strIssuer) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::CheckCertificateName(kClassName, m_pThread->IsConnected(), "issuer", p_strIssuer);
  m_pThread->TlsSettings().SetCertificateIssuer(p_strIssuer);
}

std::string Pop3ExClient::GetCertificateIssuer() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->TlsSettings().GetCertificateIssuer();
}

bool Pop3ExClient::IsConnected() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->IsConnected();
}

bool Pop3ExClient::IsReady() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_pThread->IsConnected() && m_pThread->IsReady();
}

void Pop3ExClient::Connect() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "Connect");
  if (m_strServer.empty() || m_dwPort == 0 || m_strUser.empty()) {
    Log(kClassName, kLogLevelWarning, "Connect():  Error - You have not set the server address, port, or user name");
    throw KestBase::InvalidObjectException();
  }
  mail_ex::LogConnect(kClassName, m_strServer, m_dwPort, m_strUser);
  m_pThread->Connect(m_strServer, m_dwPort, m_strUser, m_strPassword);
}

void Pop3ExClient::Disconnect() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::LogDisconnect(kClassName, m_strServer, m_dwPort, m_strUser);
  m_pThread->Disconnect();
}

void Pop3ExClient::GetMailCount() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "GetMailCount");
  m_pThread->GetMailCount();
}

void Pop3ExClient::RetrieveMessage(DWORD p_dwMessageNumber) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "RetrieveMessage");
  Log(kClassName, kLogLevelDetail, "RetrieveMessage():  Starting to retrieve message <%lu>",
      AsUnsignedLong(p_dwMessageNumber));
  m_pThread->RetrieveMessage(p_dwMessageNumber);
}

void Pop3ExClient::DeleteMessage(DWORD p_dwMessageNumber) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  mail_ex::RequireListener(kClassName, m_pThread->HasListener(), "DeleteMessage");
  Log(kClassName, kLogLevelDetail, "DeleteMessage():  Attempting to Delete Message <%lu>",
      AsUnsignedLong(p_dwMessageNumber));
  m_pThread->DeleteMessage(p_dwMessageNumber);
}

}  // namespace KestNet
