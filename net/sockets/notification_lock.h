// The socket mutex as a notification takes it: waited for up to 500 ms, and
// the notification is dropped (or re-delivered) when it cannot be had.
//
// While another thread is closing the socket synchronously it holds the
// socket mutex and waits for the event thread to leave the socket's slot; a
// notification waiting for that mutex would only stall both sides, so its
// wait ends as soon as the socket signals that a close is in progress.
#pragma once

#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/mutex.h"

namespace KestNet {

class NotificationLock {
 public:
  static constexpr DWORD kTimeout = 500;

  // p_pCloseInProgress: a manual-reset event set while the socket closes;
  // null when nothing closes the socket under its mutex.
  NotificationLock(KestMT::Mutex* p_pMutex, KestMT::Event* p_pCloseInProgress);
  ~NotificationLock();
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

// Signals a close in progress for its lifetime.
class CloseInProgress {
 public:
  explicit CloseInProgress(KestMT::Event* p_pSignal);
  ~CloseInProgress();
  CloseInProgress(const CloseInProgress&) = delete;
  CloseInProgress& operator=(const CloseInProgress&) = delete;

 private:
  KestMT::Event* m_pSignal;
};

}  // namespace KestNet
