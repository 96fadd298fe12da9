#include "net/mail/mail_transport_security.h"

#include "net/sockets/tls_session.h"

namespace KestNet {

TlsSettings TlsSettingsFor(const std::string& p_strHost, const MailTransportSecurity& p_security) {
  TlsSettings settings;
  settings.hostName = p_strHost;
  settings.certificateSubject = p_security.certificateSubject;
  settings.certificateIssuer = p_security.certificateIssuer;
  return settings;
}

}  // namespace KestNet
