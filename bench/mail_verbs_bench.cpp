// The mail verbs as a user runs them, against dovecot and postfix on loopback
// (the tests' mail servers), each beside the curl command doing the same
// against the same servers in the same run:
//   - `kestnet sendmail` of a 5 MiB text body (sent Base64-encoded, about
//     6.8 MiB on the wire) beside `curl smtp://` uploading a message with the
//     same body already Base64-encoded, so both move the same bytes;
//   - `kestnet pop3 retrieve all` of 5 messages of 200 KiB (1 MiB in all)
//     into .eml files beside one `curl pop3://` run fetching the same five
//     into files over one connection.
// Each plain (the KestNetPOP3/KestNetSMTP objects, pop3:// and smtp://) and
// with TLS from the first byte (--tls: KestNetPOP3Ex/KestNetSMTPEx against
// pop3s and smtps, pop3s:// and smtps://), both trusting the fixture's CA.
//
//   mail_verbs_bench  (as root: the servers bind, change users and own Maildirs)
//
// Wall time is the whole process's, start-up and the module's loading
// included on our side, the program's start on curl's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/mail/base64.h"
#include "tests/support/mail_servers.h"
#include "tests/support/temporary_directory.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kestnet::testing::MailServers;

constexpr const char* kSender = "sender";
constexpr const char* kMailbox = "five";  // 5 x 200 KiB
constexpr const char* kRecipient = "recipient";
constexpr const char* kPassword = "bench-secret";
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMessages = 5;
constexpr std::size_t kMailboxBytes = 1024 * kKiB;
constexpr std::size_t kSendBytes = 5 * 1024 * kKiB;

MailServers* g_servers = nullptr;
fs::path g_work;  // the run's files: bodies, messages, retrieved mail
std::string g_caFile;  // the fixture's CA, which both sides trust

// Runs a program (found on PATH) with its output discarded; true when it
// exits with 0.
bool Run(const std::vector<std::string>& p_arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : p_arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A message of about p_bytes: headers and 7-bit lines of 76 characters.
std::string Message(std::size_t p_bytes, const std::string& p_subject) {
  std::string message = "From: " + MailServers::Address(kSender) + "\r\nTo: " + MailServers::Address(kRecipient) +
                        "\r\nSubject: " + p_subject + "\r\n\r\n";
  const std::string line = std::string(74, 'x') + "\r\n";
  while (message.size() + line.size() <= p_bytes) message += line;
  return message;
}

void WriteFile(const fs::path& p_path, const std::string& p_text) {
  std::ofstream(p_path, std::ios::binary | std::ios::trunc) << p_text;
}

std::string Port(std::uint16_t p_port) { return std::to_string(p_port); }

enum class Transport { kPlain, kTls };

// The verb's options choosing the transport, and its port.
std::vector<std::string> KestnetTransport(Transport p_transport, std::uint16_t p_plainPort, std::uint16_t p_tlsPort) {
  if (p_transport == Transport::kPlain) return {"--port", Port(p_plainPort)};
  return {"--tls", "--port", Port(p_tlsPort)};
}

void KestnetSendmail(benchmark::State& p_state, Transport p_transport) {
  const fs::path body = g_work / "body.txt";
  std::vector<std::string> command = {KESTNET_PROGRAM, "sendmail", "--server", "127.0.0.1", "--user", kSender,
                                      "--from", MailServers::Address(kSender), "--to",
                                      MailServers::Address(kRecipient), "--subject", "bench", "--text-file",
                                      body.string()};
  for (std::string& option : KestnetTransport(p_transport, g_servers->SmtpPort(), g_servers->SmtpsPort())) {
    command.push_back(std::move(option));
  }
  for (auto _ : p_state) {
    if (!Run(command)) return p_state.SkipWithError("kestnet sendmail failed");
  }
  p_state.SetBytesProcessed(static_cast<int64_t>(p_state.iterations() * kSendBytes));
  g_servers->EmptyMailbox(kRecipient);
}

void CurlSendmail(benchmark::State& p_state, Transport p_transport) {
  const fs::path message = g_work / "message.eml";
  const std::string url = p_transport == Transport::kPlain ? "smtp://127.0.0.1:" + Port(g_servers->SmtpPort())
                                                           : "smtps://127.0.0.1:" + Port(g_servers->SmtpsPort());
  for (auto _ : p_state) {
    if (!Run({"curl", "--silent", "--show-error", "--cacert", g_caFile, "--url", url, "--user",
              std::string(kSender) + ":" + kPassword, "--login-options", "AUTH=LOGIN", "--mail-from",
              MailServers::Address(kSender), "--mail-rcpt", MailServers::Address(kRecipient), "--upload-file",
              message.string()})) {
      return p_state.SkipWithError("curl failed");
    }
  }
  p_state.SetBytesProcessed(static_cast<int64_t>(p_state.iterations() * kSendBytes));
  g_servers->EmptyMailbox(kRecipient);
}

void KestnetPop3Retrieve(benchmark::State& p_state, Transport p_transport) {
  const fs::path folder = g_work / "kestnet-inbox";
  std::vector<std::string> command = {KESTNET_PROGRAM, "pop3", "retrieve", "all", "--output", folder.string(),
                                      "--server", "127.0.0.1", "--user", kMailbox};
  for (std::string& option : KestnetTransport(p_transport, g_servers->Pop3Port(), g_servers->Pop3sPort())) {
    command.push_back(std::move(option));
  }
  for (auto _ : p_state) {
    if (!Run(command)) return p_state.SkipWithError("kestnet pop3 failed");
  }
  p_state.SetBytesProcessed(static_cast<int64_t>(p_state.iterations() * kMailboxBytes));
}

void CurlPop3Retrieve(benchmark::State& p_state, Transport p_transport) {
  const fs::path folder = g_work / "curl-inbox";
  fs::create_directories(folder);
  // One run, one connection: every URL names one message, every -o its file.
  std::vector<std::string> command = {"curl", "--silent", "--show-error", "--cacert", g_caFile, "--user",
                                      std::string(kMailbox) + ":" + kPassword};
  for (std::size_t number = 1; number <= kMessages; ++number) {
    command.push_back(p_transport == Transport::kPlain
                          ? "pop3://127.0.0.1:" + Port(g_servers->Pop3Port()) + "/" + std::to_string(number)
                          : "pop3s://127.0.0.1:" + Port(g_servers->Pop3sPort()) + "/" + std::to_string(number));
    command.push_back("--output");
    command.push_back((folder / (std::to_string(number) + ".eml")).string());
  }
  for (auto _ : p_state) {
    if (!Run(command)) return p_state.SkipWithError("curl failed");
  }
  p_state.SetBytesProcessed(static_cast<int64_t>(p_state.iterations() * kMailboxBytes));
}

BENCHMARK_CAPTURE(KestnetSendmail, message_5MiB, Transport::kPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlSendmail, message_5MiB, Transport::kPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(KestnetSendmail, message_5MiB_tls, Transport::kTls)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlSendmail, message_5MiB_tls, Transport::kTls)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(KestnetPop3Retrieve, five_messages_1MiB, Transport::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(CurlPop3Retrieve, five_messages_1MiB, Transport::kPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(KestnetPop3Retrieve, five_messages_1MiB_tls, Transport::kTls)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(CurlPop3Retrieve, five_messages_1MiB_tls, Transport::kTls)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (const std::string reason = MailServers::Unavailable(); !reason.empty()) {
    std::fprintf(stderr, "mail_verbs_bench: %s\n", reason.c_str());
    return 1;
  }
  kestnet::testing::TemporaryHome home;  // kestnet's registry store for the run
  kestnet::testing::TemporaryDirectory work("kestnet-mail-verbs");
  g_work = work.Path();
  MailServers servers;
  servers.EnableTls();
  std::string error;
  if (!servers.Start({{kSender, kPassword}, {kMailbox, kPassword}, {kRecipient, kPassword}}, error)) {
    std::fprintf(stderr, "mail_verbs_bench: %s\n", error.c_str());
    return 1;
  }
  for (std::size_t i = 0; i < kMessages; ++i) {
    servers.SeedMessage(kMailbox, Message(kMailboxBytes / kMessages, "part " + std::to_string(i)));
  }
  if (!Run({KESTNET_PROGRAM, "setup"})) {
    std::fprintf(stderr, "mail_verbs_bench: kestnet setup failed\n");
    return 1;
  }
  ::setenv("KESTNET_MAIL_PASSWORD", kPassword, 1);
  // kestnet and curl alike trust the fixture's CA through OpenSSL's variable.
  g_caFile = servers.Certificates().CaFile().string();
  ::setenv("SSL_CERT_FILE", g_caFile.c_str(), 1);

  // The text body kestnet sends, and the message curl sends: the same body
  // as the object encodes it, Base64 in lines of 76.
  std::string body = Message(kSendBytes, "bench");
  body.erase(0, body.find("\r\n\r\n") + 4);
  WriteFile(g_work / "body.txt", body);
  std::string message = "From: " + MailServers::Address(kSender) + "\r\nTo: " + MailServers::Address(kRecipient) +
                        "\r\nSubject: bench\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\n" +
                        KestNet::Base64EncodeLines(body) + "\r\n";
  WriteFile(g_work / "message.eml", message);

  g_servers = &servers;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_servers = nullptr;
  return 0;
}
