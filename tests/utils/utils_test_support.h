// What the platform and privileges tests share: a private KESTNET_HOME whose
// version profile a test sets, and the lines logged under one class.
#pragma once

#include <gtest/gtest.h>

#include "platform/os/version.h"
#include "tests/support/log_capture.h"
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

using kestnet::testing::LogCapture;

}  // namespace KestUtilsTest
