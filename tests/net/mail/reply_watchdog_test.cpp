// The reply watchdog's own thread: re-arming it once per received line must
// not wake it, and an earlier deadline must.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "net/mail/reply_watchdog.h"

namespace KestNet {
namespace {

using namespace std::chrono_literals;

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(entry.path().filename().string());
  }
  return ids;
}

// How often the kernel switched the thread out because it waited.
unsigned long VoluntarySwitches(const std::string& p_threadId) {
  std::ifstream status("/proc/self/task/" + p_threadId + "/status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stoul(line.substr(key.size()));
  }
  ADD_FAILURE() << "no switch count for thread " << p_threadId;
  return 0;
}

TEST(ReplyWatchdogTest, RearmingToALaterDeadlineLeavesTheThreadAsleep) {
  const std::set<std::string> before = ThreadIds();
  ReplyWatchdog watchdog([] {});
  std::string watchdogThread;
  for (const std::string& id : ThreadIds()) {
    if (before.count(id) == 0) watchdogThread = id;
  }
  ASSERT_FALSE(watchdogThread.empty());

  watchdog.Arm(10min);
  std::this_thread::sleep_for(50ms);  // lets the thread reach its wait; not a check of speed
  const unsigned long asleep = VoluntarySwitches(watchdogThread);
  constexpr int kLines = 1000;
  for (int line = 0; line < kLines; ++line) {
    watchdog.Disarm();
    watchdog.Arm(10min);
    std::this_thread::yield();
  }
  // Every wake-up would be a switch; a few spurious ones are allowed.
  EXPECT_LT(VoluntarySwitches(watchdogThread) - asleep, kLines / 10u);
}

TEST(ReplyWatchdogTest, AnEarlierDeadlineWakesTheThread) {
  std::mutex lock;
  std::condition_variable expired;
  bool bExpired = false;
  ReplyWatchdog watchdog([&] {
    std::lock_guard guard(lock);
    bExpired = true;
    expired.notify_all();
  });
  watchdog.Arm(10min);
  std::this_thread::sleep_for(50ms);  // the thread now waits for ten minutes
  watchdog.Arm(1ms);
  std::unique_lock guard(lock);
  EXPECT_TRUE(expired.wait_for(guard, 2min, [&] { return bExpired; }));
  EXPECT_TRUE(watchdog.TakeExpiry());
}

}  // namespace
}  // namespace KestNet
