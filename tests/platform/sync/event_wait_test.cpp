#include <atomic>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/sync/event.h"
#include "platform/sync/wait.h"
#include "tests/platform/sync/isolated_home.h"

namespace kestnet::testing {
namespace {

using EventWaitTest = IsolatedHome;

// Starts `count` threads that each wait once on the handle without limit and
// count themselves released; joins them when destroyed.
class Waiters {
 public:
  Waiters(HANDLE handle, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, handle] {
        started_.fetch_add(1);
        if (WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0) released_.fetch_add(1);
      });
    }
    WaitUntil([&] { return started_.load() == count; });
    // Gives the threads the moment they need to go to sleep in the wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Waiters() {
    for (auto& thread : threads_) thread.join();
  }
  int Released() const { return released_.load(); }

 private:
  std::atomic<int> started_{0};
  std::atomic<int> released_{0};
  std::vector<std::thread> threads_;
};

TEST_F(EventWaitTest, AutoResetEventReleasesExactlyOneWaiterPerSet) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  {
    Waiters waiters(event, 3);
    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(waiters.Released(), 1);
    for (int expected = 2; expected <= 3; ++expected) {
      SetEvent(event);
      ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == expected; }));
    }
  }
  // Every Set was consumed by the one waiter it released.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(EventWaitTest, ManualResetEventReleasesAllWaitersAndStaysSignalled) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    Waiters waiters(event, 4);
    SetEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == 4; }));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST_F(EventWaitTest, InitialStateAndEventExFlagsAreHonoured) {
  HANDLE autoSet = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoSet, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoSet, 0), WAIT_TIMEOUT);
  HANDLE manualSet = CreateEventExW(nullptr, nullptr, CREATE_EVENT_MANUAL_RESET | CREATE_EVENT_INITIAL_SET, 0);
  EXPECT_EQ(WaitForSingleObject(manualSet, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manualSet, 0), WAIT_OBJECT_0);
  CloseHandle(autoSet);
  CloseHandle(manualSet);
}

TEST_F(EventWaitTest, PulseOnManualResetReleasesCurrentWaitersAndLeavesItReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    Waiters waiters(event, 3);
    ASSERT_TRUE(PulseEvent(event));
    ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == 3; }));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST_F(EventWaitTest, PulseOnAutoResetReleasesOneWaiter) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  {
    Waiters waiters(event, 2);
    PulseEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(waiters.Released(), 1);
    PulseEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return waiters.Released() == 2; }));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST_F(EventWaitTest, PulseWithNobodyWaitingOnlyResets) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  PulseEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST_F(EventWaitTest, WaitAnyReportsLowestSignalledIndex) {
  HANDLE events[4];
  for (HANDLE& event : events) event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEvent(events[3]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  // Only the reported one was consumed.
  EXPECT_EQ(WaitForMultipleObjects(4, events, FALSE, 0), WAIT_OBJECT_0 + 3);
  EXPECT_EQ(WaitForMultipleObjects(4, events, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE event : events) CloseHandle(event);
}

TEST_F(EventWaitTest, WaitAnyWakesWhenAnotherThreadSignals) {
  HANDLE events[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(events[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
  setter.join();
  for (HANDLE event : events) CloseHandle(event);
}

TEST_F(EventWaitTest, WaitAllTakesEveryObjectOrNone) {
  HANDLE events[2] = {CreateEventW(nullptr, FALSE, TRUE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 20), WAIT_TIMEOUT);
  // The first event was not consumed by the failed wait-all.
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
  SetEvent(events[0]);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(events[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE event : events) CloseHandle(event);
}

TEST_F(EventWaitTest, BadHandlesAndCountsFailCleanly) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);

  HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
  for (HANDLE& h : many) h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(0, many, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetEvent(many[MAXIMUM_WAIT_OBJECTS - 1]);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many, FALSE, 0), WAIT_OBJECT_0 + MAXIMUM_WAIT_OBJECTS - 1);
  HANDLE same[2] = {many[0], many[0]};
  EXPECT_EQ(WaitForMultipleObjects(2, same, TRUE, 0), WAIT_FAILED);
  for (HANDLE h : many) CloseHandle(h);
}

TEST_F(EventWaitTest, DuplicatedHandleNamesTheSameEvent) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  CloseHandle(event);
  SetEvent(copy);
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
  CloseHandle(copy);
}

}  // namespace
}  // namespace kestnet::testing
