// KestMT::Event: manual-reset signalling, bound waits, named events shared
// between processes.
#include "runtime/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/os/security.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "tests/runtime/kestmt_test_support.h"
#include "tests/support/second_account.h"

namespace {

using kestmt_test::LambdaThread;
using kestmt_test::TemporaryHomeTest;

class EventTest : public TemporaryHomeTest {};

TEST_F(EventTest, StaysSignalledForEveryWaiterUntilReset) {
  KestMT::Event event;
  EXPECT_FALSE(event.Wait(0));
  ASSERT_TRUE(event.Set());
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(INFINITE));
  ASSERT_TRUE(event.Reset());
  EXPECT_FALSE(event.Wait(10));
}

TEST_F(EventTest, PulseReleasesWaiterAndLeavesEventReset) {
  KestMT::Event event;
  std::atomic<bool> released{false};
  std::thread waiter([&] { released = event.Wait(INFINITE); });
  // The pulse only reaches a thread already waiting; repeat until it has.
  while (!released.load()) {
    ASSERT_TRUE(event.Pulse());
    std::this_thread::yield();
  }
  waiter.join();
  EXPECT_FALSE(event.Wait(0));
}

TEST_F(EventTest, ConfigIsRefusedOnceTheEventExists) {
  KestMT::Event event;
  EXPECT_TRUE(event.Config("KestMT::Test::Config", nullptr));
  EXPECT_TRUE(event.Config("KestMT::Test::Config::Renamed", nullptr));
  ASSERT_NE(event.GetHandle(), nullptr);
  EXPECT_FALSE(event.Config("KestMT::Test::Other", nullptr));
  EXPECT_FALSE(event.AlreadyExisted());
}

TEST_F(EventTest, SecondObjectOfSameNameOpensTheFirst) {
  KestMT::Event first;
  KestMT::Event second;
  ASSERT_TRUE(first.Config("KestMT::Test::Shared", nullptr));
  ASSERT_TRUE(second.Config("KestMT::Test::Shared", nullptr));
  ASSERT_NE(first.GetHandle(), nullptr);
  ASSERT_NE(second.GetHandle(), nullptr);
  EXPECT_FALSE(first.AlreadyExisted());
  EXPECT_TRUE(second.AlreadyExisted());
  first.Set();
  EXPECT_TRUE(second.Wait(0));
}

TEST_F(EventTest, NamedEventSignalledByAnotherProcessWakesWaiter) {
  // A null DACL lets every account open the event, as the logger's events do.
  SECURITY_DESCRIPTOR descriptor{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

  KestMT::Event event;
  ASSERT_TRUE(event.Config("KestMT::Test::CrossProcess", &attributes));
  ASSERT_NE(event.GetHandle(), nullptr);

  const pid_t child = kestnet::testing::StartChild([] {
    KestMT::Event opened;
    opened.Config("KestMT::Test::CrossProcess", nullptr);
    return opened.GetHandle() != nullptr && opened.AlreadyExisted() && opened.Set() ? 0 : 1;
  });
  EXPECT_EQ(kestnet::testing::WaitForChild(child), 0);
  EXPECT_TRUE(event.Wait(0));
}

TEST_F(EventTest, BoundWaitOfUnstartedThreadIsInvalidOperation) {
  KestMT::Event event;
  LambdaThread unstarted([](LambdaThread&) -> DWORD { return 0; });
  EXPECT_THROW(event.Wait(0, &unstarted), KestBase::InvalidOperationException);
}

TEST_F(EventTest, BoundWaitPrefersSignalledEventOverPendingAbort) {
  // With both the event and the abort signalled, the event wins (it is the
  // first object of the wait), so a result already there is not lost.
  KestMT::Event event;
  event.Set();
  std::atomic<int> obtained{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    self.Abort(INFINITE);  // from its own body: request only
    if (event.Wait(INFINITE, &self)) {
      ++obtained;
    }
    event.Reset();
    event.Wait(INFINITE, &self);  // now the abort wins
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(obtained.load(), 1);
  EXPECT_EQ(thread.GetExitCode(), 1u);
}

}  // namespace
