// KestNet::TlsSession: the client side of one TLS connection on OpenSSL,
// driven through memory BIOs so that the caller keeps doing the socket I/O.
//
// Why memory BIOs: the line socket already owns the non-blocking socket, its
// send queue and its notifications, and its lock order is fixed. With memory
// BIOs OpenSSL never touches the socket: the owner feeds it the bytes it
// read (Feed), takes the bytes to send (TakeOutgoing) and queues them as
// before, and reads the decrypted data (ReadPlain). Nothing blocks, and the
// session needs no lock of its own: its owner calls it under the owner's
// buffer mutex.
//
// Verification: the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR
// replace it, so a private CA works), the host name by RFC 6125 (or the
// address, for a server given as one), SNI for a host name, TLS 1.2 at least,
// and the configured certificate subject and issuer (tls_certificate_check.h).
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/sockets/tls_certificate_check.h"

namespace KestNet {

struct TlsSettings {
  std::string hostName;            // the server as the user named it
  std::string certificateSubject;  // empty: any
  std::string certificateIssuer;   // empty: any
};

// How a handshake ended: established, or failed with a text; a certificate
// that was refused also has its rejection.
struct TlsHandshakeOutcome {
  bool established = false;
  std::string failure;
  std::optional<TlsCertificateRejection> rejection;
};

// Frees what OpenSSL keeps for the calling thread (its error queue). Threads
// that may have made TLS calls run it before they report their end: OpenSSL
// would otherwise free it in a thread-exit handler, after the report, while a
// waiter may already be letting the process exit.
void ReleaseTlsThreadState();

class TlsSession {
 public:
  enum class Progress { kInProgress, kEstablished, kFailed };

  // Sets up the context and the connection and writes the ClientHello to the
  // outgoing bytes. A session that could not be set up reports kFailed from
  // Handshake.
  explicit TlsSession(const TlsSettings& p_settings);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Ciphertext read from the peer.
  bool Feed(const unsigned char* p_pData, std::size_t p_length);
  // Moves the handshake on with what was fed; its outgoing bytes wait in
  // TakeOutgoing.
  Progress Handshake();
  bool IsEstablished() const { return m_outcome.established; }
  const TlsHandshakeOutcome& Outcome() const { return m_outcome; }
  // Decrypted bytes, up to p_capacity; 0 when more input is needed, -1 when
  // the peer ended the session or the connection broke (Outcome().failure
  // says how).
  long ReadPlain(unsigned char* p_pBuffer, std::size_t p_capacity);
  // Encrypts p_length bytes into the outgoing bytes.
  bool WritePlain(const unsigned char* p_pData, std::size_t p_length);
  // Hands the ciphertext to send to p_sink, in place, and drops it once the
  // sink took it (true); what the sink refuses stays.
  bool DrainOutgoing(const std::function<bool(const unsigned char*, std::size_t)>& p_sink);

 private:
  struct ContextDeleter {
    void operator()(SSL_CTX* p_pContext) const { SSL_CTX_free(p_pContext); }
  };
  struct ConnectionDeleter {
    void operator()(SSL* p_pConnection) const { SSL_free(p_pConnection); }
  };

  bool SetUp();
  void Fail(const std::string& p_strText);
  // OpenSSL's per-certificate verify callback: remembers the server's
  // certificate and checks the configured names on it.
  static int VerifyCallback(int p_iPreverifyOk, X509_STORE_CTX* p_pStore);
  int Verify(int p_iPreverifyOk, X509_STORE_CTX* p_pStore);

  TlsSettings m_settings;
  std::unique_ptr<SSL_CTX, ContextDeleter> m_pContext;
  // Owns both memory BIOs (SSL_set_bio).
  std::unique_ptr<SSL, ConnectionDeleter> m_pConnection;
  BIO* m_pIncoming = nullptr;  // owned by m_pConnection
  BIO* m_pOutgoing = nullptr;  // owned by m_pConnection
  TlsHandshakeOutcome m_outcome;
  // The server's certificate as the verify callback saw it, and the first
  // verification error; kept for the rejection report.
  std::string m_strPeerIssuer;
  std::string m_strPeerSubject;
  long m_lVerifyError = X509_V_OK;
  bool m_bFailed = false;
};

}  // namespace KestNet
