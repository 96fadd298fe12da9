// A scripted UDP peer: a small server on loopback whose replies the test
// writes, for protocol cases a real server will not produce.
//
// The peer listens on one address and port. For every datagram it receives
// it records the bytes, the sender and the time since Start, then asks the
// script what to send back: any number of replies, each from the listening
// socket or from an extra sender (another address, for answers that come
// from where they should not), optionally after a delay. Without a script it
// stays silent, which makes it a server that never answers.
//
// The peer runs one thread, started by Start and joined by Stop or the
// destructor. Scripts run on that thread; the recorded datagrams may be read
// from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestnet::testing {

struct ReceivedDatagram {
  std::vector<std::uint8_t> bytes;
  std::string fromAddress;
  std::uint16_t fromPort = 0;
  // Time from Start to arrival.
  std::chrono::steady_clock::duration at{};
};

struct ScriptedReply {
  std::vector<std::uint8_t> bytes;
  // 0: the listening socket; otherwise the index AddSender returned.
  std::size_t sender = 0;
  std::chrono::milliseconds delay{0};
};

using UdpPeerScript = std::function<std::vector<ScriptedReply>(const ReceivedDatagram&)>;

class ScriptedUdpPeer {
 public:
  ScriptedUdpPeer() = default;
  ~ScriptedUdpPeer();
  ScriptedUdpPeer(const ScriptedUdpPeer&) = delete;
  ScriptedUdpPeer& operator=(const ScriptedUdpPeer&) = delete;

  // A further socket to reply from, bound to the address and port (0: any
  // port). Only before Start. Its index, or 0 with p_error set.
  std::size_t AddSender(const std::string& p_address, std::uint16_t p_port, std::string& p_error);
  // Binds the listening socket and starts the thread.
  bool Start(const std::string& p_address, std::uint16_t p_port, std::string& p_error);
  void Stop();

  // Replaces the script; may be called while running.
  void SetScript(UdpPeerScript p_script);

  std::vector<ReceivedDatagram> Received() const;
  // Waits until at least p_count datagrams arrived; false on time-out.
  bool WaitForDatagrams(std::size_t p_count, std::chrono::milliseconds p_timeout) const;

 private:
  void Serve();
  void SendReply(const ScriptedReply& p_reply, const ReceivedDatagram& p_to);

  std::vector<int> m_sockets;  // [0] listens; the others are extra senders
  int m_stopPipe[2] = {-1, -1};
  std::thread m_thread;
  std::chrono::steady_clock::time_point m_started;

  mutable std::mutex m_lock;
  mutable std::condition_variable m_arrived;
  UdpPeerScript m_script;                  // m_lock
  std::vector<ReceivedDatagram> m_received;  // m_lock
};

// Binds a UDP socket on the address and port; -1 with p_error on failure.
int OpenBoundUdpSocket(const std::string& p_address, std::uint16_t p_port, std::string& p_error);

}  // namespace kestnet::testing
