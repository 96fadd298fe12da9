#include "net/sockets/socket_event_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "net/sockets/set_manager.h"
#include "net/sockets/tls_session.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

namespace platform = kestnet::platform;

constexpr const char* kClassName = "SocketEventThread";
// A free slot whose mutex is held is still finishing a notification of its
// last socket, and that notification may be releasing this very thread, which
// needs the pool lock the placing caller holds. So a busy slot is passed over
// at once: waiting for it would stall every caller placing a socket behind
// that notification.
constexpr DWORD kSlotMutexTimeout = 0;
// How long a stopping thread is waited for before it is let go.
constexpr auto kTerminateWait = std::chrono::milliseconds(500);

// Census of the OS threads still running, for shutdown and for tests. Never
// destroyed: a thread may still be ending while the process exits.
struct ThreadCensus {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t live = 0;
};

ThreadCensus& Census() {
  static ThreadCensus* census = new ThreadCensus;
  return *census;
}

thread_local bool t_bOnSocketEventThread = false;

DWORD CurrentThreadNumber() { return static_cast<DWORD>(syscall(SYS_gettid)); }

unsigned long AsNumber(const void* p_pointer) {
  return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p_pointer));
}

// One network event of the dispatch order: its bit, and how to deliver it.
struct DispatchStep {
  long bit;
  std::size_t errorIndex;
  void (*deliver)(SocketEventThreadListener*, int);
};

constexpr DispatchStep kDispatchOrder[] = {
    {platform::kNetworkAccept, platform::kAcceptBit,
     [](SocketEventThreadListener* l, int e) { l->OnAccept(e); }},
    {platform::kNetworkConnect, platform::kConnectBit,
     [](SocketEventThreadListener* l, int e) { l->OnConnect(e); }},
    {platform::kNetworkRead, platform::kReadBit,
     [](SocketEventThreadListener* l, int e) { l->OnReceive(e); }},
    {platform::kNetworkWrite, platform::kWriteBit,
     [](SocketEventThreadListener* l, int e) { l->OnSend(e); }},
    {platform::kNetworkClose, platform::kCloseBit,
     [](SocketEventThreadListener* l, int e) { l->OnClose(e); }},
};

void DeliverPosted(SocketEventThreadListener* p_pListener, DWORD p_dwType, DWORD p_dwValue) {
  switch (p_dwType) {
    case kPostedClose:
      p_pListener->OnClose(0);
      break;
    case kPostedConnect:
      p_pListener->OnConnect(0);
      break;
    case kPostedSend:
      p_pListener->OnSend(0);
      break;
    case kPostedConnectAddress:
      p_pListener->OnPostedConnect(p_dwValue);
      break;
    default:
      break;
  }
}

}  // namespace

void SocketEventThread::ClearSlot(Slot& p_slot) {
  p_slot.listener = nullptr;
  p_slot.event = nullptr;
  p_slot.inUse = false;
  p_slot.socket = platform::kInvalidSocket;
  p_slot.posted.clear();
}

SocketEventThread::SocketEventThread() : m_state(std::make_shared<State>()) {}

SocketEventThread::~SocketEventThread() {
  try {
    Terminate();
  } catch (...) {
    Log(kClassName, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.",
        __FILE__, __LINE__);
  }
}

bool SocketEventThread::Start() {
  if (!m_state->waitSet.IsValid() || m_thread.joinable()) {
    return false;
  }
  {
    std::lock_guard lock(Census().mutex);
    ++Census().live;
  }
  try {
    m_thread = std::thread(&SocketEventThread::ThreadRoutine, m_state, this);
  } catch (...) {
    std::lock_guard lock(Census().mutex);
    --Census().live;
    Census().changed.notify_all();
    return false;
  }
  m_threadIdentity = m_thread.get_id();
  return true;
}

void SocketEventThread::ThreadRoutine(std::shared_ptr<State> p_state, SocketEventThread* p_pSelf) {
  t_bOnSocketEventThread = true;
  p_state->threadId.store(CurrentThreadNumber());
  DWORD exitCode = p_state->Run();
  // An idle thread whose grace ran out is retired by the manager, unless a
  // socket came meanwhile or the pool is shutting down (which stops it).
  while (exitCode == kIdleGraceOver && !SETManager::Instance().RetireIdleThread(p_pSelf)) {
    exitCode = p_state->Run();
  }
  ReleaseTlsThreadState();
  p_state->exitCode.store(exitCode);
  {
    std::lock_guard lock(p_state->finishMutex);
    p_state->finished.store(true);
  }
  p_state->finishSignal.notify_all();
  if (p_state->selfDestruct.load()) {
    // The pool let go of this thread inside one of its own notifications;
    // nobody else deletes it.
    delete p_pSelf;
  }
  p_state.reset();
  std::lock_guard lock(Census().mutex);
  --Census().live;
  Census().changed.notify_all();
}

void SocketEventThread::Terminate() {
  if (!m_state) {
    return;
  }
  if (m_thread.joinable()) {
    if (IsCurrentThread()) {
      // Deleted from inside its own loop: the loop ends at its next wait and
      // the routine returns without touching this object.
      m_state->waitSet.SignalStop();
      m_thread.detach();
    } else {
      m_state->waitSet.SignalStop();
      std::unique_lock lock(m_state->finishMutex);
      const bool ended = m_state->finishSignal.wait_for(
          lock, kTerminateWait, [this] { return m_state->finished.load(); });
      lock.unlock();
      if (ended) {
        m_thread.join();
      } else {
        // A thread cannot be killed safely here; it is let go with its own
        // reference to the state and ends when its notification returns.
        Log(kClassName, kLogLevelError, "Terminate(): Preparing to hard terminate thread.");
        m_thread.detach();
        m_state->exitCode.store(0xFFFFFFFFu);
      }
    }
  }
  for (Slot& slot : m_state->slots) {
    SocketEventThreadListener* listener = nullptr;
    {
      KestMT::AutoLockMutex lock(&slot.mutex, INFINITE);
      {
        std::lock_guard stateLock(slot.stateMutex);
        if (slot.inUse) {
          listener = slot.listener;
          platform::SocketWaitSet::RetireNetworkEvent(slot.event);
          {
            std::lock_guard closeLock(m_state->closeListMutex);
            m_state->eventsToClose.push_back(slot.event);
          }
          ClearSlot(slot);
        }
      }
      if (listener != nullptr) {
        listener->Detach();
      }
    }
  }
  m_state.reset();
}

bool SocketEventThread::AddSocket(SocketEventThreadListener* p_pListener, SocketHandle p_hSocket,
                                  NetworkEvent** p_ppEvent, int* p_piSlot) {
  if (IsCurrentThread() || p_pListener == nullptr || p_ppEvent == nullptr ||
      p_piSlot == nullptr) {
    return false;
  }
  State& state = *m_state;
  for (int index = 0; index < kSlotCount; ++index) {
    Slot& slot = state.slots[index];
    {
      // A slot in use is passed over without waiting for its notifications.
      std::lock_guard stateLock(slot.stateMutex);
      if (slot.inUse) {
        continue;
      }
    }
    if (!slot.mutex.Acquire(kSlotMutexTimeout)) {
      continue;
    }
    std::unique_lock stateLock(slot.stateMutex);
    if (slot.inUse) {
      stateLock.unlock();
      slot.mutex.Release();
      continue;
    }
    NetworkEvent* event = state.waitSet.CreateNetworkEvent();
    if (event == nullptr) {
      stateLock.unlock();
      slot.mutex.Release();
      return false;
    }
    slot.event = event;
    slot.listener = p_pListener;
    slot.socket = p_hSocket;
    slot.inUse = true;
    slot.posted.clear();
    DWORD count;
    {
      std::lock_guard lock(state.countMutex);
      count = ++state.socketCount;
    }
    state.idleDeadline.store(0);
    Log(kClassName, kLogLevelTrace,
        "AddSocket():Adding socket #%d from listener: %zu with event: %zu to thread: %0x count: %lu",
        index, static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p_pListener)),
        static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(event)),
        static_cast<unsigned>(GetThreadId()), static_cast<unsigned long>(count));
    *p_ppEvent = event;
    *p_piSlot = index;
    stateLock.unlock();
    slot.mutex.Release();
    // No wake-up: the thread need not list the socket before it is ready.
    // Its record joins the wait set as its events are selected, readiness
    // then wakes the wait, which lists the socket on its next round; what
    // the socket posts to itself comes with a wake-up of its own.
    return true;
  }
  return false;
}

bool SocketEventThread::RemoveSocket(int p_iSlot) {
  if (p_iSlot < 0 || p_iSlot >= kSlotCount) {
    return false;
  }
  State& state = *m_state;
  Slot& slot = state.slots[p_iSlot];
  KestMT::AutoLockMutex lock(&slot.mutex, INFINITE);
  std::lock_guard stateLock(slot.stateMutex);
  if (!slot.inUse) {
    return false;
  }
  Log(kClassName, kLogLevelTrace,
      "RemoveSocket(): Removing socket #%d from listener: %zu with event: %zu from thread: %0x",
      p_iSlot, static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(slot.listener)),
      static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(slot.event)),
      static_cast<unsigned>(GetThreadId()));
  try {
    // Readiness stops now; the record itself is destroyed by the thread after
    // its next wake-up, since its wait may still name it.
    platform::SocketWaitSet::RetireNetworkEvent(slot.event);
    std::lock_guard closeLock(state.closeListMutex);
    state.eventsToClose.push_back(slot.event);
  } catch (...) {
    Log(kClassName, kLogLevelError, "AddSocketEventToCloseList(): Unhandled Exception");
  }
  ClearSlot(slot);
  DWORD count;
  {
    std::lock_guard countLock(state.countMutex);
    count = --state.socketCount;
  }
  // Inside one of its own notifications the thread destroys the record as
  // soon as that returns; any other caller wakes it for that.
  if (!IsCurrentThread()) {
    state.waitSet.SignalChange();
  }
  if (count == 0) {
    // Logged here, under the slot mutex: once it is released, the thread may
    // be deleted by a concurrent release.
    Log(kClassName, kLogLevelTrace, "RemoveSocket(): Releasing thread: %0x",
        static_cast<unsigned>(GetThreadId()));
  }
  return count == 0;
}

bool SocketEventThread::PostEvent(int p_iSlot, DWORD p_dwType, DWORD p_dwValue) {
  Log(kClassName, kLogLevelTrace, "PostEvent(): Calling PostEvent with type: %d",
      static_cast<int>(p_dwType));
  if (p_iSlot < 0 || p_iSlot >= kSlotCount) {
    return false;
  }
  Slot& slot = m_state->slots[p_iSlot];
  // Only the state lock: a notification in progress on this slot never
  // delays a post, so a socket closing under its own mutex can always post.
  std::lock_guard stateLock(slot.stateMutex);
  bool posted = false;
  if (slot.inUse) {
    Log(kClassName, kLogLevelTrace,
        "PostEvent(): Setting event: %d for socket #%d from listener: %zu with event: %zu from "
        "thread: %0x",
        static_cast<int>(p_dwType), p_iSlot,
        static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(slot.listener)),
        static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(slot.event)),
        static_cast<unsigned>(GetThreadId()));
    slot.posted.emplace_back(p_dwType, p_dwValue);
    m_state->waitSet.SignalChange();
    posted = true;
  }
  return posted;
}

DWORD SocketEventThread::GetSocketCount() {
  std::lock_guard lock(m_state->countMutex);
  return m_state->socketCount;
}

bool SocketEventThread::IsCurrentThread() const {
  return m_threadIdentity == std::this_thread::get_id();
}

DWORD SocketEventThread::GetThreadId() const { return m_state ? m_state->threadId.load() : 0; }

DWORD SocketEventThread::GetExitCode() const { return m_state ? m_state->exitCode.load() : 0; }

void SocketEventThread::StartIdleGrace(DWORD p_dwMilliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(p_dwMilliseconds);
  m_state->idleDeadline.store(
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count());
  m_state->waitSet.SignalChange();
}

void SocketEventThread::MarkForSelfDestruct() {
  m_state->selfDestruct.store(true);
  m_state->waitSet.SignalStop();
}

bool SocketEventThread::IsCallerAnEventThread() { return t_bOnSocketEventThread; }

std::size_t SocketEventThread::GetLiveThreadCount() {
  std::lock_guard lock(Census().mutex);
  return Census().live;
}

bool SocketEventThread::WaitForAllThreadsToEnd(DWORD p_dwTimeout) {
  std::unique_lock lock(Census().mutex);
  return Census().changed.wait_for(lock, std::chrono::milliseconds(p_dwTimeout),
                                   [] { return Census().live == 0; });
}

SocketEventThread::State::~State() {
  DestroyAllEventsToClose();
  for (Slot& slot : slots) {
    platform::SocketWaitSet::CloseNetworkEvent(slot.event);
    slot.event = nullptr;
  }
}

int SocketEventThread::State::IdleWaitMilliseconds() const {
  const long long deadline = idleDeadline.load();
  if (deadline == 0) return -1;
  const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count();
  return deadline <= now ? 0 : static_cast<int>((deadline - now + 999999) / 1000000);
}

DWORD SocketEventThread::State::Run() {
  for (;;) {
    try {
      NetworkEvent* waitList[kSlotCount];
      int slotOfEntry[kSlotCount];
      std::size_t entries = 0;
      for (int index = 0; index < kSlotCount; ++index) {
        Slot& slot = slots[index];
        std::lock_guard stateLock(slot.stateMutex);
        if (slot.inUse && slot.event != nullptr) {
          Log(kClassName, kLogLevelTrace, "Run(): Socket #%lu, event = %lu alive.",
              static_cast<unsigned long>(index), AsNumber(slot.event));
          waitList[entries] = slot.event;
          slotOfEntry[entries] = index;
          ++entries;
        }
      }
      Log(kClassName, kLogLevelTrace, "Run(): Waiting for socket events with %d sockets",
          static_cast<int>(entries));

      const auto outcome = waitSet.Wait(std::span<NetworkEvent* const>(waitList, entries), IdleWaitMilliseconds());
      if (outcome.result == platform::SocketWaitSet::WaitResult::kTimeout) {
        if (idleDeadline.exchange(0) != 0) {
          return kIdleGraceOver;
        }
        // A socket added during the grace called it off while the wait ran.
        continue;
      }
      switch (outcome.result) {
        case platform::SocketWaitSet::WaitResult::kStop:
          return 1;
        case platform::SocketWaitSet::WaitResult::kChange:
          Log(kClassName, kLogLevelTrace, "Run(): Waking up for change event");
          ProcessPostedEvents();
          DestroyAllEventsToClose();
          continue;
        case platform::SocketWaitSet::WaitResult::kUnmatched:
          Log(kClassName, kLogLevelTrace,
              "Run(): WaitForMultilpleObjects returned with event that could not be matched");
          continue;
        case platform::SocketWaitSet::WaitResult::kNetwork:
          break;
        case platform::SocketWaitSet::WaitResult::kFailed:
        case platform::SocketWaitSet::WaitResult::kTimeout:
          Log(kClassName, kLogLevelTrace,
              "Run(): Received an invalid index from WaitForMultilpleObjects");
          return 0;
      }

      const int slotIndex = slotOfEntry[outcome.index];
      NetworkEvent* event = waitList[outcome.index];
      {
        Slot& slot = slots[slotIndex];
        std::lock_guard stateLock(slot.stateMutex);
        if (!slot.inUse || slot.event != event) {
          Log(kClassName, kLogLevelTrace,
              "Run(): WaitForMultilpleObjects returned with event that could not be matched");
          continue;
        }
        if (slot.socket == platform::kInvalidSocket) {
          Log(kClassName, kLogLevelTrace,
              "Run(): WaitForMultilpleObjects returned with event for a socket marked as invalid");
          Log(kClassName, kLogLevelTrace,
              "Run(): WaitForMultilpleObjects returned with event that could not be matched");
          continue;
        }
      }
      platform::NetworkEvents occurred;
      if (!platform::EnumNetworkEvents(event, &occurred)) {
        const int error = platform::GetLastSocketError();
        if (error == platform::winsock::kNotSocket) {
          Log(kClassName, kLogLevelTrace, "Run(): WSAEnumNetworkEvents returned with dead socket");
          continue;
        }
        Log(kClassName, kLogLevelWarning, "Run(): WSAEnumNetworkEvents failed with code: %d",
            error);
        return 0;
      }
      Log(kClassName, kLogLevelTrace, "Run(): Network events: %lu on event: %zu",
          static_cast<unsigned long>(occurred.events),
          static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(event)));
      DispatchNetworkEvents(slotIndex, event, occurred);
      // What a notification removed; this round's wait list, which still
      // names it, is done with.
      DestroyAllEventsToClose();
    } catch (const KestBase::BaseException& exception) {
      KestLog::LogCaughtException(kClassName, "Run", exception);
    } catch (...) {
      KestLog::LogUnknownException(kClassName, "Run", __FILE__, __LINE__);
    }
  }
}

void SocketEventThread::State::DispatchNetworkEvents(int p_iSlot, NetworkEvent* p_pEvent,
                                                     const platform::NetworkEvents& p_events) {
  Slot& slot = slots[p_iSlot];
  for (const DispatchStep& step : kDispatchOrder) {
    if ((p_events.events & step.bit) == 0) {
      continue;
    }
    KestMT::AutoLockMutex lock(&slot.mutex, INFINITE);
    SocketEventThreadListener* listener;
    SocketHandle socket;
    {
      std::lock_guard stateLock(slot.stateMutex);
      listener = slot.listener;
      socket = slot.socket;
      if (!slot.inUse || slot.event != p_pEvent) {
        listener = nullptr;
      }
    }
    if (listener == nullptr) {
      Log(kClassName, kLogLevelTrace, "Run(): Processing events that do no belong to this socket.");
      continue;
    }
    const int error = p_events.errorCodes[step.errorIndex];
    if (step.bit == platform::kNetworkConnect && error == platform::winsock::kInterrupted) {
      Log(kClassName, kLogLevelTrace, "Run(): Ingoring interrupted call on event: %zu",
          static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p_pEvent)));
      continue;
    }
    if (step.bit == platform::kNetworkClose) {
      Log(kClassName, kLogLevelTrace, "Run(): Events(%u) for socket(%u), closing.",
          static_cast<unsigned>(p_events.events), static_cast<unsigned>(socket));
    }
    step.deliver(listener, error);
  }
}

void SocketEventThread::State::ProcessPostedEvents() {
  for (Slot& slot : slots) {
    {
      // Only a slot with queued events is locked: a socket being placed
      // passes over a slot whose mutex is held, so locking free slots here
      // would send it to another thread while this one has room.
      std::lock_guard stateLock(slot.stateMutex);
      if (!slot.inUse || slot.posted.empty()) {
        continue;
      }
    }
    KestMT::AutoLockMutex lock(&slot.mutex, INFINITE);
    // The listener may close inside the call, which empties the slot and its
    // queue; each round looks again.
    for (;;) {
      SocketEventThreadListener* listener;
      std::pair<DWORD, DWORD> posted;
      {
        std::lock_guard stateLock(slot.stateMutex);
        if (!slot.inUse || slot.posted.empty()) {
          break;
        }
        Log(kClassName, kLogLevelTrace, "Run(): Processing post event for event: %lu",
            AsNumber(slot.event));
        posted = slot.posted.front();
        slot.posted.pop_front();
        listener = slot.listener;
      }
      if (listener != nullptr) {
        DeliverPosted(listener, posted.first, posted.second);
      }
    }
  }
}

void SocketEventThread::State::DestroyAllEventsToClose() {
  std::vector<NetworkEvent*> events;
  {
    std::lock_guard lock(closeListMutex);
    events.swap(eventsToClose);
  }
  if (events.empty()) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "DestroyAllEventsToClose(): Clearing events");
  for (NetworkEvent* event : events) {
    Log(kClassName, kLogLevelTrace, "DestroyAllEventsToClose(): Clearing event: %u",
        static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(event)));
    platform::SocketWaitSet::CloseNetworkEvent(event);
  }
}

}  // namespace KestNet
