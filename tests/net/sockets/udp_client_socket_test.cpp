// UdpNonBlockingClientSocket on loopback.
#include "net/sockets/udp_non_blocking_client_socket.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "net/sockets/socket_result.h"
#include "platform/net/socket_calls.h"
#include "socket_test_support.h"

namespace KestNet::testing {
namespace {

class RecordingUdpListener : public UdpNonBlockingSocketListener, public NotificationRecorder {
 public:
  virtual ~RecordingUdpListener() = default;
  void OnReceive(DWORD_PTR, DWORD p_dwResult) override { Handle("receive", p_dwResult); }
  void OnSend(DWORD_PTR, DWORD p_dwResult) override { Handle("send", p_dwResult); }
  void OnClose(DWORD_PTR, DWORD p_dwResult) override { Handle("close", p_dwResult); }
};

class UdpClientSocketTest : public SocketLayerTest {
 protected:
  // Binds to an ephemeral loopback port and returns it.
  static USHORT BindLoopback(UdpNonBlockingClientSocket& p_socket) {
    // Bind takes an explicit port.
    const USHORT port = ClosedLoopbackPort(SOCK_DGRAM);
    return p_socket.Bind(port, IPAddress("127.0.0.1")) ? port : 0;
  }
};

TEST_F(UdpClientSocketTest, CreateTellsTheListenerOnceThatItMaySend) {
  RecordingUdpListener listener;
  UdpNonBlockingClientSocket socket;
  ASSERT_NE(socket.Create(&listener), 0u);
  EXPECT_TRUE(socket.IsCreated());
  ASSERT_TRUE(listener.log.WaitFor("send", 1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(listener.log.Sequence(), "send");
  EXPECT_NE(listener.log.Snapshot().front().thread, std::this_thread::get_id());
  EXPECT_EQ(socket.Create(&listener), 0u) << "already created";
  socket.Close(true);
  EXPECT_EQ(listener.log.Sequence(), "send,close");
}

TEST_F(UdpClientSocketTest, DatagramsArriveWithTheSenderAndAreAnnouncedUntilRead) {
  RecordingUdpListener senderListener;
  RecordingUdpListener receiverListener;
  UdpNonBlockingClientSocket sender;
  UdpNonBlockingClientSocket receiver;
  ASSERT_NE(sender.Create(&senderListener), 0u);
  ASSERT_NE(receiver.Create(&receiverListener), 0u);
  const USHORT senderPort = BindLoopback(sender);
  const USHORT receiverPort = BindLoopback(receiver);
  ASSERT_NE(senderPort, 0);
  ASSERT_NE(receiverPort, 0);

  const std::string first = "first";
  const std::string second = "second";
  ASSERT_EQ(sender.SendTo(reinterpret_cast<const BYTE*>(first.data()), 5, receiverPort,
                          IPAddress("127.0.0.1")),
            5u);
  ASSERT_EQ(sender.SendTo(reinterpret_cast<const BYTE*>(second.data()), 6, receiverPort,
                          IPAddress("127.0.0.1")),
            6u);
  ASSERT_TRUE(receiverListener.log.WaitFor("receive", 1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(receiverListener.log.Count("receive"), 1u) << "not announced again until read";

  BYTE buffer[32];
  USHORT port = 0;
  IPAddress from;
  ASSERT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), port, from), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "first");
  EXPECT_EQ(port, senderPort);
  EXPECT_EQ(from.ToString(), "127.0.0.1");
  ASSERT_TRUE(receiverListener.log.WaitFor("receive", 2)) << "the second datagram waits";
  std::string fromText;
  ASSERT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), port, fromText), 6u);
  EXPECT_EQ(fromText, "127.0.0.1");
  EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), port, fromText), 0u);
  EXPECT_EQ(receiver.GetLastSocketError(), SOCKET_WOULD_BLOCK);

  sender.Close(false);
  receiver.Close(false);
  ASSERT_TRUE(senderListener.log.WaitFor("close", 1));
  ASSERT_TRUE(receiverListener.log.WaitFor("close", 1));
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_EQ(senderListener.log.Count("close"), 1u);
  EXPECT_EQ(receiverListener.log.Count("close"), 1u);
}

TEST_F(UdpClientSocketTest, SendToRefusesInvalidAddresses) {
  RecordingUdpListener listener;
  UdpNonBlockingClientSocket socket;
  ASSERT_NE(socket.Create(&listener), 0u);
  const BYTE data[1] = {0};
  EXPECT_EQ(socket.SendTo(data, 1, 9, IPAddress("1.2.3")), 0u);
  EXPECT_EQ(socket.GetLastSocketError(), SOCKET_INVALID_STATE);
  EXPECT_EQ(socket.SendTo(nullptr, 1, 9, IPAddress("127.0.0.1")), 0u);
  EXPECT_FALSE(socket.Bind(0, IPAddress("")));
  socket.Close(true);
  EXPECT_EQ(listener.log.Count("close"), 1u);
}

TEST_F(UdpClientSocketTest, MulticastSocketJoinsTheGroupOnItsInterface) {
  RecordingUdpListener listener;
  UdpNonBlockingClientSocket socket;
  socket.SetMulticast(true);
  socket.SetTTL(4);
  ASSERT_NE(socket.Create(&listener), 0u);
  if (BindLoopback(socket) == 0) {
    socket.Close(true);
    GTEST_SKIP() << "this machine's loopback interface takes no multicast membership";
  }
  socket.Close(true);
  EXPECT_EQ(listener.log.Count("close"), 1u);
}

TEST_F(UdpClientSocketTest, DestroyingAnOpenSocketClosesIt) {
  RecordingUdpListener listener;
  {
    UdpNonBlockingClientSocket socket;
    ASSERT_NE(socket.Create(&listener), 0u);
  }
  EXPECT_EQ(listener.log.Count("close"), 1u);
  EXPECT_TRUE(Eventually(NoEventThreads));
}

}  // namespace
}  // namespace KestNet::testing
