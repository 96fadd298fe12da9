#include "platform/netbios/lan_adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace kestnet::platform::netbios {
namespace {

// LANA numbers are one byte, and 255 is no adapter.
constexpr std::size_t kMaximumAdapters = 255;

std::uint32_t AddressOf(const sockaddr* p_address) {
  return reinterpret_cast<const sockaddr_in*>(p_address)->sin_addr.s_addr;
}

bool CanCarryNetbios(const ifaddrs& p_interface) {
  const unsigned required = IFF_UP | IFF_BROADCAST;
  return p_interface.ifa_addr != nullptr && p_interface.ifa_addr->sa_family == AF_INET &&
         (p_interface.ifa_flags & required) == required && (p_interface.ifa_flags & IFF_LOOPBACK) == 0 &&
         p_interface.ifa_broadaddr != nullptr && AddressOf(p_interface.ifa_broadaddr) != 0;
}

}  // namespace

std::vector<LanAdapter> EnumerateLanAdapters() {
  std::vector<LanAdapter> adapters;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return adapters;
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (!CanCarryNetbios(*entry)) continue;
    const unsigned index = ::if_nametoindex(entry->ifa_name);
    const bool bKnown = std::any_of(adapters.begin(), adapters.end(),
                                    [&](const LanAdapter& p_adapter) { return p_adapter.interfaceIndex == index; });
    if (index == 0 || bKnown) continue;
    adapters.push_back({entry->ifa_name, index, AddressOf(entry->ifa_addr), AddressOf(entry->ifa_broadaddr)});
  }
  ::freeifaddrs(interfaces);
  std::stable_sort(adapters.begin(), adapters.end(), [](const LanAdapter& p_left, const LanAdapter& p_right) {
    return p_left.interfaceIndex < p_right.interfaceIndex;
  });
  if (adapters.size() > kMaximumAdapters) adapters.resize(kMaximumAdapters);
  return adapters;
}

}  // namespace kestnet::platform::netbios
