#include "net/sockets/socket_result.h"

#include "platform/net/winsock_errors.h"

namespace KestNet {
namespace {

namespace winsock = kestnet::platform::winsock;

struct WinsockToResult {
  int winsockError;
  DWORD result;
};

// Only the errors listed here have a code of their own; refusal (10061) and
// time-out (10060) are deliberately generic, and nothing maps to
// SOCKET_CONNECT_REFUSED. A reset or abort by the peer reads as a time-out.
constexpr WinsockToResult kTranslationTable[] = {
    {0, SOCKET_NO_ERROR},
    {winsock::kNotInitialised, SOCKET_OS_LAYER_NOT_INITIALIZED},
    {winsock::kTooManySockets, SOCKET_OS_FAILURE},
    {winsock::kNotSocket, SOCKET_OS_FAILURE},
    {winsock::kAddressFamilyNotSupported, SOCKET_OS_FAILURE},
    {winsock::kNetworkDown, SOCKET_OS_FAILURE},
    {winsock::kNetworkReset, SOCKET_OS_FAILURE},
    {winsock::kNoBufferSpace, SOCKET_OS_FAILURE},
    {winsock::kAddressInUse, SOCKET_ADDR_IN_USE},
    {winsock::kInvalidArgument, SOCKET_INVALID_STATE},
    {winsock::kInProgress, SOCKET_INVALID_STATE},
    {winsock::kShutDown, SOCKET_INVALID_STATE},
    {winsock::kDestinationRequired, SOCKET_INVALID_ARG},
    {winsock::kWrongProtocolType, SOCKET_INVALID_ARG},
    {winsock::kProtocolNotSupported, SOCKET_INVALID_ARG},
    {winsock::kAddressNotAvailable, SOCKET_DEST_UNREACHABLE},
    {winsock::kNetworkUnreachable, SOCKET_DEST_UNREACHABLE},
    {winsock::kConnectionAborted, SOCKET_TIMEOUT},
    {winsock::kConnectionReset, SOCKET_TIMEOUT},
    {winsock::kWouldBlock, SOCKET_WOULD_BLOCK},
    {winsock::kMessageTooLong, SOCKET_MESSAGE_TOO_LONG},
};

struct ResultName {
  DWORD result;
  const char* name;
};

#define KESTNET_SOCKET_RESULT_NAME(name, value) {value, #name},
constexpr ResultName kResultNames[] = {KESTNET_SOCKET_RESULTS(KESTNET_SOCKET_RESULT_NAME)};
#undef KESTNET_SOCKET_RESULT_NAME

}  // namespace

DWORD TranslateSocketError(int winsockError) {
  for (const auto& entry : kTranslationTable) {
    if (entry.winsockError == winsockError) {
      return entry.result;
    }
  }
  return SOCKET_GENERIC_ERROR;
}

const char* SocketResultName(DWORD result) {
  for (const auto& entry : kResultNames) {
    if (entry.result == result) {
      return entry.name;
    }
  }
  return "UNKNOWN";
}

}  // namespace KestNet
