// The mail engines against real servers on loopback: messages composed with
// MIME and MultipartMIME go out through SmtpClient to postfix (AUTH LOGIN
// checked by dovecot), come back through Pop3Client from dovecot, and are
// read with Python's email package, an independent MIME parser.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/mail/mime.h"
#include "net/mail/pop3_client.h"
#include "net/mail/smtp_client.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/foreground_process.h"
#include "tests/support/mail_servers.h"
#include "tests/support/record_log.h"

namespace KestNet::testing {
namespace {

// The shared test support (servers, log capture, record log, directories).
using namespace kestnet::testing;
using Records = RecordLog::Records;

constexpr auto kSafetyTimeout = std::chrono::seconds(120);

std::string Status(DWORD p_dwStatus) { return std::to_string(p_dwStatus); }

// Every notification of both clients as one comparable record, e.g.
// "Password(8,)"; retrieved messages are kept whole, by number.
class RecordingMailListener : public Pop3ClientListener, public SmtpClientListener {
 public:
  virtual ~RecordingMailListener() = default;

  void OnPOP3Connected(DWORD p_dwStatus) override { Add("Connected(" + Status(p_dwStatus) + ")"); }
  void OnPOP3Header(DWORD p_dwStatus, const std::string&) override { Add("Header(" + Status(p_dwStatus) + ")"); }
  void OnPOP3Authenticated(DWORD p_dwStep, DWORD p_dwStatus, const std::string& p_strLine) override {
    Add("Authenticated(" + Status(p_dwStep) + "," + Status(p_dwStatus) + "," + p_strLine + ")");
  }
  void OnReady() override { Add("Ready"); }
  void OnPOP3Quit(DWORD p_dwStatus, const std::string&) override { Add("Quit(" + Status(p_dwStatus) + ")"); }
  void OnPOP3Close(DWORD p_dwStatus) override { Add("Close(" + Status(p_dwStatus) + ")"); }
  void OnPOP3Count(DWORD p_dwStatus, const std::string&, DWORD p_dwCount, DWORD) override {
    Add("Count(" + Status(p_dwStatus) + "," + Status(p_dwCount) + ")");
  }
  void OnPOP3Retrieve(DWORD p_dwStatus, DWORD p_dwNumber, const std::vector<std::string>& p_lines) override {
    std::string message;
    for (const std::string& line : p_lines) message += line + "\r\n";
    {
      std::lock_guard lock(m_messagesLock);
      m_messages[p_dwNumber] = std::move(message);
    }
    Add("Retrieve(" + Status(p_dwStatus) + "," + Status(p_dwNumber) + ")");
  }
  void OnPOP3Delete(DWORD p_dwStatus, const std::string&, DWORD p_dwNumber) override {
    Add("Delete(" + Status(p_dwStatus) + "," + Status(p_dwNumber) + ")");
  }

  void OnSMTPConnected(DWORD p_dwStatus) override { Add("Connected(" + Status(p_dwStatus) + ")"); }
  void OnSMTPHeader(DWORD p_dwStatus, const std::string&) override { Add("Header(" + Status(p_dwStatus) + ")"); }
  void OnSMTPHello(DWORD p_dwStatus, const std::string&) override { Add("Hello(" + Status(p_dwStatus) + ")"); }
  void OnSMTPAuthenticateRequest(DWORD p_dwStatus, const std::string&) override {
    Add("AuthenticateRequest(" + Status(p_dwStatus) + ")");
  }
  void OnSMTPUsername(DWORD p_dwStatus, const std::string&) override { Add("Username(" + Status(p_dwStatus) + ")"); }
  void OnSMTPPassword(DWORD p_dwStatus, const std::string& p_strText) override {
    Add("Password(" + Status(p_dwStatus) + "," + p_strText + ")");
  }
  void OnSMTPAuthenticated(DWORD p_dwStatus) override { Add("SmtpAuthenticated(" + Status(p_dwStatus) + ")"); }
  void OnSMTPMailSent(DWORD p_dwStatus) override { Add("MailSent(" + Status(p_dwStatus) + ")"); }
  void OnSMTPQuit(DWORD p_dwStatus, const std::string&) override { Add("Quit(" + Status(p_dwStatus) + ")"); }
  void OnSMTPClose(DWORD p_dwStatus) override { Add("Close(" + Status(p_dwStatus) + ")"); }
  void OnSMTPReady() override { Add("Ready"); }

  // Waits for p_count more records and hands them over.
  Records Take(std::size_t p_count) { return m_log.TakeNext(p_count); }
  std::map<DWORD, std::string> Messages() {
    std::lock_guard lock(m_messagesLock);
    return m_messages;
  }

 private:
  void Add(std::string p_record) { m_log.Add(std::move(p_record)); }

  RecordLog m_log{kSafetyTimeout};
  std::mutex m_messagesLock;
  std::map<DWORD, std::string> m_messages;
};

const Records kSmtpLogIn = {"Connected(0)",           "Header(0)", "Hello(0)", "AuthenticateRequest(0)", "Username(0)",
                            "Password(0,2.7.0 Authentication successful)", "SmtpAuthenticated(0)", "Ready"};
const Records kPop3LogIn = {"Connected(0)", "Header(0)", "Authenticated(0,0,+OK)", "Authenticated(1,0,+OK Logged in.)",
                            "Ready"};

// What a message holds, as the reader must find it again. Texts use LF
// line ends and are written with CR LF.
struct Letter {
  std::string subject;
  std::string text;  // empty: no text/plain part
  std::string html;  // empty: no text/html part
};

std::string WithCrLf(const std::string& p_text) {
  std::string wire;
  wire.reserve(p_text.size() + p_text.size() / 16);
  for (char c : p_text) {
    if (c == '\n') wire += '\r';
    wire += c;
  }
  return wire;
}

bool IsAscii(const std::string& p_text) {
  return std::all_of(p_text.begin(), p_text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Twenty letters: text only, HTML only and both in turn; ASCII content goes
// as it is (with lines a peer must dot-stuff), the rest in Base64; subjects
// outside ASCII, one of 300 characters, and a body of 5 MiB.
std::vector<Letter> Letters() {
  std::vector<Letter> letters;
  for (int i = 0; i < 20; ++i) {
    const std::string number = std::to_string(i);
    const std::string text = i % 2 == 0 ? "Plain text " + number + "\n.\n.x\n..\n..x\nend" : "Plain text " + number + ", Grüße €";
    const std::string html = i % 2 == 0 ? "<p>HTML " + number + " &amp; ünïcödé</p>" : "<p>HTML " + number + "</p>\n.\n..";
    letters.push_back({"Letter " + number + " – Überprüfung", i % 3 == 1 ? "" : text, i % 3 == 0 ? "" : html});
  }
  std::string longSubject;
  for (int i = 0; i < 100; ++i) longSubject += "aé€";
  letters[1].subject = longSubject;
  std::string large;
  while (large.size() < 5 * 1024 * 1024) large += "A line of the large body, ninety-odd bytes long so that many lines fill it.\n";
  letters[18].text = large + "the end";
  return letters;
}

// The message for a letter; X-Test-Case tells the letters apart whatever the
// order the server keeps them in.
std::unique_ptr<MIME> Compose(const Letter& p_letter, std::size_t p_case) {
  const auto encoding = [](const std::string& p_text) { return IsAscii(p_text) ? MIME_ENCODING_7BIT : MIME_ENCODING_BASE64; };
  std::unique_ptr<MIME> mime;
  if (!p_letter.text.empty() && !p_letter.html.empty()) {
    auto multipart = std::make_unique<MultipartMIME>();
    multipart->SetMultipartType(MIME_MULTIPART_ALTERNATIVE);
    for (const auto& [content, type] : {std::pair{p_letter.text, MIME_CONTENT_TEXT_PLAIN}, std::pair{p_letter.html, MIME_CONTENT_TEXT_HTML}}) {
      multipart->AddPart(WithCrLf(content), type, "utf-8", encoding(content), !IsAscii(content));
    }
    mime = std::move(multipart);
  } else {
    const std::string& content = p_letter.html.empty() ? p_letter.text : p_letter.html;
    mime = std::make_unique<MIME>();
    mime->SetContentType(p_letter.html.empty() ? MIME_CONTENT_TEXT_PLAIN : MIME_CONTENT_TEXT_HTML, "utf-8");
    mime->SetTransferEncoding(encoding(content));
    mime->SetBody(WithCrLf(content), !IsAscii(content));
  }
  mime->SetHeader("From", MailServers::Address(kMailSender));
  mime->SetHeader("To", MailServers::Address(kMailRecipient));
  mime->SetHeader("X-Test-Case", std::to_string(p_case));
  mime->SetEncodedHeader("Subject", p_letter.subject);
  return mime;
}

// Reads every <n>.eml of the directory with Python's email package and
// writes case-<X-Test-Case>.subject, .text and .html next to them (LF line
// ends, without the line end that closes the content).
constexpr const char* kReader = R"(
import email, email.policy, pathlib, sys
folder = pathlib.Path(sys.argv[1])
for path in folder.glob('*.eml'):
    message = email.message_from_bytes(path.read_bytes(), policy=email.policy.default)
    case = folder / ('case-' + message['X-Test-Case'])
    case.with_suffix('.subject').write_text(str(message['Subject']), encoding='utf-8')
    for kind in ('plain', 'html'):
        part = message.get_body(preferencelist=(kind,))
        text = '' if part is None or part.get_content_subtype() != kind else part.get_content()
        text = text.replace('\r\n', '\n').removesuffix('\n')
        case.with_suffix('.' + ('text' if kind == 'plain' else 'html')).write_text(text, encoding='utf-8')
)";

class MailRoundTripTest : public MailServersTest<SocketLayerTest> {
 protected:
  void TearDown() override {
    // The clients' sockets go before the socket layer does.
    m_smtp.reset();
    m_pop3.reset();
    MailServersTest::TearDown();
  }

  // Makes the client, connects as p_user and hands over the first
  // p_records notifications.
  template <typename Client>
  static Records LogIn(std::unique_ptr<Client>& p_client, std::uint16_t p_port, const std::string& p_user,
                       const std::string& p_password, RecordingMailListener& p_listener, std::size_t p_records) {
    p_client = std::make_unique<Client>();
    p_client->SetServer("127.0.0.1", p_port);
    p_client->SetUser(p_user);
    p_client->SetPassword(p_password);
    p_client->SetListener(&p_listener);
    p_client->Connect();
    return p_listener.Take(p_records);
  }
  Records SmtpConnect(const std::string& p_password) {
    return LogIn(m_smtp, Servers().SmtpPort(), kMailSender, p_password, m_smtpListener,
                 p_password == kMailPassword ? kSmtpLogIn.size() : 8);
  }
  Records Pop3Connect(const std::string& p_password) {
    return LogIn(m_pop3, Servers().Pop3Port(), kMailRecipient, p_password, m_pop3Listener,
                 p_password == kMailPassword ? kPop3LogIn.size() : 5);
  }

  RecordingMailListener m_smtpListener;
  RecordingMailListener m_pop3Listener;
  std::unique_ptr<SmtpClient> m_smtp;
  std::unique_ptr<Pop3Client> m_pop3;
};

TEST_F(MailRoundTripTest, LettersComeBackAsSentAndDeletionEmptiesTheMailbox) {
  const std::vector<Letter> letters = Letters();
  ASSERT_EQ(SmtpConnect(kMailPassword), kSmtpLogIn);
  m_smtp->SetSenderName(MailServers::Address(kMailSender));
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const std::unique_ptr<MIME> mime = Compose(letters[i], i);
    m_smtp->Send(MailServers::Address(kMailRecipient), mime.get());
    ASSERT_EQ(m_smtpListener.Take(1), Records{"MailSent(0)"}) << "letter " << i;
  }
  m_smtp->Disconnect();
  EXPECT_EQ(m_smtpListener.Take(2), (Records{"Quit(0)", "Close(3)"}));
  ASSERT_TRUE(Servers().WaitForMessages(kMailRecipient, letters.size(), kSafetyTimeout)) << Servers().ReadLogs();

  ASSERT_EQ(Pop3Connect(kMailPassword), kPop3LogIn);
  m_pop3->GetMailCount();
  ASSERT_EQ(m_pop3Listener.Take(2), (Records{"Count(0,20)", "Ready"}));
  for (DWORD number = 1; number <= letters.size(); ++number) {
    m_pop3->RetrieveMessage(number);
    ASSERT_EQ(m_pop3Listener.Take(2), (Records{"Retrieve(0," + Status(number) + ")", "Ready"}));
  }
  TemporaryDirectory folder("kestnet-mail-read");
  for (const auto& [number, message] : m_pop3Listener.Messages()) {
    std::ofstream(folder.Path() / (std::to_string(number) + ".eml"), std::ios::binary) << message;
  }
  const std::string command = "/usr/bin/python3 -c \"$KESTNET_MAIL_READER\" " + folder.Path().string();
  setenv("KESTNET_MAIL_READER", kReader, 1);
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const auto read = [&](const char* p_suffix) {
      return ReadTextFile(folder.Path() / ("case-" + std::to_string(i) + p_suffix));
    };
    EXPECT_EQ(read(".subject"), letters[i].subject) << "letter " << i;
    EXPECT_TRUE(read(".text") == letters[i].text) << "letter " << i;
    EXPECT_EQ(read(".html"), letters[i].html) << "letter " << i;
  }

  for (DWORD number = 1; number <= letters.size(); ++number) {
    m_pop3->DeleteMessage(number);
    ASSERT_EQ(m_pop3Listener.Take(2), (Records{"Delete(0," + Status(number) + ")", "Ready"}));
  }
  m_pop3->Disconnect();
  EXPECT_EQ(m_pop3Listener.Take(2), (Records{"Quit(0)", "Close(4)"}));
  EXPECT_EQ(Servers().MessageCount(kMailRecipient), 0u);
}

// The refusal closes the connection, and the close then reports the log-in
// it interrupted, as for any lost connection.
TEST_F(MailRoundTripTest, WrongPasswordIsRefusedByBothServers) {
  EXPECT_EQ(Pop3Connect("wrong"),
            (Records{"Connected(0)", "Header(0)", "Authenticated(0,0,+OK)",
                     "Authenticated(1,2,-ERR [AUTH] Authentication failed.)", "Authenticated(0,4,)"}));
  EXPECT_EQ(m_pop3Listener.Take(1), Records{"Close(4)"});
  EXPECT_EQ(SmtpConnect("wrong"), (Records{"Connected(0)", "Header(0)", "Hello(0)", "AuthenticateRequest(0)",
                                           "Username(0)", "Password(8,)", "SmtpAuthenticated(8)", "Connected(3)"}));
  EXPECT_EQ(m_smtpListener.Take(1), Records{"Close(3)"});
}

}  // namespace
}  // namespace KestNet::testing
