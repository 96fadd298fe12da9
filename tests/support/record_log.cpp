#include "tests/support/record_log.h"

#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

namespace kestnet::testing {

void RecordLog::Add(std::string p_record) {
  std::lock_guard lock(m_lock);
  m_records.push_back(std::move(p_record));
  m_changed.notify_all();
}

RecordLog::Records RecordLog::Take(std::size_t p_total) {
  std::unique_lock lock(m_lock);
  return TakeLocked(lock, p_total, SIZE_MAX);
}

RecordLog::Records RecordLog::TakeNext(std::size_t p_count) {
  std::unique_lock lock(m_lock);
  return TakeLocked(lock, m_taken + p_count, m_taken + p_count);
}

RecordLog::Records RecordLog::TakeLocked(std::unique_lock<std::mutex>& p_lock, std::size_t p_total,
                                         std::size_t p_upTo) {
  const bool arrived = m_changed.wait_for(p_lock, m_safetyTimeout, [&] { return m_records.size() >= p_total; });
  const std::size_t end = std::min(p_upTo, m_records.size());
  Records taken(m_records.begin() + static_cast<std::ptrdiff_t>(m_taken),
                m_records.begin() + static_cast<std::ptrdiff_t>(end));
  m_taken = end;
  if (!arrived) {
    std::string heard;
    for (const std::string& record : taken) heard += (heard.empty() ? "" : " ") + record;
    ADD_FAILURE() << "waited for " << p_total << " records in all, heard " << m_records.size() << "; new: " << heard;
  }
  return taken;
}

}  // namespace kestnet::testing
