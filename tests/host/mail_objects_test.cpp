// The mail objects driven by `kestnet run` scripts against real servers:
// postfix takes what KestNetSMTP sends (AUTH LOGIN) and delivers it, dovecot
// hands it back to KestNetPOP3.
#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/mail/base64.h"
#include "tests/host/kestnet_process.h"
#include "tests/support/mail_servers.h"

namespace kestnet::host::testing {
namespace {

using ::kestnet::testing::kMailPassword;
using ::kestnet::testing::kMailRecipient;
using ::kestnet::testing::MailServersTest;
using ::kestnet::testing::TestCertificates;
using ::testing::HasSubstr;
using ::testing::Not;

// What every script starts with: waiting without a busy loop, and a send
// that reports its refusal instead of ending the script. The scripts log in
// as the shared servers' alice (sending) and bob (receiving), with
// kMailPassword.
constexpr const char* kScriptPrelude = R"JS(
  var smtpPort = Number(WScript.Arguments(0)), pop3Port = Number(WScript.Arguments(1));
  var useSsl = WScript.Arguments.length > 2 && WScript.Arguments(2) == "implicit";
  function WaitFor(done) { for (var w = 0; !done() && w < 60000; w += 10) WScript.Sleep(10); }
  function Attempt(call) { try { call(); return "accepted"; } catch (e) { return e.description; } }
  function Message(subject) {
    var m = new ActiveXObject("KestNet.KestNetMessageData");
    m.From = "alice@kestnet.test"; m.To = "bob@kestnet.test"; m.Subject = subject;
    return m;
  }
  var pop3Ready = false, retrieved = [];
  function Pop3_OnPOP3Ready() { pop3Ready = true; }
  function Pop3_OnPOP3RetrieveMessage(status, number, message) { retrieved.push([status, number, message]); }
  function Fetch(pop3, numbers) {
    pop3.Server = "127.0.0.1"; pop3.Port = pop3Port; pop3.Username = "bob"; pop3.Password = "s3cret-Pa55";
    pop3.Connect();
    for (var i = 0; i < numbers.length; ++i) {
      WaitFor(function () { return pop3Ready; });
      pop3Ready = false;
      pop3.RetrieveMessage(numbers[i]);
      WaitFor(function () { return retrieved.length == i + 1; });
    }
    pop3.Disconnect();
  }
  function Dump(entry) {
    var m = entry[2];
    WScript.Echo("message " + entry[1] + " status " + entry[0] + ", " + m.NumHeaders + " header lines, bodies equal: " +
                 (m.TextMessage == m.HtmlMessage));
    for (var i = 0; i < m.NumHeaders; ++i) WScript.Echo("H " + m.GetHeader(i));
    WScript.Echo(m.TextMessage);
  }
)JS";

class MailObjectsTest : public MailServersTest<KestnetTest> {
 protected:
  void SetUp() override {
    MailServersTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ProcessResult setup = Kestnet({"setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    // Every log entry and debugger line of the scripts goes to one file.
    ProcessResult logToDebugger = Kestnet({"reg", "add", "HKCU\\SOFTWARE\\Tolvar\\Pelwick\\Logger", "/v",
                                           "EnableOutputDebugString", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_EQ(logToDebugger.exitCode, 0) << logToDebugger.err;
    ::setenv("KESTNET_DEBUG_OUTPUT", (scripts_ / "debug-output.log").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KESTNET_DEBUG_OUTPUT");
    MailServersTest::TearDown();
  }

  std::string DebugOutput() const { return ::kestnet::testing::ReadTextFile(scripts_ / "debug-output.log"); }

  // Runs body after the prelude with the servers' plain ports, or with
  // those of a TLS mode ("implicit" or "upgrade").
  ProcessResult RunMailScript(const std::string& body, const std::string& tlsMode = "") {
    std::vector<std::string> arguments{std::to_string(Servers().SmtpPort()), std::to_string(Servers().Pop3Port())};
    if (tlsMode == "implicit") {
      arguments = {std::to_string(Servers().SmtpsPort()), std::to_string(Servers().Pop3sPort()), tlsMode};
    } else if (tlsMode == "upgrade") {
      arguments = {std::to_string(Servers().SubmissionPort()), std::to_string(Servers().Pop3Port()), tlsMode};
    }
    return RunScript(std::string(kScriptPrelude) + body, {}, arguments);
  }
};

TEST_F(MailObjectsTest, AMessageComposedInAScriptIsSentOneAtATimeAndFetchedBackWhole) {
  ProcessResult send = RunMailScript(R"JS(
    var completes = [], closes = 0, smtpReady = false;
    function Smtp_OnSMTPReady() { smtpReady = true; }
    function Smtp_OnSMTPSendComplete(status) { completes.push(status); }
    function Smtp_OnSMTPClose(status) { ++closes; }
    var smtp = WScript.CreateObject("KestNet.KestNetSMTP", "Smtp_");
    smtp.Server = "127.0.0.1"; smtp.Port = smtpPort; smtp.Username = "alice"; smtp.Password = "s3cret-Pa55";
    function Open() { smtpReady = false; smtp.Connect(); WaitFor(function () { return smtpReady; }); }
    Open();
    var noSender = new ActiveXObject("KestNet.KestNetMessageData");
    noSender.To = "bob@kestnet.test";
    WScript.Echo("without From: " + Attempt(function () { smtp.SendMessage(noSender); }));
    var both = Message("Both bodies");
    both.TextMessage = "plain words";
    both.HtmlMessage = "<p>html words</p>";
    both.AddHeader("not a header line");
    both.AddHeader("Not a header either: its name has spaces");
    WScript.Echo("first: " + Attempt(function () { smtp.SendMessage(both); }));
    WScript.Echo("second too early: " + Attempt(function () { smtp.SendMessage(Message("Too early")); }));
    WaitFor(function () { return completes.length == 1; });
    WScript.Echo("completed " + completes[0] + ", Date given: " + (both.Date != "") + ", X-Mailer: " + both.XMailer);
    WScript.Echo("after completion: " + Attempt(function () { smtp.SendMessage(Message("In time")); }));
    WaitFor(function () { return completes.length == 2; });
    // Dropped while the next message is on its way: the object must still send later.
    smtp.SendMessage(Message("Cut off"));
    smtp.Disconnect();
    WaitFor(function () { return closes == 1; });
    Open();
    WScript.Echo("after a lost connection: " + Attempt(function () { smtp.SendMessage(Message("Again")); }));
    WaitFor(function () { return completes.length == 4; });
    smtp.Disconnect();
    WaitFor(function () { return closes == 2; });
  )JS");
  ASSERT_EQ(send.exitCode, 0) << send.err;
  EXPECT_EQ(send.out,
            "without From: INVALID_ARG_ERROR\n"
            "first: accepted\n"
            "second too early: INVALID_OPERATION_ERROR\n"
            "completed 0, Date given: true, X-Mailer: <AnonymousMailer>\n"
            "after completion: accepted\n"
            "after a lost connection: accepted\n");

  const std::string sendLog = DebugOutput();
  EXPECT_NE(sendLog.find("SendMessage():  Error - Message Object does not contain a valid sender."), std::string::npos);
  EXPECT_EQ(sendLog.find("valid recipient"), std::string::npos);
  // Refused by the object itself, not only by a client still busy.
  EXPECT_NE(sendLog.find("SendMessage():  Error - Already sending a message; you can't send two emails simultaneously."),
            std::string::npos);

  // "Cut off" may or may not have gone out before the connection dropped,
  // and postfix may deliver the others in any order.
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 3)) << Servers().ReadLogs();
  ProcessResult fetch = RunMailScript(R"JS(
    Fetch(WScript.CreateObject("KestNet.KestNetPOP3", "Pop3_"), [1, 2, 3, 99]);
    for (var i = 0; i < retrieved.length; ++i) Dump(retrieved[i]);
  )JS");
  ASSERT_EQ(fetch.exitCode, 0) << fetch.err;
  const std::string& out = fetch.out;
  EXPECT_THAT(out, HasSubstr("message 1 status 0, "));
  EXPECT_THAT(out, HasSubstr("H Subject: =?utf-8?B?" + KestNet::Base64Encode("Both bodies") + "?=\n"));
  EXPECT_THAT(out, HasSubstr("H X-Mailer: <AnonymousMailer>\n"));
  EXPECT_THAT(out, HasSubstr("H Content-type: multipart/alternative;"));
  // After the folded Content-type: the header block goes on past it.
  EXPECT_THAT(out, HasSubstr("H Content-Transfer-Encoding: base64\n"));
  EXPECT_THAT(out, Not(HasSubstr("not a header line")));
  EXPECT_THAT(out, Not(HasSubstr("its name has spaces")));
  const size_t html = out.find("Content-type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                               KestNet::Base64Encode("<p>html words</p>"));
  const size_t text = out.find("Content-type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                               KestNet::Base64Encode("plain words"));
  ASSERT_NE(html, std::string::npos) << out;
  ASSERT_NE(text, std::string::npos) << out;
  EXPECT_LT(html, text);
  EXPECT_THAT(out, HasSubstr("bodies equal: true"));
  // A message that is not there: a failure status and an empty message.
  EXPECT_THAT(out, ::testing::ContainsRegex("message 99 status [1-9][0-9]*, 0 header lines, bodies equal: true\n\n$"));

  // The sessions were logged in detail, their passwords never.
  const std::string debugOutput = DebugOutput();
  EXPECT_NE(debugOutput.find("Using Authentication with Username <alice>"), std::string::npos);
  for (const std::string& secret : {kMailPassword, KestNet::Base64Encode(kMailPassword)}) {
    EXPECT_EQ(debugOutput.find(secret), std::string::npos) << secret;
  }
}

class SecureMailObjectsTest : public MailObjectsTest, public ::testing::WithParamInterface<const char*> {};

// KestNetSMTPEx and KestNetPOP3Ex: TLS from the first byte when UseSSL is
// true, else STARTTLS / STLS, which these servers offer.
TEST_P(SecureMailObjectsTest, AMessageGoesOutAndComesBackOverTls) {
  ProcessResult send = RunMailScript(R"JS(
    var completes = [], rejected = [], connects = [], closes = 0, smtpReady = false;
    function Smtp_OnSMTPConnect(status) { connects.push(status); }
    function Smtp_OnSMTPReady() { smtpReady = true; }
    function Smtp_OnSMTPSendComplete(status) { completes.push(status); }
    function Smtp_OnSMTPClose(status) { ++closes; }
    function Smtp_OnSMTPRejectedServerCertificate(why, issuer, subject) { rejected.push(why + "|" + issuer + "|" + subject); }
    var smtp = WScript.CreateObject("KestNet.KestNetSMTPEx", "Smtp_");
    smtp.UseSSL = useSsl;
    smtp.Server = "127.0.0.4";  // serves a self-signed certificate
    smtp.Port = smtpPort; smtp.Username = "alice"; smtp.Password = "s3cret-Pa55";
    smtp.Connect();
    WaitFor(function () { return connects.length == 1; });
    WScript.Echo("self-signed: " + rejected.join(" ") + ", connect " + connects[0]);
    smtp.Server = "127.0.0.1";
    smtp.Connect();
    WaitFor(function () { return smtpReady; });
    var both = Message("Over TLS");
    both.TextMessage = "plain words"; both.HtmlMessage = "<p>html words</p>";
    WScript.Echo("first: " + Attempt(function () { smtp.SendMessage(both); }));
    WScript.Echo("second too early: " + Attempt(function () { smtp.SendMessage(Message("Too early")); }));
    WaitFor(function () { return completes.length == 1; });
    WScript.Echo("completed " + completes[0]);
    var closed = closes;
    smtp.Disconnect();
    WaitFor(function () { return closes > closed; });
  )JS", GetParam());
  ASSERT_EQ(send.exitCode, 0) << send.err;
  EXPECT_EQ(send.out,
            "self-signed: self-signed|" + std::string(TestCertificates::kServerSubject) + "|" +
                TestCertificates::kServerSubject + ", connect 1\n"
            "first: accepted\n"
            "second too early: INVALID_OPERATION_ERROR\n"
            "completed 0\n");
  EXPECT_NE(DebugOutput().find("SendMessage():  Error - Already sending a message; you can't send two emails "
                               "simultaneously"),
            std::string::npos);
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 1)) << Servers().ReadLogs();

  ProcessResult fetch = RunMailScript(R"JS(
    var pop3 = WScript.CreateObject("KestNet.KestNetPOP3Ex", "Pop3_");
    pop3.UseSSL = useSsl;
    Fetch(pop3, [1]);
    Dump(retrieved[0]);
  )JS", GetParam());
  ASSERT_EQ(fetch.exitCode, 0) << fetch.err;
  EXPECT_THAT(fetch.out, HasSubstr("message 1 status 0, "));
  EXPECT_THAT(fetch.out, HasSubstr("H Subject: =?utf-8?B?" + KestNet::Base64Encode("Over TLS") + "?=\n"));
  EXPECT_THAT(fetch.out, HasSubstr(KestNet::Base64Encode("<p>html words</p>")));
  EXPECT_THAT(fetch.out, HasSubstr(KestNet::Base64Encode("plain words")));
  EXPECT_THAT(Servers().ReadLogs(), HasSubstr("TLS connection established"));
}

INSTANTIATE_TEST_SUITE_P(Modes, SecureMailObjectsTest, ::testing::Values("implicit", "upgrade"),
                         [](const auto& p_info) { return std::string(p_info.param); });

}  // namespace
}  // namespace kestnet::host::testing
