// SmtpClient against a scripted SMTP server on loopback: the exact listener
// notifications and the exact lines on the wire for each behaviour.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/mail/mime.h"
#include "net/mail/smtp_client.h"
#include "runtime/exceptions.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_line_peer.h"

namespace KestNet::testing {
namespace {

using Events = std::vector<std::string>;
using Lines = std::vector<std::string>;

// Every notification as text, e.g. "Header(0,ready)".
class RecordingSmtpListener : public SmtpClientListener {
 public:
  virtual ~RecordingSmtpListener() = default;
  void OnSMTPConnected(DWORD p_dwStatus) override { Add("Connected", p_dwStatus); }
  void OnSMTPHeader(DWORD p_dwStatus, const std::string& p_strText) override { Add("Header", p_dwStatus, p_strText); }
  void OnSMTPHello(DWORD p_dwStatus, const std::string& p_strText) override { Add("Hello", p_dwStatus, p_strText); }
  void OnSMTPAuthenticateRequest(DWORD p_dwStatus, const std::string& p_strText) override {
    Add("AuthenticateRequest", p_dwStatus, p_strText);
  }
  void OnSMTPUsername(DWORD p_dwStatus, const std::string& p_strText) override { Add("Username", p_dwStatus, p_strText); }
  void OnSMTPPassword(DWORD p_dwStatus, const std::string& p_strText) override { Add("Password", p_dwStatus, p_strText); }
  void OnSMTPAuthenticated(DWORD p_dwStatus) override { Add("Authenticated", p_dwStatus); }
  void OnSMTPMailSent(DWORD p_dwStatus) override { Add("MailSent", p_dwStatus); }
  void OnSMTPQuit(DWORD p_dwStatus, const std::string& p_strText) override { Add("Quit", p_dwStatus, p_strText); }
  void OnSMTPClose(DWORD p_dwStatus) override { Add("Close", p_dwStatus); }
  void OnSMTPReady() override { Add("Ready"); }

  // Until one of p_endings has been heard; the events so far.
  Events WaitFor(const std::vector<std::string>& p_endings) {
    std::unique_lock lock(m_lock);
    // Only a safety net: a hung client fails instead of hanging the suite.
    EXPECT_TRUE(m_changed.wait_for(lock, kestnet::testing::ScriptedLinePeer::kSafetyTimeout, [&] {
      for (const std::string& event : m_events) {
        for (const std::string& ending : p_endings) {
          if (event == ending) return true;
        }
      }
      return false;
    })) << "still waiting";
    return m_events;
  }
  Events WaitFor(const char* p_szEnding) { return WaitFor(std::vector<std::string>{p_szEnding}); }
  // Runs p_hook on the event thread after each event is recorded. Set it
  // before connecting.
  void SetHook(std::function<void(const std::string&)> p_hook) { m_hook = std::move(p_hook); }
  void Clear() {
    std::lock_guard lock(m_lock);
    m_events.clear();
  }

 private:
  void Add(const char* p_szName, DWORD p_dwStatus, const std::string& p_strText) {
    Add(std::string(p_szName) + "(" + std::to_string(p_dwStatus) + "," + p_strText + ")");
  }
  void Add(const char* p_szName, DWORD p_dwStatus) {
    Add(std::string(p_szName) + "(" + std::to_string(p_dwStatus) + ")");
  }
  void Add(std::string p_event) {
    {
      std::lock_guard lock(m_lock);
      m_events.push_back(p_event);
    }
    m_changed.notify_all();
    if (m_hook) m_hook(p_event);
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  Events m_events;
  std::function<void(const std::string&)> m_hook;
};

std::string HostName() {
  char name[200] = {};
  gethostname(name, sizeof(name) - 1);
  return name;
}

// The session every case starts from, with one reply changed.
constexpr const char* kGreeting = "220 smtp.test ESMTP\r\n";
const Events kReadyWithoutLogin = {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "Ready"};

class SmtpClientTest : public SocketLayerTest {
 protected:
  void SetUp() override {
    SocketLayerTest::SetUp();
    std::string error;
    ASSERT_TRUE(m_peer.Start(error)) << error;
    m_peer.SetGreeting(kGreeting);
    m_client = std::make_unique<SmtpClient>();
    m_client->SetListener(&m_listener);
    m_client->SetServer("127.0.0.1", m_peer.Port());
    m_message.SetBody("Hello.\r\n", false);
  }
  void TearDown() override {
    m_client.reset();
    // The peer is stopped only once it has seen every session end.
    EXPECT_TRUE(m_peer.WaitForCloses(m_sessions));
    m_peer.Stop();
    SocketLayerTest::TearDown();
  }

  // The server answers the p_occurrence-th command p_word (the first word of
  // the line, or the whole line) with p_reply instead of its usual reply.
  void Answer(const std::string& p_word, int p_occurrence, std::string p_reply) {
    m_overrides[{p_word, p_occurrence}] = std::move(p_reply);
  }

  void Connect(const std::string& p_user = "", const std::string& p_password = "") {
    m_client->SetUser(p_user);
    m_client->SetPassword(p_password);
    // Set last: the peer's lock hands the script to its thread.
    m_peer.SetRule([this](const std::string& p_line) { return Reply(p_line); });
    Reconnect();
  }
  void Reconnect() {
    m_client->Connect();
    ++m_sessions;
  }

  void SendTo(const std::string& p_recipients) {
    m_client->SetSenderName("me@a.test");
    m_client->Send(p_recipients, &m_message);
  }

  // The lines the server received after p_line.
  Lines LinesAfter(const std::string& p_line) {
    const Lines lines = m_peer.Lines();
    auto found = std::find(lines.begin(), lines.end(), p_line);
    return found == lines.end() ? Lines{"<" + p_line + " never came>"} : Lines(found + 1, lines.end());
  }

  kestnet::testing::ScriptedLinePeer m_peer;
  RecordingSmtpListener m_listener;
  std::unique_ptr<SmtpClient> m_client;
  MIME m_message;
  std::size_t m_sessions = 0;

 private:
  // A well-behaved server's replies, by the command's first word; the
  // message's lines get none until its ".". Runs on the peer's thread.
  std::string Reply(const std::string& p_line) {
    static const std::map<std::string, std::string> kUsual = {
        {"HELO", "250 hello\r\n"},
        {"EHLO", "250-smtp.test\r\n250-AUTH LOGIN\r\n250 hello\r\n"},
        {"AUTH", "334 VXNlcm5hbWU6\r\n"},
        {"dXNlcg==", "334 UGFzc3dvcmQ6\r\n"},  // "user"
        {"c2VjcmV0", "235 welcome\r\n"},       // "secret"
        {"MAIL", "250 sender ok\r\n"},
        {"RCPT", "250 recipient ok\r\n"},
        {"DATA", "354 go ahead\r\n"},
        {".", "250 queued\r\n"},
        {"QUIT", "221 bye\r\n"},
        {"RSET", "250 reset\r\n"},
    };
    if (m_bInData && p_line != ".") return "";
    const std::string word = p_line.substr(0, p_line.find(' '));
    const int occurrence = ++m_seen[word];
    auto overridden = m_overrides.find({word, occurrence});
    auto usual = kUsual.find(word);
    const std::string reply = overridden != m_overrides.end() ? overridden->second
                              : usual != kUsual.end()         ? usual->second
                                                              : "500 unknown\r\n";
    m_bInData = word == "DATA" && reply[0] == '3';
    return reply;
  }

  std::map<std::pair<std::string, int>, std::string> m_overrides;
  std::map<std::string, int> m_seen;
  bool m_bInData = false;
};

TEST_F(SmtpClientTest, SendsAMessageWithTransparentDotLinesToEachRecipientAndQuits) {
  m_message.SetBody(".\r\n.x\r\nplain\r\n..y", false);
  Connect();
  EXPECT_EQ(m_listener.WaitFor("Ready"), kReadyWithoutLogin);
  SendTo("you@b.test; them@c.test");
  m_listener.WaitFor("MailSent(0)");
  m_client->Disconnect();
  Events expected = kReadyWithoutLogin;
  expected.insert(expected.end(), {"MailSent(0)", "Quit(0,bye)", "Close(3)"});
  EXPECT_EQ(m_listener.WaitFor("Close(3)"), expected);
  EXPECT_EQ(m_peer.Lines(), (Lines{"HELO " + HostName(), "MAIL From: <me@a.test>", "RCPT TO: <you@b.test>",
                                   "RCPT TO: <them@c.test>", "DATA", "MIME-Version: 1-0", "Content-type: text/plain",
                                   "Content-Transfer-Encoding: 7bit", "", "..", "..x", "plain", "...y", ".", "QUIT"}));
}

TEST_F(SmtpClientTest, LogsInWithEhloAndAuthLoginInBase64) {
  Connect("user", "secret");
  EXPECT_EQ(m_listener.WaitFor("Ready"),
            (Events{"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)",
                    "AuthenticateRequest(0,VXNlcm5hbWU6)", "Username(0,UGFzc3dvcmQ6)", "Password(0,welcome)",
                    "Authenticated(0)", "Ready"}));
  EXPECT_EQ(m_peer.Lines(), (Lines{"EHLO " + HostName(), "AUTH LOGIN", "dXNlcg==", "c2VjcmV0"}));
  // A message's last small send must not wait for a delayed acknowledgement.
  EXPECT_TRUE(ConnectionHasNoDelay(m_peer.Port()));
}

TEST_F(SmtpClientTest, AnswersAContinuedGreetingOnceAndTakesThreeDigitsAsAPositiveReply) {
  m_peer.SetGreeting("220-first\r\n220-second\r\n220 last\r\n");
  Answer("HELO", 1, "250\r\n");
  Connect();
  EXPECT_EQ(m_listener.WaitFor("Ready"), (Events{"Connected(0)", "Header(0,last)", "Hello(0,)", "Ready"}));
  EXPECT_EQ(m_peer.Lines(), (Lines{"HELO " + HostName()}));
}

// A negative reply at each step: what the listener hears, and the lines the
// client sends next (once ready, the test sends a message to three
// recipients, a second one from the listener if the first was refused, then
// disconnects).
struct RefusalCase {
  const char* name;
  const char* user;
  const char* word;  // the refused command's first word ("" for the greeting)
  int occurrence;
  const char* refusedLine;
  Events events;
  Lines nextLines;
};

void PrintTo(const RefusalCase& p_case, std::ostream* p_pOut) { *p_pOut << p_case.name; }

const Events kRefusedMail = {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "Ready",
                             "MailSent(7)", "MailSent(0)", "Quit(0,bye)", "Close(3)"};
const char* const kMailFrom = "MAIL From: <me@a.test>";

const RefusalCase kRefusals[] = {
    {"Greeting", "", "", 1, "", {"Connected(0)", "Header(2,)", "Connected(3)", "Close(3)"}, {}},
    {"Hello", "", "HELO", 1, "", {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(2,)", "Connected(3)", "Close(3)"}, {}},
    {"AuthLogin", "user", "AUTH", 1, "AUTH LOGIN",
     {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "AuthenticateRequest(8,)", "Authenticated(8)",
      "Connected(3)", "Close(3)"},
     {}},
    {"UserName", "user", "dXNlcg==", 1, "dXNlcg==",
     {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "AuthenticateRequest(0,VXNlcm5hbWU6)",
      "Username(8,)", "Authenticated(8)", "Connected(3)", "Close(3)"},
     {}},
    {"Password", "user", "c2VjcmV0", 1, "c2VjcmV0",
     {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "AuthenticateRequest(0,VXNlcm5hbWU6)",
      "Username(0,UGFzc3dvcmQ6)", "Password(8,)", "Authenticated(8)", "Connected(3)", "Close(3)"},
     {}},
    {"MailFrom", "", "MAIL", 1, kMailFrom, kRefusedMail, {kMailFrom}},
    // The transaction left open on the server is reset before the next one.
    {"SecondOfThreeRecipients", "", "RCPT", 2, "RCPT TO: <b@b.test>", kRefusedMail, {"RSET", kMailFrom}},
    {"Data", "", "DATA", 1, "DATA", kRefusedMail, {"RSET", kMailFrom}},
    {"EndOfMessage", "", ".", 1, ".", kRefusedMail, {kMailFrom}},
    {"Quit", "", "QUIT", 1, "QUIT",
     {"Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "Ready", "MailSent(0)", "Quit(7,)", "Close(3)"},
     {}},
};

class SmtpRefusals : public SmtpClientTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SmtpRefusals, ReportTheStepAndSendNothingMoreForIt) {
  const RefusalCase& refusal = GetParam();
  // A multi-line refusal: the client acts on its last line only.
  const std::string reply = "550-no\r\n550 really not\r\n";
  if (*refusal.word == '\0') {
    m_peer.SetGreeting("554-" + reply.substr(4));
  } else {
    Answer(refusal.word, refusal.occurrence, reply);
  }
  // Sent at once, before the refusal's last line is read: that line must not
  // pass for the reply to the next MAIL.
  m_listener.SetHook([this](const std::string& p_event) {
    if (p_event == "MailSent(7)") m_client->Send("a@b.test", &m_message);
  });
  Connect(refusal.user, *refusal.user == '\0' ? "" : "secret");
  if (m_listener.WaitFor(Events{"Ready", "Close(3)"}).back() == "Ready") {
    SendTo("a@b.test b@b.test,c@b.test");
    m_listener.WaitFor("MailSent(0)");
    m_client->Disconnect();
  }
  EXPECT_EQ(m_listener.WaitFor("Close(3)"), refusal.events);
  if (*refusal.refusedLine != '\0') {
    Lines next = LinesAfter(refusal.refusedLine);
    next.resize(std::min(next.size(), refusal.nextLines.size()));
    EXPECT_EQ(next, refusal.nextLines);
  }
}

INSTANTIATE_TEST_SUITE_P(EachStep, SmtpRefusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& p_info) { return std::string(p_info.param.name); });

TEST_F(SmtpClientTest, RefusesCrLfOrNulInWhatItSendsAndSendsNothing) {
  EXPECT_THROW(m_client->SetUser("user\r\nQUIT"), KestBase::InvalidParameterException);
  EXPECT_THROW(m_client->SetPassword(std::string("sec\0ret", 7)), KestBase::InvalidParameterException);
  // Only once the handshake is done.
  EXPECT_THROW(m_client->SetSenderName("me@a.test"), KestBase::InvalidOperationException);
  Connect();
  m_listener.WaitFor("Ready");
  EXPECT_THROW(m_client->SetSenderName("me@a.test>\r\nRCPT TO: <evil@x.test"), KestBase::InvalidParameterException);
  m_client->SetSenderName("me@a.test");
  EXPECT_THROW(m_client->Send("you@b.test evil@x.test\r\nDATA", &m_message), KestBase::InvalidParameterException);
  EXPECT_TRUE(m_client->IsReady());
  m_client->Disconnect();
  m_listener.WaitFor("Close(3)");
  EXPECT_EQ(m_peer.Lines(), (Lines{"HELO " + HostName(), "QUIT"}));
}

// A server that stops answering is given up on after the reply limit, and
// the listener hears the action it interrupted; one that sends a line
// without end is cut off the same way.
TEST_F(SmtpClientTest, GivesUpOnASilentServerAndReportsTheInterruptedAction) {
  kestnet::testing::LogCapture log("KestNet::SmtpClient");
  MailTimeouts shortened;
  shortened.smtpReply = std::chrono::milliseconds(300);
  shortened.smtpDataTermination = std::chrono::milliseconds(400);
  m_client->SetTimeouts(shortened);
  Answer(".", 1, "");
  Answer("HELO", 2, "");
  Connect();
  m_listener.WaitFor("Ready");
  SendTo("you@b.test");
  Events expected = kReadyWithoutLogin;
  expected.insert(expected.end(), {"MailSent(3)", "Close(3)"});
  EXPECT_EQ(m_listener.WaitFor("Close(3)"), expected);
  const kestnet::testing::LoggedLine timeout{
      "KestNet::SmtpClient", 2,
      "ReplyTimeout():  Warning - The server did not answer within <400> ms.  Closing the connection."};
  const auto lines = log.TakeLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), timeout), 1);

  // The second session: HELO goes unanswered.
  m_listener.Clear();
  Reconnect();
  EXPECT_EQ(m_listener.WaitFor("Close(3)"),
            (Events{"Connected(0)", "Header(0,smtp.test ESMTP)", "Connected(3)", "Close(3)"}));
}

TEST_F(SmtpClientTest, ReportsARefusedConnectionOnce) {
  kestnet::testing::ScriptedLinePeer closed;
  std::string error;
  ASSERT_TRUE(closed.Start(error)) << error;
  closed.Stop();
  m_client->SetServer("127.0.0.1", closed.Port());
  m_client->Connect();
  m_listener.WaitFor("Connected(2)");
  // The client may connect again once the failure is reported.
  m_client->SetServer("127.0.0.1", m_peer.Port());
  m_peer.SetRule([](const std::string&) { return std::string("250 hello\r\n"); });
  Reconnect();
  EXPECT_EQ(m_listener.WaitFor("Ready"),
            (Events{"Connected(2)", "Connected(0)", "Header(0,smtp.test ESMTP)", "Hello(0,hello)", "Ready"}));
}

TEST_F(SmtpClientTest, EndsTheSessionOnAnOverlongLine) {
  m_peer.SetGreeting(std::string(TcpNonBlockingLineSocket::kMaxLineLength + 1, 'x'));
  Connect();
  EXPECT_EQ(m_listener.WaitFor("Close(3)"), (Events{"Connected(0)", "Connected(3)", "Close(3)"}));
}

}  // namespace
}  // namespace KestNet::testing
