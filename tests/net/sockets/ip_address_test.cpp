#include "net/sockets/ip_address.h"

#include <string>

#include <gtest/gtest.h>

namespace KestNet {
namespace {

class ValidAddressText : public ::testing::TestWithParam<const char*> {};
class InvalidAddressText : public ::testing::TestWithParam<const char*> {};

TEST_P(ValidAddressText, IsKeptAsGiven) {
  const IPAddress address{std::string(GetParam())};
  EXPECT_TRUE(address.IsValid());
  EXPECT_EQ(address.ToString(), GetParam());
  EXPECT_TRUE(IPAddress::IsValidAddress(GetParam()));
}

TEST_P(InvalidAddressText, LeavesTheAddressInvalid) {
  const IPAddress address{std::string(GetParam())};
  EXPECT_FALSE(address.IsValid());
  EXPECT_EQ(address.ToString(), "");
  EXPECT_FALSE(IPAddress::IsValidAddress(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(DottedQuads, ValidAddressText,
                         ::testing::Values("0.0.0.0", "127.0.0.1", "10.20.30.40",
                                           "255.255.255.255", "192.168.1.254"));
INSTANTIATE_TEST_SUITE_P(Malformed, InvalidAddressText,
                         ::testing::Values("", "1.2.3", "256.1.1.1", " 1.2.3.4", "1.2.3.4 ",
                                           "1.2.3.4.5", "host.example", "1.2.3.-4", "1.2.3.4/8"));

TEST(IPAddress, SettersGiveTheWellKnownAddresses) {
  IPAddress address;
  EXPECT_FALSE(address.IsValid());
  address.SetAnyAddress();
  EXPECT_EQ(address.ToString(), "0.0.0.0");
  address.SetLoopbackAddress();
  EXPECT_EQ(address.ToString(), "127.0.0.1");
}

TEST(IPAddress, OctetsAndNetworkOrderAgree) {
  IPAddress address;
  address.SetOctets(192, 168, 0, 7);
  EXPECT_EQ(address.ToString(), "192.168.0.7");
  BYTE first = 0, second = 0, third = 0, fourth = 0;
  ASSERT_TRUE(address.GetOctets(first, second, third, fourth));
  EXPECT_EQ(first, 192);
  EXPECT_EQ(second, 168);
  EXPECT_EQ(third, 0);
  EXPECT_EQ(fourth, 7);

  IPAddress copy;
  copy.Set(address.ToNetworkOrder());
  EXPECT_EQ(copy, address);
  // The first byte in memory is the first octet.
  const DWORD networkOrder = address.ToNetworkOrder();
  EXPECT_EQ(reinterpret_cast<const BYTE*>(&networkOrder)[0], 192);
  EXPECT_EQ(IPAddress::FormatAddress(networkOrder), "192.168.0.7");

  IPAddress invalid;
  EXPECT_FALSE(invalid.GetOctets(first, second, third, fourth));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(invalid.ToNetworkOrder(), 0u);
}

TEST(IPAddress, AllOnesFromNumberIsAValidAddress) {
  IPAddress address;
  address.Set(static_cast<DWORD>(0xFFFFFFFFu));
  EXPECT_TRUE(address.IsValid());
  EXPECT_EQ(address.ToString(), "255.255.255.255");
}

TEST(IPAddress, SettingBadTextInvalidatesInsteadOfKeepingTheOldAddress) {
  IPAddress address("10.0.0.1");
  EXPECT_FALSE(address.Set("10.0.0.256"));
  EXPECT_FALSE(address.IsValid());
  EXPECT_TRUE(address.Set("10.0.0.2"));
  EXPECT_EQ(address.ToString(), "10.0.0.2");
  IPAddress other;
  other.Set(address);
  EXPECT_EQ(other.ToString(), "10.0.0.2");
}

TEST(IPAddress, OrdersOctetByOctetWithTheFirstMostSignificant) {
  const IPAddress low("9.255.255.255");
  const IPAddress high("10.0.0.0");
  EXPECT_TRUE(high >= low);
  EXPECT_FALSE(high <= low);
  EXPECT_TRUE(low <= high);
  EXPECT_FALSE(low >= high);
  // Text order would say "10.0.0.2" < "9.0.0.1"; octet order does not.
  EXPECT_TRUE(IPAddress("10.0.0.2") >= IPAddress("9.0.0.1"));
  EXPECT_TRUE(IPAddress("1.2.3.4") >= IPAddress("1.2.3.4"));
  EXPECT_TRUE(IPAddress("1.2.3.4") <= IPAddress("1.2.3.4"));
  EXPECT_TRUE(IPAddress("1.2.3.4") != IPAddress("1.2.3.5"));
  EXPECT_TRUE(IPAddress() <= IPAddress("0.0.0.0"));
}

}  // namespace
}  // namespace KestNet
