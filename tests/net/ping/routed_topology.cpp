#include "tests/net/ping/routed_topology.h"

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "tests/support/foreground_process.h"

namespace kestnet::testing {
namespace {

// A child that moves into a new network namespace and sleeps until killed.
pid_t StartNamespaceHolder(std::string& p_error) {
  int ready[2];
  if (::pipe(ready) != 0) {
    p_error = "pipe failed";
    return -1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls between fork and _exit.
    const char status = ::unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
    (void)::write(ready[1], &status, 1);
    if (status != 'y') ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char status = 'n';
  const bool bRead = child > 0 && ::read(ready[0], &status, 1) == 1;
  ::close(ready[0]);
  if (!bRead || status != 'y') {
    if (child > 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
    p_error = "a child could not make its own network namespace";
    return -1;
  }
  return child;
}

void StopHolder(pid_t& p_pid) {
  if (p_pid > 0) {
    ::kill(p_pid, SIGKILL);
    ::waitpid(p_pid, nullptr, 0);
  }
  p_pid = -1;
}

std::string In(pid_t p_pid, const std::string& p_command) {
  return "nsenter --net=/proc/" + std::to_string(p_pid) + "/ns/net " + p_command;
}

}  // namespace

bool WriteNetworkSysctl(const std::string& p_relativePath, const std::string& p_value) {
  std::ofstream file("/proc/sys/net/" + p_relativePath);
  file << p_value;
  file.flush();
  return static_cast<bool>(file);
}

RoutedTopology::~RoutedTopology() {
  StopHolder(m_farHost);
  StopHolder(m_router);
}

bool RoutedTopology::Build(std::string& p_error) {
  m_router = StartNamespaceHolder(p_error);
  if (m_router < 0) return false;
  m_farHost = StartNamespaceHolder(p_error);
  if (m_farHost < 0) return false;
  const std::string router = std::to_string(m_router);
  const std::string farHost = std::to_string(m_farHost);
  const std::vector<std::string> commands = {
      "ip link add kpA type veth peer name kpR netns " + router,
      "ip addr add 10.51.1.1/24 dev kpA",
      "ip link set kpA up",
      "ip route add default via 10.51.1.2",
      In(m_router, "ip link set lo up"),
      In(m_router, "ip link add kpR2 type veth peer name kpH netns " + farHost),
      In(m_router, "ip addr add 10.51.1.2/24 dev kpR"),
      In(m_router, "ip addr add 10.51.2.1/24 dev kpR2"),
      In(m_router, "ip link set kpR up"),
      In(m_router, "ip link set kpR2 up"),
      In(m_router, "ip route add unreachable 10.51.3.0/24"),
      In(m_router, "sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward'"),
      In(m_router, "sh -c 'echo 0 > /proc/sys/net/ipv4/icmp_ratelimit'"),
      In(m_farHost, "ip link set lo up"),
      In(m_farHost, "ip addr add 10.51.2.2/24 dev kpH"),
      In(m_farHost, "ip link set kpH up"),
      In(m_farHost, "ip route add default via 10.51.2.1"),
  };
  for (const std::string& command : commands) {
    std::string output;
    if (!RunCommand(command, output)) {
      p_error = "\"" + command + "\" failed: " + output;
      return false;
    }
  }
  return true;
}

}  // namespace kestnet::testing
