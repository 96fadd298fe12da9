// The socket mutex as a notification takes it: tried for up to 500 ms, and
// the notification is dropped (or re-delivered) when it cannot be had.
//
// While another thread is closing the socket synchronously it holds the
// socket mutex and waits for the event thread to leave the socket's slot; a
// notification waiting for that mutex would only stall both sides, so it
// gives up as soon as the socket says a close is in progress.
#pragma once

#include <atomic>

#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

class NotificationLock {
 public:
  static constexpr DWORD kTimeout = 500;
  static constexpr DWORD kSlice = 5;

  NotificationLock(KestMT::Mutex* p_pMutex, const std::atomic<bool>* p_pCloseInProgress)
      : m_pMutex(p_pMutex) {
    try {
      for (DWORD waited = 0; waited < kTimeout; waited += kSlice) {
        if (m_pMutex->Acquire(kSlice)) {
          m_bHeld = true;
          return;
        }
        if (p_pCloseInProgress != nullptr && p_pCloseInProgress->load()) {
          m_bAbandoned = true;
          return;
        }
      }
    } catch (...) {
      m_bHeld = false;
    }
  }
  ~NotificationLock() {
    if (m_bHeld) {
      m_pMutex->Release();
    }
  }
  NotificationLock(const NotificationLock&) = delete;
  NotificationLock& operator=(const NotificationLock&) = delete;

  bool Held() const { return m_bHeld; }
  // Not held because the socket is being closed: nothing is to be recovered.
  bool Abandoned() const { return m_bAbandoned; }

 private:
  KestMT::Mutex* m_pMutex;
  bool m_bHeld = false;
  bool m_bAbandoned = false;
};

// Marks a close in progress for its lifetime.
class CloseInProgress {
 public:
  explicit CloseInProgress(std::atomic<bool>* p_pFlag) : m_pFlag(p_pFlag) { m_pFlag->store(true); }
  ~CloseInProgress() { m_pFlag->store(false); }
  CloseInProgress(const CloseInProgress&) = delete;
  CloseInProgress& operator=(const CloseInProgress&) = delete;

 private:
  std::atomic<bool>* m_pFlag;
};

}  // namespace KestNet
