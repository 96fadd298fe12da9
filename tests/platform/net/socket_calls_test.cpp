#include "platform/net/socket_calls.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/net/winsock_errors.h"

namespace kestnet::platform {
namespace {

struct ErrnoCase {
  int errnoValue;
  int winsockError;
};

class WinsockErrorTranslation : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(WinsockErrorTranslation, MapsErrnoToTheWinsockNumber) {
  EXPECT_EQ(WinsockErrorFromErrno(GetParam().errnoValue), GetParam().winsockError);
}

INSTANTIATE_TEST_SUITE_P(
    SocketFailures, WinsockErrorTranslation,
    ::testing::Values(ErrnoCase{0, 0}, ErrnoCase{EAGAIN, 10035}, ErrnoCase{EINPROGRESS, 10036},
                      ErrnoCase{ECONNRESET, 10054}, ErrnoCase{ECONNABORTED, 10053},
                      ErrnoCase{ECONNREFUSED, 10061}, ErrnoCase{ETIMEDOUT, 10060},
                      ErrnoCase{EADDRINUSE, 10048}, ErrnoCase{EADDRNOTAVAIL, 10049},
                      ErrnoCase{ENETUNREACH, 10051}, ErrnoCase{ENOTSOCK, 10038},
                      ErrnoCase{EMFILE, 10024}, ErrnoCase{EINVAL, 10022},
                      ErrnoCase{EPIPE, 10058}, ErrnoCase{EMSGSIZE, 10040},
                      ErrnoCase{ENOBUFS, 10055}));

TEST(WinsockErrors, UnknownErrnoIsNeverReportedAsSuccess) {
  EXPECT_EQ(WinsockErrorFromErrno(EDOM), winsock::kSystemCallFailure);
  EXPECT_EQ(WinsockErrorFromErrno(-1), winsock::kSystemCallFailure);
}

TEST(WinsockErrors, LastSocketErrorIsPerThread) {
  SetLastSocketError(winsock::kConnectionReset);
  int seenOnOtherThread = -1;
  std::thread([&] { seenOnOtherThread = GetLastSocketError(); }).join();
  EXPECT_EQ(seenOnOtherThread, 0);
  EXPECT_EQ(GetLastSocketError(), winsock::kConnectionReset);
}

TEST(SocketService, OpeningBeforeStartFailsWithNotInitialised) {
  SetLastSocketError(0);
  EXPECT_EQ(OpenSocket(SocketType::kStream), kInvalidSocket);
  EXPECT_EQ(GetLastSocketError(), winsock::kNotInitialised);

  ASSERT_TRUE(StartSockets());
  const SocketHandle socket = OpenSocket(SocketType::kDatagram);
  EXPECT_NE(socket, kInvalidSocket);
  EXPECT_TRUE(CloseSocket(socket));
  StopSockets();
  EXPECT_EQ(OpenSocket(SocketType::kStream), kInvalidSocket);
}

TEST(SocketService, ClosingAClosedSocketSaysNotASocket) {
  ASSERT_TRUE(StartSockets());
  const SocketHandle socket = OpenSocket(SocketType::kStream);
  ASSERT_TRUE(CloseSocket(socket));
  EXPECT_FALSE(CloseSocket(socket));
  EXPECT_EQ(GetLastSocketError(), winsock::kNotSocket);
  StopSockets();
}

TEST(SocketService, DatagramRoundTripOnLoopbackReportsTheSender) {
  ASSERT_TRUE(StartSockets());
  std::uint32_t loopback = 0;
  ASSERT_TRUE(ParseIPv4Address("127.0.0.1", &loopback));
  const SocketHandle receiver = OpenSocket(SocketType::kDatagram);
  const SocketHandle sender = OpenSocket(SocketType::kDatagram);
  ASSERT_TRUE(BindSocket(receiver, loopback, 0));
  ASSERT_TRUE(BindSocket(sender, loopback, 0));
  std::uint16_t receiverPort = 0;
  std::uint16_t senderPort = 0;
  ASSERT_TRUE(GetSocketName(receiver, nullptr, &receiverPort));
  ASSERT_TRUE(GetSocketName(sender, nullptr, &senderPort));

  char buffer[16];
  EXPECT_EQ(ReceiveFromSocket(receiver, nullptr, buffer, sizeof(buffer), nullptr, nullptr), -1);
  EXPECT_EQ(GetLastSocketError(), winsock::kWouldBlock);

  ASSERT_EQ(SendToSocket(sender, nullptr, "ping", 4, loopback, receiverPort), 4);
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  long received = -1;
  for (int attempt = 0; attempt < 1000 && received < 0; ++attempt) {
    received = ReceiveFromSocket(receiver, nullptr, buffer, sizeof(buffer), &from, &fromPort);
  }
  EXPECT_EQ(received, 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(FormatIPv4Address(from), "127.0.0.1");
  EXPECT_EQ(fromPort, senderPort);
  CloseSocket(receiver);
  CloseSocket(sender);
  StopSockets();
}

TEST(IPv4Text, ParsesOnlyStrictDottedQuads) {
  std::uint32_t address = 0;
  EXPECT_TRUE(ParseIPv4Address("255.255.255.255", &address));
  EXPECT_EQ(address, 0xFFFFFFFFu);
  EXPECT_TRUE(ParseIPv4Address("10.0.0.1", &address));
  EXPECT_EQ(FormatIPv4Address(address), "10.0.0.1");
  for (const char* text : {"1.2.3", "256.1.1.1", " 1.2.3.4", "1.2.3.4 ", "", "1.2.3.4.5",
                           "a.b.c.d", "0x7f.0.0.1", "1..2.3"}) {
    EXPECT_FALSE(ParseIPv4Address(text, &address)) << text;
  }
  EXPECT_FALSE(ParseIPv4Address(std::string("1.2.3.4\0junk", 12), &address));
}

}  // namespace
}  // namespace kestnet::platform
