// The lines the process's own logger writes under some classes, captured in
// this process: the logger delivers entries to sinks on its reader thread,
// which runs while a capture exists. Take() logs a marker and waits for it, so
// every line logged before it has then arrived. One capture at a time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/log.h"
#include "runtime/log_ring.h"
#include "runtime/logger.h"

namespace kestnet::testing {

struct LoggedLine {
  std::string className;
  unsigned level = 0;
  std::string message;
  bool operator==(const LoggedLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& p_out, const LoggedLine& p_line) {
  return p_out << p_line.className << " [" << p_line.level << "] " << p_line.message;
}

class LogCapture : public KestLog::LogSink {
 public:
  explicit LogCapture(std::vector<std::string> p_classNames)
      : m_classNames(std::move(p_classNames)), m_pLogger(KestLog::Logger::Instance()) {
    if (m_pLogger == nullptr) return;
    m_pLogger->AddSink(this);
    EXPECT_TRUE(m_pLogger->Execute());
    // Entries that earlier tests of the process left in the ring arrive
    // first; they are not this capture's.
    TakeLines();
  }
  explicit LogCapture(std::string p_className) : LogCapture(std::vector<std::string>{std::move(p_className)}) {}
  ~LogCapture() override {
    if (m_pLogger == nullptr) return;
    m_pLogger->Abort(INFINITE);
    m_pLogger->RemoveSink(this);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void OnLogEntry(const KestLog::LogEntry& p_entry) override {
    std::lock_guard<std::mutex> lock(m_lock);
    if (std::find(m_classNames.begin(), m_classNames.end(), p_entry.className) != m_classNames.end()) {
      m_lines.push_back(LoggedLine{p_entry.className, p_entry.level, p_entry.message});
    } else if (std::strcmp(p_entry.className, kMarkerClass) == 0 && m_waitingFor == p_entry.message) {
      m_markerSeen = true;
      m_arrived.notify_all();
    }
  }

  // The lines logged since the last call, in order.
  std::vector<LoggedLine> TakeLines() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_waitingFor = "marker " + std::to_string(++m_markerNumber);
    m_markerSeen = false;
    lock.unlock();
    Log(kMarkerClass, kLogLevelTrace, "%s", m_waitingFor.c_str());
    lock.lock();
    // Bounded only so that a broken logger fails the test instead of hanging it.
    EXPECT_TRUE(m_arrived.wait_for(lock, std::chrono::seconds(30), [this] { return m_markerSeen; }))
        << "the logger delivered no entries";
    std::vector<LoggedLine> lines;
    lines.swap(m_lines);
    return lines;
  }

  // Their messages alone.
  std::vector<std::string> Take() {
    std::vector<std::string> messages;
    for (LoggedLine& line : TakeLines()) messages.push_back(std::move(line.message));
    return messages;
  }

 private:
  static constexpr const char* kMarkerClass = "Test::LogCaptureMarker";
  const std::vector<std::string> m_classNames;
  KestLog::Logger* m_pLogger;
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::vector<LoggedLine> m_lines;
  std::string m_waitingFor;
  int m_markerNumber = 0;
  bool m_markerSeen = false;
};

}  // namespace kestnet::testing
