// The network neighbourhood of the test LAN: the listings the browse lists
// give, and share questions about this computer's own shares. What the
// servers answer about theirs is tested end to end in
// windows_network_scripts_test.cpp.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netsys/net_neighborhood.h"
#include "platform/os/version.h"
#include "runtime/exceptions.h"
#include "tests/netsys/netsys_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/samba_lan.h"
#include "tests/support/temporary_directory.h"

namespace {

using kestnet::netsys::testing::RecordingNetworkListener;
using kestnet::testing::SambaLan;
using namespace KestSys;

std::wstring Wide(const std::string& p_text) { return KestUtilsLib::StringConversion::ConvertUTF8ToCAtlStringW(p_text); }

const std::wstring kThisComputer = Wide(std::string("\\\\") + SambaLan::kClientName);

// A listing's names as a set: the browse lists do not promise an order.
std::set<std::string> Names(const std::string& p_record, DWORD p_dwListType) {
  const std::string prefix = std::to_string(p_dwListType) + ":";
  EXPECT_EQ(p_record.compare(0, prefix.size(), prefix), 0) << p_record;
  std::set<std::string> names;
  std::string rest = p_record.substr(prefix.size());
  for (size_t start = 0; start < rest.size();) {
    const size_t comma = std::min(rest.find(',', start), rest.size());
    names.insert(rest.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

class NetNeighborhoodTest : public kestnet::testing::SambaLanTest {
 protected:
  void SetUp() override {
    SambaLanTest::SetUp();
    if (IsSkipped()) return;
    std::string error;
    ASSERT_TRUE(Lan().WaitForBrowseList(SambaLan::kBrowseListBound, error)) << error;
  }

  std::set<std::string> Listed(DWORD p_dwListType) {
    const std::vector<std::string> records = m_listener.records.TakeNext(1);
    return records.size() == 1 ? Names(records.front(), p_dwListType) : std::set<std::string>{};
  }

  static std::string Share(const char* p_szShare) {
    return std::string("\\\\") + SambaLan::kFirstServer.name + "\\" + p_szShare;
  }

  RecordingNetworkListener m_listener;
  CNetNeighborhood m_neighborhood;
};

TEST_F(NetNeighborhoodTest, ListsWorkgroupsComputersAndShares) {
  // The client's master browser lists both subnets' workgroups, and nothing
  // without a name.
  ASSERT_TRUE(m_neighborhood.GetNetworkWorkgroups(&m_listener));
  EXPECT_EQ(Listed(kListTypeWorkgroups),
            (std::set<std::string>{SambaLan::kFirstServer.workgroup, SambaLan::kSecondServer.workgroup}));

  const std::set<std::string> firstWorkgroupComputers{std::string("\\\\") + SambaLan::kFirstServer.name};
  // The workgroup matches without regard to case; no name is this machine's.
  ASSERT_TRUE(m_neighborhood.GetNetworkComputers(L"kestlan", &m_listener));
  EXPECT_EQ(Listed(kListTypeComputers), firstWorkgroupComputers);
  ASSERT_TRUE(m_neighborhood.GetNetworkComputers(L"", &m_listener));
  EXPECT_EQ(Listed(kListTypeComputers), firstWorkgroupComputers);

  ASSERT_TRUE(m_neighborhood.GetFileShareList(Wide(SambaLan::kFirstServer.workgroup), &m_listener));
  EXPECT_EQ(Listed(kListTypeFileShares),
            (std::set<std::string>{Share(SambaLan::kReadOnlyShare), Share(SambaLan::kWritableShare),
                                   Share(SambaLan::kUserShare)}));
  ASSERT_TRUE(m_neighborhood.GetPrinterShareList(Wide(SambaLan::kFirstServer.workgroup), &m_listener));
  EXPECT_EQ(Listed(kListTypePrinterShares), std::set<std::string>{Share(SambaLan::kPrinterShare)});
}

// This computer's shares are looked up in its own share table when it is
// named by an empty name or by its exact name; the table answers for the
// client's smbd, which no other machine can reach by name.
TEST_F(NetNeighborhoodTest, FileShareExistsAsksThisComputersShareTable) {
  // Only a question asked over the network names the share's UNC path.
  const auto asksNetwork = [](const std::vector<std::string>& p_lines) {
    return std::any_of(p_lines.begin(), p_lines.end(),
                       [](const std::string& p_line) { return p_line.find("FilePath is") != std::string::npos; });
  };
  kestnet::testing::LogCapture log("CNetNeighborhood");
  for (const std::wstring& computerName : {std::wstring(), kThisComputer}) {
    SCOPED_TRACE(kestnet::netsys::testing::Narrow(computerName));
    EXPECT_TRUE(m_neighborhood.FileShareExists(computerName, Wide(SambaLan::kLocalShare)));
    EXPECT_FALSE(m_neighborhood.FileShareExists(computerName, L"nosuchshare"));
  }
  EXPECT_FALSE(asksNetwork(log.Take()));
  // The name in another case is some other computer's.
  m_neighborhood.FileShareExists(L"\\\\kestclient", Wide(SambaLan::kLocalShare));
  EXPECT_TRUE(asksNetwork(log.Take()));
}

// Windows 9x answers for its own shares from its server API, which this
// system does not have.
TEST(NetNeighborhoodVersionTest, PermissionOnThisComputerUnderWindows9xNeedsItsServerApi) {
  kestnet::testing::TemporaryHome home;
  kestnet::platform::VersionProfile windows98;
  windows98.MajorVersion = 4;
  windows98.MinorVersion = 10;
  windows98.BuildNumber = 2222;
  windows98.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
  windows98.CSDVersion = "";
  ASSERT_EQ(kestnet::platform::WriteVersionProfile(windows98), 0U);
  CNetNeighborhood neighborhood;
  LONG lPermissions = -1;
  EXPECT_THROW(neighborhood.FileSharePermission(L"", Wide(SambaLan::kLocalShare), &lPermissions),
               FPSLoadLibraryException);
  EXPECT_EQ(lPermissions, FS_UNKNOWN);
}

TEST(NetNeighborhoodArgumentsTest, RefusesMalformedComputerNamesAndMissingArguments) {
  CNetNeighborhood neighborhood;
  LONG lPermissions = 0;
  DWORD dwError = 0;
  for (const wchar_t* computerName : {L"S", L"\\\\", L"SERVER", L"\\SERVER", L"//SERVER"}) {
    SCOPED_TRACE(KestUtilsLib::StringConversion::ConvertCAtlStringWToUTF8(computerName));
    EXPECT_THROW(neighborhood.FileSharePermission(computerName, L"share", &lPermissions),
                 KestBase::InvalidParameterException);
    EXPECT_THROW(neighborhood.CopyFileToShare(L"/tmp/file", computerName, L"share", &dwError),
                 KestBase::InvalidParameterException);
  }
  EXPECT_THROW(neighborhood.FileSharePermission(L"\\\\SERVER", L"", &lPermissions), KestBase::InvalidParameterException);
  EXPECT_THROW(neighborhood.FileSharePermission(L"\\\\SERVER", L"share", nullptr), KestBase::InvalidParameterException);
  EXPECT_THROW(neighborhood.GetNetworkWorkgroups(nullptr), KestBase::InvalidParameterException);
}

}  // namespace
