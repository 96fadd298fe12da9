#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/msg/message.h"
#include "platform/os/last_error.h"
#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/sync/thread.h"
#include "tests/platform/sync/isolated_home.h"

namespace kestnet::testing {
namespace {

constexpr UINT WM_APP_EVENT = WM_USER + 1;

// What the test window's procedure saw, in order.
struct Recorder {
  std::mutex mutex;
  std::vector<UINT> messages;
  std::vector<WPARAM> params;
  std::vector<DWORD> threads;

  void Note(UINT message, WPARAM wParam) {
    std::lock_guard lock(mutex);
    messages.push_back(message);
    params.push_back(wParam);
    threads.push_back(GetCurrentThreadId());
  }
  std::size_t Count(UINT message) {
    std::lock_guard lock(mutex);
    return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
  }
};

LRESULT RecordingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (recorder != nullptr) recorder->Note(message, wParam);
  if (message == WM_APP_EVENT + 1) return static_cast<LRESULT>(wParam * 2);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class MessageTest : public IsolatedHome {
 protected:
  void SetUp() override {
    IsolatedHome::SetUp();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = RecordingProcedure;
    windowClass.lpszClassName = L"KestTestWindow";
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(UnregisterClassW(L"KestTestWindow", nullptr));
    IsolatedHome::TearDown();
  }

  static HWND MakeWindow(Recorder* recorder) {
    return CreateWindowExW(0, L"KestTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, recorder);
  }

  // Dispatches what is queued now.
  static int Pump() {
    MSG msg;
    int dispatched = 0;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      ++dispatched;
    }
    return dispatched;
  }
};

TEST_F(MessageTest, CreationAndDestructionSendTheirMessagesInOrder) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(recorder.messages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(PostMessageW(window, WM_APP_EVENT, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessageTest, PostsFromAnotherThreadAreDispatchedOnTheOwner) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  constexpr int kPosts = 200;
  std::thread poster([&] {
    for (int i = 0; i < kPosts; ++i) ASSERT_TRUE(PostMessageW(window, WM_APP_EVENT, static_cast<WPARAM>(i), 0));
  });
  MSG msg;
  int received = 0;
  while (received < kPosts && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageW(&msg);
    if (msg.message == WM_APP_EVENT) ++received;
  }
  poster.join();
  DestroyWindow(window);
  ASSERT_EQ(recorder.Count(WM_APP_EVENT), static_cast<std::size_t>(kPosts));
  WPARAM expected = 0;
  for (std::size_t i = 0; i < recorder.messages.size(); ++i) {
    if (recorder.messages[i] != WM_APP_EVENT) continue;
    EXPECT_EQ(recorder.threads[i], GetCurrentThreadId());
    EXPECT_EQ(recorder.params[i], expected++);  // in posting order
  }
}

TEST_F(MessageTest, MessagesQueuedForADestroyedWindowAreNeverDelivered) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  for (int i = 0; i < 3; ++i) PostMessageW(window, WM_APP_EVENT, 0, 0);
  MSG early;
  ASSERT_TRUE(PeekMessageW(&early, nullptr, 0, 0, PM_NOREMOVE));
  DestroyWindow(window);
  Pump();
  // Even a message already taken off the queue before the window went is dropped.
  EXPECT_EQ(DispatchMessageW(&early), 0);
  EXPECT_EQ(recorder.Count(WM_APP_EVENT), 0u);
}

TEST_F(MessageTest, OnlyTheOwnerThreadMayDestroyAWindow) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  BOOL destroyed = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    destroyed = DestroyWindow(window);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(window));
  DestroyWindow(window);
}

TEST_F(MessageTest, SendMessageRunsOnTheOwnerAndReturnsItsResult) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  EXPECT_EQ(SendMessageW(window, WM_APP_EVENT + 1, 21, 0), 42);  // same thread: direct call
  std::atomic<LRESULT> result{0};
  std::thread sender([&] { result = SendMessageW(window, WM_APP_EVENT + 1, 50, 0); });
  // The owner's pump answers it.
  ASSERT_TRUE(WaitUntil([&] {
    Pump();
    return result.load() != 0;
  }));
  sender.join();
  EXPECT_EQ(result.load(), 100);
  DestroyWindow(window);
  for (DWORD thread : recorder.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

struct OwnerThread {
  std::atomic<HWND> window{nullptr};
  HANDLE end = nullptr;
};

unsigned OwnWindowThenEnd(void* raw) {
  auto* owner = static_cast<OwnerThread*>(raw);
  owner->window = CreateWindowExW(0, L"KestTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  WaitForSingleObject(owner->end, INFINITE);
  return 0;
}

TEST_F(MessageTest, ThreadEndDestroysItsWindowsAndReleasesSenders) {
  OwnerThread shared;
  shared.end = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  unsigned id = 0;
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, OwnWindowThenEnd, &shared, 0, &id));
  ASSERT_TRUE(WaitUntil([&] { return IsWindow(shared.window) != FALSE; }));
  EXPECT_TRUE(PostThreadMessageW(id, WM_APP_EVENT, 0, 0));
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    // The owner never pumps: the send ends when the owner does, with 0.
    EXPECT_EQ(SendMessageW(shared.window, WM_APP_EVENT + 1, 1, 0), 0);
    sent = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(sent.load());
  SetEvent(shared.end);
  WaitForSingleObject(thread, INFINITE);
  sender.join();
  EXPECT_FALSE(IsWindow(shared.window));
  EXPECT_FALSE(PostMessageW(shared.window, WM_APP_EVENT, 0, 0));
  EXPECT_FALSE(PostThreadMessageW(id, WM_APP_EVENT, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  CloseHandle(thread);
  CloseHandle(shared.end);
}

// Threads the platform did not start clean up through their thread-local
// state, whichever of the queue and the mutex list came first.
TEST_F(MessageTest, PlainThreadEndingReleasesWindowsAndMutexesInEitherOrder) {
  for (bool mutexFirst : {true, false}) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    HWND window = nullptr;
    std::thread plain([&] {
      if (mutexFirst) WaitForSingleObject(mutex, 0);
      window = MakeWindow(nullptr);
      if (!mutexFirst) WaitForSingleObject(mutex, 0);
    });
    plain.join();
    EXPECT_FALSE(IsWindow(window)) << mutexFirst;
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED) << mutexFirst;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

TEST_F(MessageTest, MsgWaitWakesOnAPostedMessage) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PostMessageW(window, WM_APP_EVENT, 7, 0);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  poster.join();
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(recorder.Count(WM_APP_EVENT), 1u);
  // A message queued before the wait starts is never missed.
  PostMessageW(window, WM_APP_EVENT, 8, 0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 5000, QS_ALLINPUT, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0 + 1);
  Pump();
  CloseHandle(event);
  DestroyWindow(window);
}

TEST_F(MessageTest, MsgWaitAnswersSentMessagesWhileWaiting) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread sender([&] {
    EXPECT_EQ(SendMessageW(window, WM_APP_EVENT + 1, 4, 0), 8);
    SetEvent(done);
  });
  DWORD result;
  do {
    result = MsgWaitForMultipleObjects(1, &done, FALSE, 10000, QS_ALLINPUT);
    if (result == WAIT_OBJECT_0 + 1) Pump();
  } while (result == WAIT_OBJECT_0 + 1);
  EXPECT_EQ(result, WAIT_OBJECT_0);
  sender.join();
  CloseHandle(done);
  DestroyWindow(window);
}

TEST_F(MessageTest, TimersPostWmTimerUntilKilled) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  ASSERT_EQ(SetTimer(window, 9, 10, nullptr), 9u);
  MSG msg;
  int ticks = 0;
  while (ticks < 3 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageW(&msg);
    if (msg.message == WM_TIMER) {
      EXPECT_EQ(msg.wParam, 9u);
      ++ticks;
    }
  }
  EXPECT_EQ(recorder.Count(WM_TIMER), 3u);
  EXPECT_TRUE(KillTimer(window, 9));
  EXPECT_FALSE(KillTimer(window, 9));
  Sleep(30);
  EXPECT_EQ(Pump(), 0);
  EXPECT_EQ(recorder.Count(WM_TIMER), 3u);
  DestroyWindow(window);
}

std::atomic<int> g_threadTimerCalls{0};
void CountThreadTimer(HWND hwnd, UINT message, UINT_PTR, DWORD) {
  if (hwnd == nullptr && message == WM_TIMER) ++g_threadTimerCalls;
}

TEST_F(MessageTest, ThreadTimerCallbackRunsThroughDispatch) {
  UINT_PTR id = SetTimer(nullptr, 0, 10, CountThreadTimer);
  ASSERT_NE(id, 0u);
  MSG msg;
  for (int timers = 0; timers < 10 && g_threadTimerCalls.load() < 2 && GetMessageW(&msg, nullptr, 0, 0) > 0;
       ++timers) {
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, id);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(g_threadTimerCalls.load(), 2);
  EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST_F(MessageTest, FilteredGetMessageSkipsDueTimersAndWaitsForItsMessage) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    PostMessageW(window, WM_APP_EVENT, 11, 0);
  });
  MSG msg;
  ASSERT_GT(GetMessageW(&msg, nullptr, WM_USER, WM_USER + 100), 0);
  EXPECT_EQ(msg.message, WM_APP_EVENT);
  EXPECT_EQ(msg.wParam, 11u);
  poster.join();
  // The timer kept its turn for an unfiltered call.
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  KillTimer(nullptr, timer);
  DestroyWindow(window);
}

TEST_F(MessageTest, QuitComesAfterPostedMessagesAndEndsGetMessage) {
  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  PostMessageW(window, WM_APP_EVENT, 1, 0);
  PostQuitMessage(3);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP_EVENT + 5, 0, 0);
  MSG msg;
  ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_APP_EVENT);
  ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_APP_EVENT + 5);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  DestroyWindow(window);
}

TEST_F(MessageTest, ClassesAndWindowLongsBehaveAsOnWindows) {
  WNDCLASSEXW duplicate{};
  duplicate.cbSize = sizeof duplicate;
  duplicate.lpfnWndProc = DefWindowProcW;
  duplicate.lpszClassName = L"kesttestwindow";  // names compare without case
  EXPECT_EQ(RegisterClassExW(&duplicate), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);

  Recorder recorder;
  HWND window = MakeWindow(&recorder);
  EXPECT_FALSE(UnregisterClassW(L"KestTestWindow", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&recorder));
  auto previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC,
                                                              reinterpret_cast<LONG_PTR>(DefWindowProcW)));
  EXPECT_EQ(previous, RecordingProcedure);
  EXPECT_EQ(SendMessageW(window, WM_APP_EVENT + 1, 5, 0), 0);  // the new procedure answers
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  EXPECT_EQ(SendMessageW(window, WM_APP_EVENT + 1, 5, 0), 10);
  DWORD process = 0;
  EXPECT_EQ(GetWindowThreadProcessId(window, &process), GetCurrentThreadId());
  EXPECT_EQ(process, GetCurrentProcessId());
  EXPECT_EQ(TranslateAcceleratorW(window, nullptr, nullptr), 0);
  DestroyWindow(window);
}

TEST_F(MessageTest, PostingToAThreadWithoutAQueueFails) {
  std::atomic<DWORD> id{0};
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread idle([&] {
    id = GetCurrentThreadId();
    WaitForSingleObject(go, INFINITE);
  });
  ASSERT_TRUE(WaitUntil([&] { return id != 0; }));
  EXPECT_FALSE(PostThreadMessageW(id, WM_APP_EVENT, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  SetEvent(go);
  idle.join();
  CloseHandle(go);
}

}  // namespace
}  // namespace kestnet::testing
