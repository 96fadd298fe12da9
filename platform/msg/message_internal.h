// Message queues and windows behind the functions of message.h (this folder only).
//
// Lock order: the window table's lock, then a queue's lock; the class table's
// lock is never held with either. No lock is held while a window procedure runs.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/message.h"

namespace kestnet::platform {

struct WindowClass {
  std::wstring name;
  ATOM atom = 0;
  WNDPROC procedure = nullptr;
  int extraBytes = 0;
  HINSTANCE instance = nullptr;
  std::atomic<int> windowCount{0};
};

class MessageQueue;

struct Window {
  HWND handle = nullptr;
  DWORD threadId = 0;
  std::shared_ptr<MessageQueue> queue;
  std::shared_ptr<WindowClass> windowClass;
  std::atomic<WNDPROC> procedure{nullptr};
  std::atomic<LONG_PTR> userData{0};
  std::atomic<LONG_PTR> id{0};
  HINSTANCE instance = nullptr;
  // Touched only by the owner thread.
  std::vector<LONG_PTR> extra;
  bool destroying = false;
  // False once destroyed: posts fail, queued messages are dropped.
  std::atomic<bool> alive{true};
};

// A message sent from another thread, answered by the owner's pump.
struct SentMessage {
  std::shared_ptr<Window> window;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  std::atomic<std::uint32_t> done{0};
};

struct PostedMessage {
  MSG msg;
  std::shared_ptr<Window> window;  // nullptr for thread messages
};

struct Timer {
  std::shared_ptr<Window> window;
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  std::int64_t intervalNs = 0;
  std::int64_t dueNs = 0;
  TIMERPROC procedure = nullptr;
};

class MessageQueue {
 public:
  explicit MessageQueue(DWORD threadId) : threadId_(threadId) {}

  DWORD ThreadId() const { return threadId_; }
  std::atomic<std::uint32_t>& WakeWord() { return wake_; }

  // Any thread. False with the last error set when the queue is gone or full.
  bool Post(PostedMessage message);
  bool Send(const std::shared_ptr<SentMessage>& message);
  void PostQuit(int exitCode);

  // Owner thread only.
  // Answers every message sent to this thread so far; true if any.
  bool DeliverSentMessages();
  bool Retrieve(MSG* out, HWND filter, UINT minimum, UINT maximum, bool remove);
  bool HasInput(DWORD wakeMask);
  // When the next timer whose WM_TIMER passes the filter falls due.
  std::optional<std::int64_t> NextTimerDueNs(HWND filter = nullptr, UINT minimum = 0, UINT maximum = 0);
  UINT_PTR SetTimer(const std::shared_ptr<Window>& window, HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC procedure);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  // The window is gone: drop its timers and queued messages.
  void ForgetWindow(HWND hwnd);
  // The owner thread is ending: refuse further posts, answer senders with 0.
  void Close();

 private:
  static bool Matches(const MSG& msg, HWND filter, UINT minimum, UINT maximum);
  const DWORD threadId_;
  std::atomic<std::uint32_t> wake_{0};
  std::mutex mutex_;
  bool closed_ = false;
  std::deque<PostedMessage> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  bool quitPosted_ = false;
  int quitCode_ = 0;
  std::vector<Timer> timers_;
  UINT_PTR nextThreadTimerId_ = 1;
};

// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> CurrentQueue();
// The queue of a thread, if it has one.
std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId);

// The window a handle names while it is alive, or nullptr.
std::shared_ptr<Window> FindLiveWindow(HWND hwnd);
// Destroys the windows of the calling thread without calling their procedures.
void ForgetWindowsOfCurrentThread();

LRESULT CallProcedure(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace kestnet::platform
