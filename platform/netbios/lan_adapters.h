// The LAN adapters NetBIOS runs on: the machine's IPv4 interfaces that are
// up and can broadcast (loopback and point-to-point links cannot), one per
// interface (its first address), ordered by interface index. The position in
// the list is the adapter's LANA number, so the numbering stays the same as
// long as the interfaces do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestnet::platform::netbios {

struct LanAdapter {
  std::string interfaceName;
  unsigned interfaceIndex = 0;
  std::uint32_t address = 0;    // network byte order
  std::uint32_t broadcast = 0;  // the subnet's broadcast address, network byte order
};

std::vector<LanAdapter> EnumerateLanAdapters();

}  // namespace kestnet::platform::netbios
