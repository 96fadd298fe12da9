// The server-information, share-information and join-information calls of
// "Netapi32.dll" (lmserver.h, lmshare.h, lmjoin.h, lmapibuf.h and lmerr.h
// pieces), answered by the server's srvsvc pipe through Samba's libnetapi.
// This machine's own server is its smbd, asked on its loopback address.
//
// Results are NET_API_STATUS values: NERR_Success, a Win32 error number or a
// NERR_* number, exactly as Windows returns them. The calls do not set the
// thread's last error. A buffer a call returns is one block, strings inside
// it, freed with NetApiBufferFree.
#pragma once

#include "platform/os/win_types.h"

using NET_API_STATUS = DWORD;
using LMSTR = LPWSTR;

// lmerr.h: NERR_BASE (2100) and the numbers the calls below return.
constexpr NET_API_STATUS NERR_Success = 0;
constexpr NET_API_STATUS NERR_BASE = 2100;
constexpr NET_API_STATUS NERR_ServerNotStarted = NERR_BASE + 14;      // 2114
constexpr NET_API_STATUS NERR_BufTooSmall = NERR_BASE + 23;           // 2123
constexpr NET_API_STATUS NERR_NetNameNotFound = NERR_BASE + 210;      // 2310
constexpr NET_API_STATUS NERR_InvalidComputer = NERR_BASE + 251;      // 2351
constexpr NET_API_STATUS NERR_ShareNotFound = NERR_BASE + 292;        // 2392

// lmserver.h: platform ids of SERVER_INFO_101.
constexpr DWORD PLATFORM_ID_DOS = 300;
constexpr DWORD PLATFORM_ID_OS2 = 400;
constexpr DWORD PLATFORM_ID_NT = 500;
constexpr DWORD PLATFORM_ID_OSF = 600;
constexpr DWORD PLATFORM_ID_VMS = 700;

// lmserver.h: server type bits (sv101_type, and the browse list's types).
constexpr DWORD SV_TYPE_WORKSTATION = 0x00000001;
constexpr DWORD SV_TYPE_SERVER = 0x00000002;
constexpr DWORD SV_TYPE_SQLSERVER = 0x00000004;
constexpr DWORD SV_TYPE_DOMAIN_CTRL = 0x00000008;
constexpr DWORD SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
constexpr DWORD SV_TYPE_TIME_SOURCE = 0x00000020;
constexpr DWORD SV_TYPE_AFP = 0x00000040;
constexpr DWORD SV_TYPE_NOVELL = 0x00000080;
constexpr DWORD SV_TYPE_DOMAIN_MEMBER = 0x00000100;
constexpr DWORD SV_TYPE_PRINTQ_SERVER = 0x00000200;
constexpr DWORD SV_TYPE_DIALIN_SERVER = 0x00000400;
constexpr DWORD SV_TYPE_SERVER_UNIX = 0x00000800;
constexpr DWORD SV_TYPE_XENIX_SERVER = SV_TYPE_SERVER_UNIX;
constexpr DWORD SV_TYPE_NT = 0x00001000;
constexpr DWORD SV_TYPE_WFW = 0x00002000;
constexpr DWORD SV_TYPE_SERVER_MFPN = 0x00004000;
constexpr DWORD SV_TYPE_SERVER_NT = 0x00008000;
constexpr DWORD SV_TYPE_POTENTIAL_BROWSER = 0x00010000;
constexpr DWORD SV_TYPE_BACKUP_BROWSER = 0x00020000;
constexpr DWORD SV_TYPE_MASTER_BROWSER = 0x00040000;
constexpr DWORD SV_TYPE_DOMAIN_MASTER = 0x00080000;
constexpr DWORD SV_TYPE_SERVER_OSF = 0x00100000;
constexpr DWORD SV_TYPE_SERVER_VMS = 0x00200000;
constexpr DWORD SV_TYPE_WINDOWS = 0x00400000;
constexpr DWORD SV_TYPE_DFS = 0x00800000;
constexpr DWORD SV_TYPE_CLUSTER_NT = 0x01000000;
constexpr DWORD SV_TYPE_TERMINALSERVER = 0x02000000;
constexpr DWORD SV_TYPE_CLUSTER_VS_NT = 0x04000000;
constexpr DWORD SV_TYPE_DCE = 0x10000000;
constexpr DWORD SV_TYPE_ALTERNATE_XPORT = 0x20000000;
constexpr DWORD SV_TYPE_LOCAL_LIST_ONLY = 0x40000000;
constexpr DWORD SV_TYPE_DOMAIN_ENUM = 0x80000000;

struct SERVER_INFO_101 {
  DWORD sv101_platform_id;
  LMSTR sv101_name;
  DWORD sv101_version_major;
  DWORD sv101_version_minor;
  DWORD sv101_type;
  LMSTR sv101_comment;
};
using PSERVER_INFO_101 = SERVER_INFO_101*;
using LPSERVER_INFO_101 = SERVER_INFO_101*;

// Level 101 of the server named by servername ("\\SERVER" or "SERVER"; null
// or empty is this machine). On NERR_Success *bufptr is a SERVER_INFO_101 for
// NetApiBufferFree; on failure it is null. Failures:
//   ERROR_INVALID_PARAMETER  bufptr is null;
//   ERROR_INVALID_LEVEL      a level other than 101;
//   NERR_InvalidComputer     a name that cannot be a NetBIOS or DNS name;
//   ERROR_BAD_NETPATH        no such server (not resolved, not answering);
//   ERROR_ACCESS_DENIED      the server refused the guest session or the call;
//   ERROR_NOT_ENOUGH_MEMORY  the answer could not be copied;
//   another Win32 or NERR_* number as the server's srvsvc pipe reported it.
NET_API_STATUS NetServerGetInfo(LMSTR servername, DWORD level, LPBYTE* bufptr);

// lmshare.h: share types (shi*_type) and the records of NetShareGetInfo.
constexpr DWORD STYPE_DISKTREE = 0;
constexpr DWORD STYPE_PRINTQ = 1;
constexpr DWORD STYPE_DEVICE = 2;
constexpr DWORD STYPE_IPC = 3;
constexpr DWORD STYPE_TEMPORARY = 0x40000000;
constexpr DWORD STYPE_SPECIAL = 0x80000000;

struct SHARE_INFO_0 {
  LMSTR shi0_netname;
};
struct SHARE_INFO_1 {
  LMSTR shi1_netname;
  DWORD shi1_type;
  LMSTR shi1_remark;
};
struct SHARE_INFO_2 {
  LMSTR shi2_netname;
  DWORD shi2_type;
  LMSTR shi2_remark;
  DWORD shi2_permissions;
  DWORD shi2_max_uses;
  DWORD shi2_current_uses;
  LMSTR shi2_path;
  LMSTR shi2_passwd;
};
using PSHARE_INFO_0 = SHARE_INFO_0*;
using PSHARE_INFO_1 = SHARE_INFO_1*;
using PSHARE_INFO_2 = SHARE_INFO_2*;

// Level 0, 1 or 2 of the share netname of the server named by servername
// (as for NetServerGetInfo; this machine's own name also means this machine).
// On NERR_Success *bufptr is the level's record for NetApiBufferFree; on
// failure it is null. Level 2's path is the folder the server shares: for
// this machine a path of its file system, for another machine the server's
// own form of it (a Samba server presents "/srv/x" as "C:\srv\x"); its
// password is null under user-level security. Failures:
//   ERROR_INVALID_PARAMETER  netname or bufptr is null;
//   ERROR_INVALID_NAME       netname cannot name a share (empty, longer than
//                            80 characters, or with \ / : * ? " < > | or a
//                            control character);
//   ERROR_INVALID_LEVEL      another level;
//   NERR_NetNameNotFound     the server has no share of that name;
//   NERR_ServerNotStarted    this machine's server is not running;
//   and NetServerGetInfo's failures for a server that cannot be asked.
NET_API_STATUS NetShareGetInfo(LMSTR servername, LMSTR netname, DWORD level, LPBYTE* bufptr);

// lmjoin.h: how this machine belongs to the network. Without a domain
// membership the answer is NetSetupWorkgroupName and the workgroup of the
// machine's Samba configuration ("WORKGROUP" when it names none).
enum NETSETUP_JOIN_STATUS {
  NetSetupUnknownStatus = 0,
  NetSetupUnjoined,
  NetSetupWorkgroupName,
  NetSetupDomainName,
};
using PNETSETUP_JOIN_STATUS = NETSETUP_JOIN_STATUS*;

// lpServer must be null or empty (this machine): another server gives
// ERROR_NOT_SUPPORTED. lpNameBuffer or BufferType null: ERROR_INVALID_PARAMETER.
// *lpNameBuffer is freed with NetApiBufferFree.
NET_API_STATUS NetGetJoinInformation(LPCWSTR lpServer, LPWSTR* lpNameBuffer,
                                     PNETSETUP_JOIN_STATUS BufferType);

// Frees a buffer the calls above returned; null is accepted (NERR_Success).
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);

namespace kestnet::platform {

// "Netapi32.dll" in the system module table (platform/os/module_table.h), with
// NetServerGetInfo, NetShareGetInfo, NetGetJoinInformation and
// NetApiBufferFree, for callers that load it by name. Calling it again
// changes nothing.
void RegisterNetapi32Module();

}  // namespace kestnet::platform
