#include "net/sockets/udp_non_blocking_client_socket.h"

#include <cstdint>

#include "net/sockets/notification_lock.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "platform/net/socket_calls.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/guarded_call.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

namespace platform = kestnet::platform;

using KestBase::Guarded;

constexpr const char* kClassName = "UdpNonBlockingClientSocket";
constexpr SocketLogTraits kLogTraits{kClassName, false, "Bind(): bind failed with code: %d"};
// The group a multicast socket joins when it is bound (SSDP's group).
constexpr const char* kMulticastGroup = "239.255.255.250";

}  // namespace

UdpNonBlockingClientSocket::UdpNonBlockingClientSocket() : NonBlockingSocket(kLogTraits) {}

UdpNonBlockingClientSocket::~UdpNonBlockingClientSocket() {
  try {
    if (HasHandle()) {
      UdpNonBlockingClientSocket::Close(true);
    }
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~UdpNonBlockingClientSocket");
  }
}

DWORD_PTR UdpNonBlockingClientSocket::Create(UdpNonBlockingSocketListener* p_pListener) {
  return Guarded(kClassName, "Create", DWORD_PTR{0}, [&]() -> DWORD_PTR {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      Log(kClassName, kLogLevelError, "Create(): Socket already created.");
      return 0;
    }
    if (p_pListener == nullptr) {
      return 0;
    }
    m_pListener = p_pListener;
    if (!OpenHandle(platform::SocketType::kDatagram)) {
      return 0;
    }
    if (m_bMulticast) {
      Log(kClassName, kLogLevelInformation, "Create(): Multicast UDP socket created.");
      if (!platform::SetSocketReuseAddress(m_hSocket, true)) {
        Log(kClassName, kLogLevelWarning,
            "Create(): set socket option for SO_REUSEADDR failed with error %d",
            platform::GetLastSocketError());
      }
      if (!platform::SetSocketTimeToLive(m_hSocket, static_cast<int>(m_dwTtl))) {
        Log(kClassName, kLogLevelWarning,
            "Create(): set socket option for IP_TTL failed with error %d",
            platform::GetLastSocketError());
      }
    } else {
      Log(kClassName, kLogLevelTrace, "Create(): Socket creation succeeded.  handle: %lu",
          static_cast<unsigned long>(m_hSocket));
    }
    if (!AttachHandle(platform::kNetworkRead | platform::kNetworkWrite | platform::kNetworkClose)) {
      return 0;
    }
    m_bCreated = true;
    // The event model records no send event for a datagram socket until a
    // send would have blocked; this first one tells the listener it may send.
    PostOnSend(m_pEventThread.load(), m_iSlot);
    return GetSocketId();
  });
}

bool UdpNonBlockingClientSocket::Bind(USHORT p_usPort, const IPAddress& p_address) {
  return Guarded(kClassName, "Bind", false, [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    std::uint32_t address = 0;
    if (!BindHandle(p_usPort, p_address, &address)) {
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
  });
}

DWORD UdpNonBlockingClientSocket::ReceiveFrom(BYTE* p_pBuffer, DWORD p_dwCapacity,
                                              USHORT& p_usPort, std::string& p_strAddress) {
  return Guarded(kClassName, "ReceiveFrom", DWORD{0}, [&]() -> DWORD {
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
  });
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
  return Guarded(kClassName, "SendTo", DWORD{0}, [&]() -> DWORD {
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
  });
}

void UdpNonBlockingClientSocket::Close(bool p_bImmediate) {
  // Close's own ladder: every failure says that Close failed.
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
      if (!p_bImmediate && m_pEventThread.load() != nullptr) {
        Log(kClassName, kLogLevelTrace, "Close(): Calling PostOnClose().");
        if (PostClose()) {
          return;
        }
      }
    }
    CloseOnThisThread();
    Log(kClassName, kLogLevelTrace, "Close(): Socket should be closed.");
  } catch (...) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
  }
}

void UdpNonBlockingClientSocket::SetMulticast(bool p_bMulticast) {
  Guarded(kClassName, "SetMulticast", [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_bMulticast = p_bMulticast;
  });
}

void UdpNonBlockingClientSocket::SetTTL(DWORD p_dwTtl) {
  Guarded(kClassName, "SetTTL", [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_dwTtl = p_dwTtl;
  });
}

void UdpNonBlockingClientSocket::OnAccept(int) {}

void UdpNonBlockingClientSocket::OnConnect(int) {}

void UdpNonBlockingClientSocket::OnPostedConnect(DWORD) {}

void UdpNonBlockingClientSocket::OnReceive(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!EnterNotification(lock, kReceiveNotification, p_iError)) {
    return;
  }
  const DWORD result = TranslateSocketError(p_iError);
  Log(kClassName, kLogLevelTrace, "OnReceive(): Windows Error = %li, Generic Error = %lu.",
      static_cast<long>(p_iError), static_cast<unsigned long>(result));
  if (m_pListener != nullptr) {
    m_pListener->OnReceive(GetSocketId(), result);
  }
}

void UdpNonBlockingClientSocket::OnSend(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!EnterNotification(lock, kSendNotification, p_iError)) {
    return;
  }
  const DWORD result = TranslateSocketError(p_iError);
  Log(kClassName, kLogLevelTrace, "OnSend(): Windows Error = %li, Generic Error = %lu.",
      static_cast<long>(p_iError), static_cast<unsigned long>(result));
  if (m_pListener != nullptr) {
    m_pListener->OnSend(GetSocketId(), result);
  }
}

void UdpNonBlockingClientSocket::BeginClose(int p_iError, DWORD p_dwResult) {
  Log(kClassName, kLogLevelTrace, "OnClose(): Windows Error = %li, Generic Error = %lu.",
      static_cast<long>(p_iError), static_cast<unsigned long>(p_dwResult));
}

void UdpNonBlockingClientSocket::NotifyClose(DWORD p_dwResult) {
  if (m_pListener != nullptr) {
    m_pListener->OnClose(GetSocketId(), p_dwResult);
  }
}

}  // namespace KestNet
