#include "net/sockets/tcp_non_blocking_client_socket.h"

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

constexpr const char* kClassName = "TcpNonBlockingClientSocket";
constexpr SocketLogTraits kLogTraits{kClassName, true, "Bind(): Bind failed with code: %d"};
// The error a socket gives its own OnClose when a posted connect cannot go
// ahead; it is not in the translation table, so the listener reads
// SOCKET_GENERIC_ERROR.
constexpr int kPostedConnectFailure = 13;
// How long the socket's resolver waits for a name.
constexpr DWORD kNameResolutionTimeout = 5000;

}  // namespace

TcpNonBlockingClientSocket::TcpNonBlockingClientSocket() : NonBlockingSocket(kLogTraits) {}

TcpNonBlockingClientSocket::~TcpNonBlockingClientSocket() {
  try {
    // A resolution still running is aborted here and reports to
    // OnNameResolved while the socket is whole.
    m_pResolver.reset();
    if (HasHandle()) {
      TcpNonBlockingClientSocket::Close(true);
    }
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~TcpNonBlockingClientSocket");
  }
}

DWORD_PTR TcpNonBlockingClientSocket::Create(TcpNonBlockingSocketListener* p_pListener,
                                             USHORT p_usLocalPort,
                                             const IPAddress& p_localAddress) {
  return Guarded(kClassName, "Create", DWORD_PTR{0}, [&]() -> DWORD_PTR {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      Log(kClassName, kLogLevelWarning, "Create(): Socket already created.");
      return 0;
    }
    if (p_pListener == nullptr) {
      return 0;
    }
    m_pListener = p_pListener;
    m_strHostName.clear();
    m_bConnecting = false;
    m_bReceiveWhileConnecting = false;
    if (!OpenHandle(platform::SocketType::kStream)) {
      return 0;
    }
    Log(kClassName, kLogLevelTrace, "Create(): Socket creation succeeded.  handle: %lu",
        static_cast<unsigned long>(m_hSocket));
    if (!AttachHandle(platform::kNetworkRead | platform::kNetworkWrite | platform::kNetworkAccept |
                      platform::kNetworkConnect | platform::kNetworkClose)) {
      return 0;
    }
    if (p_usLocalPort != 0 && !Bind(p_usLocalPort, p_localAddress)) {
      Log(kClassName, kLogLevelWarning, "Create(): Bind failed.");
      AbandonHandle();
      return 0;
    }
    m_bCreated = true;
    return GetSocketId();
  });
}

bool TcpNonBlockingClientSocket::Bind(USHORT p_usPort, const IPAddress& p_address) {
  return Guarded(kClassName, "Bind", false, [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    std::uint32_t address = 0;
    if (!BindHandle(p_usPort, p_address, &address)) {
      return false;
    }
    Log(kClassName, kLogLevelTrace, "Bind(): Bind succeeded.");
    return true;
  });
}

// A TCP option on the created socket, under the socket mutex.
bool TcpNonBlockingClientSocket::SetTcpOption(const char* p_szWho, bool (*p_set)(platform::SocketHandle, bool),
                                              bool p_bOn) {
  return Guarded(kClassName, p_szWho, false, [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket == platform::kInvalidSocket) {
      platform::SetLastSocketError(platform::winsock::kNotSocket);
      return false;
    }
    return p_set(m_hSocket, p_bOn);
  });
}

bool TcpNonBlockingClientSocket::SetNoDelay(bool p_bNoDelay) {
  return SetTcpOption("SetNoDelay", platform::SetSocketNoDelay, p_bNoDelay);
}

bool TcpNonBlockingClientSocket::SetCork(bool p_bCork) {
  return SetTcpOption("SetCork", platform::SetSocketCork, p_bCork);
}

bool TcpNonBlockingClientSocket::Connect(const IPAddress& p_address, USHORT p_usPort) {
  if (!p_address.IsValid()) {
    Log(kClassName, kLogLevelWarning, "Connect(): Invalid argument.");
    platform::SetLastSocketError(platform::winsock::kInvalidArgument);
    return false;
  }
  return Connect(p_address.ToString(), p_usPort);
}

bool TcpNonBlockingClientSocket::Connect(const std::string& p_strHost, USHORT p_usPort) {
  return Guarded(kClassName, "Connect", false, [&] {
    {
      KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
      if (m_hSocket == platform::kInvalidSocket) {
        // Without a socket no notification could ever report the outcome.
        platform::SetLastSocketError(platform::winsock::kNotSocket);
        return false;
      }
      m_usPort = p_usPort;
      m_bConnecting = true;
      m_bReceiveWhileConnecting = false;
      Log(kClassName, kLogLevelTrace, "Connect(): Calling Connect.");
      std::uint32_t address = 0;
      // "255.255.255.255" is what the classic address parser returns for an
      // error, so it is never taken as an address here.
      if (p_strHost != "255.255.255.255" && platform::ParseIPv4Address(p_strHost, &address)) {
        const bool started = FinishConnect(address);
        if (!started) {
          m_bConnecting = false;
        }
        return started;
      }
      m_strHostName = p_strHost;
    }
    StartNameResolution();
    return true;
  });
}

void TcpNonBlockingClientSocket::StartNameResolution() {
  const bool started = Guarded(kClassName, "StartNameResolution", false, [&] {
    if (!m_pResolver) {
      const NameResolverFactory factory = GetNameResolverFactory();
      if (factory == nullptr) {
        Log(kClassName, kLogLevelWarning, "StartNameResolution(): No name resolver is installed.");
        return false;
      }
      m_pResolver = factory(this);
    }
    // The outcome, whatever it is, arrives at OnNameResolved.
    m_pResolver->ResolveAsync(m_strHostName, kNameResolutionTimeout);
    return true;
  });
  if (started) {
    return;
  }
  // A name the resolver refuses ends the connect on the event thread.
  int slot = -1;
  SocketEventThread* thread = GetEventThread(&slot);
  if (thread == nullptr || !PostOnConnectAddress(thread, slot, kNoPostedValue)) {
    OnPostedConnect(kNoPostedValue);
  }
}

void TcpNonBlockingClientSocket::OnNameResolved(const std::string&, NameResolutionResult p_result,
                                                const IPv4AddressList& p_addresses) {
  // An abort comes only from destroying the resolver with the socket.
  if (p_result == NameResolutionResult::kAborted) {
    return;
  }
  const DWORD dwAddress = p_addresses.empty() ? kNoPostedValue : p_addresses.front().ToNetworkOrder();
  int slot = -1;
  SocketEventThread* thread = GetEventThread(&slot);
  // No event thread: the socket was closed meanwhile and has nothing to connect.
  if (thread != nullptr && !PostOnConnectAddress(thread, slot, dwAddress)) {
    OnPostedConnect(kNoPostedValue);
  }
}

bool TcpNonBlockingClientSocket::FinishConnect(DWORD p_dwAddress) {
  Log(kClassName, kLogLevelTrace, "FinishConnect(): FinishConnect begin.");
  if (platform::ConnectSocket(m_hSocket, m_pNetworkEvent.load(), p_dwAddress, m_usPort) == 0) {
    Log(kClassName, kLogLevelTrace, "FinishConnect(): Connect returned immediately.");
    PostOnConnect(m_pEventThread.load(), m_iSlot);
    return true;
  }
  const int error = platform::GetLastSocketError();
  if (error == platform::winsock::kWouldBlock) {
    Log(kClassName, kLogLevelTrace, "FinishConnect(): Connect returned would block.");
    return true;
  }
  Log(kClassName, kLogLevelTrace, "FinishConnect(): Connect failed with error code %d, handle %d",
      error, m_hSocket);
  return false;
}

void TcpNonBlockingClientSocket::OnPostedConnect(DWORD p_dwAddress) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!lock.Held()) {
    return;
  }
  if (p_dwAddress != kNoPostedValue && m_hSocket != platform::kInvalidSocket &&
      FinishConnect(p_dwAddress)) {
    return;
  }
  OnClose(kPostedConnectFailure);
}

DWORD TcpNonBlockingClientSocket::ReceiveInternal(BYTE* p_pBuffer, DWORD p_dwCapacity,
                                                  bool p_bPeek, const char* p_szWho) {
  return Guarded(kClassName, p_szWho, DWORD{0}, [&]() -> DWORD {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (p_pBuffer == nullptr || p_dwCapacity == 0) {
      platform::SetLastSocketError(platform::winsock::kBadAddress);
      return 0;
    }
    const long received = platform::ReceiveSocket(m_hSocket, m_pNetworkEvent.load(), p_pBuffer,
                                                  p_dwCapacity, p_bPeek);
    if (received < 0) {
      const int error = platform::GetLastSocketError();
      // Would-block is the normal end of a receive loop, not an error.
      Log(kClassName, error == platform::winsock::kWouldBlock ? kLogLevelTrace : kLogLevelError,
          p_bPeek ? "Peek(): recv() failed with error code: %d."
                  : "Receive(): recv() failed with error code: %d.",
          error);
      return 0;
    }
    if (received == 0) {
      platform::SetLastSocketError(platform::winsock::kNoError);
    }
    return static_cast<DWORD>(received);
  });
}

DWORD TcpNonBlockingClientSocket::Receive(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return ReceiveInternal(p_pBuffer, p_dwCapacity, false, "Receive");
}

DWORD TcpNonBlockingClientSocket::Peek(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return ReceiveInternal(p_pBuffer, p_dwCapacity, true, "Peek");
}

DWORD TcpNonBlockingClientSocket::Send(const BYTE* p_pData, DWORD p_dwLength) {
  return Guarded(kClassName, "Send", DWORD{0}, [&]() -> DWORD {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (p_pData == nullptr || p_dwLength == 0) {
      platform::SetLastSocketError(platform::winsock::kBadAddress);
      return 0;
    }
    const long sent = platform::SendSocket(m_hSocket, m_pNetworkEvent.load(), p_pData, p_dwLength);
    if (sent < 0) {
      const int error = platform::GetLastSocketError();
      Log(kClassName, error == platform::winsock::kWouldBlock ? kLogLevelTrace : kLogLevelError,
          "Send(): send() failed with error code: %d.", error);
      return 0;
    }
    return static_cast<DWORD>(sent);
  });
}

bool TcpNonBlockingClientSocket::ShutDown(int p_iHow) {
  return Guarded(kClassName, "ShutDown", false, [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "ShutDown(): Calling Shutdown() on socket %d", m_hSocket);
    if (!platform::ShutdownSocket(m_hSocket, p_iHow)) {
      Log(kClassName, kLogLevelTrace, "ShutDown(): shutdown() failed with error code: %d.",
          platform::GetLastSocketError());
      return false;
    }
    return true;
  });
}

void TcpNonBlockingClientSocket::Close(bool p_bImmediate) {
  // Close's own ladder: every failure first says that Close failed.
  try {
    Log(kClassName, kLogLevelTrace, "Close(): Calling Close().");
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      Log(kClassName, kLogLevelTrace, "Close(): Calling Shutdown() on socket %d.", m_hSocket);
      platform::ShutdownSocket(m_hSocket, platform::kShutdownBoth);
      // If the close cannot be posted it is completed here, so it is never lost.
      if (!p_bImmediate && PostClose()) {
        return;
      }
    }
    CloseOnThisThread();
  } catch (const KestBase::BaseException& exception) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
    KestLog::LogCaughtException(kClassName, "Close", exception);
  } catch (...) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
  }
}

bool TcpNonBlockingClientSocket::GetPeer(std::string& p_strAddress, USHORT& p_usPort) {
  return Guarded(kClassName, "GetPeer", false, [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "GetPeer(): Calling GetPeer.");
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (!platform::GetSocketPeer(m_hSocket, &address, &port)) {
      Log(kClassName, kLogLevelTrace, "GetPeer(): getpeername() failed with error code: %d.",
          platform::GetLastSocketError());
      return false;
    }
    p_strAddress = platform::FormatIPv4Address(address);
    p_usPort = port;
    return true;
  });
}

bool TcpNonBlockingClientSocket::GetPeer(IPAddress& p_address) {
  std::string address;
  USHORT port = 0;
  if (!GetPeer(address, port)) {
    return false;
  }
  return p_address.Set(address);
}

void TcpNonBlockingClientSocket::SetListener(TcpNonBlockingSocketListener* p_pListener) {
  Guarded(kClassName, "SetListener", [&] {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_pListener = p_pListener;
  });
}

void TcpNonBlockingClientSocket::OnAccept(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!lock.Held() || m_pListener == nullptr) {
    return;
  }
  m_pListener->OnAccept(GetSocketId(), TranslateSocketError(p_iError));
}

void TcpNonBlockingClientSocket::OnConnect(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!EnterNotification(lock, kConnectNotification, p_iError)) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnConnect(): Calling OnConnect with errorcode %d", p_iError);
  m_bConnecting = false;
  if (m_pListener != nullptr) {
    m_pListener->OnConnect(GetSocketId(), TranslateSocketError(p_iError));
  }
  if (m_bReceiveWhileConnecting) {
    m_bReceiveWhileConnecting = false;
    if (m_pListener != nullptr && m_hSocket != platform::kInvalidSocket) {
      m_pListener->OnReceive(GetSocketId(), SOCKET_NO_ERROR);
    }
  }
}

void TcpNonBlockingClientSocket::OnReceive(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!EnterNotification(lock, kReceiveNotification, p_iError)) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceive(): Calling OnReceive with errorcode %d", p_iError);
  if (m_bConnecting) {
    m_bReceiveWhileConnecting = true;
    return;
  }
  if (m_pListener != nullptr) {
    m_pListener->OnReceive(GetSocketId(), TranslateSocketError(p_iError));
  }
}

void TcpNonBlockingClientSocket::OnSend(int p_iError) {
  NotificationLock lock(&m_mutex, &m_closeInProgress);
  if (!EnterNotification(lock, kSendNotification, p_iError)) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnSend(): Calling OnSend with errorcode %d", p_iError);
  if (m_pListener != nullptr) {
    m_pListener->OnSend(GetSocketId(), TranslateSocketError(p_iError));
  }
}

void TcpNonBlockingClientSocket::BeginClose(int, DWORD) {
  Log(kClassName, kLogLevelTrace, "OnClose(): OnClose Begin");
  m_bConnecting = false;
  m_bReceiveWhileConnecting = false;
}

void TcpNonBlockingClientSocket::NotifyClose(DWORD p_dwResult) {
  if (m_pListener != nullptr) {
    m_pListener->OnClose(GetSocketId(), p_dwResult);
  }
}

}  // namespace KestNet
