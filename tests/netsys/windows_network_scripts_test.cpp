// KestNetWindowsNetwork end to end: `kestnet run` scripts and the `kestnet
// net` verbs, as separate processes inside the test LAN, against its real
// Samba servers. What the object reports must be what the servers are: their
// addresses and MACs, Samba's version and platform, their comments,
// workgroups, computers and shares.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/host/kestnet_process.h"
#include "tests/support/samba_lan.h"

namespace kestnet::host::testing {
namespace {

using ::kestnet::testing::SambaLan;
using ::kestnet::testing::SambaServer;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::vector<std::string> LowerLines(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  for (std::string& line : lines) line = Lower(line);
  return lines;
}

std::string Unc(const SambaServer& server) { return std::string("\\\\") + server.name; }

// A fresh home with the project's modules registered, in the LAN.
class WindowsNetworkScriptsTest : public KestnetTest {
 protected:
  void SetUp() override {
    KestnetTest::SetUp();
    if (!Lan().IsRunning()) GTEST_SKIP() << Lan().SkipReason();
    ProcessResult setup = Kestnet({"setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
  }
  static SambaLan& Lan() { return SambaLan::Instance(); }

  void WaitForBrowseList() {
    std::string error;
    ASSERT_TRUE(Lan().WaitForBrowseList(SambaLan::kBrowseListBound, error)) << error << "\n" << Lan().ReadLogs();
  }
};

// One line per lookup, in the order the events arrived.
constexpr const char* kHostInfoScript = R"JS(
var network = WScript.CreateObject("KestNet.KestNetWindowsNetwork", "Network_");
var pending = WScript.Arguments.length;
function Network_OnGetHostInfoComplete(status, name, host) {
  WScript.Echo([name, status, host.IPAddress, host.MACAddress, host.MajorVersion + "." + host.MinorVersion,
                host.PlatformID == host.PLATFORM_UNIX ? "unix" : host.PlatformID, host.Comment].join("|"));
  --pending;
}
for (var i = 0; i < WScript.Arguments.length; ++i) network.GetHostInfo(WScript.Arguments(i));
for (var waited = 0; pending > 0 && waited < 60000; waited += 50) WScript.Sleep(50);
WScript.Quit(pending);
)JS";

std::string FoundLine(const SambaServer& server) {
  return Unc(server) + "|0|" + server.address + "|" + server.mac + "|6.1|unix|" + server.comment;
}

// The second server answers on the client's second adapter only; a name
// nobody has is not found, and a host object still arrives with it.
TEST_F(WindowsNetworkScriptsTest, ScriptHearsEachHostOnItsAdapterAndNotFoundForAnUnknownName) {
  ProcessResult run = RunScript(kHostInfoScript, {},
                                {Unc(SambaLan::kFirstServer), Unc(SambaLan::kSecondServer),
                                 std::string("\\\\") + SambaLan::kUnknownName});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(Lines(run.out), ::testing::UnorderedElementsAre(
                                  FoundLine(SambaLan::kFirstServer), FoundLine(SambaLan::kSecondServer),
                                  std::string("\\\\") + SambaLan::kUnknownName + "|2|UNKNOWN|UNKNOWN|-1.-1|-1|UNKNOWN"));
}

// Every listing of the script, each printed as "event: name,name,...".
constexpr const char* kListingScript = R"JS(
var network = WScript.CreateObject("KestNet.KestNetWindowsNetwork", "Network_");
var heard = 0;
function Print(event, names) {
  WScript.Echo(event + ": " + names.join(","));
  ++heard;
}
function Network_GetNetworkWorkgroupsComplete(names) { Print("workgroups", names); }
function Network_GetNetworkComputersComplete(names) { Print("computers", names); }
function Network_GetFileShareListComplete(names) { Print("files", names); }
function Network_GetPrinterShareListComplete(names) { Print("printers", names); }
var started = [network.GetNetworkWorkgroups(), network.GetNetworkComputers(WScript.Arguments(0)),
               network.GetFileShareList(WScript.Arguments(1)), network.GetPrinterShareList(WScript.Arguments(1))];
WScript.Echo("started: " + started.join(","));
for (var waited = 0; heard < 4 && waited < 90000; waited += 50) WScript.Sleep(50);
WScript.Quit(4 - heard);
)JS";

std::vector<std::string> Entries(const std::vector<std::string>& lines, const std::string& event) {
  for (const std::string& line : lines) {
    if (line.rfind(event + ": ", 0) != 0) continue;
    std::vector<std::string> entries;
    std::istringstream in(line.substr(event.size() + 2));
    for (std::string entry; std::getline(in, entry, ',');) entries.push_back(entry);
    return entries;
  }
  ADD_FAILURE() << "no " << event << " event";
  return {};
}

// A workgroup named in another case than the network's still matches, and
// shares are listed under the servers of the workgroup.
TEST_F(WindowsNetworkScriptsTest, ScriptListsWorkgroupsComputersAndSharesOfTheLan) {
  WaitForBrowseList();
  ProcessResult run = RunScript(kListingScript, {}, {Lower(SambaLan::kClientWorkgroup), SambaLan::kClientWorkgroup});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::vector<std::string> lines = LowerLines(run.out);
  EXPECT_THAT(lines, Contains("started: true,true,true,true"));
  const std::string first = Lower(Unc(SambaLan::kFirstServer));
  EXPECT_THAT(Entries(lines, "workgroups"), IsSupersetOf({"kestlan", "kestlan2"}));
  EXPECT_THAT(Entries(lines, "computers"), Contains(first));
  EXPECT_THAT(Entries(lines, "computers"), Not(Contains(Lower(Unc(SambaLan::kSecondServer)))));
  EXPECT_THAT(Entries(lines, "files"), IsSupersetOf({first + "\\public", first + "\\incoming", first + "\\private"}));
  EXPECT_THAT(Entries(lines, "files"), Not(Contains(first + "\\laser")));
  EXPECT_THAT(Entries(lines, "printers"), Contains(first + "\\laser"));
}

constexpr const char* kShareQuestionsScript = R"JS(
var network = new ActiveXObject("KestNet.KestNetWindowsNetwork");
var server = WScript.Arguments(0);
for (var i = 1; i < WScript.Arguments.length; ++i) {
  var share = WScript.Arguments(i);
  WScript.Echo(share + ": " + network.FileShareExists(server, share) + " " + network.FileSharePermission(server, share));
}
)JS";

// FS_READ on the read-only share, FS_READ_WRITE on the writable one (with no
// scratch file left there), FS_UNKNOWN where a guest cannot list.
TEST_F(WindowsNetworkScriptsTest, ScriptAsksWhatThisUserMayDoWithEachShare) {
  const std::filesystem::path incoming = Lan().SharePath(SambaLan::kFirstServer, SambaLan::kWritableShare);
  const auto before = std::distance(std::filesystem::directory_iterator(incoming), {});
  ProcessResult run = RunScript(kShareQuestionsScript, {},
                                {Unc(SambaLan::kFirstServer), SambaLan::kReadOnlyShare, SambaLan::kWritableShare,
                                 SambaLan::kUserShare, "nosuchshare"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Whether a guest sees the user's share exist is the server's business;
  // that it cannot list it is not.
  EXPECT_THAT(Lines(run.out), ::testing::ElementsAre("public: true 1", "incoming: true 2",
                                                     ::testing::MatchesRegex("private: (true|false) 0"),
                                                     "nosuchshare: false 0"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(incoming), {}), before)
      << "FileSharePermission left its scratch file on the share";
}

// An empty computer name is this machine, whose shares its own share table
// knows.
TEST_F(WindowsNetworkScriptsTest, ScriptFindsThisMachinesOwnShare) {
  ProcessResult run = RunScript(kShareQuestionsScript, {}, {"", SambaLan::kLocalShare, "nosuchshare"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(Lines(run.out), ::testing::ElementsAre(::testing::StartsWith(std::string(SambaLan::kLocalShare) + ": true "),
                                                     ::testing::StartsWith("nosuchshare: false ")));
}

struct NetVerbCase {
  const char* name;
  std::vector<std::string> arguments;
  int exitCode;
  std::vector<std::string> lines;  // lines the output must hold (compared in lower case)
  bool needsBrowseList;
};

void PrintTo(const NetVerbCase& verb, std::ostream* out) { *out << verb.name; }

class NetVerbTest : public WindowsNetworkScriptsTest, public ::testing::WithParamInterface<NetVerbCase> {};

TEST_P(NetVerbTest, PrintsWhatTheLanPublishes) {
  const NetVerbCase& verb = GetParam();
  if (verb.needsBrowseList) WaitForBrowseList();
  std::vector<std::string> arguments = {"net"};
  arguments.insert(arguments.end(), verb.arguments.begin(), verb.arguments.end());
  ProcessResult run = Kestnet(arguments);
  EXPECT_EQ(run.exitCode, verb.exitCode) << run.out << run.err;
  EXPECT_THAT(LowerLines(run.out), IsSupersetOf(verb.lines)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Views, NetVerbTest,
    ::testing::Values(
        NetVerbCase{"Workgroups", {"view", "/domain"}, 0, {"kestlan", "kestlan2"}, true},
        NetVerbCase{"ComputersOfThisWorkgroup", {"view"}, 0, {"\\\\kestsrv1"}, true},
        NetVerbCase{"ComputersOfANamedWorkgroup", {"view", "/DOMAIN:kestlan"}, 0, {"\\\\kestsrv1"}, true},
        NetVerbCase{"SharesOfAServer",
                    {"view", "\\\\kestsrv1"},
                    0,
                    {"public    disk", "incoming  disk", "private   disk", "laser     print"},
                    true},
        NetVerbCase{"HostOnTheSecondAdapter",
                    {"hostinfo", "\\\\KESTSRV2"},
                    0,
                    {"\\\\kestsrv2: gethostinfo_success", "address: 10.77.1.10", "mac address: 02:4b:45:53:01:0a",
                     "version: 6.1", "platform: platform_unix", "comment: kestnet test server two"},
                    false},
        NetVerbCase{"UnknownHost", {"hostinfo", "KESTNOBODY"}, 1, {"\\\\kestnobody: gethostinfo_host_not_found"}, false}));

// Bad usage is told before anything is asked of the network (no LAN needed).
class NetVerbUsageTest : public KestnetTest {};

TEST_F(NetVerbUsageTest, RefusesWhatItCannotRead) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"net"},
                                             {"net", "show"},
                                             {"net", "view", "/bogus"},
                                             {"net", "view", "/domain", "\\\\KESTSRV1"},
                                             {"net", "view", "/domain", "/domain:KESTLAN"},
                                             {"net", "hostinfo"},
                                             {"net", "hostinfo", "\\\\"},
                                             {"net", "view", "--timeout", "0"}}) {
    ProcessResult run = Kestnet(arguments);
    EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(arguments) << run.err;
    EXPECT_THAT(run.err, ::testing::HasSubstr("usage: kestnet net view")) << ::testing::PrintToString(arguments);
  }
}

// The example tours the LAN: listings, every computer's information, one share.
TEST_F(WindowsNetworkScriptsTest, ExampleToursTheLan) {
  WaitForBrowseList();
  ProcessResult run = Kestnet({"run", std::string(KESTNET_EXAMPLES_DIR) + "/windows_network.js",
                               Unc(SambaLan::kFirstServer), SambaLan::kWritableShare});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(Lines(run.out),
              IsSupersetOf({std::string("\\\\KESTSRV1: 10.77.0.10 (02:4b:45:53:00:0a), version 6.1, PLATFORM_UNIX, "
                                        "\"KestNet test server one\""),
                            std::string("\\\\KESTSRV1\\incoming: exists, FS_READ_WRITE")}))
      << run.err;
}

}  // namespace
}  // namespace kestnet::host::testing
