#include "tests/support/foreground_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kestnet::testing {
namespace {

// Searched after the PATH, which often lacks them.
constexpr const char* kSystemBinaryDirectories[] = {"/usr/sbin", "/sbin"};
constexpr auto kReapInterval = std::chrono::milliseconds(10);

bool IsExecutable(const std::filesystem::path& p_path) {
  return !p_path.empty() && access(p_path.c_str(), X_OK) == 0;
}

}  // namespace

ForegroundProcess::~ForegroundProcess() { Stop(); }

std::string ForegroundProcess::FindBinary(const std::string& p_name, const char* p_overrideVariable) {
  if (p_overrideVariable != nullptr) {
    if (const char* configured = std::getenv(p_overrideVariable)) {
      return IsExecutable(configured) ? configured : std::string();
    }
  }
  std::vector<std::filesystem::path> directories;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream entries(path);
    std::string entry;
    while (std::getline(entries, entry, ':')) {
      if (!entry.empty()) directories.emplace_back(entry);
    }
  }
  directories.insert(directories.end(), std::begin(kSystemBinaryDirectories), std::end(kSystemBinaryDirectories));
  for (const auto& directory : directories) {
    if (IsExecutable(directory / p_name)) return (directory / p_name).string();
  }
  return {};
}

bool ForegroundProcess::Start(const std::vector<std::string>& p_arguments, const std::filesystem::path& p_logFile,
                              std::string& p_error) {
  Stop();
  if (p_arguments.empty()) {
    p_error = "no program to start";
    return false;
  }
  std::vector<std::string> arguments = p_arguments;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, p_logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  // Nothing else of the test process goes with it: a server outliving a
  // killed test would otherwise hold the test runner's pipes and locks open.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (m_bOwnSession) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  } else {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    p_error = p_arguments[0] + " could not be started: " + std::strerror(spawned);
    return false;
  }
  m_pid = pid;
  return true;
}

bool ForegroundProcess::IsRunning() {
  if (m_pid <= 0) return false;
  int status = 0;
  if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
    // The group may outlive its leader: its helpers are still ours to end.
    kill(-m_pid, SIGKILL);
    m_pid = -1;
  }
  return m_pid > 0;
}

void ForegroundProcess::Stop(pid_t p_otherGroupLeader, std::chrono::milliseconds p_grace) {
  if (m_pid <= 0) return;
  // A process that waits for such a leader ends with it: the leader is the
  // one to tell, so that it can end its own children in order.
  kill(p_otherGroupLeader > 0 ? p_otherGroupLeader : -m_pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + p_grace;
  int status = 0;
  while (waitpid(m_pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kReapInterval);
  }
  if (p_otherGroupLeader > 0) kill(-p_otherGroupLeader, SIGKILL);
  kill(-m_pid, SIGKILL);
  m_pid = -1;
}

std::string ReadTextFile(const std::filesystem::path& p_path) {
  std::ifstream file(p_path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool RunCommand(const std::string& p_commandLine, std::string& p_output) {
  const std::string line = p_commandLine + " 2>&1";
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return false;
  std::array<char, 256> buffer{};
  p_output.clear();
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
    p_output += buffer.data();
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kestnet::testing
