#include "runtime/mutex.h"

#include <array>

#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/sync/mutex.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"
#include "runtime/thread.h"

namespace KestMT {

namespace {

constexpr const char* kMutexClass = "KestMT::Mutex";
constexpr const char* kAutoLockMutexClass = "KestMT::AutoLockMutex";

}  // namespace

bool SecurityAttributesCopy::Assign(const SECURITY_ATTRIBUTES* p_pAttributes) {
  m_bPresent = false;
  m_attributes = SECURITY_ATTRIBUTES{};
  m_descriptor.clear();
  if (p_pAttributes == nullptr) {
    return true;
  }
  m_attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  m_attributes.bInheritHandle = p_pAttributes->bInheritHandle;
  m_attributes.lpSecurityDescriptor = nullptr;
  if (p_pAttributes->lpSecurityDescriptor != nullptr) {
    PSECURITY_DESCRIPTOR pSource = p_pAttributes->lpSecurityDescriptor;
    if (!IsValidSecurityDescriptor(pSource)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    DWORD dwLength = 0;
    if (MakeSelfRelativeSD(pSource, nullptr, &dwLength) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        dwLength == 0) {
      return false;
    }
    std::vector<std::uint64_t> copy((dwLength + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!MakeSelfRelativeSD(pSource, copy.data(), &dwLength)) {
      return false;
    }
    m_descriptor = std::move(copy);
    m_attributes.lpSecurityDescriptor = m_descriptor.data();
  }
  m_bPresent = true;
  return true;
}

LPSECURITY_ATTRIBUTES SecurityAttributesCopy::Get() { return m_bPresent ? &m_attributes : nullptr; }

BoundWaitResult WaitBoundToThread(HANDLE p_hObject, DWORD p_dwTimeout, Thread* p_pBoundThread,
                                  const char* p_szClassName) {
  std::array<HANDLE, 3> handles{p_hObject, nullptr, nullptr};
  DWORD dwCount = 1;
  if (p_pBoundThread != nullptr) {
    handles[1] = p_pBoundThread->GetHandle();
    handles[2] = p_pBoundThread->GetYieldEvent();
    if (handles[1] == nullptr || handles[2] == nullptr) {
      ThrowLogged<KestBase::InvalidOperationException>(p_szClassName);
    }
    dwCount = 3;
  }
  const DWORD dwResult = WaitForMultipleObjects(dwCount, handles.data(), FALSE, p_dwTimeout);
  if (dwResult == WAIT_TIMEOUT) {
    return BoundWaitResult::kTimeout;
  }
  if (dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED_0) {
    return BoundWaitResult::kObtained;
  }
  if ((dwResult > WAIT_OBJECT_0 && dwResult < WAIT_OBJECT_0 + dwCount) ||
      (dwResult > WAIT_ABANDONED_0 && dwResult < WAIT_ABANDONED_0 + dwCount)) {
    return BoundWaitResult::kThreadAborted;
  }
  return BoundWaitResult::kFailed;
}

Mutex::Mutex() = default;

Mutex::~Mutex() {
  if (m_hMutex != nullptr) {
    CloseHandle(m_hMutex);
  }
}

bool Mutex::Config(const std::string& p_strName, const SECURITY_ATTRIBUTES* p_pSecurityAttributes) {
  AutoCriticalSection lock(&m_lock);
  if (m_hMutex != nullptr) {
    MTLog(kMutexClass, 2, "Mutex object Config operation failed because the object is already configured.");
    return false;
  }
  if (!m_security.Assign(p_pSecurityAttributes)) {
    MTLog(kMutexClass, 1,
          "Mutex object Config operation could not copy the security descriptor. GetLastError = %u.",
          GetLastError());
    return false;
  }
  m_strName = p_strName;
  return true;
}

HANDLE Mutex::CreateLocked() {
  if (m_hMutex != nullptr) {
    return m_hMutex;
  }
  SetLastError(ERROR_SUCCESS);
  HANDLE hMutex = CreateMutexA(m_security.Get(), FALSE, m_strName.empty() ? nullptr : m_strName.c_str());
  if (hMutex == nullptr) {
    MTLog(kMutexClass, 0, "Internel CreateMutex call failed. GetLastError = %u.", GetLastError());
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    MTLog(kMutexClass, 2,
          "Internel CreateMutex call was successful, but indicated that a handle to an already existing "
          "named object "
          "was returned.");
  }
  m_hMutex = hMutex;
  m_resolved = kestnet::platform::ResolvedMutex(m_hMutex);
  m_bCreated.store(true, std::memory_order_release);
  return m_hMutex;
}

HANDLE Mutex::GetHandle() {
  if (HANDLE hMutex = CreatedHandle()) {
    return hMutex;
  }
  AutoCriticalSection lock(&m_lock);
  return CreateLocked();
}

bool Mutex::Acquire(DWORD p_dwTimeout, Thread* p_pBoundThread) {
  HANDLE hMutex = GetHandle();
  if (hMutex == nullptr) {
    ThrowLogged<KestBase::InvalidObjectException>(kMutexClass);
  }
  BoundWaitResult result = BoundWaitResult::kFailed;
  if (p_pBoundThread == nullptr && m_resolved) {
    const DWORD dwResult = m_bScopedTakesOnly ? m_resolved.WaitScoped(p_dwTimeout) : m_resolved.Wait(p_dwTimeout);
    if (dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED_0) {
      result = BoundWaitResult::kObtained;
    } else if (dwResult == WAIT_TIMEOUT) {
      result = BoundWaitResult::kTimeout;
    }
  } else {
    result = WaitBoundToThread(hMutex, p_dwTimeout, p_pBoundThread, kMutexClass);
  }
  switch (result) {
    case BoundWaitResult::kObtained:
      return true;
    case BoundWaitResult::kTimeout:
      MTLog(kMutexClass, 1,
            "Mutex object Acquire operation failed due to timeout. Timeout interval: %u (milliseconds).",
            p_dwTimeout);
      return false;
    case BoundWaitResult::kThreadAborted:
      MTLog(kMutexClass, 1,
            "Mutex object Acquire operation detected that the bound KestMT::Thread object has been "
            "terminated.");
      ThrowLogged<ThreadAbortException>(kMutexClass);
    case BoundWaitResult::kFailed:
      break;
  }
  ThrowLogged<KestBase::InvalidObjectException>(kMutexClass);
}

bool Mutex::Acquire(DWORD p_dwTimeout) { return Acquire(p_dwTimeout, nullptr); }

void Mutex::Release() {
  HANDLE hMutex = CreatedHandle();
  if (hMutex == nullptr) {
    return;
  }
  BOOL bReleased = FALSE;
  if (!m_resolved) {
    bReleased = ReleaseMutex(hMutex);
  } else {
    bReleased = m_bScopedTakesOnly ? m_resolved.ReleaseScoped() : m_resolved.Release();
  }
  if (!bReleased) {
    MTLog(kMutexClass, 1, "Internel ReleaseMutex call failed. GetLastError = %u.", GetLastError());
  }
}

AutoLockMutex::AutoLockMutex(Mutex* p_pMutex, DWORD p_dwTimeout, Thread* p_pBoundThread)
    : m_pMutex(p_pMutex) {
  if (m_pMutex == nullptr) {
    MTLog(kAutoLockMutexClass, 1, "%s - Invalid argument detected for parameter %s.",
          "AutoLockMutex::AutoLockMutex", "p_pMutex");
    ThrowLogged<KestBase::InvalidParameterException>(kAutoLockMutexClass);
  }
  const bool bObtained = p_pBoundThread != nullptr ? m_pMutex->Acquire(p_dwTimeout, p_pBoundThread)
                                                   : m_pMutex->Acquire(p_dwTimeout);
  if (!bObtained) {
    MTLog(kAutoLockMutexClass, 1,
          "AutoLockMutex object failed to acquire the mutex due to timeout. Timeout interval: %u "
          "(milliseconds).",
          p_dwTimeout);
    ThrowLogged<AutoLockTimeoutException>(kAutoLockMutexClass);
  }
}

AutoLockMutex::~AutoLockMutex() {
  try {
    m_pMutex->Release();
  } catch (...) {
    MTLog(kAutoLockMutexClass, 1, "%s():  Destructor exception.", "AutoLockMutex::~AutoLockMutex");
  }
}

}  // namespace KestMT
