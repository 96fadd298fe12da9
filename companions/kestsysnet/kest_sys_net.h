// The KestSysNet companion's interface, as the companion implements it and
// as its callers (the resolver, the host lookup) call it.
//
// The order of IKestSysNetNetwork is fixed: callers built against the
// original interface reach the two operations by their place in the function
// table: the IUnknown and IDispatch methods (0-6), reserved members (7-36),
// the DNS server getter (37), reserved members (38-45), the ARP lookup (46).
#pragma once

#include "platform/com/dispatch.h"
#include "platform/com/guid.h"

// The class id in the text form registry scripts use.
#define KESTSYSNET_NETWORK_CLSID_TEXT L"{F7808D00-B85D-4584-8255-A6E52B042FDE}"

inline constexpr CLSID CLSID_KestSysNetNetwork = {
    0xf7808d00, 0xb85d, 0x4584, {0x82, 0x55, 0xa6, 0xe5, 0x2b, 0x04, 0x2f, 0xde}};

#define KESTSYSNET_RESERVED(index) \
  STDMETHOD(Reserved##index)() { return E_NOTIMPL; }

// Reserved members answer E_NOTIMPL; they keep the two operations at their places.
struct IKestSysNetNetwork : IDispatch {
  KESTNET_INTERFACE_IID(0x01bb2f8b, 0xa412, 0x4c6b, 0xad, 0xc7, 0xaa, 0x6e, 0x77, 0xfa, 0xd1, 0xa4);
  KESTSYSNET_RESERVED(7) KESTSYSNET_RESERVED(8) KESTSYSNET_RESERVED(9) KESTSYSNET_RESERVED(10)
  KESTSYSNET_RESERVED(11) KESTSYSNET_RESERVED(12) KESTSYSNET_RESERVED(13) KESTSYSNET_RESERVED(14)
  KESTSYSNET_RESERVED(15) KESTSYSNET_RESERVED(16) KESTSYSNET_RESERVED(17) KESTSYSNET_RESERVED(18)
  KESTSYSNET_RESERVED(19) KESTSYSNET_RESERVED(20) KESTSYSNET_RESERVED(21) KESTSYSNET_RESERVED(22)
  KESTSYSNET_RESERVED(23) KESTSYSNET_RESERVED(24) KESTSYSNET_RESERVED(25) KESTSYSNET_RESERVED(26)
  KESTSYSNET_RESERVED(27) KESTSYSNET_RESERVED(28) KESTSYSNET_RESERVED(29) KESTSYSNET_RESERVED(30)
  KESTSYSNET_RESERVED(31) KESTSYSNET_RESERVED(32) KESTSYSNET_RESERVED(33) KESTSYSNET_RESERVED(34)
  KESTSYSNET_RESERVED(35) KESTSYSNET_RESERVED(36)
  // 37: the machine's IPv4 DNS servers, an array of VARIANT BSTRs.
  STDMETHOD(get_DNSServers)(VARIANT* pServers) = 0;
  KESTSYSNET_RESERVED(38) KESTSYSNET_RESERVED(39) KESTSYSNET_RESERVED(40) KESTSYSNET_RESERVED(41)
  KESTSYSNET_RESERVED(42) KESTSYSNET_RESERVED(43) KESTSYSNET_RESERVED(44) KESTSYSNET_RESERVED(45)
  // 46: the neighbour's hardware address for a dotted IPv4 address, as an
  // array of VARIANT BSTRs holding it, or an empty array when unknown.
  STDMETHOD(GetMACAddress)(BSTR ipAddress, VARIANT* pAddresses) = 0;

 protected:
  ~IKestSysNetNetwork() = default;
};

#undef KESTSYSNET_RESERVED

inline constexpr IID IID_IKestSysNetNetwork = IKestSysNetNetwork::kIid;
