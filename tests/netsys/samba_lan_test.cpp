// The test LAN itself: what the other tests take for granted.
#include "tests/support/samba_lan.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/foreground_process.h"

namespace {

using kestnet::testing::SambaLan;

class SambaLanSelfTest : public kestnet::testing::SambaLanTest {};

// Libsmbclient and Samba's tools in this process read the client's
// configuration, not the machine's.
TEST_F(SambaLanSelfTest, TheProcessIsTheClient) {
  const std::string configuration = kestnet::testing::ReadTextFile("/etc/samba/smb.conf");
  EXPECT_NE(configuration.find(std::string("netbios name = ") + SambaLan::kClientName), std::string::npos)
      << configuration;
}

TEST_F(SambaLanSelfTest, BrowseListsForm) {
  std::string error;
  EXPECT_TRUE(Lan().WaitForBrowseList(SambaLan::kBrowseListBound, error)) << error << Lan().ReadLogs();
}

}  // namespace
