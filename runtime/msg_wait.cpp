#include "runtime/msg_wait.h"

#include "platform/os/last_error.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"

namespace KestMT {

namespace {

constexpr const char* kMsgWaitClass = "KestMT::MsgWait";

// Dispatches one queued message; false when the queue is empty.
bool DispatchOneMessage(HWND p_hAccelWindow, HACCEL p_hAccelTable) {
  MSG msg{};
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  }
  const bool bUseAccelerators = p_hAccelWindow != nullptr && p_hAccelTable != nullptr;
  if (!bUseAccelerators || TranslateAcceleratorW(p_hAccelWindow, p_hAccelTable, &msg) == 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

// The time left of a finite wait. Unsigned subtraction of tick counts stays
// right when the 32-bit counter wraps (every 49.7 days) during the wait.
class WaitClock {
 public:
  explicit WaitClock(DWORD p_dwTimeout) : m_dwTimeout(p_dwTimeout), m_dwStart(GetTickCount()) {}

  bool Expired() const { return Elapsed() >= m_dwTimeout; }
  DWORD Remaining() const {
    const DWORD dwElapsed = Elapsed();
    return dwElapsed >= m_dwTimeout ? 0 : m_dwTimeout - dwElapsed;
  }

 private:
  DWORD Elapsed() const { return GetTickCount() - m_dwStart; }

  DWORD m_dwTimeout;
  DWORD m_dwStart;
};

// How often a wait-all looks at its handles again while it waits for input.
constexpr DWORD kWaitAllRecheckInterval = 10;

// Wait-all for a message pump: all handles together, or input. The OS form
// (MsgWaitForMultipleObjects with fWaitAll) wants all handles *and* input, so
// a pump whose handles are all signalled would hang until some unrelated
// message came. Here the handles are taken together the moment all are
// signalled (a zero-time wait-all, which acquires them atomically), and
// between checks the thread waits for input only, for at most
// kWaitAllRecheckInterval ms. Results read as MsgWaitForMultipleObjects'.
DWORD WaitForAllOrInput(DWORD p_dwCount, const HANDLE* p_pHandles, DWORD p_dwLimit) {
  const WaitClock clock(p_dwLimit);
  for (;;) {
    const DWORD dwAll = WaitForMultipleObjects(p_dwCount, p_pHandles, TRUE, 0);
    if (dwAll != WAIT_TIMEOUT) {
      return dwAll;
    }
    const bool bInfinite = p_dwLimit == INFINITE;
    const DWORD dwRemaining = bInfinite ? INFINITE : clock.Remaining();
    if (dwRemaining == 0) {
      return WAIT_TIMEOUT;
    }
    const DWORD dwSlice = dwRemaining < kWaitAllRecheckInterval ? dwRemaining : kWaitAllRecheckInterval;
    const DWORD dwInput = MsgWaitForMultipleObjects(0, nullptr, FALSE, dwSlice, QS_ALLINPUT);
    if (dwInput == WAIT_OBJECT_0) {
      return WAIT_OBJECT_0 + p_dwCount;
    }
    if (dwInput != WAIT_TIMEOUT) {
      return dwInput;
    }
  }
}

DWORD ReportLoopTimeout(DWORD p_dwTimeout) {
  MTLog(kMsgWaitClass, 1,
        "MsgWait wait timeout encountered while waiting. Timeout internal = %u (milliseconds).", p_dwTimeout);
  return MSGWAIT_TIMEOUT;
}

}  // namespace

DWORD MsgWait(DWORD p_dwCount, const HANDLE* p_pHandles, DWORD p_dwTimeout, BOOL p_bWaitAll,
              HWND p_hAccelWindow, HACCEL p_hAccelTable) {
  if (p_dwCount == 0 || p_dwCount > MSGWAIT_MAXIMUM_OBJECTS) {
    MTLog(kMsgWaitClass, 1, "MsgWait waiter count value out of range. Count = %u.", p_dwCount);
    return MSGWAIT_COUNT_OUT_OF_RANGE;
  }
  if (p_pHandles == nullptr) {
    MTLog(kMsgWaitClass, 1, "%s - Invalid argument detected for parameter %s.", "MsgWait", "p_pHandles");
    ThrowLogged<KestBase::InvalidParameterException>(kMsgWaitClass);
  }

  const bool bFinite = p_dwTimeout != INFINITE;
  const WaitClock clock(p_dwTimeout);
  if (bFinite) {
    MTLog(kMsgWaitClass, 2, "MsgWait waiting with valid timeout value. Timeout internal = %u (milliseconds).",
          p_dwTimeout);
  } else {
    MTLog(kMsgWaitClass, 2, "MsgWait waiting with INFINITE timeout value.");
  }

  for (;;) {
    // A steady stream of messages must not keep the wait alive past its time.
    while (DispatchOneMessage(p_hAccelWindow, p_hAccelTable)) {
      if (bFinite && clock.Expired()) {
        return ReportLoopTimeout(p_dwTimeout);
      }
    }
    // An expired wait still looks at the handles once (a zero-time poll), so
    // that a handle signalled in time is reported rather than a time-out.
    const bool bExpired = bFinite && clock.Expired();
    const DWORD dwLimit = bFinite ? clock.Remaining() : INFINITE;
    const DWORD dwResult =
        p_bWaitAll ? WaitForAllOrInput(p_dwCount, p_pHandles, dwLimit)
                   : MsgWaitForMultipleObjects(p_dwCount, p_pHandles, FALSE, dwLimit, QS_ALLINPUT);

    const bool bSignalled = dwResult < WAIT_OBJECT_0 + p_dwCount;
    const bool bAbandoned = dwResult >= WAIT_ABANDONED_0 && dwResult < WAIT_ABANDONED_0 + p_dwCount;
    if (bSignalled || bAbandoned) {
      const DWORD dwIndex = bSignalled ? dwResult - WAIT_OBJECT_0 : dwResult - WAIT_ABANDONED_0;
      MTLog(kMsgWaitClass, 2, "MsgWait wait successful, object signaled or abandoned. Object index = %u.",
            dwIndex);
      return MSGWAIT_OBJECT_0 + dwIndex;
    }
    if (dwResult == WAIT_OBJECT_0 + p_dwCount) {
      if (bExpired) {
        // Time is up: dispatch what arrived, but wait no more.
        DispatchOneMessage(p_hAccelWindow, p_hAccelTable);
        return ReportLoopTimeout(p_dwTimeout);
      }
      continue;
    }
    if (dwResult == WAIT_TIMEOUT) {
      MTLog(
          kMsgWaitClass, 2,
          "MsgWait wait timeout encountered from MsgWaitForMultipleObjects. This thread must not be pumping "
          "messages.");
      return MSGWAIT_TIMEOUT;
    }
    if (dwResult == WAIT_FAILED) {
      MTLog(kMsgWaitClass, 1,
            "MsgWait wait failure encountered from MsgWaitForMultipleObjects. GetLastError = %u.",
            GetLastError());
      return MSGWAIT_FAILED;
    }
    ThrowLogged<KestBase::InvalidObjectException>(kMsgWaitClass);
  }
}

}  // namespace KestMT
