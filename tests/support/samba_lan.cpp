#include "tests/support/samba_lan.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "tests/support/foreground_process.h"
#include "tests/support/samba_lan_files.h"
#include "tests/support/samba_lan_keeper.h"

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kBrowsePollInterval = std::chrono::milliseconds(250);

// What the keeper runs, besides the shell.
constexpr const char* kRequiredPrograms[] = {"smbd",      "nmbd",     "smbpasswd", "nmblookup", "rpcclient",
                                             "smbclient", "cupsd",    "ip",        "nsenter"};
constexpr const char* kSambaDcerpcd = "/usr/libexec/samba/samba-dcerpcd";

std::string MissingProgram() {
  for (const char* program : kRequiredPrograms) {
    if (ForegroundProcess::FindBinary(program).empty()) return program;
  }
  return ::access(kSambaDcerpcd, X_OK) == 0 ? std::string() : kSambaDcerpcd;
}

bool HasOneThread() {
  const std::string status = ReadTextFile("/proc/self/status");
  return status.find("\nThreads:\t1\n") != std::string::npos;
}

// One message of the keeper (samba_lan_keeper.h); false at the pipe's end.
bool ReadMessage(int p_status, char& p_kind, std::string& p_text) {
  std::string message;
  char byte = 0;
  for (;;) {
    const ssize_t result = ::read(p_status, &byte, 1);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return false;
    if (byte == '\0') break;
    message.push_back(byte);
  }
  if (message.empty()) return false;
  p_kind = message.front();
  p_text = message.substr(1);
  return true;
}

// Moves the calling thread (the process's only one) into the namespaces
// p_holder holds. Entering a mount namespace sets the working directory to its
// root, so the test's own is taken along by name.
bool JoinNamespaces(pid_t p_holder, std::string& p_error) {
  std::error_code error;
  const fs::path workingDirectory = fs::current_path(error);
  for (const auto& [kind, flag] : {std::pair{"net", CLONE_NEWNET}, std::pair{"mnt", CLONE_NEWNS}}) {
    const std::string path = "/proc/" + std::to_string(p_holder) + "/ns/" + kind;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool bJoined = fd >= 0 && ::setns(fd, flag) == 0;
    const int joinError = errno;
    if (fd >= 0) ::close(fd);
    if (!bJoined) {
      p_error = "cannot enter " + path + ": " + std::strerror(joinError);
      return false;
    }
  }
  if (!workingDirectory.empty()) fs::current_path(workingDirectory, error);
  return true;
}

// A browse list is formed once nmbd, the local master, has written for smbd
// (the "browse.dat" of its cache folder) its workgroup with itself as the
// master, and itself as a server:
//   "KESTLAN"    c0001000 "KESTSRV1"     "KESTLAN"
//   "KESTSRV1"   40849a03 "<comment>"    "KESTLAN"
// Before it wins the election the workgroup's master field is empty. The
// client's own master browser also lists every other workgroup of the LAN,
// which it learns through WINS as the domain master browser.
bool BrowseListHolds(const fs::path& p_serverRoot, const SambaServer& p_server, std::string& p_seen) {
  p_seen = ReadTextFile(p_serverRoot / "cache" / "browse.dat");
  const auto quoted = [](const char* p_name) { return "\"" + std::string(p_name) + "\""; };
  bool bWorkgroup = false;
  bool bServer = false;
  bool bOtherWorkgroups = p_server.adapter != 0;
  std::istringstream lines(p_seen);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string name, type, third;
    fields >> name >> type >> third;
    bWorkgroup |= name == quoted(p_server.workgroup) && third == quoted(p_server.name);
    bServer |= name == quoted(p_server.name);
    bOtherWorkgroups |= name == quoted(SambaLan::kSecondServer.workgroup);
  }
  return bWorkgroup && bServer && bOtherWorkgroups;
}

}  // namespace

SambaLan& SambaLan::Instance() {
  static SambaLan lan;
  return lan;
}

bool SambaLan::Start() {
  if (m_keeper > 0) return true;
  if (::geteuid() != 0) {
    m_skipReason = "the test LAN needs root (network and mount namespaces, Samba's daemons)";
    return false;
  }
  if (const std::string missing = MissingProgram(); !missing.empty()) {
    m_skipReason = "the test LAN needs " + missing + " (scripts/deps.sh installs samba, smbclient and cups-daemon)";
    return false;
  }
  if (!HasOneThread()) {
    m_skipReason = "the test LAN must be started before any thread";
    return false;
  }
  const fs::path base = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
  std::string pattern = (base / "kestnet-lan-XXXXXX").string();
  int control[2] = {-1, -1};
  int status[2] = {-1, -1};
  // The guest account reaches the shares through the folder.
  if (::mkdtemp(pattern.data()) == nullptr) {
    m_skipReason = std::string("the test LAN's folder cannot be made: ") + std::strerror(errno);
    return false;
  }
  if (::chmod(pattern.c_str(), 0755) != 0 || ::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
    m_skipReason = std::string("the test LAN's folder and pipes cannot be made: ") + std::strerror(errno);
    for (int fd : {control[0], control[1]}) {
      if (fd >= 0) ::close(fd);
    }
    fs::remove_all(pattern);
    return false;
  }
  m_directory = pattern;
  const pid_t testProcess = ::getpid();
  const pid_t keeper = ::fork();
  if (keeper == 0) {
    ::close(control[1]);
    ::close(status[0]);
    RunSambaLanKeeper(m_directory, control[0], status[1], testProcess);
  }
  ::close(control[0]);
  ::close(status[1]);
  m_control = control[1];
  m_status = status[0];
  if (keeper < 0) {
    m_skipReason = "the test LAN's keeper cannot be started";
    fs::remove_all(m_directory);
    return false;
  }
  m_keeper = keeper;
  char kind = 0;
  std::string text;
  if (!ReadMessage(m_status, kind, text) || kind != 'R') {
    m_skipReason = "the test LAN cannot be built here: " + (kind == 'F' ? text : "its keeper ended");
    std::string ignored;
    Stop(ignored);
    return false;
  }
  m_clientHolder = static_cast<pid_t>(std::atoi(text.c_str()));
  if (!JoinNamespaces(m_clientHolder, m_skipReason)) {
    std::string ignored;
    Stop(ignored);
    return false;
  }
  m_skipReason.clear();
  return true;
}

bool SambaLan::Stop(std::string& p_error) {
  p_error.clear();
  if (m_keeper <= 0) return true;
  ::close(m_control);
  m_control = -1;
  char kind = 0;
  std::string report;
  while (ReadMessage(m_status, kind, report) && kind != 'T') {
  }
  ::close(m_status);
  m_status = -1;
  ::waitpid(m_keeper, nullptr, 0);
  m_keeper = -1;
  if (kind == 'T') p_error = report;
  return p_error.empty();
}

bool SambaLan::WaitForBrowseList(std::chrono::milliseconds p_bound, std::string& p_error) {
  if (!IsRunning()) {
    p_error = m_skipReason;
    return false;
  }
  const auto deadline = Clock::now() + p_bound;
  while (!m_bBrowseListFormed) {
    m_bBrowseListFormed = true;
    for (const SambaServer* server : {&kFirstServer, &kSecondServer}) {
      std::string seen;
      if (!BrowseListHolds(m_directory / server->name, *server, seen)) {
        m_bBrowseListFormed = false;
        p_error = std::string("the browse list of ") + server->name + " is not formed yet; it holds:\n" + seen;
      }
    }
    if (m_bBrowseListFormed) break;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kBrowsePollInterval);
  }
  p_error.clear();
  return true;
}

std::string SambaLan::ClientNetworkNamespace() const { return "/proc/" + std::to_string(::getpid()) + "/ns/net"; }

fs::path SambaLan::SharePath(const SambaServer& p_server, const char* p_share) const {
  return SambaSharePath(m_directory / p_server.name, p_share);
}

fs::path SambaLan::LocalSharePath() const { return SambaSharePath(m_directory / kClientFolder, kLocalShare); }

std::string SambaLan::ReadLogs() const {
  return ReadSambaLogs(m_directory / kFirstServer.name) + ReadSambaLogs(m_directory / kSecondServer.name) +
         ReadSambaLogs(m_directory / kClientFolder);
}

}  // namespace kestnet::testing
