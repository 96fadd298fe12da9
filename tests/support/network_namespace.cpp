#include "tests/support/network_namespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace kestnet::testing {
namespace {

std::string ErrnoText(const char* p_what) {
  return std::string(p_what) + ": " + std::strerror(errno);
}

bool WriteProcFile(const char* p_path, const std::string& p_text) {
  std::ofstream file(p_path);
  file << p_text;
  file.flush();
  return static_cast<bool>(file);
}

// Maps the caller's user and group to root inside a new user namespace, so
// that it may configure the network namespace made with it.
bool EnterUserAndNetworkNamespace(std::string& p_error) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    p_error = ErrnoText("unshare(CLONE_NEWUSER | CLONE_NEWNET)") +
              (errno == EINVAL ? " (the process already has several threads)" : "");
    return false;
  }
  if (!WriteProcFile("/proc/self/setgroups", "deny") ||
      !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    p_error = "the user namespace's identity maps could not be written";
    return false;
  }
  return true;
}

}  // namespace

bool BringLoopbackUp(std::string& p_error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    p_error = ErrnoText("socket");
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) {
    p_error = ErrnoText("bringing the loopback interface up");
  }
  close(fd);
  return ok;
}

NetworkNamespace::~NetworkNamespace() { Leave(); }

bool NetworkNamespace::Enter(std::string& p_error) {
  if (m_bEntered) {
    return true;
  }
  if (geteuid() == 0) {
    m_previousNamespace = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_previousNamespace < 0) {
      p_error = ErrnoText("open(/proc/thread-self/ns/net)");
      return false;
    }
    if (unshare(CLONE_NEWNET) != 0) {
      p_error = ErrnoText("unshare(CLONE_NEWNET)");
      close(m_previousNamespace);
      m_previousNamespace = -1;
      return false;
    }
  } else {
    // Once made, the process's private namespace serves every later test.
    static bool s_bProcessIsolated = false;
    if (s_bProcessIsolated) {
      m_bEntered = true;
      return true;
    }
    if (!EnterUserAndNetworkNamespace(p_error)) {
      return false;
    }
    s_bProcessIsolated = true;
  }
  m_bEntered = true;
  if (!BringLoopbackUp(p_error)) {
    Leave();
    return false;
  }
  return true;
}

void NetworkNamespace::Leave() {
  if (m_previousNamespace >= 0) {
    // The namespace goes away once nothing is left in it.
    setns(m_previousNamespace, CLONE_NEWNET);
    close(m_previousNamespace);
    m_previousNamespace = -1;
  }
  m_bEntered = false;
}

}  // namespace kestnet::testing
