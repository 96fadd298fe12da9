#include "net/ping/ping.h"

#include <memory>
#include <new>

#include "net/ping/ping_thread.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::Ping";
constexpr DWORD kMinimumTimeout = 10;
constexpr DWORD kMaximumTTL = 254;
// The largest payload that fits one Ethernet frame: 1500 - 20 (IP) - 8 (ICMP).
constexpr DWORD kMaximumDataSize = 1472;

template <typename Exception>
[[noreturn]] void LogAndThrow(const char* p_szMessage) {
  Log(kClassName, kLogLevelWarning, "%s", p_szMessage);
  throw Exception();
}

}  // namespace

Ping::Ping() = default;

Ping::~Ping() {
  try {
    m_threads.DeleteAllThreads();
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "%s():  Destructor exception.", "~Ping");
  }
}

void Ping::EchoRequestAsync(const std::wstring& p_cstrwTarget, PingListener* p_pListener,
                            DWORD p_dwDNSTimeout, DWORD p_dwICMPTimeout, DWORD p_dwTTL,
                            DWORD p_dwDataSize) {
  if (p_cstrwTarget.empty()) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "EchoRequestAsync():  Error - Invalid Parameter.  Target must be specified.");
  }
  if (p_dwDNSTimeout < kMinimumTimeout) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "EchoRequestAsync():  Error - Invalid Parameter.  DNS Timeout may not be less than 10ms.");
  }
  if (p_dwICMPTimeout < kMinimumTimeout) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "EchoRequestAsync():  Error - Invalid Parameter.  ICMP Timeout may not be less than 10ms.");
  }
  if (p_dwTTL == 0 || p_dwTTL > kMaximumTTL) {
    Log(kClassName, kLogLevelWarning,
        "EchoRequestAsync():  Error - Invalid Parameter.  TTL <%u> is not in the range of 1-254.",
        static_cast<unsigned>(p_dwTTL));
    throw KestBase::InvalidParameterException();
  }
  if (p_dwDataSize > kMaximumDataSize) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "EchoRequestAsync():  Error - Invalid Parameter.  Data Size may not be greater than 1472.");
  }
  if (p_pListener == nullptr) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "EchoRequestAsync():  Error - Invalid Parameter.  Listener pointer must be valid.");
  }
  if (m_threads.HasThread(p_cstrwTarget)) {
    Log(kClassName, kLogLevelWarning,
        "EchoRequestAsync():  Error - Invalid Operation.  A query for <%S> is already in progress",
        p_cstrwTarget.c_str());
    throw KestBase::InvalidOperationException();
  }
  std::unique_ptr<PingThread> worker;
  try {
    worker = std::make_unique<PingThread>();
  } catch (const std::bad_alloc&) {
    Log(kClassName, kLogLevelError, "EchoRequestAsync():  Error - Obtain a new thread.  Bad allocation.");
    throw KestBase::InvalidObjectException();
  }
  PingThread* pWorker = worker.get();
  // Two callers may pass the check above at once: the manager refuses the
  // second key, which is the same refusal.
  if (!m_threads.TryAddThread(p_cstrwTarget, pWorker)) {
    Log(kClassName, kLogLevelWarning,
        "EchoRequestAsync():  Error - Invalid Operation.  A query for <%S> is already in progress",
        p_cstrwTarget.c_str());
    throw KestBase::InvalidOperationException();
  }
  worker.release();  // the manager owns it now
  try {
    pWorker->Start(p_cstrwTarget, p_dwDNSTimeout, p_dwICMPTimeout, static_cast<BYTE>(p_dwTTL),
                   static_cast<WORD>(p_dwDataSize), this, p_pListener);
  } catch (...) {
    // A worker that never ran would hold the target for good.
    m_threads.DeleteThread(p_cstrwTarget);
    throw;
  }
}

void Ping::Abort(const std::wstring& p_cstrwTarget) {
  if (p_cstrwTarget.empty()) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "Abort():  Error - You may not specify an empty string for the operation to abort.");
  }
  // The worker removes its own entry when it reports, which it does before
  // its body ends; deleting the entry again here could remove a newer
  // request for the same target that started meanwhile.
  m_threads.AbortThread(p_cstrwTarget);
}

void Ping::PingResponse(PingThread* p_pThread) {
  if (p_pThread == nullptr) {
    LogAndThrow<KestBase::InvalidObjectException>(
        "PingResponse():  Error - Invalid Object.  Invalid pointer to a thread object.");
  }
  PingListener* pListener = nullptr;
  std::wstring target;
  std::string address;
  std::string replyAddress;
  DWORD dwResult = PING_INVALID_OBJECT;
  DWORD dwRoundTripTime = 0;
  p_pThread->GetResults(pListener, target, address, replyAddress, dwResult, dwRoundTripTime);
  if (!m_threads.HasThread(target)) {
    LogAndThrow<KestBase::InvalidObjectException>(
        "PingResponse():  Error - Invalid Operation.  I have a thread calling that should not exist.");
  }
  m_threads.DeleteThread(target);
  if (pListener == nullptr) {
    LogAndThrow<KestBase::InvalidObjectException>(
        "PingResponse():  Error - The listener pointer is invalid.");
  }
  pListener->PingResponse(static_cast<WORD>(dwResult), target, address, replyAddress, dwRoundTripTime);
}

}  // namespace KestNet
