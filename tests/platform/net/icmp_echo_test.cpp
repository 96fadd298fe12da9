#include "platform/net/icmp_echo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/module_table.h"
#include "tests/support/private_network_test.h"
#include "tests/support/temporary_directory.h"

namespace {

using kestnet::platform::GetSystemModuleProcedure;
using kestnet::platform::LoadSystemModule;

IPAddr Address(const char* p_szDotted) {
  in_addr address{};
  inet_pton(AF_INET, p_szDotted, &address);
  return address.s_addr;
}

bool WriteNetworkSysctl(const std::string& p_relativePath, const std::string& p_value) {
  std::ofstream file("/proc/sys/net/" + p_relativePath);
  file << p_value;
  file.flush();
  return static_cast<bool>(file);
}

// Sends an ICMP message (its checksum filled in) from a raw socket to 127.0.0.1.
void SendToLoopback(int p_fd, std::vector<BYTE>& p_message) {
  p_message[2] = p_message[3] = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < p_message.size(); i += 2) sum += static_cast<uint32_t>(p_message[i] << 8 | p_message[i + 1]);
  if (p_message.size() % 2 != 0) sum += static_cast<uint32_t>(p_message.back() << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  p_message[2] = static_cast<BYTE>(~sum >> 8);
  p_message[3] = static_cast<BYTE>(~sum);
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr.s_addr = Address("127.0.0.1");
  (void)::sendto(p_fd, p_message.data(), p_message.size(), 0, reinterpret_cast<sockaddr*>(&destination),
                 sizeof(destination));
}

// Room for one reply, the largest payload and an ICMP header.
using ReplyBuffer = std::array<ULONG_PTR, 1540 / sizeof(ULONG_PTR)>;

const ICMP_ECHO_REPLY& FirstReply(const ReplyBuffer& p_buffer) {
  return *reinterpret_cast<const ICMP_ECHO_REPLY*>(p_buffer.data());
}

// --- The module lookup --------------------------------------------------------

TEST(SystemModuleLookup, FindsTheEchoServiceByNameInAnyCase) {
  EXPECT_EQ(LoadSystemModule(L"ICMP.DLL"), nullptr) << "found before it was registered";
  kestnet::platform::RegisterIcmpModule();
  HMODULE module = LoadSystemModule(L"icmp.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module, LoadSystemModule(L"ICMP.DLL"));
  EXPECT_EQ(reinterpret_cast<IcmpSendEchoFunction>(GetSystemModuleProcedure(module, "IcmpSendEcho")),
            &IcmpSendEcho);
  EXPECT_EQ(GetSystemModuleProcedure(module, "IcmpSendEcho2"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(LoadSystemModule(L"IPHLPAPI.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(kestnet::platform::FreeSystemModule(module), TRUE);
  EXPECT_EQ(kestnet::platform::FreeSystemModule(nullptr), FALSE);
}

TEST(SystemModuleLookup, HiddenNamesAreMissingUntilShownAgain) {
  kestnet::platform::RegisterIcmpModule();
  kestnet::platform::SetSystemModuleHidden(L"icmp.dll", true);
  EXPECT_EQ(LoadSystemModule(L"ICMP.DLL"), nullptr);
  kestnet::platform::SetSystemModuleHidden(L"ICMP.DLL", false);
  HMODULE module = LoadSystemModule(L"ICMP.DLL");
  ASSERT_NE(module, nullptr);
  kestnet::platform::SetSystemModuleProcedureHidden("IcmpCreateFile", true);
  EXPECT_EQ(GetSystemModuleProcedure(module, "IcmpCreateFile"), nullptr);
  kestnet::platform::SetSystemModuleProcedureHidden("IcmpCreateFile", false);
  EXPECT_NE(GetSystemModuleProcedure(module, "IcmpCreateFile"), nullptr);
}

TEST(IpStatusNames, NameTheStatusCodes) {
  EXPECT_STREQ(kestnet::platform::IpStatusName(IP_TTL_EXPIRED_TRANSIT), "IP_TTL_EXPIRED_TRANSIT");
  EXPECT_STREQ(kestnet::platform::IpStatusName(IP_GENERAL_FAILURE), "IP_GENERAL_FAILURE");
  EXPECT_STREQ(kestnet::platform::IpStatusName(11049), "");
}

// --- Echoes -------------------------------------------------------------------------

// Each case runs once with ping sockets allowed for every group of the
// namespace and once with them refused, which leaves the raw socket.
class IcmpEchoTest : public kestnet::testing::PrivateNetworkTest,
                     public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(WriteNetworkSysctl("ipv4/ping_group_range", GetParam()));
    const std::string problem = kestnet::platform::IcmpAccessProblem();
    if (!problem.empty()) GTEST_SKIP() << problem;
    m_handle = IcmpCreateFile();
    ASSERT_NE(m_handle, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (m_handle != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(IcmpCloseHandle(m_handle), TRUE);
    }
    PrivateNetworkTest::TearDown();
  }

  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

TEST_P(IcmpEchoTest, LoopbackReplyCarriesAddressAndPayload) {
  std::vector<BYTE> payload(32);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>('a' + i % 26);
  IP_OPTION_INFORMATION options{64, 0, 0, 0, nullptr};
  ReplyBuffer buffer{};
  const DWORD replies = IcmpSendEcho(m_handle, Address("127.0.0.5"), payload.data(),
                                     static_cast<WORD>(payload.size()), &options, buffer.data(),
                                     sizeof(buffer), 2000);
  ASSERT_EQ(replies, 1u);
  const ICMP_ECHO_REPLY& reply = FirstReply(buffer);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(reply.Address, Address("127.0.0.5"));
  EXPECT_LT(reply.RoundTripTime, 2000u);
  ASSERT_EQ(reply.DataSize, payload.size());
  EXPECT_EQ(std::memcmp(reply.Data, payload.data(), payload.size()), 0);
}

TEST_P(IcmpEchoTest, EmptyPayloadAndDefaultOptionsAreAnswered) {
  ReplyBuffer buffer{};
  ASSERT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 0, nullptr, buffer.data(),
                         sizeof(buffer), 2000),
            1u);
  EXPECT_EQ(FirstReply(buffer).Status, IP_SUCCESS);
  EXPECT_EQ(FirstReply(buffer).DataSize, 0u);
}

TEST_P(IcmpEchoTest, SilenceEndsWithTimedOutStatusAfterTheTimeout) {
  ASSERT_TRUE(WriteNetworkSysctl("ipv4/icmp_echo_ignore_all", "1"));
  ReplyBuffer buffer{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 0, nullptr, buffer.data(),
                         sizeof(buffer), 200),
            0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(GetLastError(), IP_REQ_TIMED_OUT);
  EXPECT_EQ(FirstReply(buffer).Status, IP_REQ_TIMED_OUT);
}

// Sends ICMP messages that are not about the echo under test: echo replies
// with foreign identifiers and a time-exceeded error quoting a foreign echo.
class ForeignIcmpSender {
 public:
  ForeignIcmpSender() : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
  ~ForeignIcmpSender() {
    if (m_fd >= 0) ::close(m_fd);
  }
  ForeignIcmpSender(const ForeignIcmpSender&) = delete;
  ForeignIcmpSender& operator=(const ForeignIcmpSender&) = delete;
  bool IsOpen() const { return m_fd >= 0; }

  void SendRound(WORD p_wRound) {
    // An echo reply whose identifier and sequence belong to nobody here.
    std::vector<BYTE> reply = {0, 0, 0, 0, 0xFE, static_cast<BYTE>(p_wRound), 0, 1, 'x', 'y'};
    Send(reply);
    // A time-exceeded error quoting an echo request of another identifier.
    std::vector<BYTE> error = {11, 0, 0, 0, 0, 0, 0, 0};
    const BYTE quotedHeader[20] = {0x45, 0, 0, 28, 0, 0, 0, 0, 1, IPPROTO_ICMP, 0, 0,
                                   127, 0, 0, 1, 127, 0, 0, 1};
    error.insert(error.end(), std::begin(quotedHeader), std::end(quotedHeader));
    const BYTE quotedEcho[8] = {8, 0, 0, 0, 0xFD, static_cast<BYTE>(p_wRound), 0, 1};
    error.insert(error.end(), std::begin(quotedEcho), std::end(quotedEcho));
    Send(error);
  }

 private:
  void Send(std::vector<BYTE>& p_message) { SendToLoopback(m_fd, p_message); }

  int m_fd;
};

TEST_P(IcmpEchoTest, ForeignRepliesAndErrorsAreIgnored) {
  ASSERT_TRUE(WriteNetworkSysctl("ipv4/icmp_echo_ignore_all", "1"));
  ForeignIcmpSender sender;
  ASSERT_TRUE(sender.IsOpen());
  std::atomic<bool> bStop{false};
  std::thread noise([&] {
    for (WORD round = 0; !bStop.load(); ++round) {
      sender.SendRound(round);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  ReplyBuffer buffer{};
  const DWORD replies = IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 0, nullptr, buffer.data(),
                                     sizeof(buffer), 300);
  bStop = true;
  noise.join();
  EXPECT_EQ(replies, 0u);
  EXPECT_EQ(FirstReply(buffer).Status, IP_REQ_TIMED_OUT);
}

TEST_P(IcmpEchoTest, NoRouteIsNetUnreachableAtOnce) {
  ReplyBuffer buffer{};
  EXPECT_EQ(IcmpSendEcho(m_handle, Address("10.99.0.1"), nullptr, 0, nullptr, buffer.data(),
                         sizeof(buffer), 5000),
            0u);
  EXPECT_EQ(FirstReply(buffer).Status, IP_DEST_NET_UNREACHABLE);
}

// Answers echo requests to 127.0.0.1 itself (the test turns the kernel's
// answers off), the first one late: a slow host whose reply to an abandoned
// echo arrives while the next echo waits.
class LateResponder {
 public:
  explicit LateResponder(std::chrono::milliseconds p_firstReplyDelay)
      : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)), m_firstReplyDelay(p_firstReplyDelay) {
    if (m_fd >= 0) m_thread = std::thread([this] { Serve(); });
  }
  ~LateResponder() {
    m_bStop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) ::close(m_fd);
  }
  LateResponder(const LateResponder&) = delete;
  LateResponder& operator=(const LateResponder&) = delete;
  bool IsOpen() const { return m_fd >= 0; }
  int Answered() const { return m_answered.load(); }

 private:
  void Serve() {
    std::vector<BYTE> packet(2048);
    while (!m_bStop) {
      pollfd waiter{m_fd, POLLIN, 0};
      if (::poll(&waiter, 1, 20) <= 0) continue;
      const ssize_t received = ::recv(m_fd, packet.data(), packet.size(), 0);
      if (received < 20) continue;
      const size_t headerLength = static_cast<size_t>(packet[0] & 0x0F) * 4;
      if (static_cast<size_t>(received) < headerLength + 8 || packet[headerLength] != 8) continue;
      // The request with its type turned into a reply: identifier, sequence
      // and payload stay as sent.
      std::vector<BYTE> reply(packet.begin() + static_cast<long>(headerLength), packet.begin() + received);
      reply[0] = 0;
      if (m_answered.load() == 0) std::this_thread::sleep_for(m_firstReplyDelay);
      SendToLoopback(m_fd, reply);
      ++m_answered;
    }
  }

  int m_fd;
  std::chrono::milliseconds m_firstReplyDelay;
  std::atomic<bool> m_bStop{false};
  std::atomic<int> m_answered{0};
  std::thread m_thread;
};

TEST_P(IcmpEchoTest, LateReplyToAnAbandonedEchoIsNotTakenForTheNextOne) {
  ASSERT_TRUE(WriteNetworkSysctl("ipv4/icmp_echo_ignore_all", "1"));
  LateResponder responder(std::chrono::milliseconds(400));
  ASSERT_TRUE(responder.IsOpen());
  std::string first = "first echo";
  std::string second = "second echo";
  ReplyBuffer buffer{};
  // Given up before its reply comes.
  EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), first.data(), static_cast<WORD>(first.size()), nullptr,
                         buffer.data(), sizeof(buffer), 100),
            0u);
  EXPECT_EQ(FirstReply(buffer).Status, IP_REQ_TIMED_OUT);
  // The first reply arrives while this one waits, and before its own.
  ASSERT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), second.data(), static_cast<WORD>(second.size()),
                         nullptr, buffer.data(), sizeof(buffer), 3000),
            1u);
  const ICMP_ECHO_REPLY& reply = FirstReply(buffer);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  ASSERT_EQ(reply.DataSize, second.size());
  EXPECT_EQ(std::string(static_cast<const char*>(reply.Data), reply.DataSize), second);
  // The responder counts a reply after sending it, so the echo may return
  // before the count moves.
  for (int i = 0; i < 100 && responder.Answered() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(responder.Answered(), 2);
}

// The TTL and type of service of the next echo request seen on loopback.
struct SentHeader {
  int ttl = -1;
  int tos = -1;
};

SentHeader NextEchoRequestHeader(int p_captureFd) {
  std::array<BYTE, 2048> packet{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd waiter{p_captureFd, POLLIN, 0};
    if (::poll(&waiter, 1, 100) <= 0) continue;
    const ssize_t received = ::recv(p_captureFd, packet.data(), packet.size(), 0);
    if (received < 28) continue;
    const size_t headerLength = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (static_cast<size_t>(received) >= headerLength + 8 && packet[headerLength] == 8) {
      return {packet[8], packet[1]};
    }
  }
  return {};
}

TEST_P(IcmpEchoTest, OptionsChangedBetweenEchoesOnOneHandleApplyToEachEcho) {
  const int capture = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  ASSERT_GE(capture, 0);
  const struct {
    UCHAR ttl;
    UCHAR tos;
  } rounds[] = {{5, 0}, {9, 0x10}, {9, 0x10}, {5, 0x10}, {5, 0}};
  for (const auto& round : rounds) {
    IP_OPTION_INFORMATION options{round.ttl, round.tos, 0, 0, nullptr};
    ReplyBuffer buffer{};
    EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 0, &options, buffer.data(), sizeof(buffer),
                           2000),
              1u);
    const SentHeader sent = NextEchoRequestHeader(capture);
    EXPECT_EQ(sent.ttl, round.ttl);
    EXPECT_EQ(sent.tos, round.tos);
  }
  ::close(capture);
}

size_t CountOpenFiles() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST_P(IcmpEchoTest, HandleClosedDuringItsEchoLetsTheEchoEndAndThenReleasesItsSocket) {
  ASSERT_TRUE(WriteNetworkSysctl("ipv4/icmp_echo_ignore_all", "1"));
  const size_t filesBefore = CountOpenFiles();
  HANDLE handle = IcmpCreateFile();
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CountOpenFiles(), filesBefore + 1);
  ULONG status = 0;
  DWORD replies = 1;
  std::thread echo([&] {
    ReplyBuffer buffer{};
    replies = IcmpSendEcho(handle, Address("127.0.0.1"), nullptr, 0, nullptr, buffer.data(), sizeof(buffer), 300);
    status = FirstReply(buffer).Status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(IcmpCloseHandle(handle), TRUE);
  echo.join();
  EXPECT_EQ(replies, 0u);
  EXPECT_EQ(status, IP_REQ_TIMED_OUT);
  EXPECT_EQ(CountOpenFiles(), filesBefore);
}

TEST_P(IcmpEchoTest, ConcurrentEchoesOnOneHandleEachGetTheirOwnReply) {
  constexpr int kThreads = 16;
  std::vector<ULONG> statuses(kThreads, 0xFFFFFFFF);
  std::vector<IPAddr> addresses(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ReplyBuffer buffer{};
      const std::string target = "127.0.1." + std::to_string(i + 1);
      if (IcmpSendEcho(m_handle, Address(target.c_str()), nullptr, 0, nullptr, buffer.data(),
                       sizeof(buffer), 5000) == 1) {
        statuses[static_cast<size_t>(i)] = FirstReply(buffer).Status;
        addresses[static_cast<size_t>(i)] = FirstReply(buffer).Address;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(statuses[static_cast<size_t>(i)], IP_SUCCESS) << i;
    EXPECT_EQ(addresses[static_cast<size_t>(i)], Address(("127.0.1." + std::to_string(i + 1)).c_str())) << i;
  }
}

TEST_P(IcmpEchoTest, BadCallsFailWithTheirOwnStatus) {
  ReplyBuffer buffer{};
  BYTE payload[8] = {};
  // Too small for a reply, the payload and an ICMP header.
  EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), payload, sizeof(payload), nullptr,
                         buffer.data(), sizeof(ICMP_ECHO_REPLY) + sizeof(payload), 1000),
            0u);
  EXPECT_EQ(GetLastError(), IP_BUF_TOO_SMALL);
  EXPECT_EQ(FirstReply(buffer).Status, IP_BUF_TOO_SMALL);

  IP_OPTION_INFORMATION zeroTtl{0, 0, 0, 0, nullptr};
  EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 0, &zeroTtl, buffer.data(),
                         sizeof(buffer), 1000),
            0u);
  EXPECT_EQ(FirstReply(buffer).Status, IP_BAD_OPTION);

  EXPECT_EQ(IcmpSendEcho(m_handle, Address("127.0.0.1"), nullptr, 4, nullptr, buffer.data(),
                         sizeof(buffer), 1000),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, IcmpEchoTest, ::testing::Values("0 2147483647", "1 0"),
                         [](const ::testing::TestParamInfo<const char*>& p_info) {
                           return std::string(p_info.index == 0 ? "PingSocket" : "RawSocket");
                         });

TEST(IcmpHandles, ClosedOrUnknownHandlesAreRefused) {
  kestnet::testing::TemporaryHome home;
  if (!kestnet::platform::IcmpAccessProblem().empty()) GTEST_SKIP() << kestnet::platform::IcmpAccessProblem();
  HANDLE handle = IcmpCreateFile();
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(IcmpCloseHandle(handle), TRUE);
  EXPECT_EQ(IcmpCloseHandle(handle), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ReplyBuffer buffer{};
  EXPECT_EQ(IcmpSendEcho(handle, Address("127.0.0.1"), nullptr, 0, nullptr, buffer.data(),
                         sizeof(buffer), 1000),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(FirstReply(buffer).Status, IP_GENERAL_FAILURE);
}

}  // namespace
