// Dovecot (POP3) and Postfix (SMTP) as the real mail servers of integration
// tests and benchmarks.
//
// Start runs both as root on 127.0.0.1, each on a free port, in the
// foreground, with configurations of their own under a temporary directory:
// nothing of the machine's mail setup is read or touched, and nothing leaves
// loopback. Dovecot serves POP3 for the accounts the test gives (a
// passwd-file, plain passwords) from Maildirs under the directory, and lends
// its authentication service to Postfix through a socket there. Postfix
// accepts mail for the test domain only, after AUTH LOGIN (or PLAIN), checks
// passwords through that socket, refuses unknown recipients at RCPT and
// delivers into the same Maildirs. Stop ends both servers and everything they
// started.
//
// With EnableTls the servers also speak TLS, with certificates the fixture
// makes (TestCertificates): dovecot offers STLS on the POP3 port and TLS from
// the first byte on the POP3S port; postfix has an SMTPS service (wrapper
// mode) and a submission service offering STARTTLS, both with AUTH through
// dovecot. Each of those ports answers on every loopback address of
// TestCertificates, with the certificate meant for that address. Dovecot then
// logs every authentication attempt with its user name (auth_verbose).
//
// The binaries come from the Debian packages dovecot-core, dovecot-pop3d and
// postfix (scripts/deps.sh installs them without leaving the machine's own
// services running).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/foreground_process.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/test_certificates.h"

namespace kestnet::testing {

struct MailAccount {
  std::string user;      // the local part: the address is user@MailServers::kDomain
  std::string password;  // no ':' and no line ends (the passwd-file's syntax)
};

class MailServers {
 public:
  static constexpr const char* kDomain = "kestnet.test";

  MailServers();
  // Stops the servers.
  ~MailServers();
  MailServers(const MailServers&) = delete;
  MailServers& operator=(const MailServers&) = delete;

  // Why the servers cannot run here (they bind, change users and own
  // Maildirs as root), or empty when they can.
  static std::string Unavailable();

  // Before Start: serve TLS too (see above).
  void EnableTls() { m_bTls = true; }
  // The CA the test's client must trust, once Start has made it.
  const TestCertificates& Certificates() const { return m_certificates; }

  // Starts dovecot, then postfix, and returns once both greet a client as
  // these servers (a greeting of their own, so that another fixture's server
  // on a port picked here never passes for them). When another process took
  // a picked port first, starts them again on other ports, a few times.
  // False with the reason (the servers' logs included) otherwise.
  bool Start(const std::vector<MailAccount>& p_accounts, std::string& p_error,
             std::chrono::milliseconds p_readyTimeout = std::chrono::seconds(60));
  void Stop();

  std::uint16_t Pop3Port() const { return m_pop3Port; }
  std::uint16_t SmtpPort() const { return m_smtpPort; }
  // With EnableTls.
  std::uint16_t Pop3sPort() const { return m_pop3sPort; }
  std::uint16_t SmtpsPort() const { return m_smtpsPort; }
  std::uint16_t SubmissionPort() const { return m_submissionPort; }
  static std::string Address(const std::string& p_user) { return p_user + "@" + kDomain; }

  // Puts p_message (a whole message, CR LF line ends) into the user's Maildir
  // as a new message, the way a delivery agent does (written in tmp/, then
  // moved into new/).
  bool SeedMessage(const std::string& p_user, const std::string& p_message);
  // The messages in the user's Maildir (new/ and cur/).
  std::size_t MessageCount(const std::string& p_user) const;
  // Waits until the user's Maildir holds p_count messages. The time-out is a
  // safety net for a lost delivery, not a measure of speed.
  bool WaitForMessages(const std::string& p_user, std::size_t p_count,
                       std::chrono::milliseconds p_timeout = std::chrono::seconds(60)) const;
  // Removes every message of the user.
  void EmptyMailbox(const std::string& p_user);

  // Both servers' logs so far.
  std::string ReadLogs() const;
  // Waits until the logs hold p_text: the servers write them through
  // processes of their own, a moment after what they report.
  bool WaitForLogLine(const std::string& p_text,
                      std::chrono::milliseconds p_timeout = std::chrono::seconds(60)) const;

 private:
  std::filesystem::path Maildir(const std::string& p_user) const;
  bool WriteConfiguration(const std::vector<MailAccount>& p_accounts, std::string& p_error) const;
  // One attempt of Start, on ports picked for it.
  bool StartOnFreePorts(const std::vector<MailAccount>& p_accounts, const std::string& p_dovecot,
                        const std::string& p_postfix, std::chrono::milliseconds p_readyTimeout, std::string& p_error);
  bool StartServer(ForegroundProcess& p_process, const std::vector<std::string>& p_arguments,
                   const std::filesystem::path& p_log, std::uint16_t p_port, const std::string& p_greeting,
                   std::chrono::steady_clock::time_point p_deadline, std::string& p_error);
  pid_t PostfixMasterPid() const;

  TemporaryDirectory m_directory;
  ForegroundProcess m_dovecot;
  ForegroundProcess m_postfix;
  std::uint16_t m_pop3Port = 0;
  std::uint16_t m_smtpPort = 0;
  std::uint16_t m_pop3sPort = 0;
  std::uint16_t m_smtpsPort = 0;
  std::uint16_t m_submissionPort = 0;
  bool m_bTls = false;
  TestCertificates m_certificates;
  std::size_t m_seeded = 0;
};

// The accounts of the servers a test suite shares (MailServersTest): a
// sender, a recipient and another recipient for copies, all with one password
// so that a command or a script is given it once.
inline const std::string kMailSender = "alice";
inline const std::string kMailRecipient = "bob";
inline const std::string kMailCopyRecipient = "carol";
inline const std::string kMailPassword = "s3cret-Pa55";

// One MailServers, TLS enabled, for the accounts above, shared by the tests
// of a suite: started before its first test and stopped after its last.
// While they run, SSL_CERT_FILE names their CA, so the TLS clients of the
// test and the programs it starts trust it in place of the system's.
class SharedMailServers {
 public:
  // Does nothing where the servers cannot run.
  static void Start();
  static void Stop();
  static MailServers& Servers();
  // Why Start failed; empty when it did not.
  static const std::string& StartError();
};

// The fixture base of a suite of mail tests over SharedMailServers, on top of
// the fixture the suite would have had otherwise (Base). A test is skipped
// where the servers cannot run and fails when they did not start; it begins
// with every mailbox empty. A derived SetUp goes on only when this one let
// the test run (neither IsSkipped() nor HasFatalFailure()).
template <typename Base>
class MailServersTest : public Base {
 protected:
  static void SetUpTestSuite() { SharedMailServers::Start(); }
  static void TearDownTestSuite() { SharedMailServers::Stop(); }

  void SetUp() override {
    if (const std::string reason = MailServers::Unavailable(); !reason.empty()) GTEST_SKIP() << reason;
    ASSERT_TRUE(SharedMailServers::StartError().empty()) << SharedMailServers::StartError();
    Base::SetUp();
    m_bBaseSetUp = true;
    for (const std::string& user : {kMailSender, kMailRecipient, kMailCopyRecipient}) Servers().EmptyMailbox(user);
  }
  void TearDown() override {
    if (m_bBaseSetUp) Base::TearDown();
  }

  static MailServers& Servers() { return SharedMailServers::Servers(); }

 private:
  bool m_bBaseSetUp = false;
};

}  // namespace kestnet::testing
