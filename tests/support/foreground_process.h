// A server that a test fixture runs in the foreground: standard input from
// /dev/null, standard output and error into a fresh log file, no other
// descriptor of the test process, in a process group of its own (or, with
// SetOwnSession, a session of its own, as setsid(1) starts it). Stopping it
// signals that group by its id, so helpers the server forked go with it even
// when the server itself no longer waits for them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestnet::testing {

class ForegroundProcess {
 public:
  ForegroundProcess() = default;
  // Stops the process.
  ~ForegroundProcess();
  ForegroundProcess(const ForegroundProcess&) = delete;
  ForegroundProcess& operator=(const ForegroundProcess&) = delete;

  // The binary p_name: the file p_overrideVariable names when that variable is
  // set; else the first executable one on the PATH, then in the system
  // administration directories where Debian installs daemons. Empty when
  // there is none.
  static std::string FindBinary(const std::string& p_name, const char* p_overrideVariable = nullptr);

  // Before Start: the process leads a new session rather than only a new
  // process group (a daemon that signals its whole group when it stops must
  // not share one with anything else).
  void SetOwnSession() { m_bOwnSession = true; }

  // Starts p_arguments (the binary first). False with the reason when the
  // process could not be started.
  bool Start(const std::vector<std::string>& p_arguments, const std::filesystem::path& p_logFile,
             std::string& p_error);
  // False once the process has ended (it is then reaped).
  bool IsRunning();
  // Sends SIGTERM to the process group or, when positive, to
  // p_otherGroupLeader (a server the process started and waits for, which
  // made a process group of its own, as postfix's master does); waits up to
  // p_grace for the process, then kills what is left of both groups. Nothing
  // when it is not running.
  void Stop(pid_t p_otherGroupLeader = -1, std::chrono::milliseconds p_grace = std::chrono::seconds(5));

  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  bool m_bOwnSession = false;
};

// Reads the whole file; empty when it cannot be read.
std::string ReadTextFile(const std::filesystem::path& p_path);

// Runs a shell command line; true when it exits with 0. Output goes to
// p_output (standard error included).
bool RunCommand(const std::string& p_commandLine, std::string& p_output);

}  // namespace kestnet::testing
