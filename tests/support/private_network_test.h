// The GoogleTest fixture for tests that talk to DNS servers (real or
// scripted) on port 53: a fresh KESTNET_HOME and a private network namespace
// with loopback up, entered in SetUp and left in TearDown. A machine that
// cannot make a namespace skips the test with the reason.
//
//   class MyTest : public kestnet::testing::PrivateNetworkTest {};
//   TEST_F(MyTest, ...) { ... servers on 127.0.0.x:53 ... }
//
// Subclasses that override SetUp call PrivateNetworkTest::SetUp() first and
// return when IsSkipped(). Everything a test starts (peers, servers, query
// threads) must be stopped before TearDown leaves the namespace.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/network_namespace.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::testing {

class PrivateNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_home = std::make_unique<TemporaryHome>();
    std::string error;
    if (!m_namespace.Enter(error)) {
      GTEST_SKIP() << "No private network namespace can be made here (" << error
                   << "); run as root or where user namespaces are allowed.";
    }
  }
  void TearDown() override {
    m_namespace.Leave();
    m_home.reset();
  }

 private:
  std::unique_ptr<TemporaryHome> m_home;
  NetworkNamespace m_namespace;
};

}  // namespace kestnet::testing
