// Shared pieces of the KestMT tests: a fixture that gives every test its own
// KESTNET_HOME (and so its own named-object scope), and a thread whose body is
// a lambda.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "platform/os/home.h"
#include "platform/sync/named_objects.h"
#include "runtime/thread.h"

namespace kestmt_test {

// Points KESTNET_HOME at a fresh temporary directory for the test and removes
// it, with the named objects of its scope, afterwards.
class TemporaryHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestmt-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_home = pattern;
    ASSERT_EQ(::setenv("KESTNET_HOME", m_home.c_str(), 1), 0);
  }

  void TearDown() override {
    kestnet::platform::RemoveNamedObjects(kestnet::platform::NamedObjectScope());
    std::error_code ignored;
    std::filesystem::remove_all(m_home, ignored);
    ::unsetenv("KESTNET_HOME");
  }

 private:
  std::string m_home;
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
