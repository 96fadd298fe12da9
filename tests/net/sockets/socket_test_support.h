// Test support for the socket layer: a private KESTNET_HOME, a loopback peer
// made of plain sockets, and listeners that record every notification.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "net/sockets/socket_listeners.h"
#include "net/sockets/tcp_non_blocking_line_socket.h"
#include "tests/support/temporary_directory.h"

namespace KestNet::testing {

using namespace std::chrono_literals;

using kestnet::testing::TemporaryHome;

// A plain blocking descriptor that closes itself.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int p_fd) : m_fd(p_fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& p_other) noexcept : m_fd(p_other.m_fd) { p_other.m_fd = -1; }
  Descriptor& operator=(Descriptor&& p_other) noexcept {
    if (this != &p_other) {
      Reset();
      m_fd = p_other.m_fd;
      p_other.m_fd = -1;
    }
    return *this;
  }
  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  void Reset() {
    if (m_fd >= 0) {
      close(m_fd);
      m_fd = -1;
    }
  }

 private:
  int m_fd = -1;
};

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
class LoopbackServer {
 public:
  // p_receiveBuffer > 0 shrinks the receive buffer of accepted connections.
  explicit LoopbackServer(int p_backlog = 128, int p_receiveBuffer = 0) {
    m_listener = Descriptor(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    setsockopt(m_listener.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (p_receiveBuffer > 0) {
      setsockopt(m_listener.Get(), SOL_SOCKET, SO_RCVBUF, &p_receiveBuffer, sizeof(p_receiveBuffer));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listener.Get(), p_backlog);
    socklen_t length = sizeof(address);
    getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }

  USHORT Port() const { return m_port; }

  // The next connection, or an invalid descriptor after p_timeout.
  Descriptor Accept(std::chrono::milliseconds p_timeout = 5s) {
    pollfd probe{m_listener.Get(), POLLIN, 0};
    if (poll(&probe, 1, static_cast<int>(p_timeout.count())) != 1) {
      return Descriptor();
    }
    return Descriptor(accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

 private:
  Descriptor m_listener;
  USHORT m_port = 0;
};

// A port on 127.0.0.1 that no socket of p_type holds: nothing listens there.
inline USHORT ClosedLoopbackPort(int p_type = SOCK_STREAM) {
  Descriptor probe(socket(AF_INET, p_type | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  // The probe closes on return, so a connect to the port is refused.
  return ntohs(address.sin_port);
}

// Whether this process's connection to 127.0.0.1:p_usServerPort has
// TCP_NODELAY on (false when there is no such connection).
inline bool ConnectionHasNoDelay(USHORT p_usServerPort) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int noDelay = 0;
    socklen_t optionLength = sizeof noDelay;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
        ntohs(peer.sin_port) == p_usServerPort &&
        getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &optionLength) == 0) {
      return noDelay != 0;
    }
  }
  return false;
}

inline bool SendAll(int p_fd, const std::string& p_data) {
  std::size_t offset = 0;
  while (offset < p_data.size()) {
    const ssize_t sent = send(p_fd, p_data.data() + offset, p_data.size() - offset, MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    offset += static_cast<std::size_t>(sent);
  }
  return true;
}

// Reads until p_count bytes arrived, the peer closed, or p_timeout passed.
inline std::string ReadBytes(int p_fd, std::size_t p_count, std::chrono::milliseconds p_timeout = 10s) {
  std::string data;
  const auto deadline = std::chrono::steady_clock::now() + p_timeout;
  char buffer[65536];
  while (data.size() < p_count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      break;
    }
    pollfd probe{p_fd, POLLIN, 0};
    if (poll(&probe, 1, static_cast<int>(left.count())) != 1) {
      break;
    }
    const ssize_t received = recv(p_fd, buffer, std::min(sizeof(buffer), p_count - data.size()), 0);
    if (received <= 0) {
      break;
    }
    data.append(buffer, static_cast<std::size_t>(received));
  }
  return data;
}

// Closes with a reset instead of a graceful close.
inline void ResetConnection(Descriptor& p_connection) {
  linger abortive{1, 0};
  setsockopt(p_connection.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  p_connection.Reset();
}

// Waits up to p_timeout for p_condition.
inline bool Eventually(const std::function<bool()>& p_condition,
                       std::chrono::milliseconds p_timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + p_timeout;
  while (!p_condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// One notification as a listener heard it.
struct Notification {
  std::string kind;  // "accept", "close", "connect", "oob", "receive", "send", "line"
  DWORD result;
  std::thread::id thread;
};

// Records notifications in order; waits are bounded so a broken socket layer
// fails a test instead of hanging it.
class NotificationLog {
 public:
  void Add(const std::string& p_kind, DWORD p_result) {
    std::lock_guard lock(m_mutex);
    m_notifications.push_back({p_kind, p_result, std::this_thread::get_id()});
    m_changed.notify_all();
  }
  std::size_t Count(const std::string& p_kind) {
    std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (const auto& notification : m_notifications) {
      count += notification.kind == p_kind ? 1 : 0;
    }
    return count;
  }
  bool WaitFor(const std::string& p_kind, std::size_t p_count,
               std::chrono::milliseconds p_timeout = 10s) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, p_timeout, [&] {
      std::size_t count = 0;
      for (const auto& notification : m_notifications) {
        count += notification.kind == p_kind ? 1 : 0;
      }
      return count >= p_count;
    });
  }
  std::vector<Notification> Snapshot() {
    std::lock_guard lock(m_mutex);
    return m_notifications;
  }
  // The kinds in arrival order, e.g. "connect,receive,close".
  std::string Sequence() {
    std::lock_guard lock(m_mutex);
    std::string sequence;
    for (const auto& notification : m_notifications) {
      sequence += (sequence.empty() ? "" : ",") + notification.kind;
    }
    return sequence;
  }
  // The result of the first notification of that kind, or 0xFFFFFFFF.
  DWORD FirstResult(const std::string& p_kind) {
    std::lock_guard lock(m_mutex);
    for (const auto& notification : m_notifications) {
      if (notification.kind == p_kind) {
        return notification.result;
      }
    }
    return 0xFFFFFFFFu;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Notification> m_notifications;
};

// What the recording listeners share: each notification is recorded in log,
// then action (if any) runs inside it.
class NotificationRecorder {
 public:
  NotificationLog log;
  // Called inside the notification of that kind, after it was recorded.
  std::function<void(const std::string&)> action;

 protected:
  void Handle(const std::string& p_kind, DWORD p_result) {
    log.Add(p_kind, p_result);
    if (action) action(p_kind);
  }
};

// A TCP socket listener that records and optionally acts inside a notification.
class RecordingTcpListener : public TcpNonBlockingSocketListener, public NotificationRecorder {
 public:
  virtual ~RecordingTcpListener() = default;
  void OnAccept(DWORD_PTR, DWORD p_dwResult) override { Handle("accept", p_dwResult); }
  void OnClose(DWORD_PTR, DWORD p_dwResult) override { Handle("close", p_dwResult); }
  void OnConnect(DWORD_PTR, DWORD p_dwResult) override { Handle("connect", p_dwResult); }
  void OnOutOfBandData(DWORD_PTR, DWORD p_dwResult) override { Handle("oob", p_dwResult); }
  void OnReceive(DWORD_PTR, DWORD p_dwResult) override { Handle("receive", p_dwResult); }
  void OnSend(DWORD_PTR, DWORD p_dwResult) override { Handle("send", p_dwResult); }
};

class RecordingLineListener : public TcpNonBlockingLineSocketListener, public NotificationRecorder {
 public:
  virtual ~RecordingLineListener() = default;
  void OnAccept(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("accept", p_dwResult); }
  void OnClose(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("close", p_dwResult); }
  void OnConnect(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("connect", p_dwResult); }
  void OnOutOfBandData(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("oob", p_dwResult); }
  void OnReceive(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("receive", p_dwResult); }
  void OnSend(TcpNonBlockingLineSocket*, DWORD p_dwResult) override { Handle("send", p_dwResult); }
  void OnReceiveLine(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override {
    std::string line;
    const DWORD length = p_pSocket->ReceiveLine(line);
    {
      std::lock_guard lock(m_linesMutex);
      m_lines.push_back(length == TcpNonBlockingLineSocket::kNoLine ? std::string("<none>") : line);
    }
    Handle("line", p_dwResult);
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(m_linesMutex);
    return m_lines;
  }

 private:
  std::mutex m_linesMutex;
  std::vector<std::string> m_lines;
};

// Every socket test runs with its own home and an initialised socket layer,
// and must leave no event thread behind.
class SocketLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitializeSockets()); }
  void TearDown() override {
    UninitializeSockets();
    EXPECT_EQ(SocketEventThread::GetLiveThreadCount(), 0u);
  }

  static bool NoEventThreads() {
    return SETManager::Instance().GetThreadCount() == 0 &&
           SocketEventThread::GetLiveThreadCount() == 0;
  }

  TemporaryHome m_home;
};

}  // namespace KestNet::testing
