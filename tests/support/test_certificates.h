// A test certificate authority and server certificates, made with OpenSSL's
// C API and written as PEM files, for TLS servers of tests.
//
// Server certificates (subject kServerSubject, issued by the CA unless said
// otherwise), each meant for one loopback address so that one server can
// present each of them on its own address:
//   kValid          127.0.0.1, valid now;
//   kExpired        127.0.0.2, ended an hour ago;
//   kOtherHost      127.0.0.3, valid, but names only mail.other.invalid;
//   kSelfSigned     127.0.0.4, valid, signed by its own key;
//   kNotYetValid    127.0.0.5, begins in a day;
//   kUnknownIssuer  127.0.0.6, valid, issued by a second CA (kUnknownCaSubject)
//                   that no client trusts; its file holds the whole chain, so
//                   the server presents that CA too.
// A client trusts the CA through SSL_CERT_FILE = CaFile().
#pragma once

#include <filesystem>
#include <string>

namespace kestnet::testing {

enum class ServerCertificate { kValid, kExpired, kOtherHost, kSelfSigned, kNotYetValid, kUnknownIssuer };

inline constexpr ServerCertificate kAllServerCertificates[] = {
    ServerCertificate::kValid,      ServerCertificate::kExpired,     ServerCertificate::kOtherHost,
    ServerCertificate::kSelfSigned, ServerCertificate::kNotYetValid, ServerCertificate::kUnknownIssuer};

class TestCertificates {
 public:
  // RFC 2253 forms, as the client reports them.
  static constexpr const char* kCaSubject = "CN=KestNet Test CA,O=KestNet Test";
  static constexpr const char* kServerSubject = "CN=mail.kestnet.test,O=KestNet Test";
  static constexpr const char* kUnknownCaSubject = "CN=KestNet Unknown CA,O=KestNet Test";

  // Writes ca.pem and <name>.crt / <name>.key per server certificate into
  // p_directory; false with p_error on failure.
  bool Make(const std::filesystem::path& p_directory, std::string& p_error);

  std::filesystem::path CaFile() const { return m_directory / "ca.pem"; }
  std::filesystem::path CertificateFile(ServerCertificate p_which) const;
  std::filesystem::path KeyFile(ServerCertificate p_which) const;
  // The loopback address the certificate is served on.
  static std::string Address(ServerCertificate p_which);

 private:
  std::filesystem::path m_directory;
};

}  // namespace kestnet::testing
