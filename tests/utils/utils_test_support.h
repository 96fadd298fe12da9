// What the platform and privileges tests share: a private KESTNET_HOME whose
// version profile a test sets, and the lines logged under one class.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os/version.h"
#include "runtime/log.h"
#include "runtime/log_ring.h"
#include "runtime/logger.h"
#include "tests/support/temporary_directory.h"

namespace KestUtilsTest {

// A fresh home (and so a fresh registry store) per test; the profile starts
// at the defaults.
class VersionProfileTest : public ::testing::Test {
 protected:
  void WriteProfile(const kestnet::platform::VersionProfile& p_profile) {
    ASSERT_EQ(kestnet::platform::WriteVersionProfile(p_profile), 0U);
  }

  kestnet::testing::TemporaryHome m_home;
};

// Collects the messages logged under one class. The logger delivers entries
// to sinks on its reader thread; Take() logs a marker and waits for it, so
// every line logged before it has arrived.
class LogCapture : public KestLog::LogSink {
 public:
  explicit LogCapture(std::string p_className)
      : m_className(std::move(p_className)), m_pLogger(KestLog::Logger::Instance()) {
    if (m_pLogger == nullptr) return;
    m_pLogger->AddSink(this);
    EXPECT_TRUE(m_pLogger->Execute());
    // Entries that earlier tests of the process left in the ring arrive
    // first; they are not this capture's.
    Take();
  }
  ~LogCapture() override {
    if (m_pLogger == nullptr) return;
    m_pLogger->Abort(INFINITE);
    m_pLogger->RemoveSink(this);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void OnLogEntry(const KestLog::LogEntry& p_entry) override {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_className == p_entry.className) {
      m_lines.emplace_back(p_entry.message);
    } else if (std::strcmp(p_entry.className, kMarkerClass) == 0 && m_waitingFor == p_entry.message) {
      m_markerSeen = true;
      m_arrived.notify_all();
    }
  }

  std::vector<std::string> Take() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_waitingFor = "marker " + std::to_string(++m_markerNumber);
    m_markerSeen = false;
    lock.unlock();
    Log(kMarkerClass, kLogLevelTrace, "%s", m_waitingFor.c_str());
    lock.lock();
    // Bounded only so that a broken logger fails the test instead of hanging it.
    EXPECT_TRUE(m_arrived.wait_for(lock, std::chrono::seconds(30), [this] { return m_markerSeen; }))
        << "the logger delivered no entries";
    std::vector<std::string> lines;
    lines.swap(m_lines);
    return lines;
  }

 private:
  static constexpr const char* kMarkerClass = "Test::UtilsMarker";
  std::string m_className;
  KestLog::Logger* m_pLogger;
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::vector<std::string> m_lines;
  std::string m_waitingFor;
  int m_markerNumber = 0;
  bool m_markerSeen = false;
};

}  // namespace KestUtilsTest
