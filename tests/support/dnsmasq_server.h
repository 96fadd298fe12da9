// dnsmasq as the real DNS server of integration tests.
//
// Start runs dnsmasq in the foreground, answering only from a hosts file the
// test writes (no upstream servers, no /etc/hosts, no configuration file of
// the machine), listening on one address and port. It returns once the
// server answers a query, so a test can send at once. Run it inside a
// NetworkNamespace to use port 53 without disturbing the machine.
//
// The binary is found through KESTNET_DNSMASQ, then the PATH, then the
// system administration directories where Debian installs it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/foreground_process.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::testing {

struct DnsmasqOptions {
  std::string listenAddress = "127.0.0.53";
  std::uint16_t port = 53;
  // (address, name) lines of the hosts file; a name with several addresses
  // is answered with all of them.
  std::vector<std::pair<std::string, std::string>> hosts;
  // The TTL of answers from the hosts file (dnsmasq's default is 0).
  unsigned localTtl = 0;
  // Further dnsmasq options, e.g. "--cname=alias.test,target.test".
  std::vector<std::string> extraArguments;
  bool logQueries = false;
};

class DnsmasqServer {
 public:
  DnsmasqServer();
  // Stops the server.
  ~DnsmasqServer();
  DnsmasqServer(const DnsmasqServer&) = delete;
  DnsmasqServer& operator=(const DnsmasqServer&) = delete;

  // The dnsmasq binary, or empty when it is not installed.
  static std::string FindBinary();

  // False with the reason (dnsmasq's own output included) when the server
  // does not start or does not answer within p_readyTimeout.
  bool Start(const DnsmasqOptions& p_options, std::string& p_error,
             std::chrono::milliseconds p_readyTimeout = std::chrono::seconds(5));
  // Terminates the server and waits for it; nothing when it is not running.
  void Stop();
  bool IsRunning() const { return m_process.Pid() > 0; }

  // What dnsmasq wrote to its log so far.
  std::string ReadLog() const;

  // Gives the server's UDP socket a receive buffer of p_bytes. A batch of
  // queries sent at once arrives faster than dnsmasq reads it, and the
  // default buffer holds only a few hundred: the rest would be dropped. The
  // socket is borrowed from the running server (pidfd_getfd: root in the
  // namespace may). False with the reason when it cannot be done.
  bool DeepenReceiveBuffer(int p_bytes, std::string& p_error) const;

 private:
  bool WriteFile(const std::filesystem::path& p_path, const std::string& p_text) const;
  bool WaitUntilAnswering(std::chrono::milliseconds p_timeout, std::string& p_error);

  TemporaryDirectory m_directory;
  DnsmasqOptions m_options;
  ForegroundProcess m_process;
};

}  // namespace kestnet::testing
