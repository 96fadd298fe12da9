// How a server certificate is judged beyond OpenSSL's own chain, date and
// host name checks, and how a refusal is put into words.
//
// An expected subject or issuer is matched against the certificate's name
// this way, so that a person can predict it:
//   - a setting with "=" is compared, ignoring case, with the whole name in
//     its RFC 2253 one-line form ("CN=mail.example.com,O=Example,C=DE");
//   - a setting without "=" is compared, ignoring case, with the name's
//     common name (the last CN of the name);
//   - an empty setting matches every name.
#pragma once

#include <openssl/x509.h>

#include <string>

namespace KestNet {

// Why a certificate was refused: a short reason a person can act on, and the
// certificate's issuer and subject (RFC 2253); empty names when the server
// sent no certificate.
struct TlsCertificateRejection {
  std::string reason;
  std::string issuer;
  std::string subject;
};

// The RFC 2253 one-line form of p_pName; empty for null.
std::string NameToRfc2253(const X509_NAME* p_pName);
// The rule above.
bool NameMatchesSetting(const X509_NAME* p_pName, const std::string& p_strSetting);
// "expired", "not yet valid", "host name mismatch", "unknown issuer",
// "self-signed", or OpenSSL's own text for any other verification error.
std::string DescribeVerifyError(long p_lVerifyError);

// Verification errors this system raises itself when a certificate passes
// OpenSSL's checks but not the configured subject or issuer. They sit in the
// range OpenSSL leaves to applications.
inline constexpr int kVerifyErrorSubjectMismatch = X509_V_ERR_APPLICATION_VERIFICATION;
inline constexpr int kVerifyErrorIssuerMismatch = X509_V_ERR_APPLICATION_VERIFICATION + 1;

}  // namespace KestNet
