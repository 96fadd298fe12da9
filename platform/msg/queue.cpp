#include <pthread.h>

#include <algorithm>
#include <new>
#include <unordered_map>

#include "platform/msg/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/sync/futex.h"
#include "platform/sync/thread.h"
#include "platform/sync/thread_object.h"
#include "platform/sync/wait_engine.h"

namespace kestnet::platform {
namespace {

// Windows refuses posts beyond 10,000 messages waiting in one queue; a queue
// nobody reads must not eat the process's memory.
constexpr std::size_t kMaxPostedMessages = 10000;
constexpr UINT kMinimumTimerMs = 10;   // USER_TIMER_MINIMUM
constexpr UINT kMaximumTimerMs = 0x7FFFFFFF;

// Process-wide: thread id -> queue, for PostThreadMessageW. Leaked on purpose.
struct QueueTable {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
};

QueueTable& Queues() {
  static QueueTable* table = new QueueTable();
  return *table;
}

void TeardownCurrentThreadQueue();

// Set once the thread's QueueHolder is destroyed (trivially destructible, so
// later thread-local destructors can still read it).
thread_local bool t_queueHolderGone = false;

// The calling thread's queue; its destructor tears the queue down for threads
// whose end the thread layer does not report first.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~QueueHolder() {
    TeardownCurrentThreadQueue();
    t_queueHolderGone = true;
  }
};

QueueHolder& Holder() {
  thread_local QueueHolder holder;
  return holder;
}

// A child made by fork has no message queue: the forking thread's belongs to
// the parent.
void ForgetParentQueueAfterFork() {
  if (!t_queueHolderGone) Holder().queue.reset();
}

[[maybe_unused]] const bool g_forkHandlerInstalled = pthread_atfork(nullptr, nullptr, ForgetParentQueueAfterFork) == 0;

void TeardownCurrentThreadQueue() {
  if (t_queueHolderGone) return;
  std::shared_ptr<MessageQueue> queue = std::move(Holder().queue);
  Holder().queue.reset();
  if (!queue) return;
  {
    QueueTable& table = Queues();
    std::lock_guard lock(table.mutex);
    auto found = table.queues.find(queue->ThreadId());
    if (found != table.queues.end() && found->second == queue) table.queues.erase(found);
  }
  ForgetWindowsOfCurrentThread();
  queue->Close();
}

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  return msg;
}

// The HWND filter value that selects thread messages only.
HWND ThreadMessagesOnly() { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)); }

}  // namespace

std::shared_ptr<MessageQueue> CurrentQueue() {
  if (t_queueHolderGone) {
    // The thread is ending: a closed queue that takes nothing.
    auto closed = std::make_shared<MessageQueue>(GetCurrentThreadId());
    closed->Close();
    return closed;
  }
  QueueHolder& holder = Holder();
  if (!holder.queue) {
    RegisterThreadExitCallback(TeardownCurrentThreadQueue);
    auto queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
    QueueTable& table = Queues();
    std::lock_guard lock(table.mutex);
    table.queues[queue->ThreadId()] = queue;
    holder.queue = std::move(queue);
  }
  return holder.queue;
}

std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId) {
  QueueTable& table = Queues();
  std::lock_guard lock(table.mutex);
  auto found = table.queues.find(threadId);
  return found == table.queues.end() ? nullptr : found->second;
}

bool MessageQueue::Matches(const MSG& msg, HWND filter, UINT minimum, UINT maximum) {
  if (filter == ThreadMessagesOnly()) {
    if (msg.hwnd != nullptr) return false;
  } else if (filter != nullptr && msg.hwnd != filter) {
    return false;
  }
  if (minimum == 0 && maximum == 0) return true;
  return msg.message >= minimum && msg.message <= maximum;
}

bool MessageQueue::Post(PostedMessage message) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      SetLastError(message.window ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_THREAD_ID);
      return false;
    }
    if (posted_.size() >= kMaxPostedMessages) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    posted_.push_back(std::move(message));
  }
  BumpAndWake(wake_);
  return true;
}

bool MessageQueue::Send(const std::shared_ptr<SentMessage>& message) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    sent_.push_back(message);
  }
  BumpAndWake(wake_);
  return true;
}

void MessageQueue::PostQuit(int exitCode) {
  {
    std::lock_guard lock(mutex_);
    quitPosted_ = true;
    quitCode_ = exitCode;
  }
  BumpAndWake(wake_);
}

bool MessageQueue::DeliverSentMessages() {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentMessage> message;
    {
      std::lock_guard lock(mutex_);
      if (sent_.empty()) return any;
      message = std::move(sent_.front());
      sent_.pop_front();
    }
    any = true;
    if (message->window->alive.load(std::memory_order_acquire)) {
      message->result = CallProcedure(message->window, message->message, message->wParam, message->lParam);
    }
    BumpAndWake(message->done);
  }
}

bool MessageQueue::Retrieve(MSG* out, HWND filter, UINT minimum, UINT maximum, bool remove) {
  std::lock_guard lock(mutex_);
  for (auto it = posted_.begin(); it != posted_.end();) {
    // A message for a window destroyed since it was posted is dropped unseen.
    if (it->window && !it->window->alive.load(std::memory_order_acquire)) {
      it = posted_.erase(it);
      continue;
    }
    if (Matches(it->msg, filter, minimum, maximum)) {
      *out = it->msg;
      if (remove) posted_.erase(it);
      return true;
    }
    ++it;
  }
  // WM_QUIT comes once the posted messages are gone, whatever the filter.
  if (quitPosted_) {
    *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0);
    if (remove) quitPosted_ = false;
    return true;
  }
  // Timer messages are made last, when they fall due, as on Windows.
  std::int64_t now = MonotonicNowNs();
  for (Timer& timer : timers_) {
    if (timer.dueNs > now) continue;
    MSG msg = MakeMessage(timer.hwnd, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure));
    if (!Matches(msg, filter, minimum, maximum)) continue;
    *out = msg;
    if (remove) timer.dueNs = now + timer.intervalNs;
    return true;
  }
  return false;
}

bool MessageQueue::HasInput(DWORD wakeMask) {
  std::lock_guard lock(mutex_);
  if ((wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0) {
    for (const PostedMessage& message : posted_) {
      if (!message.window || message.window->alive.load(std::memory_order_acquire)) return true;
    }
    if (quitPosted_) return true;
  }
  if ((wakeMask & QS_SENDMESSAGE) != 0 && !sent_.empty()) return true;
  if ((wakeMask & QS_TIMER) != 0) {
    std::int64_t now = MonotonicNowNs();
    for (const Timer& timer : timers_) {
      if (timer.dueNs <= now) return true;
    }
  }
  return false;
}

std::optional<std::int64_t> MessageQueue::NextTimerDueNs(HWND filter, UINT minimum, UINT maximum) {
  std::lock_guard lock(mutex_);
  std::optional<std::int64_t> next;
  for (const Timer& timer : timers_) {
    MSG msg{};
    msg.hwnd = timer.hwnd;
    msg.message = WM_TIMER;
    // A timer the caller filters out must not wake it (it would spin).
    if (!Matches(msg, filter, minimum, maximum)) continue;
    if (!next || timer.dueNs < *next) next = timer.dueNs;
  }
  return next;
}

UINT_PTR MessageQueue::SetTimer(const std::shared_ptr<Window>& window, HWND hwnd, UINT_PTR id, UINT elapse,
                                TIMERPROC procedure) {
  UINT milliseconds = std::clamp(elapse, kMinimumTimerMs, kMaximumTimerMs);
  std::int64_t interval = static_cast<std::int64_t>(milliseconds) * 1'000'000;
  {
    std::lock_guard lock(mutex_);
    if (hwnd == nullptr) {
      // Thread timers get a fresh id unless an existing one is named.
      auto existing = std::find_if(timers_.begin(), timers_.end(),
                                   [&](const Timer& t) { return t.hwnd == nullptr && t.id == id && id != 0; });
      if (existing == timers_.end()) {
        while (std::any_of(timers_.begin(), timers_.end(),
                           [&](const Timer& t) { return t.hwnd == nullptr && t.id == nextThreadTimerId_; })) {
          ++nextThreadTimerId_;
        }
        id = nextThreadTimerId_++;
      }
    }
    auto existing =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    Timer timer{window, hwnd, id, interval, MonotonicNowNs() + interval, procedure};
    if (existing != timers_.end()) {
      *existing = timer;
    } else {
      timers_.push_back(timer);
    }
  }
  BumpAndWake(wake_);
  return hwnd == nullptr ? id : (id != 0 ? id : 1);
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(mutex_);
  auto found =
      std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (found == timers_.end()) return false;
  timers_.erase(found);
  return true;
}

void MessageQueue::ForgetWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  std::erase_if(posted_, [hwnd](const PostedMessage& m) { return m.msg.hwnd == hwnd; });
  std::erase_if(timers_, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
}

void MessageQueue::Close() {
  std::deque<std::shared_ptr<SentMessage>> senders;
  std::deque<PostedMessage> dropped;
  std::vector<Timer> timers;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    senders.swap(sent_);
    dropped.swap(posted_);
    timers.swap(timers_);
  }
  // Senders waiting on this thread get 0, as when the receiver ends on Windows.
  for (const auto& message : senders) BumpAndWake(message->done);
  BumpAndWake(wake_);
}

}  // namespace kestnet::platform

using namespace kestnet::platform;

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == nullptr) return PostThreadMessageW(GetCurrentThreadId(), Msg, wParam, lParam);
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  try {
    std::shared_ptr<MessageQueue> queue = window->queue;
    return queue->Post(PostedMessage{MakeMessage(hWnd, Msg, wParam, lParam), std::move(window)}) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue = QueueOfThread(idThread);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  try {
    return queue->Post(PostedMessage{MakeMessage(nullptr, Msg, wParam, lParam), nullptr}) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->threadId == GetCurrentThreadId()) return CallProcedure(window, Msg, wParam, lParam);

  auto message = std::make_shared<SentMessage>();
  message->window = window;
  message->message = Msg;
  message->wParam = wParam;
  message->lParam = lParam;
  if (!window->queue->Send(message)) return 0;
  // While waiting, answer what others send to this thread, so that two
  // threads sending to each other do not wait forever.
  std::shared_ptr<MessageQueue> own = t_queueHolderGone ? nullptr : Holder().queue;
  for (;;) {
    std::uint32_t doneSeen = message->done.load(std::memory_order_acquire);
    if ((doneSeen & kFutexCounterMask) != 0) return message->result;
    std::uint32_t ownSeen = own ? own->WakeWord().load(std::memory_order_acquire) : 0;
    if (own && own->DeliverSentMessages()) continue;
    FutexWaitEntry entries[2] = {{&message->done, doneSeen}, {own ? &own->WakeWord() : nullptr, ownSeen}};
    FutexWaitAny(std::span<const FutexWaitEntry>(entries, own ? 2 : 1), std::nullopt);
  }
}

void PostQuitMessage(int nExitCode) { CurrentQueue()->PostQuit(nExitCode); }

namespace {

bool ValidFilter(HWND hWnd) {
  if (hWnd == nullptr || hWnd == ThreadMessagesOnly()) return true;
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  return window && window->threadId == GetCurrentThreadId();
}

}  // namespace

BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  queue->DeliverSentMessages();
  return queue->Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr || !ValidFilter(hWnd)) {
    SetLastError(lpMsg == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  for (;;) {
    std::uint32_t seen = queue->WakeWord().load(std::memory_order_acquire);
    queue->DeliverSentMessages();
    if (queue->Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
      return lpMsg->message == WM_QUIT ? FALSE : TRUE;
    }
    FutexWaitEntry entry{&queue->WakeWord(), seen};
    FutexWaitAny(std::span<const FutexWaitEntry>(&entry, 1), queue->NextTimerDueNs(hWnd, wMsgFilterMin, wMsgFilterMax));
  }
}

BOOL TranslateMessage(const MSG* /*lpMsg*/) { return FALSE; }  // no keyboard input to translate

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (lpMsg == nullptr) return 0;
  bool timerCallback = lpMsg->message == WM_TIMER && lpMsg->lParam != 0;
  if (lpMsg->hwnd == nullptr) {
    // Thread messages have no procedure; a thread timer's callback still runs.
    if (timerCallback) reinterpret_cast<TIMERPROC>(lpMsg->lParam)(nullptr, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
  }
  std::shared_ptr<Window> window = FindLiveWindow(lpMsg->hwnd);
  if (!window) return 0;  // destroyed since: never delivered
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return 0;
  }
  if (timerCallback) {
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
  }
  return CallProcedure(window, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

DWORD GetQueueStatus(UINT flags) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  DWORD present = 0;
  for (DWORD bit : {QS_POSTMESSAGE, QS_SENDMESSAGE, QS_TIMER, QS_ALLPOSTMESSAGE}) {
    if ((flags & bit) != 0 && queue->HasInput(bit)) present |= bit;
  }
  return (present << 16) | present;
}

DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                  DWORD dwFlags) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  ExtraWakeSource input;
  input.word = &queue->WakeWord();
  input.ready = [&queue, dwWakeMask] {
    // Messages sent from other threads are answered while waiting, as on Windows.
    queue->DeliverSentMessages();
    return queue->HasInput(dwWakeMask);
  };
  if ((dwWakeMask & QS_TIMER) != 0) input.nextReadyNs = [&queue] { return queue->NextTimerDueNs(); };
  return WaitForObjects(nCount, pHandles, (dwFlags & MWMO_WAITALL) != 0, dwMilliseconds,
                        (dwFlags & MWMO_ALERTABLE) != 0, &input);
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                DWORD dwWakeMask) {
  return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask,
                                     fWaitAll != FALSE ? MWMO_WAITALL : 0);
}

int TranslateAcceleratorW(HWND /*hWnd*/, HACCEL /*hAccTable*/, LPMSG /*lpMsg*/) { return 0; }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  if (hWnd == nullptr) return CurrentQueue()->SetTimer(nullptr, nullptr, nIDEvent, uElapse, lpTimerFunc);
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return window->queue->SetTimer(window, hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  std::shared_ptr<MessageQueue> queue;
  if (hWnd == nullptr) {
    queue = CurrentQueue();
  } else if (std::shared_ptr<Window> window = FindLiveWindow(hWnd)) {
    queue = window->queue;
  } else {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!queue->KillTimer(hWnd, uIDEvent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
