// KestNet::MailExWorkerThread: the thread a secure mail client runs its
// engine on and calls its listener from.
//
// The thread sleeps in an alertable wait for window messages or user APCs
// and never times out. Work reaches it through Post: the work goes into the
// thread's queue, and a user APC (QueueUserAPC, looked up by name in
// "KERNEL32.DLL") wakes the thread, which runs the queue dry. Work runs in the
// order posted, one item at a time, and never on the poster's thread, so a
// poster holding its own locks (an engine inside a socket notification) never
// waits for the work. The queue holds the work rather than the APCs
// themselves: what is still queued when the thread stops is destroyed with
// the thread object instead of being lost inside the APC queue.
//
// Locks: the queue mutex only guards the queue and is never held while work
// runs.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/os/win_types.h"
#include "platform/sync/wait.h"

namespace KestNet {

// The log texts of one client kind.
struct MailExWorkerTexts {
  const char* className;      // "KestNetLib::CPop3ExClientThread"
  const char* threadName;     // "CPop3ExClientThread"
  const char* procedureName;  // "Pop3ExClientThreadProc"
  const char* helperObjects;  // "POP and POPS"
};

class MailExWorkerThread {
 public:
  using Work = std::function<void()>;

  // Starts the thread and waits (about a second at most) until it runs.
  // p_setUp runs first on the new thread (making the engine), p_tearDown
  // last (ending it); both are the owner's and must outlive the thread.
  MailExWorkerThread(const MailExWorkerTexts& p_texts, Work p_setUp, Work p_tearDown);
  // Stops the thread and waits for it.
  ~MailExWorkerThread();
  MailExWorkerThread(const MailExWorkerThread&) = delete;
  MailExWorkerThread& operator=(const MailExWorkerThread&) = delete;

  bool IsRunning() const { return m_bRunning.load(std::memory_order_acquire); }
  // Queues p_work for the thread; false (p_work dropped) when the thread is
  // not running or is stopping.
  bool Post(Work p_work);

 private:
  static unsigned ThreadProc(void* p_pThis);
  void Run();
  static void RunQueuedWork(ULONG_PTR p_pThis);
  void Stop();

  const MailExWorkerTexts m_texts;
  Work m_setUp;
  Work m_tearDown;
  using QueueUserApcFunction = DWORD (*)(PAPCFUNC, HANDLE, ULONG_PTR);
  QueueUserApcFunction m_pfnQueueUserAPC = nullptr;
  HANDLE m_hThread = nullptr;
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bStopRequested{false};
  std::mutex m_queueMutex;
  std::deque<Work> m_queue;  // m_queueMutex
};

}  // namespace KestNet
