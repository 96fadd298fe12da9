// TcpNonBlockingLineSocket against a real peer on loopback.
#include "net/sockets/tcp_non_blocking_line_socket.h"

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "net/sockets/socket_result.h"
#include "socket_test_support.h"

namespace KestNet::testing {
namespace {

class LineSocketTest : public SocketLayerTest {
 protected:
  void Connect(LoopbackServer& p_server) {
    ASSERT_NE(m_socket.Create(&m_listener), 0u);
    ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), p_server.Port()));
    m_peer = p_server.Accept();
    ASSERT_TRUE(m_peer.Valid());
    ASSERT_TRUE(m_listener.log.WaitFor("connect", 1));
  }

  // Sends p_data in one write and waits for the OnReceive of that chunk.
  void PeerSends(const std::string& p_data, std::size_t p_receivesAfter) {
    ASSERT_TRUE(SendAll(m_peer.Get(), p_data));
    ASSERT_TRUE(m_listener.log.WaitFor("receive", p_receivesAfter));
  }

  LoopbackServer m_server;
  Descriptor m_peer;
  RecordingLineListener m_listener;
  TcpNonBlockingLineSocket m_socket;
};

TEST_F(LineSocketTest, EveryLineOfAChunkIsANotificationEmptyOnesTooThenOneReceive) {
  Connect(m_server);
  PeerSends("\r\n+OK one\r\n\r\n+OK two\r\n", 1);
  EXPECT_EQ(m_listener.log.Sequence(), "connect,send,line,line,line,line,receive");
  EXPECT_EQ(m_listener.Lines(), (std::vector<std::string>{"", "+OK one", "", "+OK two"}));
  EXPECT_EQ(m_socket.GetReceivedSize(), 0u);
  EXPECT_EQ(m_socket.GetReceivedByteCount(), 22u);
}

TEST_F(LineSocketTest, LineSplitAcrossChunksIsAnnouncedWhenItsLineFeedArrives) {
  Connect(m_server);
  PeerSends("250-first ha", 1);
  EXPECT_EQ(m_listener.log.Count("line"), 0u);
  std::string line = "untouched";
  EXPECT_EQ(m_socket.ReceiveLine(line), TcpNonBlockingLineSocket::kNoLine);
  EXPECT_EQ(line, "untouched");
  EXPECT_EQ(m_socket.GetReceivedSize(), 12u) << "the partial line stays in place";
  PeerSends("lf\r\n", 2);
  EXPECT_EQ(m_listener.Lines(), (std::vector<std::string>{"250-first half"}));
  EXPECT_EQ(m_socket.GetReceivedByteCount(), 16u);
}

struct TerminatorCase {
  std::string bytes;
  std::string line;
  DWORD length;
  DWORD leftOver;
};

class LineTerminators : public LineSocketTest, public ::testing::WithParamInterface<TerminatorCase> {};

TEST_P(LineTerminators, LineComesWithoutItsTerminator) {
  // Take the line here rather than in the listener, to see the numbers.
  class Silent : public RecordingLineListener {
   public:
    void OnReceiveLine(TcpNonBlockingLineSocket*, DWORD p_dwResult) override {
      log.Add("line", p_dwResult);
    }
  } silent;
  ASSERT_NE(m_socket.Create(&silent), 0u);
  ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
  m_peer = m_server.Accept();
  ASSERT_TRUE(SendAll(m_peer.Get(), GetParam().bytes));
  ASSERT_TRUE(silent.log.WaitFor("receive", 1));
  std::string line = "x";
  EXPECT_EQ(m_socket.ReceiveLine(line), GetParam().length);
  EXPECT_EQ(line, GetParam().line);
  EXPECT_EQ(m_socket.GetReceivedSize(), GetParam().leftOver);
  m_socket.Close(true);
}

INSTANTIATE_TEST_SUITE_P(
    CrAndLf, LineTerminators,
    ::testing::Values(TerminatorCase{"abc\r\n", "abc", 3, 0},
                      TerminatorCase{"abc\n\r", "abc", 3, 0},
                      TerminatorCase{"\r\n", "", 0, 0},
                      TerminatorCase{"\n", "", 0, 0},
                      TerminatorCase{"abc\nnext", "abc", 3, 4},
                      TerminatorCase{"a\rb\r\n", "a\rb", 3, 0},
                      TerminatorCase{std::string("a\0b\r\n", 5), std::string("a\0b", 3), 3, 0}));

TEST_F(LineSocketTest, LineModeOffAnnouncesDataOnlyAndKeepsItForReceive) {
  Connect(m_server);
  m_socket.SetLineMode(false);
  PeerSends("no\nlines\nhere\n", 1);
  EXPECT_EQ(m_listener.log.Count("line"), 0u);
  BYTE peek[3];
  ASSERT_EQ(m_socket.Peek(peek, sizeof(peek)), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(peek), 3), "no\n");
  BYTE buffer[64];
  const DWORD count = m_socket.Receive(buffer, sizeof(buffer));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "no\nlines\nhere\n");
  EXPECT_EQ(m_socket.GetReceivedSize(), 0u);
  EXPECT_EQ(m_socket.GetReceivedByteCount(), 14u);
  m_socket.ClearReceiveBuffer();
  EXPECT_EQ(m_socket.GetReceivedByteCount(), 0u);
}

// Close(false) and Close(true) alike, from inside the first line's notification.
class CloseInsideALine : public LineSocketTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CloseInsideALine, StopsFurtherLinesAndEndsTheConnection) {
  m_listener.action = [&](const std::string& p_kind) {
    if (p_kind == "line") {
      m_socket.Close(GetParam());
    }
  };
  Connect(m_server);
  ASSERT_TRUE(SendAll(m_peer.Get(), "one\r\ntwo\r\nthree\r\n"));
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  SendAll(m_peer.Get(), "four\r\n");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(m_listener.log.Sequence(), "connect,send,line,close");
  EXPECT_EQ(m_listener.Lines(), (std::vector<std::string>{"one"}));
  EXPECT_TRUE(Eventually(NoEventThreads));
}

INSTANTIATE_TEST_SUITE_P(Waiting, CloseInsideALine, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p_info) {
                           return std::string(p_info.param ? "Immediate" : "Deferred");
                         });

// The peer's small window and a late reader force the send buffer to hold
// data across several send notifications; everything must arrive in order.
TEST_F(LineSocketTest, DataTheSocketCannotTakeAtOnceLeavesLaterWholeAndInOrder) {
  LoopbackServer smallWindow(16, 4096);
  Connect(smallWindow);
  std::string payload;
  for (int i = 0; payload.size() < 4u * 1024 * 1024; ++i) {
    payload += "line " + std::to_string(i) + " of the message body\r\n";
  }
  EXPECT_EQ(m_socket.Send(reinterpret_cast<const BYTE*>(payload.data()),
                          static_cast<DWORD>(payload.size())),
            payload.size());
  EXPECT_GT(m_socket.GetPendingSendSize(), 0u) << "the socket could not take it all at once";
  std::this_thread::sleep_for(100ms);
  const std::string received = ReadBytes(m_peer.Get(), payload.size(), 60s);
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
  EXPECT_TRUE(Eventually([&] { return m_socket.GetPendingSendSize() == 0; }));
  // Once the queue is empty the next send notification reaches the listener.
  EXPECT_GE(m_listener.log.Count("send"), 1u);
}

TEST_F(LineSocketTest, SmallSendLeavesAtOnceWithoutTellingTheListener) {
  Connect(m_server);
  ASSERT_TRUE(m_listener.log.WaitFor("send", 1));
  const std::string command = "QUIT\r\n";
  EXPECT_EQ(m_socket.Send(reinterpret_cast<const BYTE*>(command.data()), 6), 6u);
  EXPECT_EQ(m_socket.GetPendingSendSize(), 0u);
  EXPECT_EQ(ReadBytes(m_peer.Get(), 6), command);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(m_listener.log.Count("send"), 1u);
  EXPECT_EQ(m_socket.Send(nullptr, 3), 0u);
  EXPECT_EQ(m_socket.Send(reinterpret_cast<const BYTE*>(command.data()), 0), 0u);
}

TEST_F(LineSocketTest, PeerCloseAfterLinesDeliversTheLinesThenCloseOnce) {
  Connect(m_server);
  ASSERT_TRUE(SendAll(m_peer.Get(), "+OK bye\r\n"));
  m_peer.Reset();
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(m_listener.log.Sequence(), "connect,send,line,receive,close");
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_NO_ERROR);
  EXPECT_EQ(m_listener.Lines(), (std::vector<std::string>{"+OK bye"}));
}

TEST_F(LineSocketTest, CreateResetsBuffersAndModeForTheNextConnection) {
  Connect(m_server);
  m_socket.SetLineMode(false);
  PeerSends("left over", 1);
  m_socket.Close(true);
  m_peer.Reset();
  ASSERT_NE(m_socket.Create(&m_listener), 0u);
  EXPECT_EQ(m_socket.GetReceivedSize(), 0u);
  EXPECT_EQ(m_socket.GetReceivedByteCount(), 0u);
  ASSERT_TRUE(m_socket.Connect(IPAddress("127.0.0.1"), m_server.Port()));
  m_peer = m_server.Accept();
  ASSERT_TRUE(SendAll(m_peer.Get(), "again\n"));
  ASSERT_TRUE(m_listener.log.WaitFor("line", 1)) << "line mode is on again";
  m_socket.Close(true);
}

TEST_F(LineSocketTest, LineLongerThanTheLimitEndsTheConnectionOnce) {
  Connect(m_server);
  // The longest line allowed still arrives whole.
  const std::string longest(TcpNonBlockingLineSocket::kMaxLineLength, 'a');
  ASSERT_TRUE(SendAll(m_peer.Get(), longest + "\n"));
  ASSERT_TRUE(m_listener.log.WaitFor("line", 1));
  EXPECT_EQ(m_listener.Lines(), (std::vector<std::string>{longest}));
  // One byte more without a line feed, sent in pieces, is cut off.
  ASSERT_TRUE(SendAll(m_peer.Get(), std::string(1000, 'b')));
  ASSERT_TRUE(SendAll(m_peer.Get(), std::string(TcpNonBlockingLineSocket::kMaxLineLength - 999, 'b')));
  ASSERT_TRUE(m_listener.log.WaitFor("close", 1));
  EXPECT_EQ(m_listener.log.FirstResult("close"), SOCKET_MESSAGE_TOO_LONG);
  EXPECT_EQ(m_listener.log.Count("line"), 1u);
  EXPECT_EQ(m_socket.GetReceivedSize(), 0u);
  EXPECT_FALSE(m_socket.IsCreated());
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_EQ(m_listener.log.Count("close"), 1u);
}

TEST_F(LineSocketTest, PlainListenerFormOfCreateIsRefused) {
  RecordingTcpListener plain;
  TcpNonBlockingClientSocket& base = m_socket;
  EXPECT_EQ(base.Create(&plain, 0, IPAddress("0.0.0.0")), 0u);
  EXPECT_FALSE(m_socket.IsCreated());
}

}  // namespace
}  // namespace KestNet::testing
