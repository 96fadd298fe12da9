// How a mail client protects its connection: not at all (the plain clients),
// TLS from the first byte (POP3S, SMTPS), or the plain protocol upgraded with
// STLS (RFC 2595) / STARTTLS (RFC 3207) whenever the server offers it. A
// failed upgrade ends the session; it never goes on in plain text.
#pragma once

#include <string>

namespace KestNet {

enum class MailTransportMode { kNone, kImplicit, kStartTlsWhenOffered };

struct MailTransportSecurity {
  MailTransportMode mode = MailTransportMode::kNone;
  // Empty: any certificate that verifies for the server (see
  // net/sockets/tls_certificate_check.h for the rule).
  std::string certificateSubject;
  std::string certificateIssuer;
};

}  // namespace KestNet
