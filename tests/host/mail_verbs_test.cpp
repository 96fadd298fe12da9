// kestnet sendmail, kestnet pop3 and the mail examples against real servers:
// postfix takes the message, dovecot hands it back.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/mail/base64.h"
#include "tests/host/kestnet_process.h"
#include "tests/support/mail_servers.h"

namespace kestnet::host::testing {
namespace {

using ::kestnet::testing::kMailCopyRecipient;
using ::kestnet::testing::kMailPassword;
using ::kestnet::testing::kMailRecipient;
using ::kestnet::testing::kMailSender;
using ::kestnet::testing::MailServers;
using ::kestnet::testing::MailServersTest;
using ::kestnet::testing::ReadTextFile;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;


class MailVerbsTest : public MailServersTest<KestnetTest> {
 protected:
  void SetUp() override {
    MailServersTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ProcessResult setup = Kestnet({"setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    ::setenv("KESTNET_MAIL_PASSWORD", kMailPassword.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KESTNET_MAIL_PASSWORD");
    MailServersTest::TearDown();
  }

  ProcessResult Pop3(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "pop3");
    arguments.insert(arguments.end(), {"--server", "127.0.0.1", "--user", kMailRecipient});
    // An explicit --port (the TLS tests' pop3s port) comes first and wins.
    if (std::find(arguments.begin(), arguments.end(), "--port") == arguments.end()) {
      arguments.insert(arguments.end(), {"--port", std::to_string(Servers().Pop3Port())});
    }
    return Kestnet(arguments);
  }
  ProcessResult Sendmail(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "sendmail");
    arguments.insert(arguments.end(), {"--server", "127.0.0.1", "--user", kMailSender, "--from", MailServers::Address(kMailSender)});
    if (std::find(arguments.begin(), arguments.end(), "--port") == arguments.end()) {
      arguments.insert(arguments.end(), {"--port", std::to_string(Servers().SmtpPort())});
    }
    return Kestnet(arguments);
  }
};

TEST_F(MailVerbsTest, SentMessageComesBackAsAnEmlFileAndDeletionEmptiesTheMailbox) {
  // Bare LFs and CR LFs mixed, and a few hundred KiB of non-ASCII text (two-,
  // three- and four-byte UTF-8), so the body crosses every conversion on its
  // way out and back.
  std::string nonAscii;
  for (int line = 0; line < 8000; ++line) nonAscii += "Grüße aus 東京 \xF0\x9F\x98\x80 " + std::to_string(line) + "\r\n";
  std::filesystem::path body = scripts_ / "body.txt";
  std::ofstream(body, std::ios::binary) << "First line\nsecond line\n" << nonAscii;
  ProcessResult sent = Sendmail({"--to", MailServers::Address(kMailRecipient), "--bcc", MailServers::Address(kMailCopyRecipient),
                                 "--subject", "Round trip", "--text-file", body.string()});
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_EQ(sent.out, "sent to " + MailServers::Address(kMailRecipient) + ", " + MailServers::Address(kMailCopyRecipient) + "\n");
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 1)) << Servers().ReadLogs();
  ASSERT_TRUE(Servers().WaitForMessages(kMailCopyRecipient, 1)) << "the blind copy";

  ProcessResult count = Pop3({"count"});
  EXPECT_EQ(count.exitCode, 0) << count.err;
  EXPECT_THAT(count.out, ::testing::MatchesRegex("1 messages, [0-9]+ bytes\n"));

  std::filesystem::path folder = scripts_ / "inbox";
  ProcessResult retrieved = Pop3({"retrieve", "all", "--output", folder.string()});
  ASSERT_EQ(retrieved.exitCode, 0) << retrieved.err;
  std::string eml = ReadTextFile(folder / "1.eml");
  EXPECT_EQ(retrieved.out, "message 1: " + (folder / "1.eml").string() + " (" + std::to_string(eml.size()) +
                               " bytes)\n");
  // Subject and body travel Base64-encoded, the body's line ends made CR LF.
  EXPECT_THAT(eml, HasSubstr("\r\nSubject: =?utf-8?B?Um91bmQgdHJpcA==?=\r\n"));
  std::string encoded = eml.substr(eml.find("\r\n\r\n") + 4);
  std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
  std::string decoded;
  ASSERT_TRUE(KestNet::Base64Decode(encoded, decoded));
  EXPECT_TRUE(decoded == "First line\r\nsecond line\r\n" + nonAscii) << "the body arrives byte for byte";
  EXPECT_EQ(eml.find("\n"), eml.find("\r\n") + 1) << "every line ends in CR LF";
  EXPECT_THAT(eml, Not(HasSubstr(MailServers::Address(kMailCopyRecipient)))) << "no header names the blind copy";

  ProcessResult toStdout = Pop3({"retrieve", "1"});
  EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, eml);
  ProcessResult list = Pop3({"list"});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_THAT(list.out, StartsWith("1 " + std::to_string(eml.size()) + " "));

  ProcessResult deleted = Pop3({"delete", "1"});
  EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "message 1 deleted\n");
  EXPECT_EQ(Pop3({"count"}).out, "0 messages, 0 bytes\n");
  // A message that is not there is a failure of the work, not of usage.
  ProcessResult missing = Pop3({"retrieve", "1"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("kestnet pop3: retrieving message 1: POP3_UNEXPECTED"));
}

// --tls goes through the secure objects with TLS from the first byte,
// --starttls upgrades the plain port; a certificate that is not the one
// asked for ends the session before the log-in.
TEST_F(MailVerbsTest, SecureObjectsCarryTheMessageOverTlsAndStartTls) {
  ProcessResult sent = Sendmail({"--tls", "--port", std::to_string(Servers().SmtpsPort()), "--to",
                                 MailServers::Address(kMailRecipient), "--subject", "Sealed", "--text", "x"});
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 1)) << Servers().ReadLogs();

  ProcessResult upgraded = Pop3({"retrieve", "1", "--starttls"});
  EXPECT_EQ(upgraded.exitCode, 0) << upgraded.err;
  EXPECT_THAT(upgraded.out, HasSubstr("\r\nSubject: =?utf-8?B?U2VhbGVk?=\r\n"));

  ProcessResult rejected = Pop3({"count", "--tls", "--port", std::to_string(Servers().Pop3sPort()),
                                 "--cert-subject", "mail.other.test"});
  EXPECT_EQ(rejected.exitCode, 1);
  EXPECT_THAT(rejected.err, StartsWith("kestnet pop3: the server's certificate was rejected: subject mismatch"));
}

TEST_F(MailVerbsTest, AWrongPasswordFailsClearlyWithoutShowingIt) {
  const std::string wrong = "Wr0ng-9assword";
  ::setenv("KESTNET_MAIL_PASSWORD", wrong.c_str(), 1);
  ProcessResult pop3 = Pop3({"count"});
  EXPECT_EQ(pop3.exitCode, 1);
  EXPECT_THAT(pop3.err, StartsWith("kestnet pop3: logging in to 127.0.0.1 as bob: POP3_AUTH_ERROR"));
  ProcessResult smtp = Sendmail({"--to", MailServers::Address(kMailRecipient), "--text", "x"});
  EXPECT_EQ(smtp.exitCode, 1);
  EXPECT_THAT(smtp.err, StartsWith("kestnet sendmail: logging in to 127.0.0.1 as alice: SMTP_AUTH_ERROR"));
  for (const ProcessResult* run : {&pop3, &smtp}) {
    EXPECT_THAT(run->out + run->err, Not(HasSubstr(wrong)));
  }
  EXPECT_EQ(Servers().MessageCount(kMailRecipient), 0u);
}

TEST_F(MailVerbsTest, HelpAndBadUsageNeedNoServer) {
  for (const char* verb : {"pop3", "sendmail"}) {
    ProcessResult help = Kestnet({verb, "--help"});
    EXPECT_EQ(help.exitCode, 0) << verb;
    EXPECT_THAT(help.out, AllOf(StartsWith(std::string("usage: kestnet ") + verb), HasSubstr("KESTNET_MAIL_PASSWORD")));
  }
  ProcessResult noRecipient = Kestnet({"sendmail", "--server", "127.0.0.1", "--from", "a@kestnet.test"});
  EXPECT_EQ(noRecipient.exitCode, 2);
  EXPECT_THAT(noRecipient.err, StartsWith("kestnet sendmail: name at least one recipient with --to\n"));
  ProcessResult many = Kestnet({"pop3", "retrieve", "1", "2", "--server", "127.0.0.1", "--user", "bob"});
  EXPECT_EQ(many.exitCode, 2);
  EXPECT_THAT(many.err, StartsWith("kestnet pop3: more than one message needs --output DIR\n"));
  ::unsetenv("KESTNET_MAIL_PASSWORD");
  ProcessResult noPassword = Kestnet({"pop3", "count", "--server", "127.0.0.1", "--user", "bob"});
  EXPECT_EQ(noPassword.exitCode, 2);
  EXPECT_THAT(noPassword.err, StartsWith("kestnet pop3: no password: set KESTNET_MAIL_PASSWORD"));
}

TEST_F(MailVerbsTest, ExamplesSendAndFetchAMessage) {
  std::string port = std::to_string(Servers().SmtpPort());
  ProcessResult sent = Kestnet({"run", std::string(KESTNET_EXAMPLES_DIR) + "/send_mail.js", "127.0.0.1", port, kMailSender,
                                kMailPassword, MailServers::Address(kMailSender), MailServers::Address(kMailRecipient), "Hi"});
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_EQ(sent.out, "OnSMTPAuthenticated: status 0\nOnSMTPReady\nOnSMTPSendComplete: status 0\nOnSMTPQuit: status 0\n");
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 1)) << Servers().ReadLogs();

  ProcessResult fetched = Kestnet({"run", std::string(KESTNET_EXAMPLES_DIR) + "/fetch_mail.js", "127.0.0.1",
                                   std::to_string(Servers().Pop3Port()), kMailRecipient, kMailPassword});
  EXPECT_EQ(fetched.exitCode, 0) << fetched.err;
  EXPECT_THAT(fetched.out, ::testing::MatchesRegex("OnPOP3GetMessageCount: 1 message\\(s\\), [0-9]+ bytes\n"
                                                   "message 1: from alice@kestnet.test, subject \"=\\?utf-8\\?B\\?SGk=\\?=\", [0-9]+ "
                                                   "characters of body\n"));
}

}  // namespace
}  // namespace kestnet::host::testing
