// Pop3Client against a scripted POP3 server on loopback: each case is the
// server's script and the exact notifications and commands it must produce.
#include "net/mail/pop3_client.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/exceptions.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/record_log.h"
#include "tests/support/scripted_line_peer.h"

namespace KestNet::testing {
namespace {

using kestnet::testing::LogCapture;
using kestnet::testing::ScriptedLinePeer;
using Records = std::vector<std::string>;

std::string Joined(const std::vector<std::string>& p_lines) {
  std::string joined;
  for (const std::string& line : p_lines) {
    joined += (joined.empty() ? "" : "|") + line;
  }
  return "[" + joined + "]";
}

// Every notification as one comparable record, e.g. "Count(0,+OK 3 1205,3,1205)".
class RecordingPop3Listener : public Pop3ClientListener {
 public:
  virtual ~RecordingPop3Listener() = default;
  void OnPOP3Connected(DWORD p_dwStatus) override { Add("Connected(" + std::to_string(p_dwStatus) + ")"); }
  void OnPOP3Header(DWORD p_dwStatus, const std::string& p_strLine) override {
    Add("Header(" + std::to_string(p_dwStatus) + "," + p_strLine + ")");
  }
  void OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) override {
    Add("Authenticated(" + std::to_string(p_dwStep) + "," + std::to_string(p_dwStatus) + "," + p_strLine + ")");
  }
  void OnReady() override { Add("Ready"); }
  void OnPOP3Quit(DWORD p_dwStatus, const std::string& p_strLine) override {
    Add("Quit(" + std::to_string(p_dwStatus) + "," + p_strLine + ")");
  }
  void OnPOP3Close(DWORD p_dwStatus) override { Add("Close(" + std::to_string(p_dwStatus) + ")"); }
  void OnPOP3Count(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwCount, DWORD p_dwSize) override {
    Add("Count(" + std::to_string(p_dwStatus) + "," + p_strLine + "," + std::to_string(p_dwCount) + "," +
        std::to_string(p_dwSize) + ")");
  }
  void OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwNumber, const std::vector<std::string>& p_lines) override {
    Add("Retrieve(" + std::to_string(p_dwStatus) + "," + std::to_string(p_dwNumber) + "," + Joined(p_lines) + ")");
  }
  void OnPOP3Delete(DWORD p_dwStatus, const std::string& p_strLine, DWORD p_dwNumber) override {
    Add("Delete(" + std::to_string(p_dwStatus) + "," + p_strLine + "," + std::to_string(p_dwNumber) + ")");
  }

  // Waits for p_count records in all, then hands over those not taken yet.
  Records Take(std::size_t p_count) { return m_log.Take(p_count); }

 private:
  void Add(std::string p_record) { m_log.Add(std::move(p_record)); }

  kestnet::testing::RecordLog m_log{ScriptedLinePeer::kSafetyTimeout};
};

const Records kLogInRecords = {"Connected(0)", "Header(0,+OK ready)", "Authenticated(0,0,+OK)",
                               "Authenticated(1,0,+OK)", "Ready"};
const Records kLogInCommands = {"USER u", "PASS p"};

class Pop3ClientTest : public SocketLayerTest {
 protected:
  void SetUp() override {
    SocketLayerTest::SetUp();
    std::string error;
    ASSERT_TRUE(m_peer.Start(error)) << error;
    m_peer.SetGreeting("+OK ready\r\n");
    m_peer.SetRule([this](const std::string& p_line) {
      std::lock_guard lock(m_repliesLock);
      const auto reply = m_replies.find(p_line);
      if (p_line == m_dropAfter) {
        m_peer.Drop();
      }
      return reply == m_replies.end() ? std::string() : reply->second;
    });
    m_capture = std::make_unique<LogCapture>("KestNet::Pop3Client");
    m_client = std::make_unique<Pop3Client>();
    m_client->SetServer("127.0.0.1", m_peer.Port());
    m_client->SetUser("u");
    m_client->SetPassword("p");
    m_client->SetListener(&m_listener);
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const std::string& line : m_capture->Take()) std::cerr << "logged: " << line << '\n';
    }
    // The client's socket goes before the socket layer does.
    m_client.reset();
    m_capture.reset();
    m_peer.Stop();
    SocketLayerTest::TearDown();
  }

  void Script(std::map<std::string, std::string> p_replies, std::string p_dropAfter = "") {
    std::lock_guard lock(m_repliesLock);
    m_replies = {{"USER u", "+OK\r\n"}, {"PASS p", "+OK\r\n"}};
    for (auto& [command, reply] : p_replies) {
      m_replies[command] = reply;
    }
    m_dropAfter = std::move(p_dropAfter);
  }
  void LogIn() {
    m_client->Connect();
    ASSERT_EQ(m_listener.Take(kLogInRecords.size()), kLogInRecords);
  }
  // Waits until the client logged that it took p_text (a prefix of a line).
  void WaitForLogged(const std::string& p_text) {
    std::vector<std::string> seen;
    ASSERT_TRUE(Eventually([&] {
      for (std::string& message : m_capture->Take()) seen.push_back(std::move(message));
      return std::any_of(seen.begin(), seen.end(), [&](const std::string& p_line) { return p_line.starts_with(p_text); });
    }, ScriptedLinePeer::kSafetyTimeout));
  }
  // The commands the server received, once there are p_count.
  Records Commands(std::size_t p_count) {
    EXPECT_TRUE(m_peer.WaitForLines(p_count));
    return m_peer.Lines();
  }
  bool Logged(const std::string& p_line) {
    const std::vector<std::string> lines = m_capture->Take();
    return std::find(lines.begin(), lines.end(), p_line) != lines.end();
  }

  ScriptedLinePeer m_peer;
  std::mutex m_repliesLock;
  std::map<std::string, std::string> m_replies;
  std::string m_dropAfter;
  RecordingPop3Listener m_listener;
  std::unique_ptr<LogCapture> m_capture;
  std::unique_ptr<Pop3Client> m_client;
};

struct Exchange {
  const char* name;
  std::string greeting;
  std::map<std::string, std::string> replies;
  std::string dropAfter;
  // Run once logged in (or instead of logging in, when null).
  std::function<void(Pop3Client&)> operation;
  Records records;
  Records commands;  // after USER and PASS, when logged in
  std::string logLine;
};

void PrintTo(const Exchange& p_exchange, std::ostream* p_out) { *p_out << p_exchange.name; }

class Pop3Exchanges : public Pop3ClientTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(Pop3Exchanges, GiveExactNotificationsAndCommands) {
  const Exchange& exchange = GetParam();
  m_peer.SetGreeting(exchange.greeting.empty() ? "+OK ready\r\n" : exchange.greeting);
  Script(exchange.replies, exchange.dropAfter);
  Records commands = exchange.commands;
  const std::size_t before = exchange.operation ? kLogInRecords.size() : 0;
  if (exchange.operation) {
    LogIn();
    exchange.operation(*m_client);
    commands.insert(commands.begin(), kLogInCommands.begin(), kLogInCommands.end());
  } else {
    m_client->Connect();
  }
  EXPECT_EQ(m_listener.Take(before + exchange.records.size()), exchange.records);
  EXPECT_EQ(Commands(commands.size()), commands);
  if (!exchange.logLine.empty()) {
    EXPECT_TRUE(Logged(exchange.logLine)) << exchange.logLine;
  }
}

auto MailCount = [](Pop3Client& p_client) { p_client.GetMailCount(); };
auto Retrieve = [](Pop3Client& p_client) { p_client.RetrieveMessage(1); };
auto Delete = [](Pop3Client& p_client) { p_client.DeleteMessage(2); };

INSTANTIATE_TEST_SUITE_P(
    Sessions, Pop3Exchanges,
    ::testing::Values(
        Exchange{"NegativeGreetingClosesAndReportsTheInterruptedLogIn", "-ERR busy\r\n", {}, "", nullptr,
                 {"Connected(0)", "Header(3,-ERR busy)", "Authenticated(0,4,)", "Close(4)"}, {}, ""},
        Exchange{"RefusedPasswordClosesTheSession", "", {{"PASS p", "-ERR denied\r\n"}}, "", nullptr,
                 {"Connected(0)", "Header(0,+OK ready)", "Authenticated(0,0,+OK)", "Authenticated(1,2,-ERR denied)",
                  "Authenticated(0,4,)", "Close(4)"},
                 kLogInCommands, ""},
        Exchange{"StatGivesCountAndSize", "", {{"STAT", "+OK 3 1205\r\n"}}, "", MailCount,
                 {"Count(0,+OK 3 1205,3,1205)", "Ready"}, {"STAT"}, ""},
        Exchange{"StatWithoutNumbersIsUnexpected", "", {{"STAT", "+OK\r\n"}}, "", MailCount,
                 {"Count(8,+OK,0,0)", "Ready"}, {"STAT"}, "OnReceiveLine():  Warning - Unexpected data from server."},
        Exchange{"StatWithOneNumberIsUnexpected", "", {{"STAT", "+OK 3\r\n"}}, "", MailCount,
                 {"Count(8,+OK 3,0,0)", "Ready"}, {"STAT"}, ""},
        Exchange{"StatBeyond32BitsIsUnexpected", "", {{"STAT", "+OK 4294967296 1\r\n"}}, "", MailCount,
                 {"Count(8,+OK 4294967296 1,0,0)", "Ready"}, {"STAT"}, ""},
        Exchange{"NegativeStatIsUnexpected", "", {{"STAT", "-ERR locked\r\n"}}, "", MailCount,
                 {"Count(8,-ERR locked,0,0)", "Ready"}, {"STAT"}, ""},
        // RFC 1939 §3: the server stuffs ".", ".x", "..", "..x" as "..", "..x", "...", "...x".
        Exchange{"RetrieveRemovesExactlyOneStuffingDot", "",
                 {{"RETR 1", "+OK\r\n..\r\n..x\r\n...\r\n...x\r\n\r\nbody\r\n.\r\n"}}, "", Retrieve,
                 {"Retrieve(0,1,[.|.x|..|..x||body])", "Ready"}, {"RETR 1"}, ""},
        Exchange{"NegativeRetrieveKeepsTheNumber", "", {{"RETR 1", "-ERR no such message\r\n"}}, "", Retrieve,
                 {"Retrieve(8,1,[])", "Ready"}, {"RETR 1"}, ""},
        Exchange{"DeleteSucceeds", "", {{"DELE 2", "+OK deleted\r\n"}}, "", Delete,
                 {"Delete(0,+OK deleted,2)", "Ready"}, {"DELE 2"}, ""},
        Exchange{"NegativeDeleteIsUnexpected", "", {{"DELE 2", "-ERR gone\r\n"}}, "", Delete,
                 {"Delete(8,-ERR gone,2)", "Ready"}, {"DELE 2"},
                 "OnReceiveLine():  Error - STATE_WAIT_FOR_DELE_RESPONSE - Unexpected Results or Failure."},
        Exchange{"DisconnectWhenReadySendsQuit", "", {{"QUIT", "+OK bye\r\n"}}, "",
                 [](Pop3Client& p_client) { p_client.Disconnect(); }, {"Quit(0,+OK bye)", "Close(4)"}, {"QUIT"},
                 ""},
        Exchange{"ConnectionLostMidMessageReportsTheRetrieval", "", {{"RETR 1", "+OK\r\nfirst\r\n"}}, "RETR 1",
                 Retrieve, {"Retrieve(4,0,[])", "Close(4)"}, {"RETR 1"}, ""},
        Exchange{"OverlongLineEndsTheSession", "", {{"RETR 1", "+OK\r\n" + std::string(70000, 'x')}}, "",
                 Retrieve, {"Retrieve(4,0,[])", "Close(4)"}, {"RETR 1"},
                 "OnClose():  Warning - The server sent a line longer than <65536> bytes.  The connection was "
                 "closed."},
        Exchange{"SilentServerReachesTheIdleLimit", "", {}, "",
                 [](Pop3Client& p_client) {
                   MailTimeouts shortened;
                   shortened.pop3Reply = std::chrono::milliseconds(50);
                   p_client.SetTimeouts(shortened);
                   p_client.GetMailCount();
                 },
                 {"Count(4,,0,0)", "Close(4)"}, {"STAT"},
                 "ReplyTimeout():  Warning - The server did not answer within <50> ms.  Closing the connection."}),
    [](const ::testing::TestParamInfo<Exchange>& p_info) { return std::string(p_info.param.name); });

TEST_F(Pop3ClientTest, MailCountDuringRetrievalThrowsAndSendsNothing) {
  Script({{"RETR 1", "+OK\r\nfirst\r\n"}, {"STAT", "+OK 1 5\r\n"}});
  LogIn();
  m_client->RetrieveMessage(1);
  // Once the client holds "first", the server's answer to RETR is all out:
  // the final "." cannot overtake it.
  WaitForLogged("OnReceiveLine():   STATE_WAIT_FOR_RETR_DATA, Size = 5, Line = first");
  EXPECT_THROW(m_client->GetMailCount(), KestBase::InvalidOperationException);
  ASSERT_TRUE(m_peer.SendRaw(".\r\n"));
  EXPECT_EQ(m_listener.Take(kLogInRecords.size() + 2), (Records{"Retrieve(0,1,[first])", "Ready"}));
  m_client->GetMailCount();
  EXPECT_EQ(m_listener.Take(kLogInRecords.size() + 4), (Records{"Count(0,+OK 1 5,1,5)", "Ready"}));
  EXPECT_EQ(Commands(4), (Records{"USER u", "PASS p", "RETR 1", "STAT"}));
}

TEST_F(Pop3ClientTest, LineSentUnaskedIsDroppedNotTakenForTheNextReply) {
  Script({{"STAT", "+OK 1 5\r\n"}});
  LogIn();
  m_capture->Take();
  ASSERT_TRUE(m_peer.SendRaw("+OK stray\r\n"));
  WaitForLogged("OnReceiveLine():  rc = 0");
  m_client->GetMailCount();
  EXPECT_EQ(m_listener.Take(kLogInRecords.size() + 2), (Records{"Count(0,+OK 1 5,1,5)", "Ready"}));
}

TEST_F(Pop3ClientTest, DisconnectDuringRetrievalClosesAtOnce) {
  Script({{"RETR 1", "+OK\r\nfirst\r\n"}});
  LogIn();
  m_client->RetrieveMessage(1);
  WaitForLogged("OnReceiveLine():   STATE_WAIT_FOR_RETR_DATA, Size = 5, Line = first");
  m_client->Disconnect();
  EXPECT_EQ(m_listener.Take(kLogInRecords.size() + 2), (Records{"Retrieve(4,0,[])", "Close(4)"}));
  ASSERT_TRUE(m_peer.WaitForCloses(1));
  EXPECT_EQ(m_peer.Lines(), (Records{"USER u", "PASS p", "RETR 1"}));
}

// The server drops the connection just as the caller starts an operation: the
// close (socket mutex, then the client's) and the operation (the client's,
// then the socket's for its command or close) meet from opposite sides. The
// rounds sweep the start across the moment the close arrives; each outcome is
// reported once, and nothing waits for ever.
TEST_F(Pop3ClientTest, ConnectionDroppedAsAnOperationStartsIsReportedOnce) {
  Script({});
  auto disconnect = [](Pop3Client& p_client) { p_client.Disconnect(); };
  const std::function<void(Pop3Client&)> operations[] = {MailCount, Retrieve, Delete, disconnect};
  const std::string interrupted[] = {"Count(4,,0,0)", "Retrieve(4,0,[])", "Delete(4,,0)", ""};
  std::size_t total = 0;
  for (int round = 0; round < 400; ++round) {
    const int which = round % 4;
    m_client->Connect();
    total += kLogInRecords.size();
    ASSERT_EQ(m_listener.Take(total), kLogInRecords) << "round " << round;
    m_peer.Drop();
    const auto start = std::chrono::steady_clock::now() + std::chrono::microseconds(round / 4 % 50 * 4);
    while (std::chrono::steady_clock::now() < start) {
    }
    bool refused = false;  // the close came first: the client was no longer ready
    try {
      operations[which](*m_client);
    } catch (const KestBase::InvalidOperationException&) {
      refused = true;
    }
    Records got = m_listener.Take(total + 1);
    Records expected = {"Close(4)"};
    if (which == 3) {
      expected = got.front() == "Close(4)" ? Records{"Close(4)", "Close(7)"} : Records{"Close(0)"};
    } else if (!refused) {
      expected = {interrupted[which], "Close(4)"};
    }
    total += expected.size();
    if (got.size() < expected.size()) {
      const Records rest = m_listener.Take(total);
      got.insert(got.end(), rest.begin(), rest.end());
    }
    ASSERT_EQ(got, expected) << "round " << round;
  }
}

TEST_F(Pop3ClientTest, ServerPortMustLieBetween1And65535) {
  for (const DWORD port : {0u, 65536u}) {
    EXPECT_THROW(m_client->SetServer("mail.example", port), KestBase::InvalidParameterException) << port;
  }
  for (const DWORD port : {1u, 65535u}) {
    m_client->SetServer("mail.example", port);
    std::string server;
    DWORD stored = 0;
    m_client->GetServer(server, stored);
    EXPECT_EQ(stored, port);
  }
}

// A line break or NUL in USER or PASS would end the command early and let the
// rest run as a command of its own.
TEST_F(Pop3ClientTest, LineBreaksAndNulInUserOrPasswordAreRefused) {
  const std::string userLine = "SetUser():  Error - The user name may not contain CR, LF or NUL characters.";
  const std::string passwordLine = "SetPassword():  Error - The password may not contain CR, LF or NUL characters.";
  for (const std::string& user : {std::string("u\r\nDELE 1"), std::string("u\nx"), std::string("u\0x", 3)}) {
    EXPECT_THROW(m_client->SetUser(user), KestBase::InvalidParameterException);
    EXPECT_TRUE(Logged(userLine));
  }
  for (const std::string& password : {std::string("p\rx"), std::string("p\0x", 3)}) {
    EXPECT_THROW(m_client->SetPassword(password), KestBase::InvalidParameterException);
    EXPECT_TRUE(Logged(passwordLine));
  }
  Script({});
  LogIn();
  EXPECT_EQ(Commands(2), kLogInCommands);
}

}  // namespace
}  // namespace KestNet::testing
