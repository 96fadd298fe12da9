// What the KestSysNet companion reads from the machine: the DNS servers of
// the resolver configuration and the neighbour (ARP) table. No COM here, so
// the readers are tested on their own.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestnet::companions {

// The files read, overridable for tests and for machines that keep them
// elsewhere: KESTNET_RESOLV_CONF, KESTNET_ARP_TABLE.
std::string ResolverConfigurationPath();
std::string NeighbourTablePath();

// The IPv4 "nameserver" entries of a resolv.conf text, in file order,
// without repeats. IPv6 entries, comments and malformed lines are skipped.
std::vector<std::string> ParseNameServers(const std::string& p_text);
// The same, read from a file; empty when it cannot be read.
std::vector<std::string> ReadNameServers(const std::string& p_path);

// The hardware address of a complete entry for p_ipAddress in a
// /proc/net/arp text, as "aa:bb:cc:dd:ee:ff" (lower case), or nothing.
std::optional<std::string> FindNeighbourAddress(const std::string& p_text, const std::string& p_ipAddress);
std::optional<std::string> LookupNeighbourAddress(const std::string& p_path, const std::string& p_ipAddress);

// Whether p_text is a dotted IPv4 address (four decimal parts 0-255).
bool IsDottedIPv4(const std::string& p_text);

}  // namespace kestnet::companions
