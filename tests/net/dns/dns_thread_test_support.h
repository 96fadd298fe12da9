// What the query engine's tests share: a listener that records every call,
// and scripts for the scripted DNS peer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/dns/dns_listener.h"
#include "tests/support/dns_test_messages.h"
#include "tests/support/scripted_udp_peer.h"

namespace KestNet::testing {

using namespace std::chrono_literals;

struct ListenerCall {
  std::wstring name;
  DWORD result = 0;
  DnsRecordList records;
};

class RecordingListener : public DNSListener {
 public:
  virtual ~RecordingListener() = default;
  void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                             DnsRecordList& p_records) override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_calls.push_back({p_cstrwName, p_dwResult, p_records});
    }
    m_called.notify_all();
    if (m_bThrow) {
      throw std::runtime_error("listener failure");
    }
  }

  bool WaitForCalls(std::size_t p_count, std::chrono::milliseconds p_timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_called.wait_for(lock, p_timeout, [&] { return m_calls.size() >= p_count; });
  }
  std::vector<ListenerCall> Calls() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_calls;
  }
  void ThrowFromCallback() { m_bThrow = true; }

 private:
  std::mutex m_lock;
  std::condition_variable m_called;
  std::vector<ListenerCall> m_calls;
  bool m_bThrow = false;
};

inline kestnet::testing::DnsQuery QueryOf(const kestnet::testing::ReceivedDatagram& p_datagram) {
  return kestnet::testing::ReadDnsQuery(p_datagram.bytes).value_or(kestnet::testing::DnsQuery{});
}

// Answers every query with one address record for the question.
inline kestnet::testing::UdpPeerScript AnswerWithAddress(const std::string& p_address,
                                                         std::uint32_t p_ttl = 300) {
  return [p_address, p_ttl](const kestnet::testing::ReceivedDatagram& p_datagram) {
    return std::vector<kestnet::testing::ScriptedReply>{
        {kestnet::testing::DnsResponseBuilder(QueryOf(p_datagram)).A("", p_ttl, p_address).Build()}};
  };
}

// Answers every query with no records and the given RCODE.
inline kestnet::testing::UdpPeerScript AnswerEmpty(std::uint16_t p_responseCode) {
  return [p_responseCode](const kestnet::testing::ReceivedDatagram& p_datagram) {
    return std::vector<kestnet::testing::ScriptedReply>{
        {kestnet::testing::DnsResponseBuilder(QueryOf(p_datagram))
             .Flags(static_cast<std::uint16_t>(0x8180 | p_responseCode))
             .Build()}};
  };
}

}  // namespace KestNet::testing
