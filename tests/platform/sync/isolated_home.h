// A test fixture that gives each test its own KESTNET_HOME (so its named
// objects are private to it) and checks that the test leaves no open handle
// and no running thread behind. Its tests fork children with StartChild.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "tests/support/second_account.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::testing {

// Polls a condition for up to 10 s: a way to wait for another thread or
// process, never a timing assertion.
template <typename Condition>
bool WaitUntil(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

class IsolatedHome : public ::testing::Test {
 protected:
  void SetUp() override { handlesAtStart_ = platform::OpenHandleCount(); }

  void TearDown() override {
    // Abandoned threads finish on their own; give them the moment they need.
    WaitUntil([] { return platform::RunningThreadCount() == 0; });
    EXPECT_EQ(platform::RunningThreadCount(), 0u) << "a thread outlived the test";
    EXPECT_EQ(platform::OpenHandleCount(), handlesAtStart_) << "a handle was left open";
  }

  const std::string& Home() const { return home_; }
  const std::string& Scope() const { return temporaryHome_.Scope(); }

 private:
  TemporaryHome temporaryHome_;
  const std::string home_ = temporaryHome_.Path().string();
  std::size_t handlesAtStart_ = 0;
};

}  // namespace kestnet::testing
