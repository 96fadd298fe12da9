// Socket result codes: what every socket listener hears and what
// GetLastSocketError returns, translated from Winsock error numbers.
#pragma once

#include "platform/os/win_types.h"

namespace KestNet {

// (name, value). Codes 0 to 9 are public (the automation layer exposes them
// as constants); 10 and 11 are internal to the socket classes.
#define KESTNET_SOCKET_RESULTS(X)          \
  X(SOCKET_NO_ERROR, 0)                    \
  X(SOCKET_GENERIC_ERROR, 1)               \
  X(SOCKET_OS_LAYER_NOT_INITIALIZED, 2)    \
  X(SOCKET_OS_FAILURE, 3)                  \
  X(SOCKET_ADDR_IN_USE, 4)                 \
  X(SOCKET_INVALID_STATE, 5)               \
  X(SOCKET_INVALID_ARG, 6)                 \
  X(SOCKET_CONNECT_REFUSED, 7)             \
  X(SOCKET_DEST_UNREACHABLE, 8)            \
  X(SOCKET_TIMEOUT, 9)                     \
  X(SOCKET_WOULD_BLOCK, 10)                \
  X(SOCKET_MESSAGE_TOO_LONG, 11)

#define KESTNET_DECLARE_SOCKET_RESULT(name, value) inline constexpr DWORD name = value;
KESTNET_SOCKET_RESULTS(KESTNET_DECLARE_SOCKET_RESULT)
#undef KESTNET_DECLARE_SOCKET_RESULT

// The socket result code for a Winsock error number. Unlisted errors (among
// them connection refused and timed out) are SOCKET_GENERIC_ERROR.
DWORD TranslateSocketError(int winsockError);

// "SOCKET_TIMEOUT" for 9; "UNKNOWN" for a value outside the table.
const char* SocketResultName(DWORD result);

}  // namespace KestNet
