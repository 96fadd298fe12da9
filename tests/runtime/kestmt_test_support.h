// Shared pieces of the KestMT tests: a fixture that gives every test its own
// KESTNET_HOME (and so its own named-object scope), and a thread whose body is
// a lambda.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "runtime/thread.h"
#include "tests/support/temporary_directory.h"

namespace kestmt_test {

// Gives the test its own KESTNET_HOME, and so its own named-object scope.
class TemporaryHomeTest : public ::testing::Test {
 private:
  kestnet::testing::TemporaryHome m_home;
};

// A worker whose body is a lambda given the thread itself. A body that may
// outlive the object must copy what it needs out of its captures first: the
// lambda is destroyed with the object.
class LambdaThread : public KestMT::Thread {
 public:
  using Body = std::function<DWORD(LambdaThread&)>;
  explicit LambdaThread(Body body) : m_body(std::move(body)) {}
  // The body uses m_body's captures, so it is stopped before they go.
  ~LambdaThread() override {
    try {
      Abort(kDestructorDeadlockTimeout);
    } catch (...) {
    }
  }

  DWORD Run() override { return m_body(*this); }

 private:
  Body m_body;
};

}  // namespace kestmt_test
