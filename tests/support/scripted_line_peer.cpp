#include "tests/support/scripted_line_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kestnet::testing {
namespace {

void WakeUp(int p_fd) {
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = write(p_fd, &byte, 1);
}

void DrainPipe(int p_fd) {
  char bytes[64];
  while (read(p_fd, bytes, sizeof bytes) > 0) {
  }
}

// Waits for p_fd to become readable or the wake pipe to speak; true for p_fd.
bool WaitReadable(int p_fd, int p_wakeFd) {
  pollfd probes[2] = {{p_fd, POLLIN, 0}, {p_wakeFd, POLLIN, 0}};
  while (poll(probes, 2, -1) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  if (probes[1].revents != 0) {
    DrainPipe(p_wakeFd);
  }
  return probes[0].revents != 0;
}

}  // namespace

ScriptedLinePeer::~ScriptedLinePeer() { Stop(); }

bool ScriptedLinePeer::Start(std::string& p_error) {
  if (m_thread.joinable()) {
    p_error = "already started";
    return false;
  }
  m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(m_listener, 8) != 0 ||
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    p_error = std::string("listen on 127.0.0.1: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    p_error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void ScriptedLinePeer::Stop() {
  if (m_thread.joinable()) {
    {
      std::lock_guard lock(m_lock);
      m_bStopping = true;
    }
    WakeUp(m_wakePipe[1]);
    m_thread.join();
  }
  for (int* fd : {&m_listener, &m_wakePipe[0], &m_wakePipe[1]}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

void ScriptedLinePeer::SetGreeting(std::string p_greeting) {
  std::lock_guard lock(m_lock);
  m_greeting = std::move(p_greeting);
}

void ScriptedLinePeer::SetRule(LinePeerRule p_rule) {
  std::lock_guard lock(m_lock);
  m_rule = std::move(p_rule);
}

bool ScriptedLinePeer::SendRaw(const std::string& p_bytes) {
  std::lock_guard lock(m_lock);
  return SendLocked(p_bytes);
}

bool ScriptedLinePeer::SendLocked(const std::string& p_bytes) {
  if (m_connection < 0) {
    return false;
  }
  std::size_t offset = 0;
  while (offset < p_bytes.size()) {
    const ssize_t sent = send(m_connection, p_bytes.data() + offset, p_bytes.size() - offset, MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    offset += static_cast<std::size_t>(sent);
  }
  return true;
}

void ScriptedLinePeer::Drop(bool p_bReset) {
  {
    std::lock_guard lock(m_lock);
    m_bDropRequested = true;
    m_bResetRequested = p_bReset;
  }
  WakeUp(m_wakePipe[1]);
}

std::vector<std::string> ScriptedLinePeer::Lines() const {
  std::lock_guard lock(m_lock);
  return m_lines;
}

bool ScriptedLinePeer::Wait(const std::function<bool()>& p_condition) const {
  std::unique_lock lock(m_lock);
  return m_changed.wait_for(lock, kSafetyTimeout, p_condition);
}

bool ScriptedLinePeer::WaitForLines(std::size_t p_count) const {
  return Wait([&] { return m_lines.size() >= p_count; });
}

bool ScriptedLinePeer::WaitForConnections(std::size_t p_count) const {
  return Wait([&] { return m_connections >= p_count; });
}

bool ScriptedLinePeer::WaitForCloses(std::size_t p_count) const {
  return Wait([&] { return m_closes >= p_count; });
}

void ScriptedLinePeer::Serve() {
  for (;;) {
    {
      // Checked before every wait: the wake-up that announced a stop may
      // have been drained by the connection that just ended.
      std::lock_guard lock(m_lock);
      if (m_bStopping) {
        return;
      }
      // A drop asked for while no connection was open applies to none.
      m_bDropRequested = false;
    }
    if (!WaitReadable(m_listener, m_wakePipe[0])) {
      continue;
    }
    const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0) {
      Converse(connection);
    }
  }
}

void ScriptedLinePeer::Converse(int p_connection) {
  {
    std::lock_guard lock(m_lock);
    m_connection = p_connection;
    ++m_connections;
    SendLocked(m_greeting);
  }
  m_changed.notify_all();
  std::string pending;
  bool reset = false;
  for (;;) {
    const bool readable = WaitReadable(p_connection, m_wakePipe[0]);
    {
      std::lock_guard lock(m_lock);
      if (m_bStopping || m_bDropRequested) {
        reset = m_bResetRequested;
        break;
      }
    }
    if (!readable) {
      continue;
    }
    char buffer[4096];
    const ssize_t received = recv(p_connection, buffer, sizeof buffer, 0);
    if (received <= 0) {
      break;
    }
    pending.append(buffer, static_cast<std::size_t>(received));
    std::size_t lineFeed;
    while ((lineFeed = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, lineFeed);
      pending.erase(0, lineFeed + 1);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      LinePeerRule rule;
      {
        std::lock_guard lock(m_lock);
        m_lines.push_back(line);
        rule = m_rule;
      }
      m_changed.notify_all();
      // The rule runs unlocked: it may call SendRaw or Drop itself.
      const std::string answer = rule ? rule(line) : std::string();
      SendRaw(answer);
    }
  }
  std::lock_guard lock(m_lock);
  if (reset) {
    const linger abortive{1, 0};
    setsockopt(p_connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  }
  close(p_connection);
  m_connection = -1;
  m_bDropRequested = false;
  m_bResetRequested = false;
  ++m_closes;
  m_changed.notify_all();
}

}  // namespace kestnet::testing
