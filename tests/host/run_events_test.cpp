// Events posted from another thread reach the script only while it pumps
// the apartment's messages (WScript.Sleep); and --site gives objects a page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/host/kestnet_process.h"

namespace kestnet::host::testing {
namespace {

using ::testing::IsEmpty;

class RunEventsTest : public KestnetTest {
 protected:
  void SetUp() override {
    KestnetTest::SetUp();
    Register(TickerServerModule());
  }
};

TEST_F(RunEventsTest, SleepPumpsPostedEventsWithArraysAndObjectsConverted) {
  ProcessResult run = RunScript(R"(
    var ticks = 0, done = false;
    function t_OnTick(index, names, sender) {
      ++ticks;
      WScript.Echo(index, Array.isArray(names), names.length, names.join(","), sender.Ticks);
    }
    function t_OnDone() { done = true; }
    var t = WScript.CreateObject("KestHostTest.Ticker", "t_");
    t.Start(3, 1);
    for (var waited = 0; !done && waited < 10000; waited += 5) WScript.Sleep(5);
    WScript.Echo(ticks, done, t.Ticks);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "0 true 2 name0,name1 1\n"
            "1 true 2 name2,name3 2\n"
            "2 true 2 name4,name5 3\n"
            "3 true 3\n");
}

TEST_F(RunEventsTest, NoEventArrivesWhileTheScriptDoesNotPump) {
  ProcessResult run = RunScript(R"(
    var ticks = 0;
    function t_OnTick() { ++ticks; WScript.Echo("tick"); }
    var t = WScript.CreateObject("KestHostTest.Ticker", "t_");
    t.Start(2, 0);
    var until = Date.now() + 50;
    while (Date.now() < until) {}
    WScript.Echo(ticks, t.Ticks);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0 0\n");
}

TEST_F(RunEventsTest, DisconnectedObjectsStillPumpButCallNoHandler) {
  ProcessResult run = RunScript(R"(
    var ticks = 0;
    function t_OnTick() { ++ticks; }
    var t = WScript.CreateObject("KestHostTest.Ticker", "t_");
    WScript.DisconnectObject(t);
    t.Start(2, 0);
    for (var waited = 0; t.Ticks < 2 && waited < 10000; waited += 5) WScript.Sleep(5);
    WScript.Echo(ticks, t.Ticks);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0 2\n");
}

TEST_F(RunEventsTest, AnErrorInAPostedEventHandlerEndsTheSleepAndTheRun) {
  ProcessResult run = RunScript(R"(var count = 0;
function t_OnTick(index) {
  throw new Error("handler gave up at " + index);
}
var t = WScript.CreateObject("KestHostTest.Ticker", "t_");
t.Start(5, 0);
WScript.Sleep(10000);
WScript.Echo("not reached");
)");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_EQ(run.err, std::string(scripts_ / "script.js") + "(3): Error: handler gave up at 0\n");
}

TEST_F(RunEventsTest, SiteGivesEveryObjectThePageLocation) {
  const char* script = R"(
    WScript.Echo("[" + new ActiveXObject("KestHostTest.Ticker").SiteLocation + "]");
    WScript.Echo("[" + WScript.CreateObject("KestHostTest.Ticker").SiteLocation + "]");
  )";
  ProcessResult withSite = RunScript(script, {"--site", "https://example.test:8443/page.html"});
  EXPECT_EQ(withSite.exitCode, 0) << withSite.err;
  EXPECT_EQ(withSite.out,
            "[https://example.test:8443/page.html]\n"
            "[https://example.test:8443/page.html]\n");

  ProcessResult withoutSite = RunScript(script);
  EXPECT_EQ(withoutSite.exitCode, 0) << withoutSite.err;
  EXPECT_EQ(withoutSite.out, "[]\n[]\n");
}

}  // namespace
}  // namespace kestnet::host::testing
