#include "runtime/event.h"

#include <cstdint>

#include "platform/os/last_error.h"
#include "platform/sync/event.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"
#include "runtime/thread.h"

namespace KestMT {

namespace {

constexpr const char* kEventClass = "KestMT::Event";

unsigned HandleValue(HANDLE p_handle) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p_handle));
}

}  // namespace

Event::Event() = default;

Event::~Event() {
  if (m_hEvent != nullptr) {
    CloseHandle(m_hEvent);
  }
}

bool Event::Config(const std::string& p_strName, const SECURITY_ATTRIBUTES* p_pSecurityAttributes) {
  AutoCriticalSection lock(&m_lock);
  if (m_hEvent != nullptr) {
    MTLog(kEventClass, 2, "Event object Config operation failed because the object is already configured.");
    return false;
  }
  if (!m_security.Assign(p_pSecurityAttributes)) {
    MTLog(kEventClass, 1,
          "Event object Config operation could not copy the security descriptor. GetLastError = %u.",
          GetLastError());
    return false;
  }
  m_strName = p_strName;
  return true;
}

HANDLE Event::CreateLocked() {
  if (m_hEvent != nullptr) {
    return m_hEvent;
  }
  SetLastError(ERROR_SUCCESS);
  HANDLE hEvent =
      CreateEventA(m_security.Get(), TRUE, FALSE, m_strName.empty() ? nullptr : m_strName.c_str());
  if (hEvent == nullptr) {
    MTLog(kEventClass, 0, "Internel CreateEvent call failed. GetLastError = %u.", GetLastError());
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    m_bAlreadyExisted = true;
    MTLog(kEventClass, 2,
          "Internel CreateEvent call was successful, but indicated that a handle to an already existing "
          "named object "
          "was returned.");
  }
  m_hEvent = hEvent;
  return m_hEvent;
}

HANDLE Event::GetHandle() {
  AutoCriticalSection lock(&m_lock);
  return CreateLocked();
}

bool Event::AlreadyExisted() {
  AutoCriticalSection lock(&m_lock);
  return m_bAlreadyExisted;
}

HANDLE Event::RequireHandle() {
  HANDLE hEvent = GetHandle();
  if (hEvent == nullptr) {
    ThrowLogged<KestBase::InvalidObjectException>(kEventClass);
  }
  return hEvent;
}

bool Event::Reset() {
  if (!ResetEvent(RequireHandle())) {
    MTLog(kEventClass, 1, "Internal ResetEvent call failed. GetLastError = %u.", GetLastError());
    return false;
  }
  return true;
}

bool Event::Set() {
  if (!SetEvent(RequireHandle())) {
    MTLog(kEventClass, 1, "Internal SetEvent call failed. GetLastError = %u.", GetLastError());
    return false;
  }
  return true;
}

bool Event::Pulse() {
  if (!PulseEvent(RequireHandle())) {
    MTLog(kEventClass, 1, "Internal PulseEvent call failed. GetLastError = %u.", GetLastError());
    return false;
  }
  return true;
}

bool Event::Wait(DWORD p_dwTimeout, Thread* p_pBoundThread) {
  HANDLE hEvent = RequireHandle();
  if (p_pBoundThread == nullptr) {
    MTLog(kEventClass, 2,
          "Event object Wait operation being attempted without being bound to a KestMT::Thread object.");
  } else {
    MTLog(kEventClass, 2, "Event object Wait operation bound to KestMT::Thread with Thread HANDLE = %u.",
          HandleValue(p_pBoundThread->GetHandle()));
    MTLog(kEventClass, 2,
          "Event object Wait operation bound to KestMT::Thread with Thread Yield Event HANDLE = %u.",
          HandleValue(p_pBoundThread->GetYieldEvent()));
  }
  switch (WaitBoundToThread(hEvent, p_dwTimeout, p_pBoundThread, kEventClass)) {
    case BoundWaitResult::kObtained:
      MTLog(kEventClass, 2, "Event object Wait operation successful for current thread. ThreadID: %u.",
            GetCurrentThreadId());
      return true;
    case BoundWaitResult::kTimeout:
      MTLog(kEventClass, 1,
            "Event object Wait operation failed due to timeout. Timeout interval: %u (milliseconds).",
            p_dwTimeout);
      return false;
    case BoundWaitResult::kThreadAborted:
      MTLog(kEventClass, 1,
            "Event object Wait operation detected that the bound KestMT::Thread object has been terminated.");
      ThrowLogged<ThreadAbortException>(kEventClass);
    case BoundWaitResult::kFailed:
      break;
  }
  ThrowLogged<KestBase::InvalidObjectException>(kEventClass);
}

bool Event::Wait(DWORD p_dwTimeout) { return Wait(p_dwTimeout, nullptr); }

}  // namespace KestMT
