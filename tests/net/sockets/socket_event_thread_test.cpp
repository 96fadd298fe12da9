// The pool of socket event threads: five sockets per thread, threads started
// and deleted as sockets come and go, posted events delivered in order.
#include "net/sockets/socket_event_thread.h"

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/sockets/notification_lock.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "net/sockets/tcp_non_blocking_client_socket.h"
#include "platform/net/socket_calls.h"
#include "platform/sync/thread.h"
#include "socket_test_support.h"

namespace KestNet::testing {
namespace {

// A bare event-thread listener around a real datagram socket, to see exactly
// what the thread delivers.
class RawSlotListener : public SocketEventThreadListener {
 public:
  virtual ~RawSlotListener() {
    if (m_hSocket != kestnet::platform::kInvalidSocket) {
      kestnet::platform::CloseSocket(m_hSocket);
    }
  }
  bool Attach() {
    m_hSocket = kestnet::platform::OpenSocket(kestnet::platform::SocketType::kDatagram);
    m_pThread = KestNet::Attach(this, m_hSocket, &m_pEvent, &m_iSlot);
    return m_pThread != nullptr;
  }
  void OnAccept(int p_iError) override { log.Add("accept", static_cast<DWORD>(p_iError)); }
  void OnClose(int p_iError) override {
    log.Add("close", static_cast<DWORD>(p_iError));
    RemoveSocket(m_pThread, m_iSlot);
    m_pThread = nullptr;
  }
  void OnConnect(int p_iError) override { log.Add("connect", static_cast<DWORD>(p_iError)); }
  void OnReceive(int p_iError) override { log.Add("receive", static_cast<DWORD>(p_iError)); }
  void OnSend(int p_iError) override { log.Add("send", static_cast<DWORD>(p_iError)); }
  void OnPostedConnect(DWORD p_dwAddress) override { log.Add("posted-connect", p_dwAddress); }
  void Detach() override {
    log.Add("detach", 0);
    m_pThread = nullptr;
  }
  SocketEventThread* GetEventThread(int* p_piSlot) override {
    *p_piSlot = m_iSlot;
    return m_pThread;
  }

  NotificationLog log;
  SocketEventThread* m_pThread = nullptr;
  NetworkEvent* m_pEvent = nullptr;
  int m_iSlot = -1;
  SocketHandle m_hSocket = kestnet::platform::kInvalidSocket;
};

class SocketEventThreadTest : public SocketLayerTest {};

TEST_F(SocketEventThreadTest, SixthSocketStartsASecondThreadThatOutlivesItsOnlySocketForTheNext) {
  RecordingTcpListener listener;
  std::vector<std::unique_ptr<TcpNonBlockingClientSocket>> sockets;
  for (int i = 0; i < 5; ++i) {
    sockets.push_back(std::make_unique<TcpNonBlockingClientSocket>());
    ASSERT_NE(sockets.back()->Create(&listener), 0u);
  }
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 1u);
  int slot = -1;
  SocketEventThread* first = sockets.front()->GetEventThread(&slot);
  for (auto& socket : sockets) {
    EXPECT_EQ(socket->GetEventThread(&slot), first);
  }

  TcpNonBlockingClientSocket sixth;
  ASSERT_NE(sixth.Create(&listener), 0u);
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 2u);
  EXPECT_NE(sixth.GetEventThread(&slot), first);
  EXPECT_EQ(slot, 0);

  SocketEventThread* second = sixth.GetEventThread(&slot);
  sixth.Close(true);
  // The thread settles into the timed wait of its grace before the next
  // socket comes.
  Sleep(200);
  TcpNonBlockingClientSocket seventh;
  ASSERT_NE(seventh.Create(&listener), 0u);
  EXPECT_EQ(seventh.GetEventThread(&slot), second);
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 2u);
  // The grace the socket called off, though its timed wait was under way,
  // does not end the thread under the socket.
  Sleep(kIdleThreadGrace);
  EXPECT_EQ(SocketEventThread::GetLiveThreadCount(), 2u);
  seventh.Close(true);
  // Without a socket for its grace, the thread ends.
  EXPECT_TRUE(Eventually([] { return SocketEventThread::GetLiveThreadCount() == 1; }));
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 1u);

  for (auto& socket : sockets) {
    socket->Close(true);
  }
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_EQ(listener.log.Count("close"), 7u);
}

TEST_F(SocketEventThreadTest, FreedSlotIsReusedBeforeANewThreadStarts) {
  RecordingTcpListener listener;
  std::vector<std::unique_ptr<TcpNonBlockingClientSocket>> sockets;
  for (int i = 0; i < 5; ++i) {
    sockets.push_back(std::make_unique<TcpNonBlockingClientSocket>());
    ASSERT_NE(sockets.back()->Create(&listener), 0u);
  }
  int slot = -1;
  SocketEventThread* thread = sockets[2]->GetEventThread(&slot);
  ASSERT_EQ(slot, 2);
  sockets[2]->Close(true);
  TcpNonBlockingClientSocket replacement;
  ASSERT_NE(replacement.Create(&listener), 0u);
  EXPECT_EQ(replacement.GetEventThread(&slot), thread);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 1u);
  replacement.Close(true);
  for (auto& socket : sockets) {
    socket->Close(true);
  }
  EXPECT_TRUE(Eventually(NoEventThreads));
}

TEST_F(SocketEventThreadTest, ThreadLosingItsLastSocketInsideItsOwnNotificationDeletesItself) {
  LoopbackServer server;
  RecordingTcpListener listener;
  TcpNonBlockingClientSocket socket;
  std::atomic<bool> closedOnEventThread{false};
  listener.action = [&](const std::string& p_kind) {
    if (p_kind == "connect") {
      socket.Close(true);
      closedOnEventThread = listener.log.Count("close") == 1;
    }
  };
  ASSERT_NE(socket.Create(&listener), 0u);
  ASSERT_TRUE(socket.Connect(IPAddress("127.0.0.1"), server.Port()));
  Descriptor peer = server.Accept();
  ASSERT_TRUE(listener.log.WaitFor("close", 1));
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_TRUE(closedOnEventThread) << "Close(true) returned after OnClose, on the event thread";
  EXPECT_EQ(listener.log.Sequence(), "connect,close");
}

TEST_F(SocketEventThreadTest, SocketCreatedInsideANotificationGoesToAnotherThread) {
  LoopbackServer server;
  RecordingTcpListener listener;
  RecordingTcpListener innerListener;
  TcpNonBlockingClientSocket outer;
  TcpNonBlockingClientSocket inner;
  std::atomic<DWORD_PTR> innerId{0};
  listener.action = [&](const std::string& p_kind) {
    if (p_kind == "connect") {
      innerId = inner.Create(&innerListener);
    }
  };
  ASSERT_NE(outer.Create(&listener), 0u);
  ASSERT_TRUE(outer.Connect(IPAddress("127.0.0.1"), server.Port()));
  Descriptor peer = server.Accept();
  ASSERT_TRUE(listener.log.WaitFor("connect", 1));
  ASSERT_TRUE(Eventually([&] { return innerId != 0; }));
  int slot = -1;
  EXPECT_NE(inner.GetEventThread(&slot), outer.GetEventThread(&slot));
  EXPECT_EQ(SETManager::Instance().GetThreadCount(), 2u);
  inner.Close(true);
  outer.Close(true);
  EXPECT_TRUE(Eventually(NoEventThreads));
  EXPECT_EQ(listener.log.Count("close"), 1u);
  EXPECT_EQ(innerListener.log.Count("close"), 1u);
}

TEST_F(SocketEventThreadTest, PostedEventsArriveOnTheEventThreadInPostingOrder) {
  RawSlotListener listener;
  ASSERT_TRUE(listener.Attach());
  SocketEventThread* thread = listener.m_pThread;
  ASSERT_TRUE(PostOnConnect(thread, listener.m_iSlot));
  ASSERT_TRUE(PostOnSend(thread, listener.m_iSlot));
  ASSERT_TRUE(PostOnConnectAddress(thread, listener.m_iSlot, 0x0100007Fu));
  ASSERT_TRUE(PostOnConnectAddress(thread, listener.m_iSlot, kNoPostedValue));
  ASSERT_TRUE(PostOnClose(thread, listener.m_iSlot));
  ASSERT_TRUE(listener.log.WaitFor("close", 1));
  EXPECT_EQ(listener.log.Sequence(), "connect,send,posted-connect,posted-connect,close");
  const auto notifications = listener.log.Snapshot();
  EXPECT_EQ(notifications[2].result, 0x0100007Fu);
  EXPECT_EQ(notifications[3].result, kNoPostedValue);
  for (const auto& notification : notifications) {
    EXPECT_NE(notification.thread, std::this_thread::get_id());
  }
  EXPECT_TRUE(Eventually(NoEventThreads));
  // The slot is empty now: nothing more can be posted to it.
  EXPECT_EQ(listener.log.Count("detach"), 0u);
}

TEST_F(SocketEventThreadTest, LastUninitializeDetachesSocketsStillAttached) {
  RawSlotListener listener;
  ASSERT_TRUE(listener.Attach());
  UninitializeSockets();
  EXPECT_EQ(listener.log.Sequence(), "detach");
  EXPECT_EQ(SocketEventThread::GetLiveThreadCount(), 0u);
  ASSERT_TRUE(InitializeSockets());
}

TEST_F(SocketEventThreadTest, AttachIsRefusedOnceTheLayerIsShutDown) {
  UninitializeSockets();
  RawSlotListener listener;
  EXPECT_FALSE(listener.Attach());
  TcpNonBlockingClientSocket socket;
  RecordingTcpListener tcpListener;
  EXPECT_EQ(socket.Create(&tcpListener), 0u);
  EXPECT_EQ(socket.GetLastSocketError(), SOCKET_OS_LAYER_NOT_INITIALIZED);
  ASSERT_TRUE(InitializeSockets());
  EXPECT_NE(socket.Create(&tcpListener), 0u);
  socket.Close(true);
}

TEST_F(SocketEventThreadTest, InitializeAndUninitializeAreCounted) {
  ASSERT_TRUE(InitializeSockets());
  UninitializeSockets();
  RecordingTcpListener listener;
  TcpNonBlockingClientSocket socket;
  EXPECT_NE(socket.Create(&listener), 0u) << "one user is left";
  socket.Close(true);
}

// A notification waiting for the socket mutex while another thread closes the
// socket under it gives up when the close begins, without being re-delivered;
// the owner here lets go of the mutex only once the waiter has given up.
TEST(NotificationLockTest, WaitForTheSocketMutexEndsWhenACloseBegins) {
  KestMT::Mutex socketMutex;
  KestMT::Event closing;
  ASSERT_TRUE(socketMutex.Acquire(INFINITE));
  auto waiter = std::async(std::launch::async, [&] {
    NotificationLock lock(&socketMutex, &closing);
    return std::make_pair(lock.Held(), lock.Abandoned());
  });
  std::pair<bool, bool> outcome;
  {
    CloseInProgress close(&closing);
    outcome = waiter.get();
  }
  socketMutex.Release();
  EXPECT_EQ(outcome, std::make_pair(false, true));
  EXPECT_FALSE(closing.Wait(0)) << "the close signal outlived the close";
}

}  // namespace
}  // namespace KestNet::testing
