// A private Windows (SMB) network of real Samba servers for the tests of
// Windows networking.
//
//   client namespace (the test process)       bridge namespace        servers
//   adapter 0  kl0  10.77.0.2/24  --veth--  lan0 10.77.0.1  --veth--  KESTSRV1 10.77.0.10
//   adapter 1  kl1  10.77.1.2/24  --veth--  lan1 10.77.1.1  --veth--  KESTSRV2 10.77.1.10
//
// The bridge namespace routes between the two subnets as a LAN's router does
// (unicast only) and runs the LAN's WINS server (an nmbd, KESTWINS): NetBIOS
// broadcasts stay on their subnet, so KESTSRV1 answers only on the client's
// first adapter, KESTSRV2 only on its second. Each server is a network namespace of
// its own with a private mount namespace (its own /etc/samba, a tmpfs
// /run/samba, and an /etc/passwd that knows the share user), running smbd,
// nmbd and samba-dcerpcd in the foreground ("setsid CMD -F
// --no-process-group") with every directory of theirs under the fixture's
// temporary directory. Each is the local and preferred master browser of its
// workgroup and its domain master browser, registered with WINS, and serves
// NT1 and later. KESTSRV1, the client's master browser, learns KESTLAN2
// through WINS and lists both workgroups. Shares (both servers): a read-only
// guest share, a writable guest share, a share for one user only and a
// printer share: each server runs a CUPS scheduler of its own (cupsd -f, its
// files under the fixture's folder, a local socket) with one printer, which
// smbd publishes through [printers] ("printing = cups").
//
// Start runs from main() while the process has one thread: it builds the LAN
// from a keeper process (forked first, it owns every namespace and daemon)
// and moves the calling thread into the client's network and mount
// namespaces, so every thread and child the process starts later is on the
// LAN. There /etc/samba is the client's: smb.conf names the client and its
// workgroup, speaks NT1 and later, and keeps Samba's client code (which
// broadcasts on the first interface that answers) on adapter 0, the subnet of
// the client's workgroup; lmhosts names KESTSRV2, which only the second
// adapter reaches. /run/samba is a tmpfs of the client's own. The client
// serves one share of its own (kLocalShare): its smbd and samba-dcerpcd read
// that same smb.conf, so the machine's share table is theirs; with no nmbd of
// the client, no machine of the LAN, the client included, resolves its name.
// Start returns once every server answers its NetBIOS name and its server
// information and lists its printer (KESTSRV2, started first, its workgroup
// too), and the client's smbd answers for its share.
// The keeper tears everything down when the test process ends in any way
// (its pipe closes), or at Stop, which waits for the teardown and reports
// anything left behind.
//
// The binaries come from the Debian packages samba, smbclient and
// cups-daemon (scripts/deps.sh installs them without leaving the machine's
// own Samba or CUPS running; nothing of the machine's setup of either is read
// or touched).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kestnet::testing {

// One server of the LAN, as a client sees it.
struct SambaServer {
  const char* name;       // NetBIOS name (upper case)
  const char* workgroup;  // its workgroup, whose master browser it is
  const char* comment;    // the server string (NetServerGetInfo's comment)
  const char* address;    // dotted IPv4
  const char* mac;        // its interface's hardware address, "aa:bb:cc:dd:ee:ff"
  int adapter;            // the client's adapter (LANA number) on its subnet
};

class SambaLan {
 public:
  static constexpr const char* kClientName = "KESTCLIENT";
  static constexpr const char* kClientWorkgroup = "KESTLAN";
  static constexpr const char* kClientAddresses[2] = {"10.77.0.2", "10.77.1.2"};

  static constexpr SambaServer kFirstServer = {"KESTSRV1", "KESTLAN", "KestNet test server one",
                                               "10.77.0.10", "02:4b:45:53:00:0a", 0};
  static constexpr SambaServer kSecondServer = {"KESTSRV2", "KESTLAN2", "KestNet test server two",
                                                "10.77.1.10", "02:4b:45:53:01:0a", 1};
  // The client's own share (a read-only guest share), and a name it does not share.
  static constexpr const char* kLocalShare = "localdocs";
  static constexpr const char* kLocalShareComment = "The client's own documents";
  // A name no machine of the LAN has.
  static constexpr const char* kUnknownName = "KESTNOBODY";

  // Shares of both servers.
  static constexpr const char* kReadOnlyShare = "public";   // guest, read only
  static constexpr const char* kWritableShare = "incoming";  // guest, writable
  static constexpr const char* kUserShare = "private";       // kShareUser only, writable
  static constexpr const char* kPrinterShare = "laser";      // the server's CUPS printer
  static constexpr const char* kPrinterComment = "KestNet test laser printer";
  static constexpr const char* kShareUser = "kestlanuser";
  static constexpr const char* kShareUserPassword = "Kest-Lan-1";

  // A browse list forms 18-25 s after nmbd starts; twice that is the bound
  // tests give it.
  static constexpr std::chrono::seconds kBrowseListBound{90};

  // The process's one LAN.
  static SambaLan& Instance();

  SambaLan(const SambaLan&) = delete;
  SambaLan& operator=(const SambaLan&) = delete;

  // See above. False with the reason (kept as SkipReason) when the LAN
  // cannot be built here: not root, Samba missing, a server that does not
  // come up (its log included).
  bool Start();
  // Ends the keeper's LAN and waits for it; false with what was left behind
  // (a daemon, a namespace, a mount, a file) in p_error.
  bool Stop(std::string& p_error);
  bool IsRunning() const { return m_keeper > 0; }
  // Why tests of the LAN skip; empty once Start succeeded.
  const std::string& SkipReason() const { return m_skipReason; }

  // Waits, polling, until both servers' browse lists hold their own server
  // and workgroup, and the client's master browser (KESTSRV1) also the other
  // workgroup (which is what listing workgroups, computers and shares needs). Returns at once once it has succeeded. False with the state last
  // seen when p_bound passes.
  bool WaitForBrowseList(std::chrono::milliseconds p_bound, std::string& p_error);

  // For tools run from outside the process: "nsenter --net=<this>" enters
  // the client's network namespace.
  std::string ClientNetworkNamespace() const;
  // The folder a share of a server serves, as the test process sees it.
  std::filesystem::path SharePath(const SambaServer& p_server, const char* p_share) const;
  // The folder the client's own share serves.
  std::filesystem::path LocalSharePath() const;
  // The servers' daemon logs so far (to explain a failure).
  std::string ReadLogs() const;

 private:
  SambaLan() = default;
  ~SambaLan() = default;

  std::filesystem::path m_directory;
  pid_t m_keeper = -1;
  int m_control = -1;  // closing it tells the keeper to tear down
  int m_status = -1;   // the keeper's reports
  pid_t m_clientHolder = -1;
  bool m_bBrowseListFormed = false;
  std::string m_skipReason = "the test LAN was not started";
};

// The base of every test that needs the LAN: skips with the reason when it
// could not be started.
class SambaLanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Lan().IsRunning()) GTEST_SKIP() << Lan().SkipReason();
  }
  static SambaLan& Lan() { return SambaLan::Instance(); }
};

}  // namespace kestnet::testing
