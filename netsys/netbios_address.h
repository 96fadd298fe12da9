// A NetBIOS name's IPv4 and MAC address: a find-name query on every LAN
// adapter in turn, the first answer whose source is an IP address winning.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestMT {
class Thread;
}

namespace KestNet {

// Fills p_cstrwIPAddress and p_cstrwMACAddress for p_strName (leading
// backslashes ignored; the first 15 characters count). Checks p_pThread for
// an abort before each adapter (ThreadAbortException); throws
// InternalGetHostInfoException_HostNotFound when no adapter found the name
// and Win32ErrorException when the adapters cannot be enumerated.
void GetAddressFromNetbios(const std::string& p_strName, KestMT::Thread* p_pThread,
                           std::wstring& p_cstrwIPAddress, std::wstring& p_cstrwMACAddress);

// The IP text of a 6-byte NetBIOS source address (an IP address only when
// its first two bytes are zero) and the neighbour's MAC as the KestSysNet
// companion reports it. False when the address is no IP address or the
// companion is missing; throws HRESULTException or InvalidObjectException
// when the companion fails or answers nonsense. The MAC is left unchanged
// when the companion does not know the neighbour.
bool ConvertToIPAddress(const BYTE (&p_abySourceAddress)[6], std::wstring& p_cstrwIPAddress,
                        std::wstring& p_cstrwMACAddress);

}  // namespace KestNet
