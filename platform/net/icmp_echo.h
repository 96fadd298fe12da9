// The ICMP echo service: IcmpCreateFile, IcmpSendEcho and IcmpCloseHandle with
// the Windows shapes, found by name through the system module table the way
// a caller finds them in the system's "ICMP.DLL".
//
// One IcmpSendEcho sends one echo request with the caller's TTL, type of
// service, don't-fragment flag and payload, and waits up to the time-out for
// the matching reply (identifier and sequence checked, other traffic ignored).
// It uses an unprivileged ICMP ("ping") socket where the system allows one
// (net.ipv4.ping_group_range covers the process's group), else a raw ICMP
// socket (root or CAP_NET_RAW). ICMP errors (read from the error queue, and on
// raw sockets also from the error packets themselves) become the IP_* status
// codes below, with the address of the router that sent them.
//
// Return values follow the Windows contract: the number of replies written to
// the reply buffer (1 for an echo reply or an ICMP error about our request),
// or 0 with the status in GetLastError. Unlike Windows, a failed call also
// writes its status into the first reply when the buffer holds one, so a
// caller that reads the first reply's status never mistakes a failure for
// success.
//
// A handle opens its socket when it is created, so an echo costs no socket
// set-up. Handles are safe to use from several threads at once: an echo that
// finds the handle's socket in use by another opens one of its own for the
// time of the echo. Whatever earlier echoes left on the handle's socket
// (late replies, late errors) is dropped before the next echo is sent, and
// on ping sockets, whose identifier the system fixes per socket, each echo
// has a sequence number of its own, so a late reply is never taken for a
// later echo's.
#pragma once

#include <string>

#include "platform/os/win_types.h"

using UCHAR = unsigned char;
using IPAddr = ULONG;  // IPv4 address in network byte order

// IP status codes of the echo service.
#define KESTNET_IP_STATUS_CODES(X)  \
  X(IP_SUCCESS, 0)                  \
  X(IP_BUF_TOO_SMALL, 11001)        \
  X(IP_DEST_NET_UNREACHABLE, 11002) \
  X(IP_DEST_HOST_UNREACHABLE, 11003) \
  X(IP_DEST_PROT_UNREACHABLE, 11004) \
  X(IP_DEST_PORT_UNREACHABLE, 11005) \
  X(IP_NO_RESOURCES, 11006)         \
  X(IP_BAD_OPTION, 11007)           \
  X(IP_HW_ERROR, 11008)             \
  X(IP_PACKET_TOO_BIG, 11009)       \
  X(IP_REQ_TIMED_OUT, 11010)        \
  X(IP_BAD_REQ, 11011)              \
  X(IP_BAD_ROUTE, 11012)            \
  X(IP_TTL_EXPIRED_TRANSIT, 11013)  \
  X(IP_TTL_EXPIRED_REASSEM, 11014)  \
  X(IP_PARAM_PROBLEM, 11015)        \
  X(IP_SOURCE_QUENCH, 11016)        \
  X(IP_OPTION_TOO_BIG, 11017)       \
  X(IP_BAD_DESTINATION, 11018)      \
  X(IP_ADDR_DELETED, 11019)         \
  X(IP_SPEC_MTU_CHANGE, 11020)      \
  X(IP_MTU_CHANGE, 11021)           \
  X(IP_UNLOAD, 11022)               \
  X(IP_GENERAL_FAILURE, 11050)

#define KESTNET_DECLARE_IP_STATUS(Name, Value) constexpr ULONG Name = Value;
KESTNET_IP_STATUS_CODES(KESTNET_DECLARE_IP_STATUS)
#undef KESTNET_DECLARE_IP_STATUS

// IP_OPTION_INFORMATION.Flags: set the don't-fragment bit.
constexpr UCHAR IP_FLAG_DF = 0x2;

struct IP_OPTION_INFORMATION {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags;
  UCHAR OptionsSize;
  UCHAR* OptionsData;
};
using PIP_OPTION_INFORMATION = IP_OPTION_INFORMATION*;

struct ICMP_ECHO_REPLY {
  IPAddr Address;
  ULONG Status;
  ULONG RoundTripTime;  // milliseconds
  USHORT DataSize;
  USHORT Reserved;
  PVOID Data;  // points into the reply buffer, after the replies
  IP_OPTION_INFORMATION Options;
};
using PICMP_ECHO_REPLY = ICMP_ECHO_REPLY*;

// Entry point types, as a caller declares them before GetProcAddress.
using IcmpCreateFileFunction = HANDLE (*)();
using IcmpCloseHandleFunction = BOOL (*)(HANDLE);
using IcmpSendEchoFunction = DWORD (*)(HANDLE IcmpHandle, IPAddr DestinationAddress,
                                       LPVOID RequestData, WORD RequestSize,
                                       PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer,
                                       DWORD ReplySize, DWORD Timeout);

// INVALID_HANDLE_VALUE with ERROR_ACCESS_DENIED when the process may open
// neither a ping socket nor a raw ICMP socket (IcmpAccessProblem says why).
HANDLE IcmpCreateFile();
// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL IcmpCloseHandle(HANDLE IcmpHandle);
// See the file comment. RequestOptions may be null (TTL 128, no flags).
// ReplySize must hold one ICMP_ECHO_REPLY, the payload and 8 bytes (an ICMP
// header), else IP_BUF_TOO_SMALL.
DWORD IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData,
                   WORD RequestSize, PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer,
                   DWORD ReplySize, DWORD Timeout);

namespace kestnet::platform {

// Makes the echo service findable as "ICMP.DLL" through the system module
// table (platform/os/module_table.h). Callers register it before they look
// it up; registering again changes nothing.
void RegisterIcmpModule();

// Empty when this process may open an ICMP socket of either kind; otherwise a
// sentence saying what a user must change.
std::string IcmpAccessProblem();

// The name of an IP status code ("IP_REQ_TIMED_OUT"), or "" for an unknown one.
const char* IpStatusName(ULONG p_ulStatus);

}  // namespace kestnet::platform
