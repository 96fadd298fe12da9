#include "net/sockets/set_manager.h"

#include <algorithm>

#include "platform/net/socket_calls.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/guarded_call.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "SocketEventThread";
constexpr const char* kManagerClassName = "SETManager";
// How long the last UninitializeSockets waits for threads that are deleting
// themselves; they only have to leave their loop.
constexpr DWORD kShutdownWait = 5000;

}  // namespace

SETManager& SETManager::Instance() {
  // Never destroyed: event threads may still be ending while the process exits.
  static SETManager* manager = new SETManager;
  return *manager;
}

bool SETManager::Initialize() {
  std::lock_guard lifetime(m_lifetimeMutex);
  if (m_iUsers > 0) {
    ++m_iUsers;
    return true;
  }
  if (!kestnet::platform::StartSockets()) {
    Log(kManagerClassName, kLogLevelWarning,
        "Initialize(): WSAStartup() called failed with error code %d.",
        kestnet::platform::GetLastSocketError());
    return false;
  }
  std::lock_guard release(m_releaseMutex);
  std::lock_guard pool(m_poolMutex);
  m_bSocketsStarted = true;
  m_bShuttingDown = false;
  m_iUsers = 1;
  return true;
}

void SETManager::Uninitialize() {
  std::lock_guard lifetime(m_lifetimeMutex);
  if (m_iUsers == 0) {
    return;
  }
  if (--m_iUsers == 0) {
    Shutdown();
  }
}

void SETManager::Shutdown() {
  std::vector<SocketEventThread*> threads;
  {
    std::lock_guard release(m_releaseMutex);
    std::lock_guard pool(m_poolMutex);
    m_bShuttingDown = true;
    threads.swap(m_pool);
  }
  for (SocketEventThread* thread : threads) {
    delete thread;
  }
  if (m_bSocketsStarted) {
    kestnet::platform::StopSockets();
    m_bSocketsStarted = false;
  }
  // A thread that released itself inside a notification is no longer in the
  // pool; wait for it too, unless this is such a thread itself.
  if (!SocketEventThread::IsCallerAnEventThread()) {
    SocketEventThread::WaitForAllThreadsToEnd(kShutdownWait);
  }
}

SocketEventThread* SETManager::Attach(SocketEventThreadListener* p_pListener,
                                      SocketHandle p_hSocket, NetworkEvent** p_ppEvent,
                                      int* p_piSlot) {
  {
    std::lock_guard release(m_releaseMutex);
    if (m_bShuttingDown) {
      return nullptr;
    }
  }
  std::lock_guard pool(m_poolMutex);
  if (m_bShuttingDown) {
    return nullptr;
  }
  for (SocketEventThread* thread : m_pool) {
    if (thread->AddSocket(p_pListener, p_hSocket, p_ppEvent, p_piSlot)) {
      return thread;
    }
  }
  auto* thread = new (std::nothrow) SocketEventThread;
  if (thread == nullptr) {
    return nullptr;
  }
  if (!thread->Start() || !thread->AddSocket(p_pListener, p_hSocket, p_ppEvent, p_piSlot)) {
    delete thread;
    return nullptr;
  }
  m_pool.push_back(thread);
  return thread;
}

void SETManager::ReleaseThread(SocketEventThread* p_pThread) {
  try {
    std::lock_guard release(m_releaseMutex);
    if (m_bShuttingDown) {
      return;
    }
    std::lock_guard pool(m_poolMutex);
    // Only a thread still in the pool is touched: another release may have
    // deleted this one already.
    if (std::find(m_pool.begin(), m_pool.end(), p_pThread) == m_pool.end()) {
      return;
    }
    const DWORD count = p_pThread->GetSocketCount();
    if (count != 0) {
      Log(kClassName, kLogLevelTrace,
          "ReleaseThread(): Thread: %0x being spared because it was reclaimed.",
          static_cast<unsigned>(p_pThread->GetThreadId()));
      return;
    }
    p_pThread->StartIdleGrace(kIdleThreadGrace);
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "ReleaseThread(): Unhandled exception");
  }
}

bool SETManager::RetireIdleThread(SocketEventThread* p_pThread) {
  std::lock_guard release(m_releaseMutex);
  if (m_bShuttingDown) {
    return false;
  }
  std::lock_guard pool(m_poolMutex);
  const auto found = std::find(m_pool.begin(), m_pool.end(), p_pThread);
  if (found == m_pool.end() || p_pThread->GetSocketCount() != 0) {
    return false;
  }
  m_pool.erase(found);
  Log(kClassName, kLogLevelTrace,
      "ReleaseThread(): Marking thread for self-destruct.  Thread: %0x, Count: %d.",
      static_cast<unsigned>(p_pThread->GetThreadId()), 0);
  p_pThread->MarkForSelfDestruct();
  return true;
}

std::size_t SETManager::GetThreadCount() {
  std::lock_guard pool(m_poolMutex);
  return m_pool.size();
}

bool InitializeSockets() { return SETManager::Instance().Initialize(); }

void UninitializeSockets() { SETManager::Instance().Uninitialize(); }

SocketEventThread* Attach(SocketEventThreadListener* p_pListener, SocketHandle p_hSocket,
                          NetworkEvent** p_ppEvent, int* p_piSlot) {
  return SETManager::Instance().Attach(p_pListener, p_hSocket, p_ppEvent, p_piSlot);
}

void RemoveSocket(SocketEventThread* p_pThread, int p_iSlot) {
  if (p_pThread == nullptr) {
    return;
  }
  bool lastSocket = false;
  try {
    lastSocket = p_pThread->RemoveSocket(p_iSlot);
  } catch (...) {
    Log(kClassName, kLogLevelError, "RemoveSocket(): Unhandled Exception");
    return;
  }
  if (lastSocket) {
    SETManager::Instance().ReleaseThread(p_pThread);
  }
}

void ReleaseThread(SocketEventThread* p_pThread) { SETManager::Instance().ReleaseThread(p_pThread); }

bool PostEvent(SocketEventThread* p_pThread, int p_iSlot, DWORD p_dwType, DWORD p_dwValue) {
  if (p_pThread == nullptr) {
    return false;
  }
  return KestBase::Guarded(kClassName, "PostEvent", false,
                           [&] { return p_pThread->PostEvent(p_iSlot, p_dwType, p_dwValue); });
}

bool PostOnClose(SocketEventThread* p_pThread, int p_iSlot) {
  return PostEvent(p_pThread, p_iSlot, kPostedClose, kNoPostedValue);
}

bool PostOnConnect(SocketEventThread* p_pThread, int p_iSlot) {
  return PostEvent(p_pThread, p_iSlot, kPostedConnect, kNoPostedValue);
}

bool PostOnSend(SocketEventThread* p_pThread, int p_iSlot) {
  return PostEvent(p_pThread, p_iSlot, kPostedSend, kNoPostedValue);
}

bool PostOnConnectAddress(SocketEventThread* p_pThread, int p_iSlot, DWORD p_dwAddress) {
  return PostEvent(p_pThread, p_iSlot, kPostedConnectAddress, p_dwAddress);
}

}  // namespace KestNet
