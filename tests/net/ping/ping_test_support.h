// What the echo engine tests share: a listener that records every response,
// a fixture in a private network namespace, and a capture of echo requests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "net/ping/ping_listener.h"
#include "tests/support/private_network_test.h"

namespace kestnet::testing {

struct RecordedPingResponse {
  WORD wResult;
  std::wstring target;
  std::string address;
  std::string replyAddress;
  DWORD dwRoundTripTime;
};

class RecordingPingListener : public KestNet::PingListener {
 public:
  void PingResponse(WORD p_wResult, const std::wstring& p_cstrwTarget, const std::string& p_strAddress,
                    const std::string& p_strReplyAddress, DWORD p_dwRoundTripTime) override {
    std::lock_guard lock(m_lock);
    m_responses.push_back({p_wResult, p_cstrwTarget, p_strAddress, p_strReplyAddress, p_dwRoundTripTime});
    m_changed.notify_all();
  }
  // True once at least p_count responses arrived.
  bool WaitFor(size_t p_count, std::chrono::milliseconds p_limit = std::chrono::seconds(30)) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, p_limit, [&] { return m_responses.size() >= p_count; });
  }
  std::vector<RecordedPingResponse> Responses() {
    std::lock_guard lock(m_lock);
    return m_responses;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<RecordedPingResponse> m_responses;
};

// Echo tests need raw or ping sockets, which a private namespace grants to
// root; without them the test skips with the reason.
class EchoNamespaceTest : public PrivateNetworkTest {
 protected:
  void SetUp() override;
};

// Reads the ICMP echo requests that pass through this namespace while it
// lives (a raw socket of its own).
class EchoRequestCapture {
 public:
  EchoRequestCapture();
  ~EchoRequestCapture();
  EchoRequestCapture(const EchoRequestCapture&) = delete;
  EchoRequestCapture& operator=(const EchoRequestCapture&) = delete;
  bool IsOpen() const { return m_fd >= 0; }
  // The ICMP payload of the next echo request to p_destination, waiting up to
  // p_limit; false when none came.
  bool NextRequestPayload(const std::string& p_destination, std::vector<unsigned char>& p_payload,
                          std::chrono::milliseconds p_limit = std::chrono::seconds(5));

 private:
  int m_fd = -1;
};

}  // namespace kestnet::testing
