#include "net/sockets/tls_session.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <climits>

namespace KestNet {

void ReleaseTlsThreadState() { OPENSSL_thread_stop(); }
namespace {

// The connection's owner, for the verify callback.
int SessionIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

bool IsAddressLiteral(const std::string& p_strHost) {
  unsigned char address[16];
  return inet_pton(AF_INET, p_strHost.c_str(), address) == 1 || inet_pton(AF_INET6, p_strHost.c_str(), address) == 1;
}

// The newest error on this thread's OpenSSL queue, which is then cleared.
std::string TakeOpenSslError(const char* p_szFallback) {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) {
    return p_szFallback;
  }
  char text[256];
  ERR_error_string_n(error, text, sizeof(text));
  return text;
}

}  // namespace

TlsSession::TlsSession(const TlsSettings& p_settings) : m_settings(p_settings) {
  if (!SetUp()) {
    Fail(TakeOpenSslError("TLS setup failed"));
  }
}

TlsSession::~TlsSession() = default;

bool TlsSession::SetUp() {
  ERR_clear_error();
  m_pContext.reset(SSL_CTX_new(TLS_client_method()));
  if (!m_pContext || !SSL_CTX_set_min_proto_version(m_pContext.get(), TLS1_2_VERSION) ||
      !SSL_CTX_set_default_verify_paths(m_pContext.get())) {
    return false;
  }
  SSL_CTX_set_verify(m_pContext.get(), SSL_VERIFY_PEER, &TlsSession::VerifyCallback);
  m_pConnection.reset(SSL_new(m_pContext.get()));
  if (!m_pConnection) {
    return false;
  }
  m_pIncoming = BIO_new(BIO_s_mem());
  m_pOutgoing = BIO_new(BIO_s_mem());
  if (m_pIncoming == nullptr || m_pOutgoing == nullptr) {
    BIO_free(m_pIncoming);
    BIO_free(m_pOutgoing);
    m_pIncoming = m_pOutgoing = nullptr;
    return false;
  }
  SSL_set_bio(m_pConnection.get(), m_pIncoming, m_pOutgoing);
  SSL_set_ex_data(m_pConnection.get(), SessionIndex(), this);
  SSL_set_connect_state(m_pConnection.get());
  const std::string& host = m_settings.hostName;
  if (IsAddressLiteral(host)) {
    // RFC 6125 §1.7.2 leaves addresses to the iPAddress entries; no SNI for
    // them (RFC 6066 §3).
    if (!X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_pConnection.get()), host.c_str())) {
      return false;
    }
  } else if (!SSL_set1_host(m_pConnection.get(), host.c_str()) ||
             !SSL_set_tlsext_host_name(m_pConnection.get(), host.c_str())) {
    return false;
  }
  // The ClientHello.
  return Handshake() != Progress::kFailed;
}

void TlsSession::Fail(const std::string& p_strText) {
  if (m_bFailed) {
    return;
  }
  m_bFailed = true;
  m_outcome.established = false;
  m_outcome.failure = p_strText;
}

bool TlsSession::Feed(const unsigned char* p_pData, std::size_t p_length) {
  if (m_bFailed || p_length > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  return BIO_write(m_pIncoming, p_pData, static_cast<int>(p_length)) == static_cast<int>(p_length);
}

TlsSession::Progress TlsSession::Handshake() {
  if (m_bFailed) {
    return Progress::kFailed;
  }
  if (m_outcome.established) {
    return Progress::kEstablished;
  }
  ERR_clear_error();
  const int result = SSL_do_handshake(m_pConnection.get());
  if (result == 1) {
    m_outcome.established = true;
    return Progress::kEstablished;
  }
  const int error = SSL_get_error(m_pConnection.get(), result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    return Progress::kInProgress;
  }
  if (m_lVerifyError != X509_V_OK) {
    m_outcome.rejection = TlsCertificateRejection{DescribeVerifyError(m_lVerifyError), m_strPeerIssuer,
                                                  m_strPeerSubject};
    Fail("certificate rejected: " + m_outcome.rejection->reason);
  } else {
    Fail(TakeOpenSslError("TLS handshake failed"));
  }
  return Progress::kFailed;
}

long TlsSession::ReadPlain(unsigned char* p_pBuffer, std::size_t p_capacity) {
  if (m_bFailed) {
    return -1;
  }
  if (p_capacity > static_cast<std::size_t>(INT_MAX)) {
    p_capacity = INT_MAX;
  }
  ERR_clear_error();
  const int result = SSL_read(m_pConnection.get(), p_pBuffer, static_cast<int>(p_capacity));
  if (result > 0) {
    return result;
  }
  const int error = SSL_get_error(m_pConnection.get(), result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    return 0;
  }
  Fail(error == SSL_ERROR_ZERO_RETURN ? std::string("the server ended the TLS session")
                                      : TakeOpenSslError("TLS read failed"));
  return -1;
}

bool TlsSession::WritePlain(const unsigned char* p_pData, std::size_t p_length) {
  if (m_bFailed || p_length > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  ERR_clear_error();
  // Memory BIOs take everything: SSL_write either writes it all or fails.
  if (SSL_write(m_pConnection.get(), p_pData, static_cast<int>(p_length)) != static_cast<int>(p_length)) {
    Fail(TakeOpenSslError("TLS write failed"));
    return false;
  }
  return true;
}

bool TlsSession::DrainOutgoing(const std::function<bool(const unsigned char*, std::size_t)>& p_sink) {
  if (m_pOutgoing == nullptr) {
    return true;
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(m_pOutgoing, &data);
  if (length <= 0) {
    return true;
  }
  if (!p_sink(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(length))) {
    return false;
  }
  (void)BIO_reset(m_pOutgoing);
  return true;
}

int TlsSession::VerifyCallback(int p_iPreverifyOk, X509_STORE_CTX* p_pStore) {
  auto* connection =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(p_pStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* session = connection != nullptr ? static_cast<TlsSession*>(SSL_get_ex_data(connection, SessionIndex()))
                                        : nullptr;
  return session != nullptr ? session->Verify(p_iPreverifyOk, p_pStore) : 0;
}

int TlsSession::Verify(int p_iPreverifyOk, X509_STORE_CTX* p_pStore) {
  // The server's own certificate is the one reported, whichever certificate
  // of the chain failed.
  if (X509* leaf = X509_STORE_CTX_get0_cert(p_pStore); leaf != nullptr && m_strPeerSubject.empty()) {
    m_strPeerIssuer = NameToRfc2253(X509_get_issuer_name(leaf));
    m_strPeerSubject = NameToRfc2253(X509_get_subject_name(leaf));
  }
  if (!p_iPreverifyOk) {
    if (m_lVerifyError == X509_V_OK) {
      m_lVerifyError = X509_STORE_CTX_get_error(p_pStore);
    }
    return 0;
  }
  if (X509_STORE_CTX_get_error_depth(p_pStore) != 0) {
    return 1;
  }
  X509* leaf = X509_STORE_CTX_get_current_cert(p_pStore);
  if (!NameMatchesSetting(X509_get_subject_name(leaf), m_settings.certificateSubject)) {
    m_lVerifyError = kVerifyErrorSubjectMismatch;
  } else if (!NameMatchesSetting(X509_get_issuer_name(leaf), m_settings.certificateIssuer)) {
    m_lVerifyError = kVerifyErrorIssuerMismatch;
  }
  if (m_lVerifyError != X509_V_OK) {
    X509_STORE_CTX_set_error(p_pStore, static_cast<int>(m_lVerifyError));
    return 0;
  }
  return 1;
}

}  // namespace KestNet
