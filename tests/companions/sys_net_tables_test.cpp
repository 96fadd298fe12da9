// The companion's readers of the resolver configuration and the neighbour table.
#include <fstream>

#include <gtest/gtest.h>

#include "companions/kestsysnet/sys_net_tables.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::companions {
namespace {

TEST(SysNetTablesTest, NameServersAreTheIPv4EntriesInOrderWithoutRepeats) {
  const std::string text =
      "# generated\n"
      "search example.test\n"
      "nameserver 10.0.0.53\n"
      "nameserver fe80::1\n"
      "nameserver   192.168.1.1   # home router\n"
      ";nameserver 10.9.9.9\n"
      "nameserver 10.0.0.53\n"
      "nameserver 300.1.1.1\n"
      "nameserver 1.2.3\n"
      "nameserver\n"
      "options ndots:2\n"
      "nameserver 127.0.0.53";
  EXPECT_EQ(ParseNameServers(text), (std::vector<std::string>{"10.0.0.53", "192.168.1.1", "127.0.0.53"}));
  EXPECT_TRUE(ParseNameServers("").empty());
}

TEST(SysNetTablesTest, AMissingConfigurationGivesNoServers) {
  kestnet::testing::TemporaryDirectory directory("kestnet-sysnet-XXXXXX");
  EXPECT_TRUE(ReadNameServers((directory.Path() / "absent.conf").string()).empty());
}

TEST(SysNetTablesTest, PathsFollowTheEnvironment) {
  ::setenv("KESTNET_RESOLV_CONF", "elsewhere.conf", 1);
  ::setenv("KESTNET_ARP_TABLE", "", 1);
  EXPECT_EQ(ResolverConfigurationPath(), "elsewhere.conf");
  EXPECT_EQ(NeighbourTablePath(), "/proc/net/arp");
  ::unsetenv("KESTNET_RESOLV_CONF");
  ::unsetenv("KESTNET_ARP_TABLE");
  EXPECT_EQ(ResolverConfigurationPath(), "/etc/resolv.conf");
}

TEST(SysNetTablesTest, OnlyCompleteNeighboursOfTheExactAddressAreAnswered) {
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "10.0.0.1         0x1         0x2         AA:BB:cc:dd:ee:01     *        eth0\n"
      "10.0.0.2         0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "10.0.0.3         0x1         0x6         aa:bb:cc:dd:ee:03     *        eth0\n"
      "10.0.0.4         0x1         0x2         not-an-address        *        eth0\n"
      "10.0.0.10        0x1         0x2         aa:bb:cc:dd:ee:10     *        eth0\n";
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0.1"), "aa:bb:cc:dd:ee:01");
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0.2"), std::nullopt);  // incomplete
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0.3"), "aa:bb:cc:dd:ee:03");
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0.4"), std::nullopt);
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0.5"), std::nullopt);
  EXPECT_EQ(FindNeighbourAddress(table, "10.0.0"), std::nullopt);
  // The header line is never an entry.
  EXPECT_EQ(FindNeighbourAddress(table, "IP"), std::nullopt);
}

TEST(SysNetTablesTest, DottedAddressesAreFourPartsUpTo255) {
  EXPECT_TRUE(IsDottedIPv4("0.0.0.0"));
  EXPECT_TRUE(IsDottedIPv4("255.255.255.255"));
  EXPECT_FALSE(IsDottedIPv4("256.0.0.1"));
  EXPECT_FALSE(IsDottedIPv4("1.2.3.4.5"));
  EXPECT_FALSE(IsDottedIPv4("1..3.4"));
  EXPECT_FALSE(IsDottedIPv4("1.2.3.4 "));
  EXPECT_FALSE(IsDottedIPv4("1.2.3.0004"));
  EXPECT_FALSE(IsDottedIPv4(""));
}

}  // namespace
}  // namespace kestnet::companions
