// What a test's listener heard, each notification as one comparable record
// (e.g. "Count(0,+OK 3 1205,3,1205)"): added on whichever thread notifies,
// taken by the test in order. Waits end on a generous safety time-out that
// fails the test; they never measure speed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace kestnet::testing {

class RecordLog {
 public:
  using Records = std::vector<std::string>;

  explicit RecordLog(std::chrono::milliseconds p_safetyTimeout = std::chrono::seconds(30))
      : m_safetyTimeout(p_safetyTimeout) {}

  void Add(std::string p_record);
  // Waits until p_total records arrived in all, then hands over those not
  // taken yet.
  Records Take(std::size_t p_total);
  // Waits for the p_count records after those taken so far and hands over
  // exactly those.
  Records TakeNext(std::size_t p_count);

 private:
  // Waits until p_total records arrived, then hands over the records not
  // taken yet up to p_upTo (all that arrived, when fewer).
  Records TakeLocked(std::unique_lock<std::mutex>& p_lock, std::size_t p_total, std::size_t p_upTo);

  const std::chrono::milliseconds m_safetyTimeout;
  std::mutex m_lock;
  std::condition_variable m_changed;
  Records m_records;
  std::size_t m_taken = 0;
};

}  // namespace kestnet::testing
