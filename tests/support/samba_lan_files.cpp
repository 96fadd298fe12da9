#include "tests/support/samba_lan_files.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

#include "tests/support/foreground_process.h"

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;

// Everything a Samba program keeps goes below the machine's folder: the
// machine's own /run/samba, /var/lib/samba and /var/cache/samba stay as they
// are.
constexpr struct {
  const char* setting;
  const char* folder;
} kStateFolders[] = {
    {"pid directory", "run"},     {"lock directory", "lock"},   {"state directory", "state"},
    {"cache directory", "cache"}, {"private dir", "private"},   {"ncalrpc dir", "ncalrpc"},
};

struct ShareDefinition {
  const char* name;
  const char* comment;
  const char* settings;
  fs::perms permissions;
  bool bOwnedByShareUser;
};

// The printer spool folder is world-writable and sticky, as /var/spool/samba
// is; the user share belongs to its user alone. The printer shares are not
// here: smbd publishes each printer of the server's CUPS as a share of its
// own, modelled on [printers].
const ShareDefinition kShares[] = {
    {SambaLan::kReadOnlyShare, "Read-only guest share", "read only = yes\n  guest ok = yes\n",
     fs::perms(0755), false},
    {SambaLan::kWritableShare, "Writable guest share", "read only = no\n  guest ok = yes\n",
     fs::perms(0777), false},
    {SambaLan::kUserShare, "One user's share",
     "read only = no\n  guest ok = no\n", fs::perms(0700), true},
    {"printers", "All printers", "printable = yes\n  guest ok = yes\n  browseable = no\n", fs::perms(01777), false},
};

bool WriteFile(const fs::path& p_path, const std::string& p_text, std::string& p_error) {
  std::ofstream file(p_path, std::ios::binary | std::ios::trunc);
  file << p_text;
  file.flush();
  if (!file) {
    p_error = "cannot write " + p_path.string();
    return false;
  }
  return true;
}

bool MakeFolder(const fs::path& p_path, fs::perms p_permissions, std::string& p_error) {
  std::error_code error;
  fs::create_directories(p_path, error);
  if (!error) fs::permissions(p_path, p_permissions, error);
  if (error) {
    p_error = "cannot make " + p_path.string() + ": " + error.message();
    return false;
  }
  return true;
}

// The server's CUPS: a scheduler of its own (cupsd -f) with every folder under
// the server's "cups" folder and one printer, a raw queue that prints into
// /dev/null. It listens on a local socket only, which smbd names as its CUPS
// server; nothing reaches the machine's own CUPS or its /run/cups.
constexpr const char* kCupsFolders[] = {"etc", "spool", "cache", "state", "tmp"};

bool WriteCupsFiles(const fs::path& p_root, std::string& p_error) {
  const fs::path cups = p_root / "cups";
  for (const char* folder : kCupsFolders) {
    if (!MakeFolder(cups / folder, fs::perms(0755), p_error)) return false;
  }
  const std::string files = "ServerRoot " + (cups / "etc").string() + "\nRequestRoot " + (cups / "spool").string() +
                            "\nCacheDir " + (cups / "cache").string() + "\nStateDir " + (cups / "state").string() +
                            "\nTempDir " + (cups / "tmp").string() + "\nPrintcap " + (cups / "printcap").string() +
                            "\nAccessLog stderr\nErrorLog stderr\nPageLog stderr\nFileDevice Yes\n"
                            "User lp\nGroup lp\nSystemGroup root\n";
  const std::string scheduler = "Listen " + SambaCupsSocket(p_root).string() +
                                "\nBrowsing No\nWebInterface No\nLogLevel info\n"
                                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n";
  const std::string printers = "<Printer " + std::string(SambaLan::kPrinterShare) + ">\nInfo " +
                               SambaLan::kPrinterComment + "\nDeviceURI file:///dev/null\nState Idle\n"
                               "Accepting Yes\nShared No\n</Printer>\n";
  return WriteFile(cups / "cups-files.conf", files, p_error) &&
         WriteFile(cups / "etc" / "cupsd.conf", scheduler, p_error) &&
         WriteFile(cups / "etc" / "printers.conf", printers, p_error);
}

// The [global] lines every machine shares: its folders and NT1 as the least
// dialect both ends speak (browsing workgroups and servers needs SMB1).
std::string CommonGlobals(const fs::path& p_root, const char* p_name, const char* p_workgroup,
                          std::string& p_error) {
  std::string text = "[global]\n";
  text += "  netbios name = " + std::string(p_name) + "\n";
  text += "  workgroup = " + std::string(p_workgroup) + "\n";
  text += "  client min protocol = NT1\n";
  text += "  log file = " + (p_root / "log" / "log.%m").string() + "\n";
  for (const auto& folder : kStateFolders) {
    if (!MakeFolder(p_root / folder.folder, fs::perms(0755), p_error)) return {};
    text += "  " + std::string(folder.setting) + " = " + (p_root / folder.folder).string() + "\n";
  }
  return MakeFolder(p_root / "log", fs::perms(0755), p_error) ? text : std::string();
}

// The machine's account files with the share user added, for the server's
// private /etc: the user exists nowhere else.
bool WriteAccounts(const fs::path& p_etc, std::string& p_error) {
  const std::string user = SambaLan::kShareUser;
  const std::string id = std::to_string(kShareUserId);
  return WriteFile(p_etc / "passwd",
                   ReadTextFile("/etc/passwd") + user + ":x:" + id + ":" + id +
                       ":KestNet test LAN user:/nonexistent:/usr/sbin/nologin\n",
                   p_error) &&
         WriteFile(p_etc / "group", ReadTextFile("/etc/group") + user + ":x:" + id + ":\n", p_error);
}

}  // namespace

std::string ReadSambaLogs(const fs::path& p_serverRoot) {
  std::string text;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(p_serverRoot / "log", error)) {
    text += "--- " + p_serverRoot.filename().string() + " " + entry.path().filename().string() + "\n" +
            ReadTextFile(entry.path());
  }
  return text;
}

fs::path SambaCupsSocket(const fs::path& p_serverRoot) { return p_serverRoot / "cups" / "cups.sock"; }

std::vector<std::string> SambaCupsdArguments(const fs::path& p_serverRoot) {
  const fs::path cups = p_serverRoot / "cups";
  return {"-f", "-c", (cups / "etc" / "cupsd.conf").string(), "-s", (cups / "cups-files.conf").string()};
}

fs::path SambaSharePath(const fs::path& p_serverRoot, const char* p_share) {
  return p_serverRoot / "shares" / p_share;
}

bool WriteSambaServerFiles(const SambaServer& p_server, const std::string& p_interface, const fs::path& p_root,
                           std::string& p_error) {
  const fs::path etc = p_root / "etc";
  if (!MakeFolder(etc, fs::perms(0755), p_error)) return false;
  std::string text = CommonGlobals(p_root, p_server.name, p_server.workgroup, p_error);
  if (text.empty()) return false;
  text += "  server string = " + std::string(p_server.comment) + "\n";
  text +=
      "  interfaces = " + p_interface + "\n"
      "  bind interfaces only = yes\n"
      "  server min protocol = NT1\n"
      "  local master = yes\n"
      "  preferred master = yes\n"
      "  os level = 65\n"
      "  security = user\n"
      "  map to guest = bad user\n"
      "  guest account = nobody\n"
      "  passdb backend = tdbsam\n"
      "  rpc start on demand helpers = no\n"
      "  load printers = yes\n"
      "  printing = cups\n"
      "  printcap name = cups\n"
      "  cups server = " + SambaCupsSocket(p_root).string() + "\n"
      "  name resolve order = bcast\n"
      "  domain master = yes\n"
      "  wins server = " + std::string(kRouterAddresses[p_server.adapter]) + "\n"
      "  dns proxy = no\n";
  for (const ShareDefinition& share : kShares) {
    const fs::path path = SambaSharePath(p_root, share.name);
    if (!MakeFolder(path, share.permissions, p_error)) return false;
    text += "\n[" + std::string(share.name) + "]\n  comment = " + share.comment + "\n  path = " + path.string() +
            "\n  " + share.settings;
    if (share.bOwnedByShareUser) {
      if (::chown(path.c_str(), kShareUserId, kShareUserId) != 0) {
        p_error = "cannot give " + path.string() + " to the share user";
        return false;
      }
      text += "  valid users = " + std::string(SambaLan::kShareUser) + "\n";
    }
  }
  return WriteFile(etc / "smb.conf", text, p_error) && WriteAccounts(etc, p_error) && WriteCupsFiles(p_root, p_error);
}

bool WriteSambaRouterFiles(const fs::path& p_root, const std::string& p_interfaces, std::string& p_error) {
  const fs::path etc = p_root / "etc";
  if (!MakeFolder(etc, fs::perms(0755), p_error)) return false;
  std::string text = CommonGlobals(p_root, kRouterName, "KESTINFRA", p_error);
  if (text.empty()) return false;
  text += "  interfaces = " + p_interfaces +
          "\n  bind interfaces only = yes\n  wins support = yes\n  local master = no\n"
          "  preferred master = no\n  domain master = no\n  os level = 0\n  dns proxy = no\n";
  return WriteFile(etc / "smb.conf", text, p_error);
}

bool WriteSambaClientFiles(const fs::path& p_root, const std::string& p_homeInterface, std::string& p_error) {
  const fs::path etc = p_root / "etc";
  if (!MakeFolder(etc, fs::perms(0755), p_error)) return false;
  std::string text = CommonGlobals(p_root, SambaLan::kClientName, SambaLan::kClientWorkgroup, p_error);
  if (text.empty()) return false;
  text += "  interfaces = " + p_homeInterface + "\n  name resolve order = lmhosts bcast\n";
  // Its server answers on every address, loopback included, where libnetapi
  // asks this machine's share table; it has no printers, so nothing asks the
  // machine's own CUPS.
  const fs::path share = SambaSharePath(p_root, SambaLan::kLocalShare);
  if (!MakeFolder(share, fs::perms(0755), p_error)) return false;
  text +=
      "  bind interfaces only = no\n"
      "  security = user\n"
      "  map to guest = bad user\n"
      "  guest account = nobody\n"
      "  rpc start on demand helpers = no\n"
      "  load printers = no\n"
      "  disable spoolss = yes\n"
      "  printcap name = /dev/null\n"
      "\n[" + std::string(SambaLan::kLocalShare) + "]\n  comment = " + SambaLan::kLocalShareComment +
      "\n  path = " + share.string() + "\n  read only = yes\n  guest ok = yes\n";
  // Typed entries (workstation and server service): an untyped one would
  // also answer for the name as a workgroup's master browser (<1D>), and a
  // client listing \\SERVER would ask it for a workgroup of that name.
  std::string lmhosts;
  for (const SambaServer* server : {&SambaLan::kFirstServer, &SambaLan::kSecondServer}) {
    if (server->adapter == 0) continue;
    for (const char* suffix : {"#00", "#20"}) {
      lmhosts += std::string(server->address) + " " + server->name + suffix + "\n";
    }
  }
  return WriteFile(etc / "smb.conf", text, p_error) && WriteFile(etc / "lmhosts", lmhosts, p_error);
}

}  // namespace kestnet::testing
