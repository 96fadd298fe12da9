// This machine's name on the Windows network (winbase.h pieces): the NetBIOS
// name of the machine's Samba configuration ("netbios name"), else the host
// name up to its first dot, upper-cased and cut to 15 characters as NetBIOS
// names are. Its workgroup comes from NetGetJoinInformation (net_api.h).
#pragma once

#include "platform/os/win_types.h"

constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// *nSize is the buffer's size in characters. On success the name and its
// terminating zero are written and *nSize becomes the name's length without
// the zero. A buffer too small: FALSE with ERROR_BUFFER_OVERFLOW and *nSize
// set to the size needed including the zero. Null pointers:
// ERROR_INVALID_PARAMETER.
BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
