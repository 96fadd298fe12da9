#include "net/sockets/udp_non_blocking_client_socket.h"

#include <cstdint>

#include "net/sockets/notification_lock.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "platform/net/socket_calls.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

namespace platform = kestnet::platform;

constexpr const char* kClassName = "UdpNonBlockingClientSocket";
constexpr DWORD kCloseWaitSlice = 500;
// The group a multicast socket joins when it is bound (SSDP's group).
constexpr const char* kMulticastGroup = "239.255.255.250";

}  // namespace

UdpNonBlockingClientSocket::UdpNonBlockingClientSocket()
    : m_dwSocketId(reinterpret_cast<DWORD_PTR>(this)) {
  m_closedEvent.Set();
}

UdpNonBlockingClientSocket::~UdpNonBlockingClientSocket() {
  try {
    bool open;
    {
      KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
      open = m_hSocket != platform::kInvalidSocket;
    }
    if (open) {
      UdpNonBlockingClientSocket::Close(true);
    }
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~UdpNonBlockingClientSocket");
  }
}

DWORD_PTR UdpNonBlockingClientSocket::Create(UdpNonBlockingSocketListener* p_pListener) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      Log(kClassName, kLogLevelError, "Create(): Socket already created.");
      return 0;
    }
    if (p_pListener == nullptr) {
      return 0;
    }
    m_pListener = p_pListener;
    m_closedEvent.Reset();
    const platform::SocketHandle socket = platform::OpenSocket(platform::SocketType::kDatagram);
    if (socket == platform::kInvalidSocket) {
      Log(kClassName, kLogLevelWarning, "Create(): Socket creation failed with error code: %d",
          platform::GetLastSocketError());
      m_closedEvent.Set();
      return 0;
    }
    m_hSocket = socket;
    if (m_bMulticast) {
      Log(kClassName, kLogLevelInformation, "Create(): Multicast UDP socket created.");
      if (!platform::SetSocketReuseAddress(socket, true)) {
        Log(kClassName, kLogLevelWarning,
            "Create(): set socket option for SO_REUSEADDR failed with error %d",
            platform::GetLastSocketError());
      }
      if (!platform::SetSocketTimeToLive(socket, static_cast<int>(m_dwTtl))) {
        Log(kClassName, kLogLevelWarning,
            "Create(): set socket option for IP_TTL failed with error %d",
            platform::GetLastSocketError());
      }
    } else {
      Log(kClassName, kLogLevelTrace, "Create(): Socket creation succeeded.  handle: %lu",
          static_cast<unsigned long>(socket));
    }

    auto abandon = [this](SocketEventThread* p_pThread, int p_iSlot) {
      const int savedError = platform::GetLastSocketError();
      if (p_pThread != nullptr) {
        RemoveSocket(p_pThread, p_iSlot);
      }
      platform::CloseSocket(m_hSocket);
      m_hSocket = platform::kInvalidSocket;
      m_pEventThread = nullptr;
      m_pNetworkEvent = nullptr;
      m_iSlot = -1;
      m_closedEvent.Set();
      platform::SetLastSocketError(savedError);
    };

    NetworkEvent* event = nullptr;
    int slot = -1;
    SocketEventThread* thread = Attach(this, socket, &event, &slot);
    if (thread == nullptr) {
      Log(kClassName, kLogLevelError, "Create(): SocketEventThread::Attach() failed.");
      platform::SetLastSocketError(platform::winsock::kNoBufferSpace);
      abandon(nullptr, -1);
      return 0;
    }
    m_pEventThread = thread;
    m_pNetworkEvent = event;
    m_iSlot = slot;
    if (!platform::SelectNetworkEvents(event, socket,
                                       platform::kNetworkRead | platform::kNetworkWrite |
                                           platform::kNetworkClose)) {
      Log(kClassName, kLogLevelError, "Create(): WSAEvent Select failed with error code: %d",
          platform::GetLastSocketError());
      abandon(thread, slot);
      return 0;
    }
    m_bCreated = true;
    // The event model records no send event for a datagram socket until a
    // send would have blocked; this first one tells the listener it may send.
    PostOnSend(thread, slot);
    return m_dwSocketId;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Create", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Create", __FILE__, __LINE__);
  }
  return 0;
}

bool UdpNonBlockingClientSocket::IsCreated() {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    return m_bCreated && m_hSocket != platform::kInvalidSocket;
  } catch (...) {
    return false;
  }
}

bool UdpNonBlockingClientSocket::Bind(USHORT p_usPort, const IPAddress& p_address) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "Bind(): Calling Bind.");
    std::uint32_t address = 0;
    if (!platform::ParseIPv4Address(p_address.ToString(), &address)) {
      Log(kClassName, kLogLevelWarning, "Bind(): Invalid IP address.");
      platform::SetLastSocketError(platform::winsock::kAddressNotAvailable);
      return false;
    }
    if (!platform::BindSocket(m_hSocket, address, p_usPort)) {
      Log(kClassName, kLogLevelWarning, "Bind(): bind failed with code: %d",
          platform::GetLastSocketError());
      return false;
    }
    if (m_bMulticast) {
      if (!platform::SetSocketMulticastInterface(m_hSocket, address)) {
        Log(kClassName, kLogLevelWarning,
            "Bind(): Set socket option for IP_MULTICAST_IF for IP %s failed: %d",
            p_address.ToString().c_str(), platform::GetLastSocketError());
        return false;
      }
      std::uint32_t group = 0;
      platform::ParseIPv4Address(kMulticastGroup, &group);
      if (!platform::JoinSocketMulticastGroup(m_hSocket, group, address)) {
        Log(kClassName, kLogLevelWarning, "Bind(): Set socket option for IP_ADD_MEMBERSHIP failed: %d",
            platform::GetLastSocketError());
        return false;
      }
    }
    Log(kClassName, kLogLevelTrace, "Bind(): Bind succeeded.");
    return true;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Bind", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Bind", __FILE__, __LINE__);
  }
  return false;
}

DWORD UdpNonBlockingClientSocket::ReceiveFrom(BYTE* p_pBuffer, DWORD p_dwCapacity,
                                              USHORT& p_usPort, std::string& p_strAddress) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (p_pBuffer == nullptr || p_dwCapacity == 0) {
      platform::SetLastSocketError(platform::winsock::kBadAddress);
      return 0;
    }
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    const long received = platform::ReceiveFromSocket(m_hSocket, m_pNetworkEvent.load(), p_pBuffer,
                                                      p_dwCapacity, &address, &port);
    if (received < 0) {
      const int error = platform::GetLastSocketError();
      Log(kClassName, error == platform::winsock::kWouldBlock ? kLogLevelTrace : kLogLevelError,
          "ReceiveFrom(): recvfrom() failed with error code: %d.", error);
      return 0;
    }
    p_usPort = port;
    p_strAddress = platform::FormatIPv4Address(address);
    Log(kClassName, kLogLevelTrace, "ReceiveFrom(): Port = %lu, Address = %s",
        static_cast<unsigned long>(port), p_strAddress.c_str());
    return static_cast<DWORD>(received);
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "ReceiveFrom", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "ReceiveFrom", __FILE__, __LINE__);
  }
  return 0;
}

DWORD UdpNonBlockingClientSocket::ReceiveFrom(BYTE* p_pBuffer, DWORD p_dwCapacity,
                                              USHORT& p_usPort, IPAddress& p_address) {
  std::string address;
  const DWORD received = ReceiveFrom(p_pBuffer, p_dwCapacity, p_usPort, address);
  if (received > 0) {
    p_address.Set(address);
  }
  return received;
}

DWORD UdpNonBlockingClientSocket::SendTo(const BYTE* p_pData, DWORD p_dwLength, USHORT p_usPort,
                                         const IPAddress& p_address) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (!p_address.IsValid() || p_pData == nullptr || p_dwLength == 0) {
      Log(kClassName, kLogLevelWarning, "SendTo(): Invalid argument.");
      platform::SetLastSocketError(platform::winsock::kInvalidArgument);
      return 0;
    }
    std::uint32_t address = 0;
    if (!platform::ParseIPv4Address(p_address.ToString(), &address)) {
      Log(kClassName, kLogLevelWarning, "SendTo(): Hostname resolution not supported.");
      platform::SetLastSocketError(platform::winsock::kInvalidArgument);
      return 0;
    }
    Log(kClassName, kLogLevelTrace, "SendTo(): Port = %lu, Address = %s",
        static_cast<unsigned long>(p_usPort), p_address.ToString().c_str());
    const long sent = platform::SendToSocket(m_hSocket, m_pNetworkEvent.load(), p_pData,
                                             p_dwLength, address, p_usPort);
    if (sent < 0) {
      Log(kClassName, kLogLevelError, "SendTo(): sendto() failed with error code: %d.",
          platform::GetLastSocketError());
      return 0;
    }
    return static_cast<DWORD>(sent);
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "SendTo", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "SendTo", __FILE__, __LINE__);
  }
  return 0;
}

void UdpNonBlockingClientSocket::Close(bool p_bImmediate) {
  try {
    Log(kClassName, kLogLevelTrace, "Close(): Calling Close().");
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      // A datagram socket that never connected has nothing to shut down;
      // the failure is expected and only traced.
      if (!platform::ShutdownSocket(m_hSocket, platform::kShutdownBoth)) {
        Log(kClassName, kLogLevelTrace, "Close(): shutdown() failed with error code: %d.",
            platform::GetLastSocketError());
      }
      SocketEventThread* thread = m_pEventThread.load();
      if (!p_bImmediate && thread != nullptr) {
        Log(kClassName, kLogLevelTrace, "Close(): Calling PostOnClose().");
        if (PostOnClose(thread, m_iSlot)) {
          return;
        }
      }
    }
    while (!m_closedEvent.Wait(0)) {
      OnClose(0);
      m_closedEvent.Wait(kCloseWaitSlice);
    }
    Log(kClassName, kLogLevelTrace, "Close(): Socket should be closed.");
  } catch (...) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
  }
}

DWORD UdpNonBlockingClientSocket::GetLastSocketError() {
  return TranslateSocketError(platform::GetLastSocketError());
}

void UdpNonBlockingClientSocket::SetMulticast(bool p_bMulticast) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_bMulticast = p_bMulticast;
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "SetMulticast", __FILE__, __LINE__);
  }
}

void UdpNonBlockingClientSocket::SetTTL(DWORD p_dwTtl) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_dwTtl = p_dwTtl;
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "SetTTL", __FILE__, __LINE__);
  }
}

void UdpNonBlockingClientSocket::OnAccept(int) {}

void UdpNonBlockingClientSocket::OnConnect(int) {}

void UdpNonBlockingClientSocket::OnPostedConnect(DWORD) {}

void UdpNonBlockingClientSocket::OnReceive(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    // Re-arm so the datagram is announced again rather than forgotten.
    if (!lock.Abandoned()) {
      platform::NoteReceive(m_pNetworkEvent.load());
    }
    return;
  }
  if (m_hSocket == platform::kInvalidSocket) {
    return;
  }
  const DWORD result = TranslateSocketError(p_iError);
  Log(kClassName, kLogLevelTrace, "OnReceive(): Windows Error = %li, Generic Error = %lu.",
      static_cast<long>(p_iError), static_cast<unsigned long>(result));
  if (m_pListener != nullptr) {
    m_pListener->OnReceive(m_dwSocketId, result);
  }
}

void UdpNonBlockingClientSocket::OnSend(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      PostOnSend(m_pEventThread.load(), m_iSlot);
    }
    return;
  }
  if (m_hSocket == platform::kInvalidSocket) {
    return;
  }
  const DWORD result = TranslateSocketError(p_iError);
  Log(kClassName, kLogLevelTrace, "OnSend(): Windows Error = %li, Generic Error = %lu.",
      static_cast<long>(p_iError), static_cast<unsigned long>(result));
  if (m_pListener != nullptr) {
    m_pListener->OnSend(m_dwSocketId, result);
  }
}

void UdpNonBlockingClientSocket::OnClose(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      PostOnClose(m_pEventThread.load(), m_iSlot);
    }
    return;
  }
  try {
    if (m_hSocket == platform::kInvalidSocket) {
      m_closedEvent.Set();
      return;
    }
    CloseInProgress closing(&m_bCloseInProgress);
    const DWORD result = TranslateSocketError(p_iError);
    Log(kClassName, kLogLevelTrace, "OnClose(): Windows Error = %li, Generic Error = %lu.",
        static_cast<long>(p_iError), static_cast<unsigned long>(result));
    const platform::SocketHandle socket = m_hSocket;
    SocketEventThread* thread = m_pEventThread.exchange(nullptr);
    const int slot = m_iSlot;
    m_hSocket = platform::kInvalidSocket;
    m_pNetworkEvent = nullptr;
    m_iSlot = -1;
    m_bCreated = false;
    if (m_pListener != nullptr) {
      m_pListener->OnClose(m_dwSocketId, result);
    }
    if (!platform::CloseSocket(socket)) {
      Log(kClassName, kLogLevelError, "OnClose(): closesocket() failed with error code: %d.",
          platform::GetLastSocketError());
    }
    try {
      if (thread != nullptr) {
        RemoveSocket(thread, slot);
      }
    } catch (...) {
      Log(kClassName, kLogLevelWarning,
          "OnClose(): Thread detach failed because of unhandled exception");
    }
    if (m_hSocket == platform::kInvalidSocket) {
      m_closedEvent.Set();
    }
  } catch (...) {
    Log(kClassName, kLogLevelError, "OnClose(): Unhandled Exception");
  }
}

void UdpNonBlockingClientSocket::Detach() {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  m_pEventThread = nullptr;
  m_pNetworkEvent = nullptr;
}

SocketEventThread* UdpNonBlockingClientSocket::GetEventThread(int* p_piSlotIndex) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    return nullptr;
  }
  if (p_piSlotIndex != nullptr) {
    *p_piSlotIndex = m_iSlot;
  }
  return m_pEventThread.load();
}

}  // namespace KestNet
