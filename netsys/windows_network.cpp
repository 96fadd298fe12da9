#include "netsys/windows_network.h"

#include <memory>
#include <new>

#include "netsys/get_host_info_thread.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::WindowsNetwork";

template <typename Exception>
[[noreturn]] void LogAndThrow(const char* p_szMessage) {
  Log(kClassName, kLogLevelWarning, "%s", p_szMessage);
  throw Exception();
}

[[noreturn]] void RefuseRunningLookup(const std::wstring& p_cstrwHostName) {
  Log(kClassName, kLogLevelWarning,
      "GetHostInfo():  Error - Invalid Operation.  A query for <%S> is already in progress",
      p_cstrwHostName.c_str());
  throw KestBase::InvalidOperationException();
}

}  // namespace

WindowsNetwork::WindowsNetwork() = default;

WindowsNetwork::~WindowsNetwork() {
  try {
    m_threads.DeleteAllThreads();
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~WindowsNetwork");
  }
}

void WindowsNetwork::GetHostInfo(const std::wstring& p_cstrwHostName, GetHostInfoListener* p_pListener) {
  if (p_cstrwHostName.empty()) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "GetHostInfo():  Error - Invalid Parameter.  Target must be specified.");
  }
  if (p_pListener == nullptr) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "GetHostInfo():  Error - Invalid Parameter.  Listener pointer must be valid.");
  }
  if (m_threads.HasThread(p_cstrwHostName)) {
    RefuseRunningLookup(p_cstrwHostName);
  }
  Log(kClassName, kLogLevelDetail, "GetHostInfo():  Looking up host <%S>", p_cstrwHostName.c_str());
  std::unique_ptr<GetHostInfoThread> worker;
  try {
    worker = std::make_unique<GetHostInfoThread>();
  } catch (const std::bad_alloc&) {
    LogAndThrow<KestBase::InvalidObjectException>("GetHostInfo():  Error - Obtain a new thread.  Bad allocation.");
  }
  GetHostInfoThread* pWorker = worker.get();
  // Two callers may pass the check above at once: the manager refuses the
  // second key, which is the same refusal.
  if (!m_threads.TryAddThread(p_cstrwHostName, pWorker)) {
    RefuseRunningLookup(p_cstrwHostName);
  }
  worker.release();  // the manager owns it now
  try {
    pWorker->EchoRequest(p_cstrwHostName, this, p_pListener);
  } catch (...) {
    // A worker that never ran would hold the name for good.
    m_threads.DeleteThread(p_cstrwHostName);
    throw;
  }
}

void WindowsNetwork::AbortGetHostInfo(const std::wstring& p_cstrwHostName) {
  if (p_cstrwHostName.empty()) {
    LogAndThrow<KestBase::InvalidParameterException>(
        "AbortGetHostInfo():  Error - You may not specify an empty string for the operation to abort.");
  }
  Log(kClassName, kLogLevelDetail, "GetHostInfo():  Attempting to abort host lookup for <%S>",
      p_cstrwHostName.c_str());
  // AbortThread waits for the worker, which removes its own entry when it
  // reports; removing the entry again here could remove a newer lookup of
  // the same name that started meanwhile.
  m_threads.AbortThread(p_cstrwHostName);
}

void WindowsNetwork::GetHostInfoResponse(KestMT::Thread* p_pThread) {
  LONG lStatus = GETHOSTINFO_INVALIDOBJECT;
  GetHostInfoListener* pListener = nullptr;
  std::wstring hostName;
  std::wstring ipAddress = L"UNKNOWN";
  std::wstring macAddress = L"UNKNOWN";
  std::wstring comment = L"UNKNOWN";
  LONG lMajorVersion = -1;
  LONG lMinorVersion = -1;
  LONG lReserved = -1;
  LONG lPlatformId = -1;

  auto* pWorker = dynamic_cast<GetHostInfoThread*>(p_pThread);
  if (pWorker == nullptr) {
    LogAndThrow<KestBase::InvalidObjectException>(
        "GetHostInfoResponse():  Error - Invalid Object.  Invalid pointer to a thread object.");
  }
  pWorker->GetResults(lStatus, pListener, hostName, ipAddress, macAddress, lMajorVersion, lMinorVersion,
                      lReserved, lPlatformId, comment);
  if (!m_threads.HasThread(hostName)) {
    LogAndThrow<KestBase::InvalidObjectException>(
        "GetHostInfoResponse():  Error - Invalid Operation.  I have a thread calling that should not exist.");
  }
  // The name is free again before the listener hears, so that a listener
  // may start the next lookup of the same host from its callback.
  m_threads.DeleteThread(hostName);
  if (pListener == nullptr) {
    LogAndThrow<KestBase::InvalidObjectException>("GetHostInfoResponse():  Error - The listener pointer is invalid.");
  }
  Log(kClassName, kLogLevelDetail, "GetHostInfoResponse():  Found Host info for <%S>", hostName.c_str());
  Log(kClassName, kLogLevelDetail, "GetHostInfoResponse():  Address = <%S>", ipAddress.c_str());
  Log(kClassName, kLogLevelDetail, "GetHostInfoResponse():  MAC = <%S>", macAddress.c_str());
  Log(kClassName, kLogLevelDetail, "GetHostInfoResponse():  Verion = <%i.%i>", static_cast<int>(lMajorVersion),
      static_cast<int>(lMinorVersion));
  Log(kClassName, kLogLevelDetail, "GetHostInfoResponse():  Comment = <%S>", comment.c_str());
  pListener->GetHostInfoCallback(lStatus, hostName, ipAddress, macAddress, lMajorVersion, lMinorVersion, lReserved,
                                 lPlatformId, comment);
}

}  // namespace KestNet
