// Socket layer benchmarks on loopback:
//   - a line socket receiving a 64 MiB stream of 80-byte lines (lines per
//     second, bytes per second);
//   - connect-and-close cycles of the TCP client socket against a loopback
//     listener (cycles per second), 1000 per iteration.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "net/sockets/set_manager.h"
#include "net/sockets/tcp_non_blocking_client_socket.h"
#include "net/sockets/tcp_non_blocking_line_socket.h"

namespace {

using KestNet::IPAddress;
using KestNet::TcpNonBlockingLineSocket;

constexpr std::size_t kStreamBytes = 64u * 1024 * 1024;
constexpr std::size_t kLineBytes = 80;

class ListeningSocket {
 public:
  ListeningSocket() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_fd, 1024);
    socklen_t length = sizeof(address);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  ~ListeningSocket() { close(m_fd); }
  int Accept() { return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }
  unsigned short Port() const { return m_port; }

 private:
  int m_fd;
  unsigned short m_port = 0;
};

// Counts lines and waits for the last one.
class CountingLineListener : public KestNet::TcpNonBlockingLineSocketListener {
 public:
  virtual ~CountingLineListener() = default;
  void OnAccept(TcpNonBlockingLineSocket*, DWORD) override {}
  void OnClose(TcpNonBlockingLineSocket*, DWORD) override { Signal(); }
  void OnConnect(TcpNonBlockingLineSocket*, DWORD) override { Signal(); }
  void OnOutOfBandData(TcpNonBlockingLineSocket*, DWORD) override {}
  void OnReceive(TcpNonBlockingLineSocket*, DWORD) override {}
  void OnSend(TcpNonBlockingLineSocket*, DWORD) override {}
  void OnReceiveLine(TcpNonBlockingLineSocket* p_pSocket, DWORD) override {
    std::string line;
    if (p_pSocket->ReceiveLine(line) != TcpNonBlockingLineSocket::kNoLine) {
      bytes += line.size() + 2;
      if (++lines == expectedLines) {
        Signal();
      }
    }
  }

  void Wait(const std::function<bool()>& p_done) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, p_done);
  }

  std::atomic<std::size_t> lines{0};
  std::atomic<std::size_t> bytes{0};
  std::atomic<bool> connected{false};
  std::size_t expectedLines = 0;

 private:
  void Signal() {
    std::lock_guard lock(m_mutex);
    connected = true;
    m_changed.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

void SetUpHome() {
  static std::string home = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestnet-bench-XXXXXX").string();
    mkdtemp(pattern.data());
    setenv("KESTNET_HOME", pattern.c_str(), 1);
    return pattern;
  }();
}

void LineSocketReceivesLineStream(benchmark::State& p_state) {
  SetUpHome();
  KestNet::InitializeSockets();
  std::string line(kLineBytes - 2, 'x');
  line += "\r\n";
  std::string block;
  while (block.size() < 64 * 1024) {
    block += line;
  }
  const std::size_t linesPerStream = kStreamBytes / kLineBytes;
  std::size_t totalLines = 0;
  std::size_t totalBytes = 0;
  for (auto _ : p_state) {
    p_state.PauseTiming();
    ListeningSocket server;
    CountingLineListener listener;
    listener.expectedLines = linesPerStream;
    TcpNonBlockingLineSocket socket;
    socket.Create(&listener);
    socket.Connect(IPAddress("127.0.0.1"), server.Port());
    const int peer = server.Accept();
    listener.Wait([&] { return listener.connected.load(); });
    p_state.ResumeTiming();

    std::thread writer([&] {
      std::size_t sentLines = 0;
      while (sentLines < linesPerStream) {
        const std::size_t lines = std::min(block.size() / kLineBytes, linesPerStream - sentLines);
        std::size_t offset = 0;
        const std::size_t length = lines * kLineBytes;
        while (offset < length) {
          const ssize_t sent = send(peer, block.data() + offset, length - offset, MSG_NOSIGNAL);
          if (sent <= 0) {
            return;
          }
          offset += static_cast<std::size_t>(sent);
        }
        sentLines += lines;
      }
    });
    listener.Wait([&] { return listener.lines.load() >= linesPerStream; });
    writer.join();

    p_state.PauseTiming();
    totalLines += listener.lines.load();
    totalBytes += listener.bytes.load();
    socket.Close(true);
    close(peer);
    p_state.ResumeTiming();
  }
  p_state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(totalLines), benchmark::Counter::kIsRate);
  p_state.SetBytesProcessed(static_cast<int64_t>(totalBytes));
  KestNet::UninitializeSockets();
}
BENCHMARK(LineSocketReceivesLineStream)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Counts connects and closes of many sockets sharing one listener.
class CountingTcpListener : public KestNet::TcpNonBlockingSocketListener {
 public:
  virtual ~CountingTcpListener() = default;
  void OnAccept(DWORD_PTR, DWORD) override {}
  void OnClose(DWORD_PTR, DWORD) override { Bump(closes); }
  void OnConnect(DWORD_PTR, DWORD) override { Bump(connects); }
  void OnOutOfBandData(DWORD_PTR, DWORD) override {}
  void OnReceive(DWORD_PTR, DWORD) override {}
  void OnSend(DWORD_PTR, DWORD) override {}

  void WaitFor(std::atomic<std::size_t>& p_counter, std::size_t p_count) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return p_counter.load() >= p_count; });
  }

  std::atomic<std::size_t> connects{0};
  std::atomic<std::size_t> closes{0};

 private:
  void Bump(std::atomic<std::size_t>& p_counter) {
    std::lock_guard lock(m_mutex);
    ++p_counter;
    m_changed.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

void ConnectAndCloseCycles(benchmark::State& p_state) {
  SetUpHome();
  KestNet::InitializeSockets();
  constexpr std::size_t kCycles = 1000;
  // Connections are made 50 at a time, as a busy mail front end might.
  constexpr std::size_t kBatch = 50;
  ListeningSocket server;
  std::atomic<bool> stop{false};
  std::thread acceptor([&] {
    while (!stop) {
      const int peer = server.Accept();
      if (peer >= 0) {
        close(peer);
      }
    }
  });
  std::size_t cycles = 0;
  for (auto _ : p_state) {
    CountingTcpListener listener;
    for (std::size_t done = 0; done < kCycles; done += kBatch) {
      KestNet::TcpNonBlockingClientSocket sockets[kBatch];
      for (auto& socket : sockets) {
        socket.Create(&listener);
        socket.Connect(IPAddress("127.0.0.1"), server.Port());
      }
      listener.WaitFor(listener.connects, done + kBatch);
      for (auto& socket : sockets) {
        socket.Close(false);
      }
      listener.WaitFor(listener.closes, done + kBatch);
    }
    cycles += kCycles;
  }
  p_state.counters["cycles_per_second"] =
      benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
  stop = true;
  // Wake the acceptor with one last connection.
  const int wake = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(server.Port());
  connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  acceptor.join();
  close(wake);
  KestNet::UninitializeSockets();
}
BENCHMARK(ConnectAndCloseCycles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
