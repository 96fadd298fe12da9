// A scripted line peer: a TCP server on 127.0.0.1 (ephemeral port) that plays
// a line protocol's server side as the test writes it, for the mail clients'
// cases a real server will not produce.
//
// It accepts one connection at a time on its own thread, writes the greeting,
// records every line it receives (without its CR LF) and answers each line by
// the test's rule: a function from the received line to the bytes to send
// back, possibly none. The test may also send raw bytes at any time and drop
// the connection (mid-transfer, say). When the client closes, the peer closes
// too and waits for the next connection.
//
// The waits block until the condition holds; their time-out is only a safety
// net that turns a broken client into a failed test instead of a hung one.
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

// The bytes to answer a received line with ("" sends nothing).
using LinePeerRule = std::function<std::string(const std::string& p_line)>;

class ScriptedLinePeer {
 public:
  static constexpr std::chrono::seconds kSafetyTimeout{30};

  ScriptedLinePeer() = default;
  ~ScriptedLinePeer();
  ScriptedLinePeer(const ScriptedLinePeer&) = delete;
  ScriptedLinePeer& operator=(const ScriptedLinePeer&) = delete;

  // Listens and starts the thread; false with p_error on failure.
  bool Start(std::string& p_error);
  void Stop();
  std::uint16_t Port() const { return m_port; }

  // Both take effect for what comes next; may be called while running.
  void SetGreeting(std::string p_greeting);
  void SetRule(LinePeerRule p_rule);

  // Writes to the current connection; false when there is none or it failed.
  bool SendRaw(const std::string& p_bytes);
  // Ends the current connection: gracefully, or with a reset.
  void Drop(bool p_bReset = false);

  std::vector<std::string> Lines() const;
  // Until p_count lines arrived in all; false after the safety time-out.
  bool WaitForLines(std::size_t p_count) const;
  // Until p_count connections were accepted in all.
  bool WaitForConnections(std::size_t p_count) const;
  // Until p_count connections ended in all (the client closed or was dropped).
  bool WaitForCloses(std::size_t p_count) const;

 private:
  void Serve();
  // One connection, from greeting to close.
  void Converse(int p_connection);
  bool SendLocked(const std::string& p_bytes);
  bool Wait(const std::function<bool()>& p_condition) const;

  int m_listener = -1;
  int m_wakePipe[2] = {-1, -1};
  std::uint16_t m_port = 0;
  std::thread m_thread;

  mutable std::mutex m_lock;
  mutable std::condition_variable m_changed;
  std::string m_greeting;             // m_lock
  LinePeerRule m_rule;                // m_lock
  std::vector<std::string> m_lines;   // m_lock
  int m_connection = -1;              // m_lock; closed only by the thread
  std::size_t m_connections = 0;      // m_lock
  std::size_t m_closes = 0;           // m_lock
  bool m_bDropRequested = false;      // m_lock
  bool m_bResetRequested = false;     // m_lock
  bool m_bStopping = false;           // m_lock
};

}  // namespace kestnet::testing
