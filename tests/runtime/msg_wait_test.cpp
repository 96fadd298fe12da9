// KestMT::MsgWait: results, time-outs, and message dispatch while waiting.
#include "runtime/msg_wait.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "platform/msg/message.h"
#include "platform/sync/event.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "tests/runtime/kestmt_test_support.h"

namespace {

using kestmt_test::TemporaryHomeTest;

constexpr UINT kPingMessage = WM_USER + 1;
constexpr UINT kFloodMessage = WM_USER + 2;
constexpr wchar_t kWindowClass[] = L"KestMTMsgWaitTest";

// What the test window's procedure saw; one per test, reached through the
// window's user data.
struct WindowRecord {
  int pings = 0;
  int floods = 0;
  HANDLE hSetOnPing = nullptr;
};

LRESULT TestWindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* pRecord = reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (pRecord != nullptr && message == kPingMessage) {
    ++pRecord->pings;
    SetEvent(pRecord->hSetOnPing);
    return 0;
  }
  if (pRecord != nullptr && message == kFloodMessage) {
    // Every flood message posts the next one: the queue is never empty.
    ++pRecord->floods;
    PostMessageW(hWnd, kFloodMessage, 0, 0);
    return 0;
  }
  return DefWindowProcW(hWnd, message, wParam, lParam);
}

class MsgWaitTest : public TemporaryHomeTest {
 protected:
  void SetUp() override {
    TemporaryHomeTest::SetUp();
    for (HANDLE& hEvent : m_events) {
      hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      ASSERT_NE(hEvent, nullptr);
    }
  }
  void TearDown() override {
    if (m_hWindow != nullptr) {
      DestroyWindow(m_hWindow);
      UnregisterClassW(kWindowClass, nullptr);
    }
    for (HANDLE hEvent : m_events) {
      CloseHandle(hEvent);
    }
    TemporaryHomeTest::TearDown();
  }

  HWND CreateTestWindow(WindowRecord* pRecord) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &TestWindowProcedure;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
      return nullptr;
    }
    m_hWindow = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (m_hWindow != nullptr) {
      SetWindowLongPtrW(m_hWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pRecord));
    }
    return m_hWindow;
  }

  std::array<HANDLE, 6> m_events{};
  HWND m_hWindow = nullptr;
};

TEST_F(MsgWaitTest, CountOutsideOneToFiveIsRefusedWith8) {
  SetEvent(m_events[0]);
  EXPECT_EQ(KestMT::MsgWait(6, m_events.data(), INFINITE, FALSE), KestMT::MSGWAIT_COUNT_OUT_OF_RANGE);
  EXPECT_EQ(KestMT::MsgWait(0, m_events.data(), INFINITE, FALSE), KestMT::MSGWAIT_COUNT_OUT_OF_RANGE);
  EXPECT_EQ(KestMT::MsgWait(5, m_events.data(), INFINITE, FALSE), KestMT::MSGWAIT_OBJECT_0);
}

TEST_F(MsgWaitTest, SignalledHandleIsReportedAsThreePlusItsIndex) {
  SetEvent(m_events[1]);
  EXPECT_EQ(KestMT::MsgWait(2, m_events.data(), INFINITE, FALSE), 4u);
  SetEvent(m_events[4]);
  EXPECT_EQ(KestMT::MsgWait(5, m_events.data(), 1000, FALSE), 4u);  // lowest signalled index wins
  ResetEvent(m_events[1]);
  EXPECT_EQ(KestMT::MsgWait(5, m_events.data(), 1000, FALSE), 7u);
}

TEST_F(MsgWaitTest, HandleSignalledByAnotherThreadEndsInfiniteWait) {
  std::thread signaller([&] { SetEvent(m_events[2]); });
  EXPECT_EQ(KestMT::MsgWait(3, m_events.data(), INFINITE, FALSE), 5u);
  signaller.join();
}

TEST_F(MsgWaitTest, NothingSignalledTimesOutWith0) {
  EXPECT_EQ(KestMT::MsgWait(2, m_events.data(), 20, FALSE), KestMT::MSGWAIT_TIMEOUT);
}

TEST_F(MsgWaitTest, ZeroTimeoutStillReportsSignalledHandle) {
  SetEvent(m_events[0]);
  EXPECT_EQ(KestMT::MsgWait(1, m_events.data(), 0, FALSE), KestMT::MSGWAIT_OBJECT_0);
  ResetEvent(m_events[0]);
  EXPECT_EQ(KestMT::MsgWait(1, m_events.data(), 0, FALSE), KestMT::MSGWAIT_TIMEOUT);
}

TEST_F(MsgWaitTest, NullHandleArrayThrowsInvalidParameter) {
  EXPECT_THROW(KestMT::MsgWait(1, nullptr, 0, FALSE), KestBase::InvalidParameterException);
}

TEST_F(MsgWaitTest, MessagePostedFromWorkerIsDispatchedWhileWaiting) {
  WindowRecord record;
  record.hSetOnPing = m_events[0];
  HWND hWindow = CreateTestWindow(&record);
  ASSERT_NE(hWindow, nullptr);

  // The event only gets signalled by the window procedure, so the wait can
  // only end by dispatching the posted message.
  std::thread poster([hWindow] { PostMessageW(hWindow, kPingMessage, 0, 0); });
  EXPECT_EQ(KestMT::MsgWait(1, m_events.data(), INFINITE, FALSE), KestMT::MSGWAIT_OBJECT_0);
  poster.join();
  EXPECT_EQ(record.pings, 1);
}

TEST_F(MsgWaitTest, EndlessMessageStreamDoesNotOutliveTheTimeout) {
  WindowRecord record;
  HWND hWindow = CreateTestWindow(&record);
  ASSERT_NE(hWindow, nullptr);
  ASSERT_TRUE(PostMessageW(hWindow, kFloodMessage, 0, 0));

  EXPECT_EQ(KestMT::MsgWait(1, m_events.data(), 30, FALSE), KestMT::MSGWAIT_TIMEOUT);
  EXPECT_GT(record.floods, 0);
  // Drop the message still queued, so nothing is left for a later test.
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST_F(MsgWaitTest, WaitAllReturnsOnceEveryHandleIsSignalledWithoutAnyMessage) {
  SetEvent(m_events[0]);
  EXPECT_EQ(KestMT::MsgWait(2, m_events.data(), 30, TRUE), KestMT::MSGWAIT_TIMEOUT);
  std::thread signaller([&] { SetEvent(m_events[1]); });
  EXPECT_EQ(KestMT::MsgWait(2, m_events.data(), INFINITE, TRUE), KestMT::MSGWAIT_OBJECT_0);
  signaller.join();
}

TEST_F(MsgWaitTest, WaitAllKeepsDispatchingMessages) {
  WindowRecord record;
  record.hSetOnPing = m_events[1];
  HWND hWindow = CreateTestWindow(&record);
  ASSERT_NE(hWindow, nullptr);
  SetEvent(m_events[0]);

  std::thread poster([hWindow] { PostMessageW(hWindow, kPingMessage, 0, 0); });
  EXPECT_EQ(KestMT::MsgWait(2, m_events.data(), INFINITE, TRUE), KestMT::MSGWAIT_OBJECT_0);
  poster.join();
  EXPECT_EQ(record.pings, 1);
}

TEST_F(MsgWaitTest, MessagesNotTakenAsAcceleratorsAreDispatched) {
  WindowRecord record;
  record.hSetOnPing = m_events[0];
  HWND hWindow = CreateTestWindow(&record);
  ASSERT_NE(hWindow, nullptr);
  // Linux has no keyboard accelerators: the table is consulted and declines.
  HACCEL hAccelTable = reinterpret_cast<HACCEL>(static_cast<LONG_PTR>(1));
  ASSERT_TRUE(PostMessageW(hWindow, kPingMessage, 0, 0));
  EXPECT_EQ(KestMT::MsgWait(1, m_events.data(), INFINITE, FALSE, hWindow, hAccelTable),
            KestMT::MSGWAIT_OBJECT_0);
  EXPECT_EQ(record.pings, 1);
}

}  // namespace
