// KestNet::SmtpClientListener: how an SmtpClient reports, and the SMTP result
// codes it reports with.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestNet {

struct TlsHandshakeOutcome;

// (name, value): the automation layer exposes the same values.
#define KESTNET_SMTP_RESULTS(X)  \
  X(SMTP_SUCCESS, 0)             \
  X(SMTP_SOCKET_FAILURE, 1)      \
  X(SMTP_CONNECT_ERROR, 2)       \
  X(SMTP_TERMINATED, 3)          \
  X(SMTP_INVALID_ARGS, 4)        \
  X(SMTP_BUSY, 5)                \
  X(SMTP_INVALID_STATE, 6)       \
  X(SMTP_UNEXPECTED, 7)          \
  X(SMTP_AUTH_ERROR, 8)

#define KESTNET_DECLARE_SMTP_RESULT(name, value) inline constexpr DWORD name = value;
KESTNET_SMTP_RESULTS(KESTNET_DECLARE_SMTP_RESULT)
#undef KESTNET_DECLARE_SMTP_RESULT

// Called on the socket event thread (OnSMTPClose(SMTP_INVALID_STATE) on the
// thread that called Disconnect, and the close of a Disconnect in operation
// on that thread). "Text" is the reply's text after its code. The client
// keeps the listener as a plain pointer it does not own.
class SmtpClientListener {
 public:
  // SMTP_SUCCESS, SMTP_CONNECT_ERROR (connect failed) or SMTP_TERMINATED
  // (lost during the handshake).
  virtual void OnSMTPConnected(DWORD p_dwStatus) = 0;
  virtual void OnSMTPHeader(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPHello(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPAuthenticateRequest(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPUsername(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPPassword(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPAuthenticated(DWORD p_dwStatus) = 0;
  // SMTP_SUCCESS (accepted), SMTP_UNEXPECTED (refused) or SMTP_TERMINATED.
  virtual void OnSMTPMailSent(DWORD p_dwStatus) = 0;
  virtual void OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) = 0;
  virtual void OnSMTPClose(DWORD p_dwStatus) = 0;
  // The handshake is done: Send and SetSenderName are accepted now.
  virtual void OnSMTPReady() = 0;
  // TLS could not be set up (refused STARTTLS, failed handshake, rejected
  // certificate); the connection closes next. Only clients with transport
  // security call it.
  virtual void OnSMTPSecureChannelFailed(const TlsHandshakeOutcome&) {}

 protected:
  ~SmtpClientListener() = default;
};

}  // namespace KestNet
