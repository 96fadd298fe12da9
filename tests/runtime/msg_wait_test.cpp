// KestMT::MsgWait: results, time-outs, and message dispatch while waiting.
#include "runtime/msg_wait.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

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

// Results read as MsgWaitForMultipleObjects' plus 3: 0 for the time-out, 3
// plus the lowest signalled index, 8 for a count outside 1..5.
TEST_F(MsgWaitTest, ResultIsThreePlusTheLowestSignalledIndexOrTimeoutOr8) {
  struct Case {
    const char* name;
    std::vector<int> signalled;
    DWORD count;
    DWORD timeout;
    DWORD expected;
  };
  const Case cases[] = {
      {"six handles", {0}, 6, INFINITE, KestMT::MSGWAIT_COUNT_OUT_OF_RANGE},
      {"no handle", {0}, 0, INFINITE, KestMT::MSGWAIT_COUNT_OUT_OF_RANGE},
      {"five handles", {0}, 5, INFINITE, KestMT::MSGWAIT_OBJECT_0},
      {"second of two", {1}, 2, INFINITE, 4u},
      {"lowest signalled index wins", {1, 4}, 5, 1000, 4u},
      {"last of five", {4}, 5, 1000, 7u},
      {"nothing signalled", {}, 2, 20, KestMT::MSGWAIT_TIMEOUT},
      {"zero time-out still sees a signalled handle", {0}, 1, 0, KestMT::MSGWAIT_OBJECT_0},
      {"zero time-out with nothing signalled", {}, 1, 0, KestMT::MSGWAIT_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (HANDLE hEvent : m_events) ResetEvent(hEvent);
    for (int index : c.signalled) SetEvent(m_events[static_cast<size_t>(index)]);
    EXPECT_EQ(KestMT::MsgWait(c.count, m_events.data(), c.timeout, FALSE), c.expected);
  }
}

TEST_F(MsgWaitTest, HandleSignalledByAnotherThreadEndsInfiniteWait) {
  std::thread signaller([&] { SetEvent(m_events[2]); });
  EXPECT_EQ(KestMT::MsgWait(3, m_events.data(), INFINITE, FALSE), 5u);
  signaller.join();
}

TEST_F(MsgWaitTest, NullHandleArrayThrowsInvalidParameter) {
  EXPECT_THROW(KestMT::MsgWait(1, nullptr, 0, FALSE), KestBase::InvalidParameterException);
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

// The event under test is set only by the window procedure, so each wait can
// only end by dispatching the posted message: alone, in a wait-all beside a
// handle already signalled, and past an accelerator table (Linux has none, so
// the table is consulted and declines).
TEST_F(MsgWaitTest, MessagesPostedWhileWaitingAreDispatched) {
  struct Case {
    const char* name;
    BOOL waitAll;
    HACCEL accelerators;
  };
  const Case cases[] = {
      {"wait for any", FALSE, nullptr},
      {"wait for all", TRUE, nullptr},
      {"accelerator table declines", FALSE, reinterpret_cast<HACCEL>(static_cast<LONG_PTR>(1))},
  };
  WindowRecord record;
  record.hSetOnPing = m_events[1];
  HWND hWindow = CreateTestWindow(&record);
  ASSERT_NE(hWindow, nullptr);
  SetEvent(m_events[0]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetEvent(m_events[1]);
    record.pings = 0;
    std::thread poster([hWindow] { PostMessageW(hWindow, kPingMessage, 0, 0); });
    const DWORD dwCount = c.waitAll ? 2 : 1;
    HANDLE* pHandles = c.waitAll ? m_events.data() : &m_events[1];
    EXPECT_EQ(KestMT::MsgWait(dwCount, pHandles, INFINITE, c.waitAll, hWindow, c.accelerators),
              KestMT::MSGWAIT_OBJECT_0);
    poster.join();
    EXPECT_EQ(record.pings, 1);
  }
}

}  // namespace
