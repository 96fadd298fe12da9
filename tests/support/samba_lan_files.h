// The files of the test LAN's Samba machines (samba_lan.h): configuration,
// state folders and shares, each machine's under a folder of its own that its
// private /etc/samba is bound to ("etc" below it).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/samba_lan.h"

namespace kestnet::testing {

// The share user's account: known only to the servers' own /etc/passwd.
inline constexpr unsigned kShareUserId = 64077;

// The client's folder, beside the servers' (named after them) in the LAN's.
inline constexpr const char* kClientFolder = "client";

// The router between the two subnets (the bridge namespace, on each bridge):
// its address on subnet N, the servers' gateway and WINS server there. It
// forwards unicast only, so NetBIOS broadcasts stay on their subnet.
inline constexpr const char* kRouterAddresses[] = {"10.77.0.1", "10.77.1.1"};
inline constexpr const char* kRouterName = "KESTWINS";

// A server's folder p_root: etc/smb.conf (answering on p_interface only),
// etc/passwd and etc/group (the machine's, plus the share user), the files
// of its CUPS scheduler, the state folders and the shares. False with the reason.
bool WriteSambaServerFiles(const SambaServer& p_server, const std::string& p_interface,
                           const std::filesystem::path& p_root, std::string& p_error);
// The router's folder p_root: etc/smb.conf for an nmbd that is the LAN's
// WINS server on p_interfaces and nothing else (no master browser, in a
// workgroup of its own, so no browse list shows it).
bool WriteSambaRouterFiles(const std::filesystem::path& p_root, const std::string& p_interfaces,
                           std::string& p_error);
// The client's folder: etc/smb.conf naming the client and its workgroup,
// speaking NT1 and later, with its caches in the folder, and serving its own
// share (SambaLan::kLocalShare) on every address of the client. Samba's client code
// broadcasts on the first interface it finds answers on, so browsing is kept
// to p_homeInterface (adapter 0, the subnet of the client's workgroup) and
// the servers of other subnets are known by etc/lmhosts.
bool WriteSambaClientFiles(const std::filesystem::path& p_root, const std::string& p_homeInterface,
                           std::string& p_error);

// The local socket the server's CUPS scheduler listens on, and the arguments
// that run the scheduler in the foreground with the server's CUPS files.
std::filesystem::path SambaCupsSocket(const std::filesystem::path& p_serverRoot);
std::vector<std::string> SambaCupsdArguments(const std::filesystem::path& p_serverRoot);

// The daemon logs of a server's folder, each under a line naming it.
std::string ReadSambaLogs(const std::filesystem::path& p_serverRoot);

// The folder a share of a server's folder serves.
std::filesystem::path SambaSharePath(const std::filesystem::path& p_serverRoot, const char* p_share);

}  // namespace kestnet::testing
