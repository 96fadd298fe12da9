#include "net/sockets/non_blocking_socket.h"

#include "net/sockets/notification_lock.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "platform/net/winsock_errors.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

namespace platform = kestnet::platform;

constexpr DWORD kCloseWaitSlice = 500;

}  // namespace

NonBlockingSocket::NonBlockingSocket(const SocketLogTraits& p_traits)
    : m_traits(p_traits), m_dwSocketId(reinterpret_cast<DWORD_PTR>(this)) {
  // A socket that was never opened counts as closed, so that Close(true)
  // on it returns at once.
  m_closedEvent.Set();
}

NonBlockingSocket::~NonBlockingSocket() = default;

bool NonBlockingSocket::IsCreated() {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    return m_bCreated && m_hSocket != platform::kInvalidSocket;
  } catch (...) {
    // A question, not an operation: a lock that fails answers "no".
    return false;
  }
}

DWORD NonBlockingSocket::GetLastSocketError() {
  return TranslateSocketError(platform::GetLastSocketError());
}

bool NonBlockingSocket::OpenHandle(platform::SocketType p_type) {
  m_closedEvent.Reset();
  const platform::SocketHandle socket = platform::OpenSocket(p_type);
  if (socket == platform::kInvalidSocket) {
    Log(m_traits.className, kLogLevelWarning, "Create(): Socket creation failed with error code: %d",
        platform::GetLastSocketError());
    m_closedEvent.Set();
    return false;
  }
  m_hSocket = socket;
  return true;
}

bool NonBlockingSocket::AttachHandle(long p_lNetworkEvents) {
  NetworkEvent* event = nullptr;
  int slot = -1;
  SocketEventThread* thread = Attach(this, m_hSocket, &event, &slot);
  if (thread == nullptr) {
    Log(m_traits.className, kLogLevelError, "Create(): SocketEventThread::Attach() failed.");
    platform::SetLastSocketError(platform::winsock::kNoBufferSpace);
    AbandonHandle();
    return false;
  }
  m_pEventThread = thread;
  m_pNetworkEvent = event;
  m_iSlot = slot;
  if (!platform::SelectNetworkEvents(event, m_hSocket, p_lNetworkEvents)) {
    Log(m_traits.className, kLogLevelError, "Create(): WSAEvent Select failed with error code: %d",
        platform::GetLastSocketError());
    AbandonHandle();
    return false;
  }
  return true;
}

void NonBlockingSocket::AbandonHandle() {
  const int savedError = platform::GetLastSocketError();
  if (SocketEventThread* thread = m_pEventThread.exchange(nullptr); thread != nullptr) {
    RemoveSocket(thread, m_iSlot);
  }
  platform::CloseSocket(m_hSocket);
  m_hSocket = platform::kInvalidSocket;
  m_pNetworkEvent = nullptr;
  m_iSlot = -1;
  m_closedEvent.Set();
  platform::SetLastSocketError(savedError);
}

bool NonBlockingSocket::BindHandle(USHORT p_usPort, const IPAddress& p_address, std::uint32_t* p_pAddress) {
  Log(m_traits.className, kLogLevelTrace, "Bind(): Calling Bind.");
  if (!platform::ParseIPv4Address(p_address.ToString(), p_pAddress)) {
    Log(m_traits.className, kLogLevelWarning, "Bind(): Invalid IP address.");
    platform::SetLastSocketError(platform::winsock::kAddressNotAvailable);
    return false;
  }
  if (!platform::BindSocket(m_hSocket, *p_pAddress, p_usPort)) {
    Log(m_traits.className, kLogLevelWarning, m_traits.bindFailedFormat, platform::GetLastSocketError());
    return false;
  }
  return true;
}

bool NonBlockingSocket::HasHandle() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return m_hSocket != platform::kInvalidSocket;
}

bool NonBlockingSocket::PostClose() {
  SocketEventThread* thread = m_pEventThread.load();
  return thread != nullptr && PostOnClose(thread, m_iSlot);
}

void NonBlockingSocket::CloseOnThisThread() {
  while (!m_closedEvent.Wait(0)) {
    OnClose(0);
    m_closedEvent.Wait(kCloseWaitSlice);
  }
}

bool NonBlockingSocket::EnterNotification(NotificationLock& p_lock, NotificationKind p_kind, int p_iError) {
  if (!p_lock.Held()) {
    if (!p_lock.Abandoned()) {
      RecoverDroppedNotification(p_kind, p_iError);
    }
    return false;
  }
  return m_hSocket != platform::kInvalidSocket;
}

void NonBlockingSocket::RecoverDroppedNotification(NotificationKind p_kind, int p_iError) {
  // Nothing of the socket is touched without its mutex: the network-event
  // record re-arms itself, posted events go through the slot.
  const int slot = m_iSlot;
  SocketEventThread* thread = m_pEventThread.load();
  switch (p_kind) {
    case kReceiveNotification:
      platform::NoteReceive(m_pNetworkEvent.load());
      break;
    case kSendNotification:
      PostOnSend(thread, slot);
      break;
    case kConnectNotification:
      if (p_iError == 0) {
        PostOnConnect(thread, slot);
      } else {
        PostOnClose(thread, slot);
      }
      break;
    case kCloseNotification:
      PostOnClose(thread, slot);
      break;
  }
}

void NonBlockingSocket::OnClose(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      RecoverDroppedNotification(kCloseNotification, p_iError);
    }
    return;
  }
  try {
    if (m_hSocket == platform::kInvalidSocket) {
      // Closed already: the listener heard its one OnClose.
      m_closedEvent.Set();
      return;
    }
    CloseInProgress closing(&m_closeInProgress);
    const DWORD result = TranslateSocketError(p_iError);
    BeginClose(p_iError, result);
    // The socket counts as closed from here on, so that a Close or a
    // notification reached from inside the listener's OnClose does nothing,
    // and a Create made there starts a fresh socket.
    const platform::SocketHandle socket = m_hSocket;
    SocketEventThread* thread = m_pEventThread.exchange(nullptr);
    const int slot = m_iSlot;
    m_hSocket = platform::kInvalidSocket;
    m_pNetworkEvent = nullptr;
    m_iSlot = -1;
    m_bCreated = false;
    NotifyClose(result);
    CloseHandle(socket);
    try {
      if (thread != nullptr) {
        RemoveSocket(thread, slot);
      }
    } catch (...) {
      Log(m_traits.className, kLogLevelWarning,
          "OnClose(): Thread detach failed because of unhandled exception");
    }
    if (m_hSocket == platform::kInvalidSocket) {
      m_closedEvent.Set();
    }
  } catch (...) {
    Log(m_traits.className, kLogLevelError, "OnClose(): Unhandled Exception");
  }
}

void NonBlockingSocket::CloseHandle(platform::SocketHandle p_hSocket) {
  if (m_traits.traceHandleClose) {
    Log(m_traits.className, kLogLevelTrace, "OnClose(): Calling closesocket() on socket %d.", p_hSocket);
  }
  if (platform::CloseSocket(p_hSocket)) {
    return;
  }
  const int error = platform::GetLastSocketError();
  if (m_traits.traceHandleClose && error == platform::winsock::kNotSocket) {
    Log(m_traits.className, kLogLevelTrace, "OnClose(): closesocket() returned already closed.");
    return;
  }
  Log(m_traits.className, kLogLevelError, "OnClose(): closesocket() failed with error code: %d.", error);
}

void NonBlockingSocket::Detach() {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  m_pEventThread = nullptr;
  m_pNetworkEvent = nullptr;
}

SocketEventThread* NonBlockingSocket::GetEventThread(int* p_piSlotIndex) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!lock.Held()) {
    return nullptr;
  }
  if (p_piSlotIndex != nullptr) {
    *p_piSlotIndex = m_iSlot;
  }
  return m_pEventThread.load();
}

}  // namespace KestNet
