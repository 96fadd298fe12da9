#include "tests/support/dnsmasq_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestnet::testing {
namespace {

// A query for a name the server does not know: any answer (a refusal
// included) proves it is listening.
std::vector<unsigned char> ReadinessProbe() {
  return {0x4B, 0x4E, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
          0x05, 'p',  'r',  'o',  'b',  'e',  0x07, 'i',  'n',  'v',  'a',  'l',
          'i',  'd',  0x00, 0x00, 0x01, 0x00, 0x01};
}

}  // namespace

DnsmasqServer::DnsmasqServer() : m_directory("kestnet-dnsmasq") {}

DnsmasqServer::~DnsmasqServer() { Stop(); }

std::string DnsmasqServer::FindBinary() { return ForegroundProcess::FindBinary("dnsmasq", "KESTNET_DNSMASQ"); }

bool DnsmasqServer::WriteFile(const std::filesystem::path& p_path, const std::string& p_text) const {
  std::ofstream file(p_path, std::ios::trunc);
  file << p_text;
  file.flush();
  return static_cast<bool>(file);
}

bool DnsmasqServer::Start(const DnsmasqOptions& p_options, std::string& p_error,
                          std::chrono::milliseconds p_readyTimeout) {
  Stop();
  m_options = p_options;
  const std::string binary = FindBinary();
  if (binary.empty()) {
    p_error = "dnsmasq is not installed (Debian package dnsmasq-base)";
    return false;
  }
  if (m_directory.Path().empty()) {
    p_error = "no temporary directory for dnsmasq";
    return false;
  }
  const auto hostsFile = m_directory.Path() / "hosts";
  const auto configurationFile = m_directory.Path() / "dnsmasq.conf";
  const auto logFile = m_directory.Path() / "dnsmasq.log";
  std::string hosts;
  for (const auto& [address, name] : p_options.hosts) {
    hosts += address + " " + name + "\n";
  }
  if (!WriteFile(hostsFile, hosts) || !WriteFile(configurationFile, "")) {
    p_error = "the hosts file for dnsmasq could not be written";
    return false;
  }

  std::vector<std::string> arguments = {
      binary,
      // Foreground without changing user or group: the test's private files
      // are readable only by the current user, and inside a user namespace
      // a change of group is not even permitted.
      "--no-daemon",
      "--conf-file=" + configurationFile.string(),
      "--no-resolv",
      "--no-hosts",
      "--addn-hosts=" + hostsFile.string(),
      "--listen-address=" + p_options.listenAddress,
      "--bind-interfaces",
      "--port=" + std::to_string(p_options.port),
      "--local-ttl=" + std::to_string(p_options.localTtl),
      "--log-facility=-",
  };
  if (p_options.logQueries) {
    arguments.push_back("--log-queries");
  }
  arguments.insert(arguments.end(), p_options.extraArguments.begin(), p_options.extraArguments.end());
  if (!m_process.Start(arguments, logFile, p_error)) {
    return false;
  }
  if (!WaitUntilAnswering(p_readyTimeout, p_error)) {
    p_error += "\n" + ReadLog();
    Stop();
    return false;
  }
  return true;
}

bool DnsmasqServer::WaitUntilAnswering(std::chrono::milliseconds p_timeout, std::string& p_error) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(m_options.port);
  if (inet_pton(AF_INET, m_options.listenAddress.c_str(), &server.sin_addr) != 1) {
    p_error = "the listen address is not an IPv4 address";
    return false;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    p_error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const auto probe = ReadinessProbe();
  const auto deadline = std::chrono::steady_clock::now() + p_timeout;
  bool answered = false;
  while (!answered && std::chrono::steady_clock::now() < deadline) {
    if (!m_process.IsRunning()) {
      p_error = "dnsmasq ended before it answered";
      break;
    }
    sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 100) == 1) {
      unsigned char reply[512];
      answered = recv(fd, reply, sizeof reply, 0) > 0;
    }
  }
  close(fd);
  if (!answered && p_error.empty()) {
    p_error = "dnsmasq did not answer in time";
  }
  return answered;
}

void DnsmasqServer::Stop() { m_process.Stop(); }

bool DnsmasqServer::DeepenReceiveBuffer(int p_bytes, std::string& p_error) const {
  const pid_t serverPid = m_process.Pid();
  if (serverPid <= 0) {
    p_error = "the server is not running";
    return false;
  }
  sockaddr_in wanted{};
  if (inet_pton(AF_INET, m_options.listenAddress.c_str(), &wanted.sin_addr) != 1) {
    p_error = "the listen address is not an IPv4 address";
    return false;
  }
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, serverPid, 0));
  if (pidfd < 0) {
    p_error = std::string("pidfd_open: ") + std::strerror(errno);
    return false;
  }
  p_error = "the server holds no UDP socket on its listen address";
  bool deepened = false;
  std::error_code ignored;
  const std::filesystem::path descriptors = "/proc/" + std::to_string(serverPid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(descriptors, ignored)) {
    const int remote = std::atoi(entry.path().filename().c_str());
    const int fd = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, remote, 0));
    if (fd < 0) {
      if (errno == EPERM) p_error = std::string("pidfd_getfd: ") + std::strerror(errno);
      continue;
    }
    int type = 0;
    socklen_t typeLength = sizeof type;
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    const bool isServerSocket =
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 && type == SOCK_DGRAM &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0 && bound.sin_family == AF_INET &&
        bound.sin_addr.s_addr == wanted.sin_addr.s_addr && ntohs(bound.sin_port) == m_options.port;
    if (isServerSocket) {
      deepened = setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &p_bytes, sizeof p_bytes) == 0;
      if (!deepened) p_error = std::string("SO_RCVBUFFORCE: ") + std::strerror(errno);
    }
    close(fd);
    if (isServerSocket) break;
  }
  close(pidfd);
  if (deepened) p_error.clear();
  return deepened;
}

std::string DnsmasqServer::ReadLog() const { return ReadTextFile(m_directory.Path() / "dnsmasq.log"); }

}  // namespace kestnet::testing
