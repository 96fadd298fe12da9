#include "net/sockets/notification_lock.h"

#include <array>

#include "platform/sync/wait.h"

namespace KestNet {

NotificationLock::NotificationLock(KestMT::Mutex* p_pMutex, KestMT::Event* p_pCloseInProgress)
    : m_pMutex(p_pMutex) {
  try {
    // A free mutex is taken without looking at the close signal, as a
    // mutex already held by this thread (a notification reached from inside
    // the close itself).
    if (m_pMutex->Acquire(0)) {
      m_bHeld = true;
      return;
    }
    if (p_pCloseInProgress == nullptr) {
      m_bHeld = m_pMutex->Acquire(kTimeout);
      return;
    }
    // The mutex first: when both are signalled, the free mutex wins.
    const std::array<HANDLE, 2> handles{m_pMutex->GetHandle(), p_pCloseInProgress->GetHandle()};
    if (handles[0] == nullptr || handles[1] == nullptr) return;
    switch (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, kTimeout)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED_0:
        m_bHeld = true;
        break;
      case WAIT_OBJECT_0 + 1:
        m_bAbandoned = true;
        break;
      default:
        break;
    }
  } catch (...) {
    m_bHeld = false;
  }
}

NotificationLock::~NotificationLock() {
  if (m_bHeld) {
    m_pMutex->Release();
  }
}

CloseInProgress::CloseInProgress(KestMT::Event* p_pSignal) : m_pSignal(p_pSignal) {
  try {
    m_pSignal->Set();
  } catch (...) {
    // No OS event to be had: the close goes ahead, and a notification
    // waiting for the mutex meanwhile times out and is re-delivered.
  }
}

CloseInProgress::~CloseInProgress() {
  try {
    m_pSignal->Reset();
  } catch (...) {
    // Only an event that was never created fails here; nothing is set.
  }
}

}  // namespace KestNet
