// The mail clients against real servers on loopback (dovecot for POP3,
// postfix for SMTP, as the tests run them), each beside libcurl doing the
// same against the same servers in the same run:
//   - retrieving 5 messages of 200 KiB (1 MiB in all) and one of 1 MiB:
//     log-in, RETR of every message, QUIT, per iteration;
//   - sending one message of 10 KiB and one of 5 MiB: log-in (AUTH LOGIN),
//     MAIL, RCPT, DATA, QUIT, per iteration;
//   - over TLS from the first byte (POP3S, SMTPS; the servers' test CA is
//     trusted by both sides): the 5 messages and the 5 MiB message.
//
//   mail_bench        (as root: the servers bind, change users and own Maildirs)
//
// Wall time is the iteration's. peak_memory is how far the heap in use rose
// above its size before the run (every C++ allocation, every libcurl
// allocation and every OpenSSL allocation is counted), and per_message_byte that rise divided by the
// message bytes an iteration moves.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <malloc.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/mail/mime.h"
#include "net/mail/pop3_client.h"
#include "net/mail/mail_transport_security.h"
#include "net/mail/smtp_client.h"
#include "net/sockets/set_manager.h"
#include "tests/support/mail_servers.h"
#include "tests/support/temporary_directory.h"

// The global operator new and delete below are malloc and free with a count:
// once inlined, GCC sees free() given what operator new returned and warns of
// a mismatch that is not one.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

using kestnet::testing::MailServers;

constexpr const char* kSender = "sender";
constexpr const char* kPassword = "bench-secret";
constexpr const char* kFiveMessages = "five";  // 5 x 200 KiB
constexpr const char* kOneMessage = "one";     // 1 x 1 MiB
constexpr const char* kRecipient = "recipient";
constexpr std::size_t kKiB = 1024;
constexpr auto kSafetyTimeout = std::chrono::minutes(2);

MailServers* g_servers = nullptr;

// A message of about p_bytes: headers and 7-bit lines of 76 characters.
std::string Message(std::size_t p_bytes, const std::string& p_subject) {
  std::string message = "From: " + MailServers::Address(kSender) + "\r\nTo: " + MailServers::Address(kRecipient) +
                        "\r\nSubject: " + p_subject + "\r\n\r\n";
  const std::string line = std::string(74, 'x') + "\r\n";
  while (message.size() + line.size() <= p_bytes) message += line;
  return message;
}

// Heap bytes in use and their peak, counted for every C++ allocation (ours)
// and every allocation libcurl makes through the functions handed to
// curl_global_init_mem (curl's): both sides pay for the same bytes.
std::atomic<std::size_t> g_heapInUse{0};
std::atomic<std::size_t> g_heapPeak{0};

void* Counted(void* p_block) {
  if (p_block == nullptr) return nullptr;
  const std::size_t inUse = g_heapInUse += malloc_usable_size(p_block);
  std::size_t peak = g_heapPeak.load();
  while (inUse > peak && !g_heapPeak.compare_exchange_weak(peak, inUse)) {
  }
  return p_block;
}
void Uncount(void* p_block) {
  if (p_block != nullptr) g_heapInUse -= malloc_usable_size(p_block);
}

void* CountedMalloc(std::size_t p_size) { return Counted(std::malloc(p_size)); }
void CountedFree(void* p_block) {
  Uncount(p_block);
  std::free(p_block);
}
void* CountedRealloc(void* p_block, std::size_t p_size) {
  Uncount(p_block);
  void* moved = std::realloc(p_block, p_size);
  // A failed realloc leaves the block where it was.
  return Counted(moved != nullptr || p_size == 0 ? moved : p_block);
}
char* CountedStrdup(const char* p_text) { return static_cast<char*>(Counted(strdup(p_text))); }
void* CountedCalloc(std::size_t p_count, std::size_t p_size) { return Counted(std::calloc(p_count, p_size)); }

// The rise of the heap's peak over what was in use when the run began.
class PeakMemory {
 public:
  PeakMemory() : m_base(g_heapInUse.load()) { g_heapPeak = m_base; }
  void Report(benchmark::State& p_state, std::size_t p_messageBytes) const {
    const double rise = static_cast<double>(g_heapPeak.load() - m_base);
    p_state.counters["peak_memory"] = rise;
    p_state.counters["per_message_byte"] = rise / static_cast<double>(p_messageBytes);
    p_state.SetBytesProcessed(static_cast<int64_t>(p_state.iterations() * p_messageBytes));
  }

 private:
  std::size_t m_base = 0;
};

// Waits for the clients' notifications: each one counts, and the waiter
// names how many it needs.
class CountingListener : public KestNet::Pop3ClientListener, public KestNet::SmtpClientListener {
 public:
  virtual ~CountingListener() = default;
  void OnPOP3Connected(DWORD p_dwStatus) override { Count(p_dwStatus == 0); }
  void OnPOP3Header(DWORD, const std::string&) override {}
  void OnPOP3Authenticated(DWORD, DWORD p_dwStatus, const std::string&) override { Count(p_dwStatus == 0, false); }
  void OnReady() override { Count(true); }
  void OnPOP3Quit(DWORD, const std::string&) override {}
  void OnPOP3Close(DWORD) override { Count(true); }
  void OnPOP3Count(DWORD, const std::string&, DWORD, DWORD) override {}
  void OnPOP3Retrieve(DWORD p_dwStatus, DWORD, const std::vector<std::string>&) override {
    Count(p_dwStatus == 0, false);
  }
  void OnPOP3Delete(DWORD, const std::string&, DWORD) override {}
  void OnSMTPConnected(DWORD p_dwStatus) override { Count(p_dwStatus == 0, false); }
  void OnSMTPHeader(DWORD, const std::string&) override {}
  void OnSMTPHello(DWORD, const std::string&) override {}
  void OnSMTPAuthenticateRequest(DWORD, const std::string&) override {}
  void OnSMTPUsername(DWORD, const std::string&) override {}
  void OnSMTPPassword(DWORD, const std::string&) override {}
  void OnSMTPAuthenticated(DWORD p_dwStatus) override { Count(p_dwStatus == 0, false); }
  void OnSMTPMailSent(DWORD p_dwStatus) override { Count(p_dwStatus == 0); }
  void OnSMTPQuit(DWORD, const std::string&) override {}
  void OnSMTPClose(DWORD) override { Count(true); }
  void OnSMTPReady() override { Count(true); }

  // Waits for the next p_count counted notifications; false on a failure.
  bool Wait(int p_count) {
    std::unique_lock lock(m_lock);
    const bool arrived = m_changed.wait_for(lock, kSafetyTimeout, [&] { return m_failed || m_count >= p_count; });
    m_count = 0;
    return arrived && !std::exchange(m_failed, false);
  }

 private:
  // Only the notifications that end a step count; a failure anywhere ends the wait.
  void Count(bool p_bSucceeded, bool p_bCounts = true) {
    std::lock_guard lock(m_lock);
    if (!p_bSucceeded) m_failed = true;
    if (p_bCounts) ++m_count;
    m_changed.notify_all();
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  int m_count = 0;
  bool m_failed = false;
};

struct Mailbox {
  const char* user;
  std::size_t messages;
  std::size_t bytes;  // all messages together
};
const Mailbox kFive = {kFiveMessages, 5, 1024 * kKiB};
const Mailbox kOne = {kOneMessage, 1, 1024 * kKiB};

// TLS from the first byte, or none.
KestNet::MailTransportSecurity Security(bool p_bSecure) {
  KestNet::MailTransportSecurity security;
  security.mode = p_bSecure ? KestNet::MailTransportMode::kImplicit : KestNet::MailTransportMode::kNone;
  return security;
}

void Pop3Retrieve(benchmark::State& p_state, const Mailbox& p_mailbox, bool p_bSecure) {
  CountingListener listener;
  const PeakMemory peak;
  for (auto _ : p_state) {
    KestNet::Pop3Client client;
    client.SetListener(&listener);
    client.SetTransportSecurity(Security(p_bSecure));
    client.SetServer("127.0.0.1", p_bSecure ? g_servers->Pop3sPort() : g_servers->Pop3Port());
    client.SetUser(p_mailbox.user);
    client.SetPassword(kPassword);
    client.Connect();
    // Connected, then Ready after the log-in.
    if (!listener.Wait(2)) return p_state.SkipWithError("log-in failed");
    for (DWORD number = 1; number <= p_mailbox.messages; ++number) {
      client.RetrieveMessage(number);
      if (!listener.Wait(1)) return p_state.SkipWithError("RETR failed");
    }
    client.Disconnect();
    listener.Wait(1);
  }
  peak.Report(p_state, p_mailbox.bytes);
}

std::size_t Discard(char*, std::size_t p_size, std::size_t p_count, void*) { return p_size * p_count; }

void CurlPop3Retrieve(benchmark::State& p_state, const Mailbox& p_mailbox, bool p_bSecure) {
  const PeakMemory peak;
  for (auto _ : p_state) {
    // One handle for the session: libcurl keeps the connection between the
    // messages, as the client does.
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_USERNAME, p_mailbox.user);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_CAINFO, g_servers->Certificates().CaFile().c_str());
    for (std::size_t number = 1; number <= p_mailbox.messages; ++number) {
      const std::string url = (p_bSecure ? "pop3s://127.0.0.1:" + std::to_string(g_servers->Pop3sPort())
                                         : "pop3://127.0.0.1:" + std::to_string(g_servers->Pop3Port())) +
                              "/" + std::to_string(number);
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      if (curl_easy_perform(curl) != CURLE_OK) {
        curl_easy_cleanup(curl);
        return p_state.SkipWithError("curl RETR failed");
      }
    }
    curl_easy_cleanup(curl);
  }
  peak.Report(p_state, p_mailbox.bytes);
}

void SmtpSend(benchmark::State& p_state, std::size_t p_bytes, bool p_bSecure) {
  CountingListener listener;
  KestNet::MIME mime;
  mime.SetHeader("From", MailServers::Address(kSender));
  mime.SetHeader("To", MailServers::Address(kRecipient));
  mime.SetHeader("Subject", "bench");
  const std::string message = Message(p_bytes, "bench");
  mime.SetBody(message.substr(message.find("\r\n\r\n") + 4), false);
  const PeakMemory peak;
  for (auto _ : p_state) {
    KestNet::SmtpClient client;
    client.SetListener(&listener);
    client.SetTransportSecurity(Security(p_bSecure));
    client.SetServer("127.0.0.1", p_bSecure ? g_servers->SmtpsPort() : g_servers->SmtpPort());
    client.SetUser(kSender);
    client.SetPassword(kPassword);
    client.Connect();
    if (!listener.Wait(1)) return p_state.SkipWithError("log-in failed");
    client.SetSenderName(MailServers::Address(kSender));
    client.Send(MailServers::Address(kRecipient), &mime);
    if (!listener.Wait(1)) return p_state.SkipWithError("send failed");
    client.Disconnect();
    listener.Wait(1);
  }
  peak.Report(p_state, p_bytes);
  g_servers->EmptyMailbox(kRecipient);
}

struct Upload {
  const std::string* message;
  std::size_t offset;
};

std::size_t ReadUpload(char* p_buffer, std::size_t p_size, std::size_t p_count, void* p_upload) {
  auto* upload = static_cast<Upload*>(p_upload);
  const std::size_t length = std::min(p_size * p_count, upload->message->size() - upload->offset);
  std::memcpy(p_buffer, upload->message->data() + upload->offset, length);
  upload->offset += length;
  return length;
}

void CurlSmtpSend(benchmark::State& p_state, std::size_t p_bytes, bool p_bSecure) {
  const std::string message = Message(p_bytes, "bench");
  const std::string url = p_bSecure ? "smtps://127.0.0.1:" + std::to_string(g_servers->SmtpsPort())
                                    : "smtp://127.0.0.1:" + std::to_string(g_servers->SmtpPort());
  const std::string from = "<" + MailServers::Address(kSender) + ">";
  const PeakMemory peak;
  for (auto _ : p_state) {
    CURL* curl = curl_easy_init();
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + MailServers::Address(kRecipient) + ">").c_str());
    Upload upload{&message, 0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, kSender);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
    curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_CAINFO, g_servers->Certificates().CaFile().c_str());
    const CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK) return p_state.SkipWithError("curl send failed");
  }
  peak.Report(p_state, p_bytes);
  g_servers->EmptyMailbox(kRecipient);
}

BENCHMARK_CAPTURE(Pop3Retrieve, five_messages_1MiB, kFive, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlPop3Retrieve, five_messages_1MiB, kFive, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Pop3Retrieve, one_message_1MiB, kOne, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlPop3Retrieve, one_message_1MiB, kOne, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SmtpSend, message_10KiB, 10 * kKiB, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlSmtpSend, message_10KiB, 10 * kKiB, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SmtpSend, message_5MiB, 5 * 1024 * kKiB, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlSmtpSend, message_5MiB, 5 * 1024 * kKiB, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Pop3Retrieve, pop3s_five_messages_1MiB, kFive, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlPop3Retrieve, pop3s_five_messages_1MiB, kFive, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SmtpSend, smtps_message_5MiB, 5 * 1024 * kKiB, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CurlSmtpSend, smtps_message_5MiB, 5 * 1024 * kKiB, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

// Every C++ allocation of the process goes through the count.
void* operator new(std::size_t p_size) {
  if (void* block = CountedMalloc(p_size == 0 ? 1 : p_size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t p_size) { return operator new(p_size); }
void operator delete(void* p_block) noexcept { CountedFree(p_block); }
void operator delete[](void* p_block) noexcept { CountedFree(p_block); }
void operator delete(void* p_block, std::size_t) noexcept { CountedFree(p_block); }
void operator delete[](void* p_block, std::size_t) noexcept { CountedFree(p_block); }

// OpenSSL's allocations, both sides' TLS, go through the count as well.
void* CountedOpenSslMalloc(std::size_t p_size, const char*, int) { return CountedMalloc(p_size); }
void* CountedOpenSslRealloc(void* p_block, std::size_t p_size, const char*, int) {
  return CountedRealloc(p_block, p_size);
}
void CountedOpenSslFree(void* p_block, const char*, int) { CountedFree(p_block); }

int main(int argc, char** argv) {
  // Before OpenSSL allocates anything.
  CRYPTO_set_mem_functions(CountedOpenSslMalloc, CountedOpenSslRealloc, CountedOpenSslFree);
  benchmark::Initialize(&argc, argv);
  if (const std::string reason = MailServers::Unavailable(); !reason.empty()) {
    std::fprintf(stderr, "mail_bench: %s\n", reason.c_str());
    return 1;
  }
  kestnet::testing::TemporaryHome home;
  MailServers servers;
  servers.EnableTls();
  std::string error;
  if (!servers.Start({{kSender, kPassword}, {kFiveMessages, kPassword}, {kOneMessage, kPassword},
                      {kRecipient, kPassword}},
                     error)) {
    std::fprintf(stderr, "mail_bench: %s\n", error.c_str());
    return 1;
  }
  for (std::size_t i = 0; i < kFive.messages; ++i) {
    servers.SeedMessage(kFive.user, Message(kFive.bytes / kFive.messages, "part " + std::to_string(i)));
  }
  servers.SeedMessage(kOne.user, Message(kOne.bytes, "whole"));
  g_servers = &servers;
  // The client trusts the servers' test CA (curl is told through CAINFO).
  setenv("SSL_CERT_FILE", servers.Certificates().CaFile().c_str(), 1);
  curl_global_init_mem(CURL_GLOBAL_DEFAULT, CountedMalloc, CountedFree, CountedRealloc, CountedStrdup, CountedCalloc);
  KestNet::InitializeSockets();
  benchmark::RunSpecifiedBenchmarks();
  KestNet::UninitializeSockets();
  curl_global_cleanup();
  benchmark::Shutdown();
  g_servers = nullptr;
  return 0;
}
