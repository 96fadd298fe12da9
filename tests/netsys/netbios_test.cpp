// Netbios against the nmbd of the test LAN's servers, from the client's two
// adapters: adapter 0 on the first server's subnet, adapter 1 on the
// second's.
#include "platform/netbios/netbios.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "tests/support/samba_lan.h"

namespace {

using kestnet::testing::SambaLan;

// The call name as a Windows caller writes it: upper case, padded with
// spaces, the 16th byte the workstation service's suffix.
NCB FindNameNcb(const char* p_name, UCHAR p_lana, std::array<UCHAR, 3304>& p_buffer) {
  NCB ncb{};
  ncb.ncb_command = NCBFINDNAME;
  ncb.ncb_lana_num = p_lana;
  ncb.ncb_buffer = p_buffer.data();
  ncb.ncb_length = static_cast<WORD>(p_buffer.size());
  std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
  std::memcpy(ncb.ncb_callname, p_name, std::strlen(p_name));
  ncb.ncb_callname[NCBNAMSZ - 1] = 0;
  return ncb;
}

class NetbiosTest : public kestnet::testing::SambaLanTest {};

TEST_F(NetbiosTest, EnumeratesTheClientsAdaptersAndResetsOnlyThose) {
  LANA_ENUM lanas{};
  NCB ncb{};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  ncb.ncb_length = sizeof(lanas);
  ASSERT_EQ(Netbios(&ncb), NRC_GOODRET);
  EXPECT_EQ(ncb.ncb_retcode, NRC_GOODRET);
  ASSERT_EQ(lanas.length, 2);
  for (UCHAR lana : {UCHAR{0}, UCHAR{1}, UCHAR{2}}) {
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lana;
    EXPECT_EQ(Netbios(&reset), lana < 2 ? NRC_GOODRET : NRC_BRIDGE) << "adapter " << int{lana};
  }
}

struct FindNameCase {
  const char* name;
  UCHAR lana;
  const char* address;  // nullptr: not found there
  UCHAR failure = NRC_CMDTMO;  // the answer when not found
};

class NetbiosFindNameTest : public NetbiosTest, public ::testing::WithParamInterface<FindNameCase> {};

TEST_P(NetbiosFindNameTest, FindsANameOnItsSubnetOnly) {
  const FindNameCase& test = GetParam();
  std::array<UCHAR, 3304> buffer{};
  NCB ncb = FindNameNcb(test.name, test.lana, buffer);
  const UCHAR result = Netbios(&ncb);
  if (test.address == nullptr) {
    EXPECT_EQ(result, test.failure);
    return;
  }
  ASSERT_EQ(result, NRC_GOODRET) << SambaLan::Instance().ReadLogs();
  FIND_NAME_HEADER header{};
  std::memcpy(&header, buffer.data(), sizeof(header));
  ASSERT_EQ(header.node_count, 1);
  EXPECT_EQ(header.unique_group, 0);
  FIND_NAME_BUFFER entry{};
  std::memcpy(&entry, buffer.data() + sizeof(header), sizeof(entry));
  std::array<UCHAR, 6> expected{};
  inet_pton(AF_INET, test.address, &expected[2]);
  EXPECT_EQ(std::memcmp(entry.source_addr, expected.data(), expected.size()), 0);
  EXPECT_EQ(ncb.ncb_length, sizeof(header) + sizeof(entry));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NetbiosFindNameTest,
    ::testing::Values(FindNameCase{SambaLan::kFirstServer.name, 0, SambaLan::kFirstServer.address},
                      FindNameCase{SambaLan::kFirstServer.name, 1, nullptr},
                      FindNameCase{SambaLan::kSecondServer.name, 1, SambaLan::kSecondServer.address},
                      FindNameCase{SambaLan::kSecondServer.name, 0, nullptr},
                      FindNameCase{SambaLan::kUnknownName, 0, nullptr},
                      // The client has two adapters: a third is refused.
                      FindNameCase{SambaLan::kFirstServer.name, 2, nullptr, NRC_BRIDGE}));

}  // namespace
