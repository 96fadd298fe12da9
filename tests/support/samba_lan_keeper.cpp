#include "tests/support/samba_lan_keeper.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/foreground_process.h"
#include "tests/support/samba_lan.h"
#include "tests/support/samba_lan_files.h"

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSambaDcerpcd = "/usr/libexec/samba/samba-dcerpcd";
// Names answer about 4 s after nmbd starts, a browse list lists the
// workgroup 20-25 s after; the bound is for a machine under load, not a
// measure.
constexpr auto kServerStartBound = std::chrono::seconds(90);
constexpr auto kStopBound = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(250);

const SambaServer* const kServers[] = {&SambaLan::kFirstServer, &SambaLan::kSecondServer};
constexpr std::size_t kServerCount = std::size(kServers);
// The server's end of its link, in its own namespace.
constexpr const char* kServerInterface = "ks0";

// A mount a holder makes in its private mount namespace.
struct Mount {
  std::string source;  // empty: a fresh tmpfs
  std::string target;
};

// A child that holds new namespaces (and, with mounts, a private mount
// namespace with those mounts) and sleeps until killed.
struct Holder {
  pid_t pid = -1;
  dev_t netDevice = 0;
  ino_t netInode = 0;
};

// The client's end of the link to subnet N: its adapter N.
std::string ClientInterface(int p_adapter) { return "kl" + std::to_string(p_adapter); }

std::string Pid(pid_t p_pid) { return std::to_string(p_pid); }

std::string In(const Holder& p_holder, bool p_bMount, const std::string& p_command) {
  std::string line = "nsenter --net=/proc/" + Pid(p_holder.pid) + "/ns/net";
  if (p_bMount) line += " --mount=/proc/" + Pid(p_holder.pid) + "/ns/mnt";
  return line + " " + p_command;
}

bool Run(const std::string& p_command, std::string& p_error) {
  std::string output;
  if (RunCommand(p_command, output)) return true;
  p_error = "\"" + p_command + "\" failed: " + output;
  return false;
}

bool StartHolder(const std::vector<Mount>& p_mounts, Holder& p_holder, std::string& p_error) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    p_error = "pipe failed";
    return false;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    // The keeper has one thread, so the child may do what it likes; it keeps
    // no descriptor of the keeper's but the one it reports on.
    const int devNull = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(devNull, fd);
    ::close_range(3, static_cast<unsigned>(ready[1]) - 1, 0);
    ::close_range(static_cast<unsigned>(ready[1]) + 1, ~0U, 0);
    bool bMade = ::unshare(CLONE_NEWNET | (p_mounts.empty() ? 0 : CLONE_NEWNS)) == 0;
    // Nothing mounted here may reach the machine's own mount namespace.
    if (bMade && !p_mounts.empty()) bMade = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    for (const Mount& mount : p_mounts) {
      if (!bMade) break;
      bMade = mount.source.empty()
                  ? ::mount("tmpfs", mount.target.c_str(), "tmpfs", 0, "mode=0755") == 0
                  : ::mount(mount.source.c_str(), mount.target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    const char status = bMade ? 'y' : 'n';
    (void)!::write(ready[1], &status, 1);
    if (!bMade) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char status = 'n';
  const bool bRead = child > 0 && ::read(ready[0], &status, 1) == 1;
  ::close(ready[0]);
  if (child > 0) p_holder.pid = child;
  struct stat net {};
  if (!bRead || status != 'y' || ::stat(("/proc/" + Pid(child) + "/ns/net").c_str(), &net) != 0) {
    p_error = "a child could not make its own namespaces and mounts";
    return false;
  }
  p_holder.netDevice = net.st_dev;
  p_holder.netInode = net.st_ino;
  return true;
}

// The processes in a holder's network namespace, the holder itself and p_except
// left out.
std::vector<pid_t> ProcessesIn(const Holder& p_holder, pid_t p_except) {
  std::vector<pid_t> found;
  if (p_holder.netInode == 0) return found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == p_holder.pid || pid == p_except) continue;
    struct stat net {};
    if (::stat(("/proc/" + std::string(entry->d_name) + "/ns/net").c_str(), &net) == 0 &&
        net.st_dev == p_holder.netDevice && net.st_ino == p_holder.netInode) {
      found.push_back(static_cast<pid_t>(pid));
    }
  }
  ::closedir(proc);
  return found;
}

// What a machine that shares folders runs: the RPC services (srvsvc answers
// share and server information) and the file server.
std::vector<std::vector<std::string>> FileServerDaemons() {
  return {{kSambaDcerpcd, "--libexec-rpcds", "--foreground", "--no-process-group", "--debug-stdout"},
          {ForegroundProcess::FindBinary("smbd"), "-F", "--no-process-group", "--debug-stdout"}};
}

class LanKeeper {
 public:
  LanKeeper(fs::path p_directory, pid_t p_testProcess)
      : m_directory(std::move(p_directory)), m_testProcess(p_testProcess) {}

  bool Build(std::string& p_error);
  // Ends everything and returns what was left behind (empty when nothing).
  std::string TearDown();
  pid_t ClientHolder() const { return m_client.pid; }

 private:
  fs::path ServerRoot(const SambaServer& p_server) const { return m_directory / p_server.name; }
  fs::path ClientRoot() const { return m_directory / kClientFolder; }
  fs::path RouterRoot() const { return m_directory / "router"; }
  bool MakeNamespaces(std::string& p_error);
  bool MakeLinks(std::string& p_error);
  bool StartDaemon(const Holder& p_holder, std::vector<std::string> p_command, const fs::path& p_log,
                   std::string& p_error);
  // Each daemon's output goes to p_root's log folder.
  bool StartDaemons(const Holder& p_holder, const std::vector<std::vector<std::string>>& p_daemons,
                    const fs::path& p_root, std::string& p_error);
  bool StartServer(std::size_t p_index, std::string& p_error);
  // Runs p_command in the client's namespaces until its output holds
  // p_answer; false with the output and p_logRoot's logs at p_deadline or
  // when a daemon has ended.
  bool WaitForAnswer(const std::string& p_command, const std::string& p_answer, const fs::path& p_logRoot,
                     Clock::time_point p_deadline, std::string& p_error);
  bool WaitForServers(std::string& p_error);
  std::vector<Holder*> Holders();

  const fs::path m_directory;
  const pid_t m_testProcess;
  Holder m_bridge;  // the bridges, and the router between them
  Holder m_client;
  std::array<Holder, kServerCount> m_servers;
  std::vector<std::unique_ptr<ForegroundProcess>> m_daemons;
};

std::vector<Holder*> LanKeeper::Holders() {
  std::vector<Holder*> holders = {&m_bridge, &m_client};
  for (Holder& server : m_servers) holders.push_back(&server);
  return holders;
}

bool LanKeeper::MakeNamespaces(std::string& p_error) {
  // A tmpfs on /run/samba keeps the caches Samba programs share there (names
  // of other machines) private to each machine; the configuration points
  // every folder elsewhere anyway.
  const bool bRunSamba = fs::is_directory("/run/samba");
  std::vector<Mount> clientMounts = {{(ClientRoot() / "etc").string(), "/etc/samba"}};
  if (bRunSamba) clientMounts.push_back({"", "/run/samba"});
  std::vector<Mount> routerMounts = {{(RouterRoot() / "etc").string(), "/etc/samba"}};
  if (bRunSamba) routerMounts.push_back({"", "/run/samba"});
  if (!WriteSambaClientFiles(ClientRoot(), ClientInterface(0), p_error) ||
      !WriteSambaRouterFiles(RouterRoot(), "lan0 lan1", p_error) || !StartHolder(routerMounts, m_bridge, p_error) ||
      !StartHolder(clientMounts, m_client, p_error)) {
    return false;
  }
  for (std::size_t index = 0; index < kServerCount; ++index) {
    const fs::path root = ServerRoot(*kServers[index]);
    if (!WriteSambaServerFiles(*kServers[index], kServerInterface, root, p_error)) return false;
    std::vector<Mount> mounts = {{(root / "etc").string(), "/etc/samba"},
                                 {(root / "etc" / "passwd").string(), "/etc/passwd"},
                                 {(root / "etc" / "group").string(), "/etc/group"}};
    if (bRunSamba) mounts.push_back({"", "/run/samba"});
    if (!StartHolder(mounts, m_servers[index], p_error)) return false;
  }
  return true;
}

// One bridge per subnet in the bridge namespace; the client has a leg on
// each (adapter N on bridge lanN), each server on its adapter's bridge only.
// The bridge namespace routes between the subnets (each bridge has the
// router's address there, the servers' gateway), as a LAN's router does:
// unicast crosses, NetBIOS broadcasts do not.
bool LanKeeper::MakeLinks(std::string& p_error) {
  std::vector<std::string> commands = {In(m_bridge, false, "ip link set lo up"), In(m_client, false, "ip link set lo up"),
                                       In(m_bridge, false, "sysctl -q -w net.ipv4.ip_forward=1")};
  for (int adapter = 0; adapter < 2; ++adapter) {
    const std::string bridge = "lan" + std::to_string(adapter);
    const std::string port = "bc" + std::to_string(adapter);
    const std::string leg = ClientInterface(adapter);
    commands.insert(commands.end(),
                    {In(m_bridge, false, "ip link add " + bridge + " type bridge"),
                     In(m_bridge, false, "ip addr add " + std::string(kRouterAddresses[adapter]) + "/24 brd + dev " + bridge),
                     In(m_bridge, false, "ip link set " + bridge + " up"),
                     In(m_bridge, false, "ip link add " + port + " type veth peer name " + leg + " netns " + Pid(m_client.pid)),
                     In(m_bridge, false, "ip link set " + port + " master " + bridge + " up"),
                     In(m_client, false, "ip addr add " + std::string(SambaLan::kClientAddresses[adapter]) + "/24 brd + dev " + leg),
                     In(m_client, false, "ip link set " + leg + " up")});
  }
  for (std::size_t index = 0; index < kServerCount; ++index) {
    const SambaServer& server = *kServers[index];
    const Holder& holder = m_servers[index];
    const std::string port = "bs" + std::to_string(index);
    commands.insert(commands.end(),
                    {In(m_bridge, false, "ip link add " + port + " type veth peer name " + kServerInterface + " netns " + Pid(holder.pid)),
                     In(m_bridge, false, "ip link set " + port + " master lan" + std::to_string(server.adapter) + " up"),
                     In(holder, false, "ip link set lo up"),
                     In(holder, false, std::string("ip link set ") + kServerInterface + " address " + server.mac),
                     In(holder, false, "ip addr add " + std::string(server.address) + "/24 brd + dev " + kServerInterface),
                     In(holder, false, std::string("ip link set ") + kServerInterface + " up"),
                     In(holder, false, "ip route add default via " + std::string(kRouterAddresses[server.adapter]))});
  }
  for (const std::string& command : commands) {
    if (!Run(command, p_error)) return false;
  }
  return true;
}

// A daemon in p_holder's namespaces, leading a session of its own: smbd
// signals its whole process group when it stops.
bool LanKeeper::StartDaemon(const Holder& p_holder, std::vector<std::string> p_command, const fs::path& p_log,
                            std::string& p_error) {
  std::vector<std::string> arguments = {ForegroundProcess::FindBinary("nsenter"), "--net=/proc/" + Pid(p_holder.pid) + "/ns/net",
                                        "--mount=/proc/" + Pid(p_holder.pid) + "/ns/mnt", "--"};
  arguments.insert(arguments.end(), std::make_move_iterator(p_command.begin()), std::make_move_iterator(p_command.end()));
  auto process = std::make_unique<ForegroundProcess>();
  process->SetOwnSession();
  if (!process->Start(arguments, p_log, p_error)) return false;
  m_daemons.push_back(std::move(process));
  return true;
}

// The CUPS scheduler, then samba-dcerpcd, smbd and nmbd in the server's
// namespaces.
bool LanKeeper::StartServer(std::size_t p_index, std::string& p_error) {
  const SambaServer& server = *kServers[p_index];
  const Holder& holder = m_servers[p_index];
  const std::string user = SambaLan::kShareUser;
  const std::string password = SambaLan::kShareUserPassword;
  if (!Run("printf '%s\\n%s\\n' '" + password + "' '" + password + "' | " +
               In(holder, true, "smbpasswd -s -a " + user),
           p_error)) {
    return false;
  }
  std::vector<std::string> cupsd = {ForegroundProcess::FindBinary("cupsd")};
  for (std::string& argument : SambaCupsdArguments(ServerRoot(server))) cupsd.push_back(std::move(argument));
  std::vector<std::vector<std::string>> daemons = {cupsd};
  for (std::vector<std::string>& daemon : FileServerDaemons()) daemons.push_back(std::move(daemon));
  daemons.push_back({ForegroundProcess::FindBinary("nmbd"), "-F", "--no-process-group", "--debug-stdout"});
  return StartDaemons(holder, daemons, ServerRoot(server), p_error);
}

bool LanKeeper::StartDaemons(const Holder& p_holder, const std::vector<std::vector<std::string>>& p_daemons,
                             const fs::path& p_root, std::string& p_error) {
  for (const std::vector<std::string>& daemon : p_daemons) {
    const fs::path log = p_root / "log" / (fs::path(daemon.front()).filename().string() + ".out");
    if (!StartDaemon(p_holder, daemon, log, p_error)) return false;
  }
  return true;
}

bool LanKeeper::WaitForAnswer(const std::string& p_command, const std::string& p_answer, const fs::path& p_logRoot,
                              Clock::time_point p_deadline, std::string& p_error) {
  const std::string command = In(m_client, true, p_command);
  std::string output;
  while (!RunCommand(command, output) || output.find(p_answer) == std::string::npos) {
    for (const auto& daemon : m_daemons) {
      if (!daemon->IsRunning()) {
        p_error = "a Samba daemon of the test LAN ended at start:\n" + ReadSambaLogs(p_logRoot);
        return false;
      }
    }
    if (Clock::now() >= p_deadline) {
      p_error = "\"" + command + "\" did not answer in time: " + output + "\n" + ReadSambaLogs(p_logRoot);
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

// Each server answers its NetBIOS name on its subnet, the server information
// over its srvsvc pipe (smbd and samba-dcerpcd both up), and lists its CUPS
// printer among its shares, asked from the client as the tests will ask.
// Samba asks CUPS for its printers from samba-bgqd, which the spoolss service
// starts when a client first opens its pipe, as a Windows client looking for
// printers does: one such question (answered before the list has come) starts
// it. A spoolss worker keeps the printers it started with, so the share list
// is what is awaited. Last, the client's own server answers for its share.
bool LanKeeper::WaitForServers(std::string& p_error) {
  const auto deadline = Clock::now() + kServerStartBound;
  for (const SambaServer* server : kServers) {
    const std::string address = server->address;
    const std::string broadcast = address.substr(0, address.rfind('.')) + ".255";
    const struct {
      std::string command;
      std::string answer;
    } probes[] = {{"nmblookup -B " + broadcast + " " + server->name, address},
                  {"rpcclient -U% -c srvinfo " + address, server->name},
                  {"rpcclient -U% -c enumprinters " + address, ""},
                  {"smbclient -N -L " + address, SambaLan::kPrinterComment}};
    for (const auto& probe : probes) {
      if (!WaitForAnswer(probe.command, probe.answer, ServerRoot(*server), deadline, p_error)) return false;
    }
  }
  // The client's own server, asked as this machine's share table is.
  return WaitForAnswer(std::string("rpcclient -U% -c 'netsharegetinfo ") + SambaLan::kLocalShare + "' 127.0.0.1",
                       SambaLan::kLocalShareComment, ClientRoot(), deadline, p_error);
}

// Browsing across the two subnets is Samba's through WINS: the router's nmbd
// is the WINS server, each server the domain master browser of its workgroup
// (it registers WORKGROUP<1b> there). A domain master browser asks WINS for
// the others when it takes the role and pulls their browse lists at once,
// then only every 5 and 15 minutes; so the servers start in reverse order,
// each once the WINS server knows the ones before it and their browse lists
// hold their workgroups: the client's own, started last, lists every
// workgroup of the LAN.
bool LanKeeper::Build(std::string& p_error) {
  if (!MakeNamespaces(p_error) || !MakeLinks(p_error) ||
      !StartDaemon(m_bridge, {ForegroundProcess::FindBinary("nmbd"), "-F", "--no-process-group", "--debug-stdout"},
                   RouterRoot() / "log" / "nmbd.out", p_error) ||
      !StartDaemons(m_client, FileServerDaemons(), ClientRoot(), p_error)) {
    return false;
  }
  const auto deadline = Clock::now() + kServerStartBound;
  for (std::size_t index = kServerCount; index-- > 0;) {
    const SambaServer& server = *kServers[index];
    if (!StartServer(index, p_error)) return false;
    if (index > 0 && (!WaitForAnswer("nmblookup -U " + std::string(kRouterAddresses[server.adapter]) +
                                          " --recursion " + server.workgroup + "#1b",
                                      server.address, ServerRoot(server), deadline, p_error) ||
                      !WaitForAnswer("smbclient -N -L " + std::string(server.address), server.workgroup,
                                     ServerRoot(server), deadline, p_error))) {
      return false;
    }
  }
  return WaitForServers(p_error);
}

std::string LanKeeper::TearDown() {
  // All are told at once, so their grace times run side by side.
  for (const auto& daemon : m_daemons) {
    if (daemon->IsRunning()) ::kill(-daemon->Pid(), SIGTERM);
  }
  for (const auto& daemon : m_daemons) daemon->Stop();
  m_daemons.clear();
  // Whatever a daemon started outside its group, and anything a test left
  // running on the LAN, goes with the namespaces. The test process itself is
  // in the client's and leaves with it when it exits.
  std::string report;
  const auto deadline = Clock::now() + kStopBound;
  for (Holder* holder : Holders()) {
    std::vector<pid_t> left;
    while (!(left = ProcessesIn(*holder, m_testProcess)).empty() && Clock::now() < deadline) {
      for (pid_t pid : left) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (pid_t pid : left) report += "process " + Pid(pid) + " still runs in a namespace of the LAN\n";
    if (holder->pid > 0) {
      ::kill(holder->pid, SIGKILL);
      ::waitpid(holder->pid, nullptr, 0);
    }
  }
  // Whatever ended, the holders' helpers and the daemons' orphans, is
  // reaped: the keeper is their subreaper.
  while (::waitpid(-1, nullptr, WNOHANG) >= 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (errno != ECHILD) report += "a process the LAN started has not ended\n";
  // The mounts lived in the holders' mount namespaces only.
  const std::string mounts = ReadTextFile("/proc/self/mountinfo");
  if (mounts.find(m_directory.string()) != std::string::npos) {
    report += "a mount of the LAN's folder reached the machine's mount namespace\n";
  }
  std::error_code error;
  fs::remove_all(m_directory, error);
  if (fs::exists(m_directory)) report += "the folder " + m_directory.string() + " remains\n";
  return report;
}

void Send(int p_status, char p_kind, const std::string& p_text) {
  std::string message = p_kind + p_text;
  message.push_back('\0');
  std::size_t written = 0;
  while (written < message.size()) {
    const ssize_t result = ::write(p_status, message.data() + written, message.size() - written);
    if (result <= 0) return;
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace

void RunSambaLanKeeper(const fs::path& p_directory, int p_control, int p_status, pid_t p_testProcess) {
  // A Ctrl-C at the terminal reaches the test process alone; the keeper
  // learns of its end from the control pipe.
  ::setpgid(0, 0);
  // Daemons whose parents end first (smbd's helpers when smbd stops) come to
  // the keeper, which reaps them, instead of staying zombies of init.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  LanKeeper keeper(p_directory, p_testProcess);
  std::string error;
  if (!keeper.Build(error)) {
    const std::string report = keeper.TearDown();
    Send(p_status, 'F', error + (report.empty() ? "" : "\nLeft behind: " + report));
    ::_exit(1);
  }
  Send(p_status, 'R', Pid(keeper.ClientHolder()));
  char byte = 0;
  ssize_t result = 0;
  do {
    result = ::read(p_control, &byte, 1);
  } while (result > 0 || (result < 0 && errno == EINTR));
  Send(p_status, 'T', keeper.TearDown());
  ::_exit(0);
}

}  // namespace kestnet::testing
