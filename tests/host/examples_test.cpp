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

// Text past U+FFFF is a surrogate pair in a script and one wchar_t in the
// object: it must arrive whole and come back the same.
TEST_F(ExamplesTest, MessageTextKeepsEveryCharacterBetweenScriptAndObject) {
  ProcessResult run = RunScript(R"(
    var m = new ActiveXObject("KestNet.KestNetMessageData");
    m.Subject = "\uD83D\uDE00 \uD83D\uDE01";
    var subject = m.Subject;
    WScript.Echo(subject, subject.length, subject === "\uD83D\uDE00 \uD83D\uDE01");
    m.Subject = "\uD83D\uDE00";
    var first = m.Subject;
    m.Subject = "\uD83D\uDE01";
    WScript.Echo(first === m.Subject, first < m.Subject);
    var edges = ["\x80", "\u07FF", "\u0800", "\uFFFF", "\uD800\uDC00", "\uDBFF\uDFFF"];
    for (var i = 0; i < edges.length; ++i) {
      m.Subject = "<" + edges[i] + ">";
      if (m.Subject !== "<" + edges[i] + ">") WScript.Echo("changed:", edges[i].charCodeAt(0).toString(16));
    }
  )");
  if (run.exitCode != 0 && run.err.find("Permission denied") != std::string::npos) {
    GTEST_SKIP() << "the module refuses every member until its trust gate is installed: " << run.err;
  }
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "\xF0\x9F\x98\x80 \xF0\x9F\x98\x81 5 true\nfalse true\n");
}

// A script given a site runs as a web page would: the objects' trust gate
// lets its members run only for a site the policy lists, port included.
TEST_F(ExamplesTest, SiteOfAWebPageMustBeListedForMembersToRun) {
  if (Kestnet({"trust", "--help"}).exitCode != 0) GTEST_SKIP() << "this kestnet has no trust verb";
  std::string example = std::string(KESTNET_EXAMPLES_DIR) + "/compose_message.js";
  if (Kestnet({"run", example}).exitCode != 0) GTEST_SKIP() << "the module's trust gate refuses even the local host";

  ProcessResult unlisted = Kestnet({"run", "--site", "http://www.example.test/page.html", example});
  EXPECT_EQ(unlisted.exitCode, 1);
  EXPECT_EQ(unlisted.out, "");
  EXPECT_EQ(unlisted.err, example + "(6): Error: From: Permission denied\n");

  ProcessResult added = Kestnet({"trust", "add", "site", "HTTP://www.Example.test:80/index.html"});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  EXPECT_EQ(added.out, "added site http://www.example.test (vendor KestNetX, user)\n");
  ProcessResult listed = Kestnet({"run", "--site", "http://www.example.test/page.html", example});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_THAT(listed.out, ::testing::StartsWith("From: alice@example.test\n"));

  // The browser's site is what counts: another port, or the host before a "\".
  for (const char* other : {"http://www.example.test:8080/page.html", "http://evil.test\\@www.example.test/"}) {
    ProcessResult refused = Kestnet({"run", "--site", other, example});
    EXPECT_EQ(refused.exitCode, 1) << other;
    EXPECT_THAT(refused.err, ::testing::HasSubstr("Permission denied")) << other;
  }
  EXPECT_EQ(Kestnet({"trust", "add", "site", "file:///tmp/page.html"}).exitCode, 1);
}

}  // namespace
}  // namespace kestnet::host::testing
