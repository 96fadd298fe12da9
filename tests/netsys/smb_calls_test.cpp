// The Win32 calls of platform/smb against the test LAN's Samba servers: what
// Netapi32, MPR and the file calls answer for the servers, their shares and
// the failures a Windows client would meet.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/smb/computer_name.h"
#include "platform/smb/file_calls.h"
#include "platform/smb/net_api.h"
#include "platform/smb/wnet.h"
#include "tests/support/samba_lan.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;
constexpr const SambaServer& kServer = SambaLan::kFirstServer;

std::string Unc(const char* p_share, const std::string& p_file = {}) {
  std::string path = std::string("\\\\") + kServer.name + "\\" + p_share;
  return p_file.empty() ? path : path + "\\" + p_file;
}

std::wstring Wide(const std::string& p_text) { return std::wstring(p_text.begin(), p_text.end()); }

// One entry as a test compares it; the strings are copied out of the
// caller's buffer, and each must have pointed inside it.
struct Resource {
  std::string remoteName;
  DWORD type;
  DWORD displayType;
  DWORD usage;
  std::string comment;
};

// Every entry below p_parent (null: the top), or the failing result.
DWORD Enumerate(NETRESOURCEA* p_parent, DWORD p_type, std::vector<Resource>& p_entries) {
  p_entries.clear();
  HANDLE handle = nullptr;
  if (const DWORD result = WNetOpenEnumA(RESOURCE_GLOBALNET, p_type, 0, p_parent, &handle); result != NO_ERROR) {
    return result;
  }
  alignas(NETRESOURCEA) char buffer[16384];
  DWORD result = NO_ERROR;
  for (;;) {
    DWORD count = 0xFFFFFFFF;
    DWORD size = sizeof buffer;
    result = WNetEnumResourceA(handle, &count, buffer, &size);
    if (result != NO_ERROR) break;
    const auto* records = reinterpret_cast<const NETRESOURCEA*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
      const NETRESOURCEA& record = records[i];
      EXPECT_TRUE(record.lpRemoteName >= buffer && record.lpRemoteName < buffer + sizeof buffer);
      EXPECT_EQ(RESOURCE_GLOBALNET, record.dwScope);
      EXPECT_STREQ(kWindowsNetworkProvider, record.lpProvider);
      p_entries.push_back({record.lpRemoteName, record.dwType, record.dwDisplayType, record.dwUsage,
                           record.lpComment != nullptr ? record.lpComment : ""});
    }
  }
  EXPECT_EQ(static_cast<DWORD>(NO_ERROR), WNetCloseEnum(handle));
  return result == ERROR_NO_MORE_ITEMS ? NO_ERROR : result;
}

const Resource* Find(const std::vector<Resource>& p_entries, const std::string& p_name) {
  for (const Resource& entry : p_entries) {
    if (entry.remoteName == p_name) return &entry;
  }
  return nullptr;
}

NETRESOURCEA Container(const std::string& p_name, DWORD p_displayType) {
  NETRESOURCEA resource{};
  resource.dwScope = RESOURCE_GLOBALNET;
  resource.dwDisplayType = p_displayType;
  resource.dwUsage = RESOURCEUSAGE_CONTAINER;
  resource.lpRemoteName = const_cast<char*>(p_name.c_str());
  return resource;
}

using SmbCallsTest = SambaLanTest;

TEST_F(SmbCallsTest, NetServerGetInfoDescribesTheSambaServer) {
  LPBYTE buffer = nullptr;
  const std::wstring name = Wide(std::string("\\\\") + kServer.name);
  ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetServerGetInfo(const_cast<LPWSTR>(name.c_str()), 101, &buffer));
  const auto* info = reinterpret_cast<const SERVER_INFO_101*>(buffer);
  EXPECT_EQ(PLATFORM_ID_NT, info->sv101_platform_id);
  EXPECT_EQ(6u, info->sv101_version_major);
  EXPECT_EQ(1u, info->sv101_version_minor);
  const DWORD unixFileServer = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_UNIX | SV_TYPE_NT | SV_TYPE_SERVER_NT;
  EXPECT_EQ(unixFileServer, info->sv101_type & unixFileServer);
  EXPECT_EQ(0u, info->sv101_type & (SV_TYPE_WINDOWS | SV_TYPE_AFP));
  EXPECT_EQ(Wide(kServer.comment), info->sv101_comment);
  EXPECT_EQ(Wide(kServer.name), info->sv101_name);
  EXPECT_EQ(static_cast<DWORD>(NERR_Success), NetApiBufferFree(buffer));
}

TEST_F(SmbCallsTest, NetServerGetInfoOfAnUnknownServerIsABadNetworkPath) {
  LPBYTE buffer = reinterpret_cast<LPBYTE>(&buffer);
  const std::wstring name = Wide(std::string("\\\\") + SambaLan::kUnknownName);
  EXPECT_EQ(ERROR_BAD_NETPATH, NetServerGetInfo(const_cast<LPWSTR>(name.c_str()), 101, &buffer));
  EXPECT_EQ(nullptr, buffer);
}

// This machine's shares are its own smbd's, asked by no name or its own
// name; the folder comes back as a path of this machine.
TEST_F(SmbCallsTest, NetShareGetInfoAnswersForThisMachinesShares) {
  std::wstring share = Wide(SambaLan::kLocalShare);
  for (const std::wstring& server : {std::wstring(), Wide(std::string("\\\\") + SambaLan::kClientName)}) {
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<DWORD>(NERR_Success),
              NetShareGetInfo(const_cast<LPWSTR>(server.c_str()), share.data(), 2, &buffer));
    const auto* info = reinterpret_cast<const SHARE_INFO_2*>(buffer);
    EXPECT_EQ(share, info->shi2_netname);
    EXPECT_EQ(STYPE_DISKTREE, info->shi2_type);
    EXPECT_EQ(Wide(SambaLan::kLocalShareComment), info->shi2_remark);
    EXPECT_EQ(Lan().LocalSharePath().wstring(), info->shi2_path);
    EXPECT_EQ(nullptr, info->shi2_passwd);
    NetApiBufferFree(buffer);
  }
  struct Refusal {
    const wchar_t* share;
    DWORD level;
    NET_API_STATUS expected;
  } const refusals[] = {{L"nosuchshare", 2, NERR_NetNameNotFound},
                        {L"bad/name", 2, ERROR_INVALID_NAME},
                        {share.c_str(), 3, ERROR_INVALID_LEVEL}};
  for (const Refusal& refusal : refusals) {
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&buffer);
    EXPECT_EQ(refusal.expected,
              NetShareGetInfo(nullptr, const_cast<LPWSTR>(refusal.share), refusal.level, &buffer)) << refusal.level;
    EXPECT_EQ(nullptr, buffer);
  }
}

// A master browser answers some 20 s after the servers start, and its list
// fills in as the servers announce themselves: until then a level fails or
// lists nothing. Polled within the LAN's bound.
template <typename Ready>
bool PollBrowseLists(Ready p_ready) {
  const auto deadline = std::chrono::steady_clock::now() + SambaLan::kBrowseListBound;
  while (!p_ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return true;
}

TEST_F(SmbCallsTest, BrowsesWorkgroupsServersAndSharesWithWindowsDisplayTypes) {
  std::string why;
  ASSERT_TRUE(Lan().WaitForBrowseList(SambaLan::kBrowseListBound, why)) << why;

  std::vector<Resource> top;
  ASSERT_EQ(static_cast<DWORD>(NO_ERROR), Enumerate(nullptr, RESOURCETYPE_ANY, top));
  ASSERT_EQ(1u, top.size());
  EXPECT_EQ(kWindowsNetworkProvider, top[0].remoteName);
  EXPECT_EQ(RESOURCEDISPLAYTYPE_NETWORK, top[0].displayType);
  EXPECT_EQ(RESOURCEUSAGE_CONTAINER, top[0].usage);

  // The workgroups of both subnets, as the client's master browser knows them.
  NETRESOURCEA provider = Container(top[0].remoteName, RESOURCEDISPLAYTYPE_NETWORK);
  std::vector<Resource> workgroups;
  ASSERT_TRUE(PollBrowseLists([&] {
    return Enumerate(&provider, RESOURCETYPE_ANY, workgroups) == NO_ERROR &&
           Find(workgroups, kServer.workgroup) != nullptr &&
           Find(workgroups, SambaLan::kSecondServer.workgroup) != nullptr;
  }));
  for (const Resource& workgroup : workgroups) {
    EXPECT_EQ(RESOURCEDISPLAYTYPE_DOMAIN, workgroup.displayType) << workgroup.remoteName;
    EXPECT_EQ(RESOURCEUSAGE_CONTAINER, workgroup.usage) << workgroup.remoteName;
  }

  const std::string workgroupName = kServer.workgroup;
  NETRESOURCEA workgroup = Container(workgroupName, RESOURCEDISPLAYTYPE_DOMAIN);
  const std::string serverName = std::string("\\\\") + kServer.name;
  std::vector<Resource> servers;
  ASSERT_TRUE(PollBrowseLists([&] {
    return Enumerate(&workgroup, RESOURCETYPE_ANY, servers) == NO_ERROR && Find(servers, serverName) != nullptr;
  }));
  const Resource* server = Find(servers, serverName);
  EXPECT_EQ(RESOURCEDISPLAYTYPE_SERVER, server->displayType);
  EXPECT_EQ(RESOURCEUSAGE_CONTAINER, server->usage);
  EXPECT_EQ(kServer.comment, server->comment);
  EXPECT_EQ(nullptr, Find(servers, std::string("\\\\") + SambaLan::kSecondServer.name));

  // Shares, as each resource type asks for them: hidden ones and IPC never.
  struct Expected {
    DWORD requested;
    std::vector<std::pair<const char*, DWORD>> shares;
  };
  const Expected cases[] = {
      {RESOURCETYPE_ANY,
       {{SambaLan::kReadOnlyShare, RESOURCETYPE_DISK},
        {SambaLan::kWritableShare, RESOURCETYPE_DISK},
        {SambaLan::kUserShare, RESOURCETYPE_DISK},
        {SambaLan::kPrinterShare, RESOURCETYPE_PRINT}}},
      {RESOURCETYPE_DISK,
       {{SambaLan::kReadOnlyShare, RESOURCETYPE_DISK},
        {SambaLan::kWritableShare, RESOURCETYPE_DISK},
        {SambaLan::kUserShare, RESOURCETYPE_DISK}}},
      {RESOURCETYPE_PRINT, {{SambaLan::kPrinterShare, RESOURCETYPE_PRINT}}},
  };
  NETRESOURCEA serverResource = Container(serverName, RESOURCEDISPLAYTYPE_SERVER);
  for (const Expected& expected : cases) {
    SCOPED_TRACE(expected.requested);
    std::vector<Resource> shares;
    ASSERT_EQ(static_cast<DWORD>(NO_ERROR), Enumerate(&serverResource, expected.requested, shares));
    ASSERT_EQ(expected.shares.size(), shares.size());
    for (const auto& [name, type] : expected.shares) {
      const Resource* share = Find(shares, Unc(name));
      ASSERT_NE(nullptr, share) << name;
      EXPECT_EQ(type, share->type);
      EXPECT_EQ(RESOURCEDISPLAYTYPE_SHARE, share->displayType);
      EXPECT_EQ(RESOURCEUSAGE_CONNECTABLE, share->usage);
      // The printer is the server's CUPS queue, described as CUPS describes it.
      if (type == RESOURCETYPE_PRINT) {
        EXPECT_EQ(SambaLan::kPrinterComment, share->comment);
      }
    }
  }
}

TEST_F(SmbCallsTest, EnumerationAsksForRoomWhenNotEvenOneEntryFits) {
  const std::string serverName = std::string("\\\\") + kServer.name;
  NETRESOURCEA server = Container(serverName, RESOURCEDISPLAYTYPE_SERVER);
  HANDLE handle = nullptr;
  ASSERT_EQ(static_cast<DWORD>(NO_ERROR), WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_PRINT, 0, &server, &handle));
  alignas(NETRESOURCEA) char buffer[512];
  DWORD count = 0xFFFFFFFF;
  DWORD size = sizeof(NETRESOURCEA);
  ASSERT_EQ(ERROR_MORE_DATA, WNetEnumResourceA(handle, &count, buffer, &size));
  ASSERT_GT(size, sizeof(NETRESOURCEA));
  ASSERT_LE(size, sizeof buffer);
  count = 0xFFFFFFFF;
  ASSERT_EQ(static_cast<DWORD>(NO_ERROR), WNetEnumResourceA(handle, &count, buffer, &size));
  EXPECT_EQ(1u, count);
  EXPECT_STREQ(Unc(SambaLan::kPrinterShare).c_str(), reinterpret_cast<NETRESOURCEA*>(buffer)->lpRemoteName);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, WNetEnumResourceA(handle, &count, buffer, &size));
  EXPECT_EQ(static_cast<DWORD>(NO_ERROR), WNetCloseEnum(handle));
  EXPECT_EQ(ERROR_INVALID_HANDLE, WNetCloseEnum(handle));
}

// What WNetGetResourceInformationA and a copy to the share answer, by share.
struct ShareCase {
  const char* label;
  std::string server;
  const char* share;
  DWORD information;  // WNetGetResourceInformationA's result
  DWORD copy;         // CopyFileA's last error, NO_ERROR when it succeeds
};

class ShareAnswers : public SambaLanTest, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(ShareAnswers, AsWindowsDoes) {
  const ShareCase& share = GetParam();
  const std::string remote = "\\\\" + share.server + "\\" + share.share;
  NETRESOURCEA request{};
  request.dwScope = RESOURCE_GLOBALNET;
  request.dwType = RESOURCETYPE_DISK;
  request.lpRemoteName = const_cast<char*>(remote.c_str());
  std::vector<char> buffer(48);
  DWORD size = static_cast<DWORD>(buffer.size());
  LPSTR system = nullptr;
  DWORD result = WNetGetResourceInformationA(&request, buffer.data(), &size, &system);
  if (result == ERROR_MORE_DATA) {
    buffer.resize(size);
    result = WNetGetResourceInformationA(&request, buffer.data(), &size, &system);
  }
  EXPECT_EQ(share.information, result);
  if (result == NO_ERROR) {
    const auto* resource = reinterpret_cast<const NETRESOURCEA*>(buffer.data());
    EXPECT_EQ(RESOURCETYPE_DISK, resource->dwType);
    EXPECT_EQ(RESOURCEDISPLAYTYPE_SHARE, resource->dwDisplayType);
    EXPECT_EQ(nullptr, system);
  }

  TemporaryDirectory scratch("kestnet-smb-XXXXXX");
  const std::string source = (scratch.Path() / "scratch.txt").string();
  std::ofstream(source) << "scratch";
  const std::string target = remote + "\\" + share.label + ".txt";
  SetLastError(NO_ERROR);
  const BOOL copied = CopyFileA(source.c_str(), target.c_str(), FALSE);
  EXPECT_EQ(share.copy, copied ? NO_ERROR : GetLastError());
  if (copied) {
    EXPECT_TRUE(DeleteFileA(target.c_str()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shares, ShareAnswers,
    ::testing::Values(
        ShareCase{"ReadOnly", kServer.name, SambaLan::kReadOnlyShare, NO_ERROR, ERROR_ACCESS_DENIED},
        ShareCase{"Writable", kServer.name, SambaLan::kWritableShare, NO_ERROR, NO_ERROR},
        ShareCase{"UserOnly", kServer.name, SambaLan::kUserShare, NO_ERROR, ERROR_NETWORK_ACCESS_DENIED},
        ShareCase{"Missing", kServer.name, "nosuchshare", ERROR_BAD_NET_NAME, ERROR_BAD_NET_NAME},
        ShareCase{"UnknownServer", SambaLan::kUnknownName, SambaLan::kWritableShare, ERROR_BAD_NETPATH,
                  ERROR_BAD_NETPATH}),
    [](const ::testing::TestParamInfo<ShareCase>& p_info) { return std::string(p_info.param.label); });

TEST_F(SmbCallsTest, WritableShareTakesACopyListsItAndDeletesIt) {
  TemporaryDirectory scratch("kestnet-smb-XXXXXX");
  const std::string source = (scratch.Path() / "report.txt").string();
  std::ofstream(source) << "twelve bytes";
  const std::string target = Unc(SambaLan::kWritableShare, "Report.txt");
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), TRUE)) << GetLastError();
  EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE));
  EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());

  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(Unc(SambaLan::kWritableShare, "*.TXT").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find) << GetLastError();
  std::vector<std::string> names{data.cFileName};
  EXPECT_EQ(12u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  while (FindNextFileA(find, &data)) names.emplace_back(data.cFileName);
  EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(std::vector<std::string>{"Report.txt"}, names);
  EXPECT_TRUE(fs::exists(Lan().SharePath(kServer, SambaLan::kWritableShare) / "Report.txt"));

  ASSERT_TRUE(DeleteFileA(target.c_str())) << GetLastError();
  EXPECT_FALSE(DeleteFileA(target.c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(Unc(SambaLan::kWritableShare, "*.txt").c_str(), &data));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(Unc(SambaLan::kWritableShare, "nofolder\\*").c_str(), &data));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(SmbCallsTest, ComputerNameAndWorkgroupComeFromTheSambaConfiguration) {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = 3;
  ASSERT_FALSE(GetComputerNameW(name, &size));
  EXPECT_EQ(ERROR_BUFFER_OVERFLOW, GetLastError());
  EXPECT_EQ(std::char_traits<char>::length(SambaLan::kClientName) + 1, size);
  size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(name, &size));
  EXPECT_EQ(Wide(SambaLan::kClientName), name);

  LPWSTR workgroup = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  ASSERT_EQ(static_cast<DWORD>(NERR_Success), NetGetJoinInformation(nullptr, &workgroup, &status));
  EXPECT_EQ(NetSetupWorkgroupName, status);
  EXPECT_EQ(Wide(SambaLan::kClientWorkgroup), workgroup);
  NetApiBufferFree(workgroup);
}

// Local paths need no LAN.
TEST(SmbLocalFileCalls, TempFileNamesAreUniqueEmptyFiles) {
  TemporaryDirectory folder("kestnet-smb-XXXXXX");
  char first[MAX_PATH];
  char second[MAX_PATH];
  const UINT firstNumber = GetTempFileNameA(folder.Path().c_str(), "abcd", 0, first);
  const UINT secondNumber = GetTempFileNameA(folder.Path().c_str(), "abcd", 0, second);
  ASSERT_NE(0u, firstNumber);
  ASSERT_NE(0u, secondNumber);
  EXPECT_STRNE(first, second);
  for (const char* name : {first, second}) {
    EXPECT_EQ(0u, fs::file_size(name)) << name;
    EXPECT_EQ(0u, fs::path(name).filename().string().rfind("abc", 0)) << name;
    EXPECT_EQ(folder.Path(), fs::path(name).parent_path());
  }
  // A given number only makes the name.
  char named[MAX_PATH];
  EXPECT_EQ(0x1234u, GetTempFileNameA(folder.Path().c_str(), "x", 0x1234, named));
  EXPECT_EQ((folder.Path() / "x1234.tmp").string(), named);
  EXPECT_FALSE(fs::exists(named));

  EXPECT_EQ(0u, GetTempFileNameA((folder.Path() / "missing").c_str(), "a", 0, named));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST(SmbLocalFileCalls, FindMatchesWindowsWildcardsWithoutRegardToCase) {
  TemporaryDirectory folder("kestnet-smb-XXXXXX");
  for (const char* name : {"Alpha.TXT", "beta", "gamma.txt.bak"}) std::ofstream(folder.Path() / name) << name;
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"*.txt", {"Alpha.TXT"}},
      {"*.*", {".", "..", "Alpha.TXT", "beta", "gamma.txt.bak"}},
      {"?ETA", {"beta"}},
      {"*a*.b?k", {"gamma.txt.bak"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA((folder.Path() / c.pattern).c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find) << GetLastError();
    std::vector<std::string> names{data.cFileName};
    while (FindNextFileA(find, &data)) names.emplace_back(data.cFileName);
    FindClose(find);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(c.names, names);
  }
}

}  // namespace
}  // namespace kestnet::testing
