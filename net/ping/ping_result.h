// The PING_* result codes an echo request ends with, and the mapping of the
// echo service's IP status codes onto them.
#pragma once

#include "platform/os/win_types.h"

namespace KestNet {

#define KESTNET_PING_RESULTS(X)    \
  X(PING_SUCCESS, 0)               \
  X(PING_DID_NOT_RESPOND, 1)       \
  X(PING_INVALID_ADDRESS, 2)       \
  X(PING_INVALID_INTERFACE, 3)     \
  X(PING_TTL_EXPIRED, 4)           \
  X(PING_NET_UNREACHABLE, 5)       \
  X(PING_HOST_UNREACHABLE, 6)      \
  X(PING_ERROR, 7)                 \
  X(PING_TIMEOUT, 8)               \
  X(PING_INVALID_OBJECT, 9)        \
  X(PING_ABORTED, 10)              \
  X(PING_RESOLVE_NAME_FAILED, 11)  \
  X(PING_DNS_TIMEOUT, 12)          \
  X(PING_DNS_NO_RESPONSES, 13)

#define KESTNET_DECLARE_PING_RESULT(Name, Value) constexpr WORD Name = Value;
KESTNET_PING_RESULTS(KESTNET_DECLARE_PING_RESULT)
#undef KESTNET_DECLARE_PING_RESULT

// "PING_TIMEOUT" for 8; "" for a code outside the table.
const char* PingResultName(DWORD p_dwResult);

// The result of a reply with this status. A success status counts only when
// the service reported at least one reply; an unknown status is
// PING_INVALID_OBJECT.
WORD PingResultOfStatus(ULONG p_ulStatus, DWORD p_dwReplyCount);

}  // namespace KestNet
