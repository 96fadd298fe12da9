// The network browsing calls of "MPR.DLL" (winnetwk.h pieces) over Samba's
// libsmbclient: the whole network is one provider, "Microsoft Windows
// Network", whose containers are the workgroups of the browse lists, whose
// containers are the servers, whose resources are the shares.
//
//   level          NETRESOURCEA.lpRemoteName   dwDisplayType                 dwUsage
//   provider       "Microsoft Windows Network"  RESOURCEDISPLAYTYPE_NETWORK   CONTAINER
//   workgroup      "WORKGROUP"                 RESOURCEDISPLAYTYPE_DOMAIN    CONTAINER
//   server         "\\SERVER"                  RESOURCEDISPLAYTYPE_SERVER    CONTAINER
//   share          "\\SERVER\share"            RESOURCEDISPLAYTYPE_SHARE     CONNECTABLE
//
// Every entry has dwScope RESOURCE_GLOBALNET and lpProvider "Microsoft Windows
// Network"; servers and shares carry their comment in lpComment. Shares have
// dwType RESOURCETYPE_DISK or RESOURCETYPE_PRINT; the containers above them
// RESOURCETYPE_ANY. Hidden shares (a name ending in '$') and IPC are not
// listed. The workgroup and server levels are read from the browse lists,
// which answer only over SMB1: those two levels speak NT1 whatever the
// configured range, the share level and the file calls the configured range.
//
// Results are Win32 error numbers, also set as the thread's last error.
#pragma once

#include "platform/os/win_types.h"

struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};
using LPNETRESOURCEA = NETRESOURCEA*;

constexpr DWORD RESOURCE_CONNECTED = 0x00000001;
constexpr DWORD RESOURCE_GLOBALNET = 0x00000002;
constexpr DWORD RESOURCE_REMEMBERED = 0x00000003;
constexpr DWORD RESOURCE_RECENT = 0x00000004;
constexpr DWORD RESOURCE_CONTEXT = 0x00000005;

constexpr DWORD RESOURCETYPE_ANY = 0x00000000;
constexpr DWORD RESOURCETYPE_DISK = 0x00000001;
constexpr DWORD RESOURCETYPE_PRINT = 0x00000002;
constexpr DWORD RESOURCETYPE_RESERVED = 0x00000008;
constexpr DWORD RESOURCETYPE_UNKNOWN = 0xFFFFFFFF;

constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x00000001;
constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x00000002;
constexpr DWORD RESOURCEUSAGE_NOLOCALDEVICE = 0x00000004;
constexpr DWORD RESOURCEUSAGE_SIBLING = 0x00000008;
constexpr DWORD RESOURCEUSAGE_ATTACHED = 0x00000010;
constexpr DWORD RESOURCEUSAGE_ALL =
    RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_ATTACHED;

constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x00000000;
constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 0x00000001;
constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x00000002;
constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x00000003;
constexpr DWORD RESOURCEDISPLAYTYPE_FILE = 0x00000004;
constexpr DWORD RESOURCEDISPLAYTYPE_GROUP = 0x00000005;
constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 0x00000006;
constexpr DWORD RESOURCEDISPLAYTYPE_ROOT = 0x00000007;
constexpr DWORD RESOURCEDISPLAYTYPE_SHAREADMIN = 0x00000008;
constexpr DWORD RESOURCEDISPLAYTYPE_DIRECTORY = 0x00000009;

// The provider's name, as lpProvider and as the provider entry's remote name.
inline constexpr char kWindowsNetworkProvider[] = "Microsoft Windows Network";

// Opens an enumeration of lpNetResource's children (null: the top of the
// network, which holds the provider entry). Only RESOURCE_GLOBALNET is
// browsable (another scope: ERROR_NOT_SUPPORTED). dwType RESOURCETYPE_DISK or
// RESOURCETYPE_PRINT keeps only the shares of that type (containers are always
// kept); dwUsage 0 keeps all, otherwise only entries with one of its usage
// bits. The listing is read here, so an unreachable level fails here:
//   ERROR_INVALID_PARAMETER          lphEnum null, or a dwType / dwUsage
//                                    Windows does not know;
//   ERROR_NOT_CONTAINER              lpNetResource is a share;
//   ERROR_BAD_NETPATH                the server is not found or not answering;
//   ERROR_ACCESS_DENIED              the server refused to list its shares,
//                                    or the master browser its list;
//   ERROR_NO_BROWSER_SERVERS_FOUND   no browse list answers for the network
//                                    or for that workgroup (yet);
//   ERROR_NO_NETWORK                 the SMB client cannot start.
DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource,
                    LPHANDLE lphEnum);

// Copies up to *lpcCount (0xFFFFFFFF: as many as fit) further entries into
// lpBuffer: the NETRESOURCEA records first, their strings packed after them
// inside the buffer. *lpcCount becomes the number copied. NO_ERROR while
// entries came; ERROR_NO_MORE_ITEMS at the end; ERROR_MORE_DATA with
// *lpBufferSize set to the size the next entry needs when not even one fits;
// ERROR_INVALID_HANDLE for a handle WNetOpenEnumA did not give or that was
// closed; ERROR_INVALID_PARAMETER for a null pointer.
DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize);

// NO_ERROR, or ERROR_INVALID_HANDLE.
DWORD WNetCloseEnum(HANDLE hEnum);

// The resource lpNetResource->lpRemoteName names: "\\SERVER" (the server) or
// "\\SERVER\share[\path]" (the share; *lplpSystem, when lplpSystem is not
// null, points inside lpBuffer at the "\path" part, or is null without one).
// lpBuffer receives the NETRESOURCEA and its strings as WNetEnumResourceA
// packs them. ERROR_MORE_DATA with *lpcbBuffer set to the size needed;
// ERROR_BAD_NET_NAME for a share the server does not have; ERROR_BAD_NETPATH
// for a server not found, or a remote name that is not a UNC name;
// ERROR_INVALID_PARAMETER for null pointers.
DWORD WNetGetResourceInformationA(LPNETRESOURCEA lpNetResource, LPVOID lpBuffer,
                                  LPDWORD lpcbBuffer, LPSTR* lplpSystem);
