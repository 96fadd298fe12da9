// Winsock error numbers and the thread's last socket error.
//
// The socket layer above this folder reports failures with the numbers of the
// Winsock error table (10035 would block, 10054 connection reset, ...), so this
// is where a Linux errno becomes one of those numbers. The numbers live in
// namespace `winsock` under our own names; the translation is one table.
#pragma once

namespace kestnet::platform {

namespace winsock {
inline constexpr int kNoError = 0;
inline constexpr int kInterrupted = 10004;
inline constexpr int kBadFileDescriptor = 10009;
inline constexpr int kAccessDenied = 10013;
inline constexpr int kBadAddress = 10014;
inline constexpr int kInvalidArgument = 10022;
inline constexpr int kTooManySockets = 10024;
inline constexpr int kWouldBlock = 10035;
inline constexpr int kInProgress = 10036;
inline constexpr int kAlreadyInProgress = 10037;
inline constexpr int kNotSocket = 10038;
inline constexpr int kDestinationRequired = 10039;
inline constexpr int kMessageTooLong = 10040;
inline constexpr int kWrongProtocolType = 10041;
inline constexpr int kBadProtocolOption = 10042;
inline constexpr int kProtocolNotSupported = 10043;
inline constexpr int kSocketTypeNotSupported = 10044;
inline constexpr int kOperationNotSupported = 10045;
inline constexpr int kProtocolFamilyNotSupported = 10046;
inline constexpr int kAddressFamilyNotSupported = 10047;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kAddressNotAvailable = 10049;
inline constexpr int kNetworkDown = 10050;
inline constexpr int kNetworkUnreachable = 10051;
inline constexpr int kNetworkReset = 10052;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNoBufferSpace = 10055;
inline constexpr int kAlreadyConnected = 10056;
inline constexpr int kNotConnected = 10057;
inline constexpr int kShutDown = 10058;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kNameTooLong = 10063;
inline constexpr int kHostDown = 10064;
inline constexpr int kHostUnreachable = 10065;
inline constexpr int kNotInitialised = 10093;
// Winsock's "a system call that should never fail has failed": the number
// given to an errno that has no Winsock counterpart.
inline constexpr int kSystemCallFailure = 10107;
}  // namespace winsock

// The Winsock number for a Linux errno value; kSystemCallFailure when the errno
// has no counterpart, so that nothing is silently reported as success.
int WinsockErrorFromErrno(int errnoValue);

// The calling thread's last socket error (a Winsock number). Every socket call
// of this folder that fails sets it; a successful call leaves it alone.
int GetLastSocketError();
void SetLastSocketError(int winsockError);

// Sets the last socket error from errno and returns the Winsock number.
int SetLastSocketErrorFromErrno(int errnoValue);

}  // namespace kestnet::platform
