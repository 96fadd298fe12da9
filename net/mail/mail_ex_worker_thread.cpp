#include "net/mail/mail_ex_worker_thread.h"

#include <cerrno>
#include <utility>

#include "net/sockets/tls_session.h"
#include "platform/msg/message.h"
#include "platform/os/last_error.h"
#include "platform/os/module_table.h"
#include "platform/sync/kernel32_module.h"
#include "platform/sync/thread.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

// The constructor looks for the running flag this often, this many times.
constexpr DWORD kStartPollMs = 10;
constexpr int kStartPolls = 100;
// How long the destructor waits for the thread to end. The work it may be
// finishing is bounded by the engine's own reply limits.
constexpr DWORD kStopTimeoutMs = 30000;

}  // namespace

MailExWorkerThread::MailExWorkerThread(const MailExWorkerTexts& p_texts, Work p_setUp, Work p_tearDown)
    : m_texts(p_texts), m_setUp(std::move(p_setUp)), m_tearDown(std::move(p_tearDown)) {
  kestnet::platform::RegisterKernel32Module();
  HMODULE kernel32 = kestnet::platform::LoadSystemModule(L"KERNEL32.DLL");
  if (kernel32 != nullptr) {
    m_pfnQueueUserAPC =
        reinterpret_cast<QueueUserApcFunction>(kestnet::platform::GetSystemModuleProcedure(kernel32, "QueueUserAPC"));
  }
  if (m_pfnQueueUserAPC == nullptr) {
    Log(m_texts.className, kLogLevelError,
        "ctor():  Unable to locate the entry poinf for the QueueUserAPC function in KERNEL32.DLL");
    return;
  }
  unsigned threadId = 0;
  m_hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &MailExWorkerThread::ThreadProc, this, 0, &threadId));
  if (m_hThread == nullptr) {
    Log(m_texts.className, kLogLevelError, "ctor():  Unable to start %s, errno = [%d], _doserrno = [%d]",
        m_texts.threadName, errno, 0);
    return;
  }
  Log(m_texts.className, kLogLevelDetail, "ctor():  %s [0x%x:0x%x] now running", m_texts.threadName,
      static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(m_hThread)), threadId);
  for (int poll = 0; poll < kStartPolls && !IsRunning(); ++poll) {
    Sleep(kStartPollMs);
  }
}

MailExWorkerThread::~MailExWorkerThread() { Stop(); }

void MailExWorkerThread::Stop() {
  if (m_hThread == nullptr) {
    return;
  }
  m_bStopRequested.store(true, std::memory_order_release);
  // The APC only wakes the thread; the loop sees the request.
  (void)m_pfnQueueUserAPC(&MailExWorkerThread::RunQueuedWork, m_hThread, reinterpret_cast<ULONG_PTR>(this));
  const DWORD result = WaitForSingleObject(m_hThread, kStopTimeoutMs);
  if (result == WAIT_OBJECT_0) {
    Log(m_texts.className, kLogLevelDetail, "dtor():  Thread has exited");
  } else if (result == WAIT_TIMEOUT) {
    Log(m_texts.className, kLogLevelWarning, "dtor():  Thread timed out the termination request, forcefully terminating");
    if (!TerminateThread(m_hThread, 0)) {
      Log(m_texts.className, kLogLevelWarning, "dtor():  TerminateThread failed, GetLastError returns [%d]",
          static_cast<int>(GetLastError()));
    }
  } else {
    Log(m_texts.className, kLogLevelWarning, "dtor():  Wait for thread unexpectedly returned [%d]",
        static_cast<int>(result));
  }
  CloseHandle(m_hThread);
  m_hThread = nullptr;
}

bool MailExWorkerThread::Post(Work p_work) {
  if (!IsRunning() || m_bStopRequested.load(std::memory_order_acquire)) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_queue.push_back(std::move(p_work));
  }
  return m_pfnQueueUserAPC(&MailExWorkerThread::RunQueuedWork, m_hThread, reinterpret_cast<ULONG_PTR>(this)) != 0;
}

unsigned MailExWorkerThread::ThreadProc(void* p_pThis) {
  auto* self = static_cast<MailExWorkerThread*>(p_pThis);
  if (self == nullptr) {
    return 1;
  }
  self->Run();
  KestNet::ReleaseTlsThreadState();
  return 0;
}

void MailExWorkerThread::Run() {
  Log(m_texts.className, kLogLevelDetail, "%s():  Thread starting", m_texts.procedureName);
  try {
    m_setUp();
  } catch (...) {
    Log(m_texts.className, kLogLevelError,
        "AllocLibraryHelperObjects():  Unexpected exception while attempting to allocate the helper %s derived "
        "objects",
        m_texts.helperObjects);
  }
  m_bRunning.store(true, std::memory_order_release);
  while (!m_bStopRequested.load(std::memory_order_acquire)) {
    const DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_ALERTABLE);
    if (result == WAIT_OBJECT_0) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    } else if (result != WAIT_IO_COMPLETION) {
      Log(m_texts.className, kLogLevelWarning, "%s():  Unexpected wait result [%d], cannot continue",
          m_texts.procedureName, static_cast<int>(result));
      break;
    }
  }
  // Refuses new work from here on: what the engine reports while it ends
  // has no listener left to hear it.
  m_bStopRequested.store(true, std::memory_order_release);
  try {
    m_tearDown();
  } catch (...) {
    Log(m_texts.className, kLogLevelWarning, "%s():  Unexpected exception while ending the engine",
        m_texts.procedureName);
  }
  m_bRunning.store(false, std::memory_order_release);
  Log(m_texts.className, kLogLevelDetail, "%s():  Thread exiting", m_texts.procedureName);
}

void MailExWorkerThread::RunQueuedWork(ULONG_PTR p_pThis) {
  auto* self = reinterpret_cast<MailExWorkerThread*>(p_pThis);
  for (;;) {
    if (self->m_bStopRequested.load(std::memory_order_acquire)) {
      return;
    }
    Work work;
    {
      std::lock_guard<std::mutex> lock(self->m_queueMutex);
      if (self->m_queue.empty()) {
        return;
      }
      work = std::move(self->m_queue.front());
      self->m_queue.pop_front();
    }
    try {
      work();
    } catch (...) {
      Log(self->m_texts.className, kLogLevelWarning, "%s():  Unexpected exception in queued work",
          self->m_texts.procedureName);
    }
  }
}

}  // namespace KestNet
