// kestnet run against the COM runtime's test server module: members reached
// through GetIDsOfNames/Invoke, events through the default source
// interface, and how a script learns of failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/host/kestnet_process.h"

namespace kestnet::host::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class RunVerbTest : public KestnetTest {
 protected:
  void SetUp() override {
    KestnetTest::SetUp();
    Register(ComTestServerModule());
  }
};

TEST_F(RunVerbTest, PropertiesAndMethodsGoThroughDispatch) {
  ProcessResult run = RunScript(R"(
    var w = new ActiveXObject("KestTest.Widget");
    w.Name = "first";
    w.Count = 41;
    w.Count = w.Count + 1;
    WScript.Echo(w.Name, w.Count);
    WScript.Echo(w.AddNumbers(2), w.AddNumbers(2, 3));       // optional with its default
    WScript.Echo(w.Greeting("Ann"), w.Greeting("Ann", "Hi")); // optional text
    WScript.Echo(w.Concat("t", 7, 3, false));
    WScript.Echo(w.Scale(1.5), typeof w.Scale(2));
    var other = WScript.CreateObject("KestTest.Widget");
    other.Name = "second";
    WScript.Echo(w.NameOf(other));                            // a wrapped object goes back as VT_DISPATCH
    WScript.Echo("Name" in w, "Nothing" in w, w.Nothing === undefined);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "first 42\n"
            "12 5\n"
            "Hello, Ann Hi, Ann\n"
            "t|7|3|false\n"
            "3.75 number\n"
            "second\n"
            "true false true\n");
  EXPECT_THAT(run.err, IsEmpty());
}

TEST_F(RunVerbTest, ValuesTheObjectRejectsBecomeScriptErrorsThatCanBeCaught) {
  ProcessResult run = RunScript(R"(
    var w = new ActiveXObject("KestTest.Widget");
    try { w.ShortValue = 70000; } catch (e) { WScript.Echo("put:", e.description); }
    try { w.Fail("it broke"); } catch (e) { WScript.Echo("call:", e.description, e.number === -2147467259); }
    try { w.Count = -1; } catch (e) { WScript.Echo("count:", e.description); }
    try { w.Describe(function () {}); } catch (e) { WScript.Echo("arg:", e.number === -2147352571); }
    WScript.Echo("still running", w.ShortValue);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "put: Overflow\n"
            "call: it broke true\n"
            "count: Count must not be negative\n"
            "arg: true\n"
            "still running 0\n");
}

// An array too deep to convert, or one that holds itself, is the script's
// error to catch; duktape's own errors on the way never unwind the host.
TEST_F(RunVerbTest, ArraysWithoutAnAutomationFormAreCatchableErrors) {
  ProcessResult run = RunScript(R"(
    var w = new ActiveXObject("KestTest.Widget");
    var deep = [];
    for (var i = 0; i < 100000; ++i) deep = [deep];
    var itself = [1, 2];
    itself.push(itself);
    var throwing = [1];
    Object.defineProperty(throwing, "0", { get: function () { throw new Error("no element"); } });
    try { w.Describe(deep); } catch (e) { WScript.Echo("deep:", e instanceof Error, e.number === -2147352571); }
    try { w.Describe(itself); } catch (e) { WScript.Echo("itself:", e.description); }
    try { w.Describe(throwing); } catch (e) { WScript.Echo("getter:", e.description); }
    WScript.Echo(w.Describe([[1, [2]], "x"]));
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "deep: true true\n"
            "itself: Describe: argument 1 cannot be passed to an automation object: an array that contains itself "
            "has no automation form\n"
            "getter: Describe: argument 1 cannot be passed to an automation object: Error: no element\n"
            "8204:?\n");
}

TEST_F(RunVerbTest, EventsReachFunctionsNamedByPrefix) {
  ProcessResult run = RunScript(R"(
    var ticks = 0, done = 0, other = 0;
    function w_OnTick(index, text) { ++ticks; WScript.Echo("tick", index, text); }
    function w_OnDone() { ++done; }
    function x_OnTick() { ++other; }
    var w = WScript.CreateObject("KestTest.Widget", "w_");
    w.FireEvents(2);
    WScript.ConnectObject(w, "x_");
    w.FireEvents(1);
    WScript.DisconnectObject(w);
    w.FireEvents(5);
    WScript.Echo(ticks, done, other);
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "tick 0 tick 0\n"
            "tick 1 tick 1\n"
            "tick 0 tick 0\n"
            "3 2 1\n");
}

TEST_F(RunVerbTest, EventsWithoutHandlersAreIgnored) {
  ProcessResult run = RunScript(R"(
    var w = WScript.CreateObject("KestTest.Widget", "nobody_");
    w.FireEvents(3);
    WScript.Echo("fine");
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "fine\n");
}

TEST_F(RunVerbTest, ArgumentsAreACollectionAndAnArray) {
  ProcessResult run = RunScript(R"(
    var a = WScript.Arguments;
    WScript.Echo(a.length, a.Count(), a[0], a.Item(1), a(2));
    try { a.Item(3); } catch (e) { WScript.Echo(e.description); }
  )",
                                {}, {"one", "two words", "three"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "3 3 one two words three\n"
            "WScript.Arguments.Item: subscript out of range\n");
}

TEST_F(RunVerbTest, QuitEndsTheRunWithItsCodeEvenInsideTryOrAHandler) {
  ProcessResult plain = RunScript("WScript.Echo('a'); WScript.Quit(7); WScript.Echo('b');");
  EXPECT_EQ(plain.exitCode, 7);
  EXPECT_EQ(plain.out, "a\n");

  ProcessResult caught = RunScript(R"(
    try { WScript.Quit(3); } catch (e) { WScript.Echo("caught"); }
    WScript.Echo("after");
  )");
  EXPECT_EQ(caught.exitCode, 3);
  EXPECT_EQ(caught.out, "");  // a script's catch cannot go on: its next call into the host ends the run

  ProcessResult fromHandler = RunScript(R"(
    function w_OnTick(index) { if (index == 1) WScript.Quit(5); WScript.Echo("tick", index); }
    var w = WScript.CreateObject("KestTest.Widget", "w_");
    w.FireEvents(4);
    WScript.Echo("not reached");
  )");
  EXPECT_EQ(fromHandler.exitCode, 5);
  EXPECT_EQ(fromHandler.out, "tick 0\n");
  EXPECT_THAT(fromHandler.err, IsEmpty());
}

TEST_F(RunVerbTest, SyntaxErrorNamesFileAndLine) {
  ProcessResult run = RunScript("WScript.Echo('x');\nvar = ;\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, IsEmpty());  // nothing runs
  EXPECT_THAT(run.err, HasSubstr("script.js(2): SyntaxError"));
}

TEST_F(RunVerbTest, MissingProgIdIsAClearErrorWithTheLine) {
  ProcessResult run = RunScript("WScript.Echo('x');\nvar o = new ActiveXObject('No.Such.Thing');\nWScript.Echo('y');");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "x\n");
  EXPECT_THAT(run.err, HasSubstr("script.js(2): Error: Could not create object named \"No.Such.Thing\""));
}

TEST_F(RunVerbTest, MethodFailureReportsTheObjectsDescription) {
  ProcessResult run = RunScript("var w = WScript.CreateObject('KestTest.Widget');\n\nw.Fail('disk on fire');\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, std::string(scripts_ / "script.js") + "(3): Error: Fail: disk on fire\n");
}

TEST_F(RunVerbTest, UnknownMethodAndUncaughtValuesFail) {
  ProcessResult unknown = RunScript("var w = new ActiveXObject('KestTest.Widget');\nw.Explode();\n");
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.err, HasSubstr("script.js(2): TypeError"));

  ProcessResult thrown = RunScript("throw 'plain text';");
  EXPECT_EQ(thrown.exitCode, 1);
  EXPECT_THAT(thrown.err, HasSubstr("uncaught exception: plain text"));
}

TEST_F(RunVerbTest, AnErrorInAHandlerEndsTheRunAndNamesTheHandlerLine) {
  ProcessResult run = RunScript(R"(var n = 0;
function w_OnTick(index) {
  ++n;
  if (index == 1) undefinedFunction();
}
var w = WScript.CreateObject("KestTest.Widget", "w_");
w.FireEvents(3);
WScript.Echo("not reached");
)");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_THAT(run.err, HasSubstr("script.js(4): ReferenceError"));
}

TEST_F(RunVerbTest, BadCommandLinesAndMissingScripts) {
  EXPECT_EQ(Kestnet({"run"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"run", "--site"}).exitCode, 2);
  EXPECT_EQ(Kestnet({"run", "--bogus", "x.js"}).exitCode, 2);
  ProcessResult missing = Kestnet({"run", (scripts_ / "absent.js").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("cannot open"));
  ProcessResult help = Kestnet({"run", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("WScript.Sleep"));
}

TEST_F(RunVerbTest, HostFunctionsRejectBadArguments) {
  ProcessResult run = RunScript(R"(
    function report(f) { try { f(); } catch (e) { WScript.Echo(e.description); } }
    report(function () { WScript.Sleep(-1); });
    report(function () { WScript.Sleep("soon"); });
    report(function () { WScript.CreateObject(""); });
    report(function () { WScript.ConnectObject({}, "p_"); });
    report(function () { WScript.DisconnectObject("widget"); });
    WScript.DisconnectObject(new ActiveXObject("KestTest.Widget"));  // not connected: nothing to undo
    WScript.Echo("end");
  )");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "WScript.Sleep: the time must be a number of milliseconds, 0 or more\n"
            "WScript.Sleep: the time must be a number of milliseconds, 0 or more\n"
            "The ProgID must be a non-empty string\n"
            "WScript.ConnectObject: the first argument must be an automation object\n"
            "WScript.DisconnectObject: the first argument must be an automation object\n"
            "end\n");
}

}  // namespace
}  // namespace kestnet::host::testing
