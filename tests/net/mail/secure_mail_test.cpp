// The secure mail clients: Pop3ExClient and SmtpExClient against dovecot and
// postfix speaking TLS (from the first byte, and upgraded with STLS and
// STARTTLS), the certificates a client must refuse, servers that refuse the
// upgrade they offered (scripted peers), and the answers without a server.
#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/mail/mime.h"
#include "net/mail/pop3_ex_client.h"
#include "net/mail/smtp_ex_client.h"
#include "runtime/exceptions.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/mail_servers.h"
#include "tests/support/record_log.h"
#include "tests/support/scripted_line_peer.h"

namespace KestNet::testing {
namespace {

using namespace kestnet::testing;
using Records = RecordLog::Records;

constexpr auto kSafetyTimeout = std::chrono::seconds(60);
const std::string kCaCommonName = "KestNet Test CA";

std::string Status(DWORD p_dwStatus) { return std::to_string(p_dwStatus); }

// Every call of both listeners as a record, with the threads they came on.
class RecordingExListener : public Pop3ExClientListener, public SmtpExClientListener {
 public:
  virtual ~RecordingExListener() = default;

  void OnPop3ExConnect(DWORD p_dwStatus) override { Add("Connect(" + Status(p_dwStatus) + ")"); }
  void OnPop3ExReady() override { Add("Ready"); }
  void OnPop3ExQuit(DWORD p_dwStatus, const std::string&) override { Add("Quit(" + Status(p_dwStatus) + ")"); }
  void OnPop3ExClose(DWORD p_dwStatus) override { Add("Close(" + Status(p_dwStatus) + ")"); }
  void OnPop3ExCount(DWORD p_dwStatus, const std::string&, DWORD p_dwCount, DWORD) override {
    Add("Count(" + Status(p_dwStatus) + "," + Status(p_dwCount) + ")");
  }
  void OnPop3ExRetrieve(DWORD p_dwStatus, DWORD p_dwNumber, const std::vector<std::string>& p_headerLines,
                        const std::vector<std::string>& p_bodyLines) override {
    {
      std::lock_guard lock(m_lock);
      m_headerLines = p_headerLines;
      m_bodyLines = p_bodyLines;
    }
    Add("Retrieve(" + Status(p_dwStatus) + "," + Status(p_dwNumber) + ")");
  }
  void OnPop3ExDelete(DWORD p_dwStatus, const std::string&, DWORD p_dwNumber) override {
    Add("Delete(" + Status(p_dwStatus) + "," + Status(p_dwNumber) + ")");
  }
  void OnPop3ExRejectedServerCertificate(const std::string& p_strStatus, const std::string& p_strIssuer,
                                         const std::string& p_strSubject) override {
    Add("Rejected(" + p_strStatus + "|" + p_strIssuer + "|" + p_strSubject + ")");
  }
  void OnSmtpExConnect(DWORD p_dwStatus) override { Add("Connect(" + Status(p_dwStatus) + ")"); }
  void OnSmtpExReady() override { Add("Ready"); }
  void OnSmtpExQuit(DWORD p_dwStatus, const std::string&) override { Add("Quit(" + Status(p_dwStatus) + ")"); }
  void OnSmtpExClose(DWORD p_dwStatus) override { Add("Close(" + Status(p_dwStatus) + ")"); }
  void OnSmtpExMailSent(DWORD p_dwStatus) override { Add("MailSent(" + Status(p_dwStatus) + ")"); }
  void OnSmtpExRejectedServerCertificate(const std::string& p_strStatus, const std::string& p_strIssuer,
                                         const std::string& p_strSubject) override {
    Add("Rejected(" + p_strStatus + "|" + p_strIssuer + "|" + p_strSubject + ")");
  }

  Records Take(std::size_t p_count) { return m_log.TakeNext(p_count); }
  std::set<std::thread::id> Threads() {
    std::lock_guard lock(m_lock);
    return m_threads;
  }
  std::vector<std::string> HeaderLines() {
    std::lock_guard lock(m_lock);
    return m_headerLines;
  }
  std::vector<std::string> BodyLines() {
    std::lock_guard lock(m_lock);
    return m_bodyLines;
  }

 private:
  void Add(std::string p_record) {
    {
      std::lock_guard lock(m_lock);
      m_threads.insert(std::this_thread::get_id());
    }
    m_log.Add(std::move(p_record));
  }

  RecordLog m_log{kSafetyTimeout};
  std::mutex m_lock;
  std::set<std::thread::id> m_threads;
  std::vector<std::string> m_headerLines;
  std::vector<std::string> m_bodyLines;
};

// How a client reaches its server: TLS from the first byte or by upgrade.
enum class Transport { kImplicit, kUpgrade };
enum class Protocol { kPop3, kSmtp };

std::string Name(Protocol p_protocol, Transport p_transport) {
  return std::string(p_protocol == Protocol::kPop3 ? "Pop3" : "Smtp") +
         (p_transport == Transport::kImplicit ? "Implicit" : "Upgrade");
}

// Sets a client up for one server and address.
template <typename Client>
void Configure(Client& p_client, RecordingExListener& p_listener, Transport p_transport, const std::string& p_address,
               std::uint16_t p_port, const std::string& p_user, const std::string& p_password) {
  p_client.SetListener(&p_listener);
  p_client.SetUseSSL(p_transport == Transport::kImplicit);
  p_client.SetServer(p_address, p_port);
  p_client.SetUser(p_user);
  p_client.SetPassword(p_password);
}

class SecureMailTest : public MailServersTest<SocketLayerTest> {
 protected:
  void TearDown() override {
    m_pop3.reset();
    m_smtp.reset();
    MailServersTest::TearDown();
  }

  static std::uint16_t Port(Protocol p_protocol, Transport p_transport) {
    if (p_protocol == Protocol::kPop3) {
      return p_transport == Transport::kImplicit ? Servers().Pop3sPort() : Servers().Pop3Port();
    }
    return p_transport == Transport::kImplicit ? Servers().SmtpsPort() : Servers().SubmissionPort();
  }
  // Lines of both servers' logs that hold every one of p_parts.
  static std::size_t LoggedLines(const std::vector<std::string>& p_parts) {
    const std::string logs = Servers().ReadLogs();
    std::size_t count = 0;
    for (std::size_t start = 0, end = 0; start < logs.size(); start = end + 1) {
      end = std::min(logs.find('\n', start), logs.size());
      const std::string line = logs.substr(start, end - start);
      count += std::all_of(p_parts.begin(), p_parts.end(),
                           [&](const std::string& p_part) { return line.find(p_part) != std::string::npos; });
    }
    return count;
  }

  RecordingExListener m_listener;
  std::unique_ptr<Pop3ExClient> m_pop3 = std::make_unique<Pop3ExClient>();
  std::unique_ptr<SmtpExClient> m_smtp = std::make_unique<SmtpExClient>();
};

class SecureRoundTripTest : public SecureMailTest, public ::testing::WithParamInterface<Transport> {};

// The expected names in both forms of the rule: the common name alone, and
// the whole RFC 2253 name.
TEST_P(SecureRoundTripTest, MessageSentOverTlsComesBackSplitIntoHeaderAndBody) {
  const Transport transport = GetParam();
  const std::size_t tlsSessionsBefore = LoggedLines({"TLS connection established"});
  const std::size_t tlsLoginsBefore = LoggedLines({"Login: user=<" + kMailRecipient + ">", "TLS"});

  Configure(*m_smtp, m_listener, transport, "127.0.0.1", Port(Protocol::kSmtp, transport), kMailSender, kMailPassword);
  m_smtp->SetCertificateSubject("mail.kestnet.test");
  m_smtp->SetCertificateIssuer(TestCertificates::kCaSubject);
  m_smtp->Connect();
  ASSERT_EQ(m_listener.Take(2), (Records{"Connect(0)", "Ready"})) << Servers().ReadLogs();
  MIME mime;
  mime.SetHeader("From", "Alice <" + MailServers::Address(kMailSender) + ">");
  mime.SetHeader("To", MailServers::Address(kMailRecipient));
  mime.SetHeader("X-Transport", Name(Protocol::kSmtp, transport));
  mime.SetBody("first line\r\n.dotted line", false);
  m_smtp->Send(&mime);
  ASSERT_EQ(m_listener.Take(1), Records{"MailSent(0)"});
  m_smtp->Disconnect();
  EXPECT_EQ(m_listener.Take(2), (Records{"Quit(0)", "Close(0)"}));
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, 1, kSafetyTimeout)) << Servers().ReadLogs();

  Configure(*m_pop3, m_listener, transport, "127.0.0.1", Port(Protocol::kPop3, transport), kMailRecipient,
            kMailPassword);
  m_pop3->SetCertificateSubject(TestCertificates::kServerSubject);
  m_pop3->SetCertificateIssuer(kCaCommonName);
  m_pop3->Connect();
  ASSERT_EQ(m_listener.Take(2), (Records{"Connect(0)", "Ready"})) << Servers().ReadLogs();
  EXPECT_TRUE(m_pop3->IsReady());
  m_pop3->GetMailCount();
  EXPECT_EQ(m_listener.Take(2), (Records{"Count(0,1)", "Ready"}));
  m_pop3->RetrieveMessage(1);
  EXPECT_EQ(m_listener.Take(2), (Records{"Retrieve(0,1)", "Ready"}));
  EXPECT_THAT(m_listener.HeaderLines(),
              ::testing::Contains("X-Transport: " + Name(Protocol::kSmtp, transport)).Times(1));
  EXPECT_EQ(m_listener.BodyLines(), (std::vector<std::string>{"first line", ".dotted line"}));
  m_pop3->DeleteMessage(1);
  EXPECT_EQ(m_listener.Take(2), (Records{"Delete(0,1)", "Ready"}));
  m_pop3->Disconnect();
  EXPECT_EQ(m_listener.Take(2), (Records{"Quit(0)", "Close(0)"}));
  EXPECT_FALSE(m_pop3->IsConnected());

  // Both sessions were encrypted, and every call came from a worker thread.
  EXPECT_EQ(LoggedLines({"TLS connection established"}), tlsSessionsBefore + 1) << Servers().ReadLogs();
  EXPECT_EQ(LoggedLines({"Login: user=<" + kMailRecipient + ">", "TLS"}), tlsLoginsBefore + 1) << Servers().ReadLogs();
  EXPECT_EQ(m_listener.Threads().count(std::this_thread::get_id()), 0u);
  EXPECT_EQ(m_listener.Threads().size(), 2u);  // one worker per client
}

INSTANTIATE_TEST_SUITE_P(Transports, SecureRoundTripTest, ::testing::Values(Transport::kImplicit, Transport::kUpgrade),
                         [](const auto& p_info) { return p_info.param == Transport::kImplicit ? "Implicit" : "Upgrade"; });

// One certificate case; an empty reason expects the certificate accepted.
struct CertificateCase {
  const char* name;
  ServerCertificate served;
  const char* subjectSetting;
  const char* issuerSetting;
  const char* reason;
  const char* issuer;  // as reported
};

const CertificateCase kCertificateCases[] = {
    {"Accepted", ServerCertificate::kValid, "", "", "", ""},
    {"Expired", ServerCertificate::kExpired, "", "", "expired", TestCertificates::kCaSubject},
    {"OtherHost", ServerCertificate::kOtherHost, "", "", "host name mismatch", TestCertificates::kCaSubject},
    {"SelfSigned", ServerCertificate::kSelfSigned, "", "", "self-signed", TestCertificates::kServerSubject},
    {"NotYetValid", ServerCertificate::kNotYetValid, "", "", "not yet valid", TestCertificates::kCaSubject},
    {"UnknownIssuer", ServerCertificate::kUnknownIssuer, "", "", "unknown issuer", TestCertificates::kUnknownCaSubject},
    {"SubjectMismatch", ServerCertificate::kValid, "CN=mail.other.invalid,O=KestNet Test", "", "subject mismatch",
     TestCertificates::kCaSubject},
    {"IssuerMismatch", ServerCertificate::kValid, "", "Another CA", "issuer mismatch", TestCertificates::kCaSubject},
};

void PrintTo(const CertificateCase& p_case, std::ostream* p_pStream) { *p_pStream << p_case.name; }

using CertificateParam = std::tuple<CertificateCase, Protocol, Transport>;

class ServerCertificateTest : public SecureMailTest, public ::testing::WithParamInterface<CertificateParam> {};

// The user name is one no server knows and is used by this case alone: the
// servers log it for any log-in attempt (the accepted case proves they do),
// so a rejected case must leave it out of the logs.
TEST_P(ServerCertificateTest, RejectedCertificateEndsTheSessionBeforeAnyCredential) {
  const auto& [certificate, protocol, transport] = GetParam();
  // Lower case: the servers log user names in lower case.
  std::string user = "probe-" + std::string(certificate.name) + "-" + Name(protocol, transport);
  std::transform(user.begin(), user.end(), user.begin(), [](unsigned char p_c) { return std::tolower(p_c); });
  const std::string address = TestCertificates::Address(certificate.served);
  const std::uint16_t port = Port(protocol, transport);
  if (protocol == Protocol::kPop3) {
    Configure(*m_pop3, m_listener, transport, address, port, user, "password");
    m_pop3->SetCertificateSubject(certificate.subjectSetting);
    m_pop3->SetCertificateIssuer(certificate.issuerSetting);
    m_pop3->Connect();
  } else {
    Configure(*m_smtp, m_listener, transport, address, port, user, "password");
    m_smtp->SetCertificateSubject(certificate.subjectSetting);
    m_smtp->SetCertificateIssuer(certificate.issuerSetting);
    m_smtp->Connect();
  }
  if (*certificate.reason == '\0') {
    EXPECT_EQ(m_listener.Take(1), Records{"Connect(1)"});  // the server refused the unknown user
    EXPECT_TRUE(Servers().WaitForLogLine(user, kSafetyTimeout)) << Servers().ReadLogs();
    return;
  }
  EXPECT_EQ(m_listener.Take(2),
            (Records{"Rejected(" + std::string(certificate.reason) + "|" + certificate.issuer + "|" +
                         TestCertificates::kServerSubject + ")",
                     "Connect(1)"}));
  EXPECT_EQ(LoggedLines({user}), 0u) << Servers().ReadLogs();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerCertificateTest,
    ::testing::Combine(::testing::ValuesIn(kCertificateCases), ::testing::Values(Protocol::kPop3, Protocol::kSmtp),
                       ::testing::Values(Transport::kImplicit, Transport::kUpgrade)),
    [](const auto& p_info) {
      return std::string(std::get<0>(p_info.param).name) + Name(std::get<1>(p_info.param), std::get<2>(p_info.param));
    });

// A scripted server for the upgrade's refusals: what it offers and answers,
// and the lines the client must have sent (SMTP's EHLO by its verb only).
struct UpgradeCase {
  const char* name;
  Protocol protocol;
  const char* greeting;
  std::map<std::string, std::string> answers;  // by the line's first word
  Records events;
  std::vector<std::string> sentVerbs;
};

void PrintTo(const UpgradeCase& p_case, std::ostream* p_pStream) { *p_pStream << p_case.name; }

std::string FirstWord(const std::string& p_line) { return p_line.substr(0, p_line.find(' ')); }

const UpgradeCase kUpgradeCases[] = {
    {"Pop3StlsRefused",
     Protocol::kPop3,
     "+OK ready\r\n",
     {{"CAPA", "+OK\r\nUSER\r\nSTLS\r\n.\r\n"}, {"STLS", "-ERR not now\r\n"}, {"USER", "+OK\r\n"}, {"PASS", "+OK\r\n"}},
     {"Connect(1)"},
     {"CAPA", "STLS"}},
    {"Pop3StlsNotOffered",
     Protocol::kPop3,
     "+OK ready\r\n",
     {{"CAPA", "+OK\r\nUSER\r\n.\r\n"}, {"USER", "+OK\r\n"}, {"PASS", "+OK in\r\n"}},
     {"Connect(0)", "Ready"},
     {"CAPA", "USER", "PASS"}},
    {"SmtpStartTlsRefused",
     Protocol::kSmtp,
     "220 ready\r\n",
     {{"EHLO", "250-peer\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n"}, {"STARTTLS", "454 4.7.0 not now\r\n"},
      {"AUTH", "334 VXNlcm5hbWU6\r\n"}},
     {"Connect(1)"},
     {"EHLO", "STARTTLS"}},
};

class UpgradeRefusalTest : public SocketLayerTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeRefusalTest, ClientSendsCredentialsOnlyWithoutAnOfferedUpgrade) {
  const UpgradeCase& scenario = GetParam();
  ScriptedLinePeer peer;
  std::string error;
  ASSERT_TRUE(peer.Start(error)) << error;
  peer.SetGreeting(scenario.greeting);
  peer.SetRule([&](const std::string& p_line) {
    const auto answer = scenario.answers.find(FirstWord(p_line));
    return answer == scenario.answers.end() ? std::string("-ERR unknown\r\n") : answer->second;
  });
  RecordingExListener listener;
  {
    Pop3ExClient pop3;
    SmtpExClient smtp;
    if (scenario.protocol == Protocol::kPop3) {
      Configure(pop3, listener, Transport::kUpgrade, "127.0.0.1", peer.Port(), "user", "secret");
      pop3.Connect();
    } else {
      Configure(smtp, listener, Transport::kUpgrade, "127.0.0.1", peer.Port(), "user", "secret");
      smtp.Connect();
    }
    EXPECT_EQ(listener.Take(scenario.events.size()), scenario.events);
    ASSERT_TRUE(peer.WaitForLines(scenario.sentVerbs.size()));
  }
  std::vector<std::string> verbs;
  for (const std::string& line : peer.Lines()) verbs.push_back(FirstWord(line));
  EXPECT_EQ(verbs, scenario.sentVerbs);
  peer.Stop();
}

INSTANTIATE_TEST_SUITE_P(Cases, UpgradeRefusalTest, ::testing::ValuesIn(kUpgradeCases),
                         [](const auto& p_info) { return std::string(p_info.param.name); });

// Without a server: each operation is answered with INVALID_STATE from the
// worker thread, and the front ends refuse what cannot work.
class SecureClientFrontEndTest : public SocketLayerTest {
 protected:
  RecordingExListener m_listener;
  Pop3ExClient m_pop3;
  SmtpExClient m_smtp;
};

TEST_F(SecureClientFrontEndTest, OperationsWithoutAConnectionAreAnsweredInvalidState) {
  m_pop3.SetListener(&m_listener);
  m_smtp.SetListener(&m_listener);
  MIME mime;
  mime.SetHeader("From", "a@example.com");
  mime.SetHeader("To", "b@example.com");
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { m_pop3.GetMailCount(); }, "Count(3,0)"},
      {[&] { m_pop3.RetrieveMessage(5); }, "Retrieve(3,0)"},
      {[&] { m_pop3.DeleteMessage(5); }, "Delete(3,5)"},
      {[&] { m_pop3.Disconnect(); }, "Close(3)"},
      {[&] { m_smtp.Send(&mime); }, "MailSent(3)"},
      {[&] { m_smtp.Disconnect(); }, "Close(3)"},
  };
  for (const auto& [operation, answer] : cases) {
    operation();
    EXPECT_EQ(m_listener.Take(1), Records{answer});
  }
  EXPECT_EQ(m_listener.Threads().count(std::this_thread::get_id()), 0u);
  EXPECT_FALSE(m_pop3.IsConnected());
  EXPECT_FALSE(m_smtp.IsReady());
}

// The exception kind an operation throws, or "none".
std::string Thrown(const std::function<void()>& p_operation) {
  try {
    p_operation();
  } catch (const KestBase::InvalidParameterException&) {
    return "parameter";
  } catch (const KestBase::InvalidObjectException&) {
    return "object";
  } catch (const KestBase::InvalidOperationException&) {
    return "operation";
  }
  return "none";
}

TEST_F(SecureClientFrontEndTest, FrontEndsRefuseWhatCannotWork) {
  MIME withoutRecipients;
  withoutRecipients.SetHeader("From", "a@example.com");
  withoutRecipients.SetHeader("Cc", " ; , ");
  const std::vector<std::tuple<const char*, std::function<void()>, std::string>> cases = {
      {"Pop3ConnectWithoutListener", [&] { m_pop3.Connect(); }, "object"},
      {"SmtpConnectWithoutListener", [&] { m_smtp.Connect(); }, "object"},
      {"Pop3SendWithoutListener", [&] { m_pop3.GetMailCount(); }, "object"},
      {"SmtpSendWithoutListener", [&] { m_smtp.Send(&withoutRecipients); }, "object"},
      {"Pop3NullListener", [&] { m_pop3.SetListener(nullptr); }, "parameter"},
      {"SmtpNullListener", [&] { m_smtp.SetListener(nullptr); }, "parameter"},
      {"PortZero", [&] { m_pop3.SetServer("127.0.0.1", 0); }, "parameter"},
      {"PortTooLarge", [&] { m_smtp.SetServer("127.0.0.1", 65536); }, "parameter"},
      {"EmptyServer", [&] { m_smtp.SetServer("", 25); }, "parameter"},
      {"Pop3EmptyUser", [&] { m_pop3.SetUser(""); }, "parameter"},
      {"SmtpEmptyUser", [&] { m_smtp.SetUser(""); }, "none"},
      {"ListenerSet", [&] { m_pop3.SetListener(&m_listener), m_smtp.SetListener(&m_listener); }, "none"},
      {"Pop3ConnectWithoutUser", [&] { m_pop3.SetServer("127.0.0.1", 110), m_pop3.Connect(); }, "object"},
      {"SmtpConnectWithoutServer", [&] { m_smtp.Connect(); }, "operation"},
      {"SendNullMime", [&] { m_smtp.Send(nullptr); }, "parameter"},
      {"SendWithoutRecipients", [&] { m_smtp.Send(&withoutRecipients); }, "parameter"},
  };
  for (const auto& [name, operation, expected] : cases) {
    EXPECT_EQ(Thrown(operation), expected) << name;
  }
  EXPECT_EQ(m_pop3.GetPort(), 110u);
  EXPECT_EQ(m_smtp.GetPort(), 25u);
}

}  // namespace
}  // namespace KestNet::testing
