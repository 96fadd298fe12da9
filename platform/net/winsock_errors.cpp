#include "platform/net/winsock_errors.h"

#include <cerrno>
#include <utility>

namespace kestnet::platform {
namespace {

struct ErrnoToWinsock {
  int errnoValue;
  int winsockError;
};

// Linux errno -> Winsock number. EAGAIN and EWOULDBLOCK are one value on
// Linux; EINPROGRESS from connect() is turned into would-block by the connect
// call itself, as Winsock reports an unfinished non-blocking connect.
// EPIPE is what Linux gives for a send after the sending side was shut down
// (locally or by a reset); Winsock says "shut down" there.
constexpr ErrnoToWinsock kErrnoTable[] = {
    {0, winsock::kNoError},
    {EINTR, winsock::kInterrupted},
    {EBADF, winsock::kBadFileDescriptor},
    {EACCES, winsock::kAccessDenied},
    {EPERM, winsock::kAccessDenied},
    {EFAULT, winsock::kBadAddress},
    {EINVAL, winsock::kInvalidArgument},
    {EMFILE, winsock::kTooManySockets},
    {ENFILE, winsock::kTooManySockets},
    {EAGAIN, winsock::kWouldBlock},
    {EINPROGRESS, winsock::kInProgress},
    {EALREADY, winsock::kAlreadyInProgress},
    {ENOTSOCK, winsock::kNotSocket},
    {EDESTADDRREQ, winsock::kDestinationRequired},
    {EMSGSIZE, winsock::kMessageTooLong},
    {EPROTOTYPE, winsock::kWrongProtocolType},
    {ENOPROTOOPT, winsock::kBadProtocolOption},
    {EPROTONOSUPPORT, winsock::kProtocolNotSupported},
    {ESOCKTNOSUPPORT, winsock::kSocketTypeNotSupported},
    {EOPNOTSUPP, winsock::kOperationNotSupported},
    {EPFNOSUPPORT, winsock::kProtocolFamilyNotSupported},
    {EAFNOSUPPORT, winsock::kAddressFamilyNotSupported},
    {EADDRINUSE, winsock::kAddressInUse},
    {EADDRNOTAVAIL, winsock::kAddressNotAvailable},
    {ENETDOWN, winsock::kNetworkDown},
    {ENETUNREACH, winsock::kNetworkUnreachable},
    {ENETRESET, winsock::kNetworkReset},
    {ECONNABORTED, winsock::kConnectionAborted},
    {ECONNRESET, winsock::kConnectionReset},
    {ENOBUFS, winsock::kNoBufferSpace},
    {ENOMEM, winsock::kNoBufferSpace},
    {EISCONN, winsock::kAlreadyConnected},
    {ENOTCONN, winsock::kNotConnected},
    {EPIPE, winsock::kShutDown},
    {ESHUTDOWN, winsock::kShutDown},
    {ETIMEDOUT, winsock::kTimedOut},
    {ECONNREFUSED, winsock::kConnectionRefused},
    {ENAMETOOLONG, winsock::kNameTooLong},
    {EHOSTDOWN, winsock::kHostDown},
    {EHOSTUNREACH, winsock::kHostUnreachable},
};

thread_local int t_lastSocketError = 0;

}  // namespace

int WinsockErrorFromErrno(int errnoValue) {
  for (const auto& entry : kErrnoTable) {
    if (entry.errnoValue == errnoValue) {
      return entry.winsockError;
    }
  }
  return winsock::kSystemCallFailure;
}

int GetLastSocketError() { return t_lastSocketError; }

void SetLastSocketError(int winsockError) { t_lastSocketError = winsockError; }

int SetLastSocketErrorFromErrno(int errnoValue) {
  t_lastSocketError = WinsockErrorFromErrno(errnoValue);
  return t_lastSocketError;
}

}  // namespace kestnet::platform
