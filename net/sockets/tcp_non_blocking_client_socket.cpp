#include "net/sockets/tcp_non_blocking_client_socket.h"

#include <cstdint>

#include "net/dns/dns.h"
#include "net/sockets/notification_lock.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "platform/net/socket_calls.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

namespace platform = kestnet::platform;

constexpr const char* kClassName = "TcpNonBlockingClientSocket";
constexpr DWORD kCloseWaitSlice = 500;
// The error a socket gives its own OnClose when a posted connect cannot go
// ahead; it is not in the translation table, so the listener reads
// SOCKET_GENERIC_ERROR.
constexpr int kPostedConnectFailure = 13;
// How long the socket's resolver waits for a name.
constexpr WORD kNameResolutionTimeout = 5000;

enum NotificationKind { kReceiveNotification, kSendNotification, kCloseNotification, kConnectNotification };

}  // namespace

TcpNonBlockingClientSocket::TcpNonBlockingClientSocket()
    : m_dwSocketId(reinterpret_cast<DWORD_PTR>(this)) {
  // A socket that was never opened counts as closed, so that Close(true)
  // on it returns at once.
  m_closedEvent.Set();
}

TcpNonBlockingClientSocket::~TcpNonBlockingClientSocket() {
  try {
    // A resolution still running is aborted here and reports to
    // OnResolveNameComplete while the socket is whole.
    m_pResolver.reset();
    bool open;
    {
      KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
      open = m_hSocket != platform::kInvalidSocket;
    }
    if (open) {
      TcpNonBlockingClientSocket::Close(true);
    }
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~TcpNonBlockingClientSocket");
  }
}

DWORD_PTR TcpNonBlockingClientSocket::Create(TcpNonBlockingSocketListener* p_pListener,
                                             USHORT p_usLocalPort,
                                             const IPAddress& p_localAddress) {
  try {
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
    m_closedEvent.Reset();

    const platform::SocketHandle socket = platform::OpenSocket(platform::SocketType::kStream);
    if (socket == platform::kInvalidSocket) {
      Log(kClassName, kLogLevelWarning, "Create(): Socket creation failed with error code: %d",
          platform::GetLastSocketError());
      m_closedEvent.Set();
      return 0;
    }
    Log(kClassName, kLogLevelTrace, "Create(): Socket creation succeeded.  handle: %lu",
        static_cast<unsigned long>(socket));
    m_hSocket = socket;

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
                                           platform::kNetworkAccept | platform::kNetworkConnect |
                                           platform::kNetworkClose)) {
      Log(kClassName, kLogLevelError, "Create(): WSAEvent Select failed with error code: %d",
          platform::GetLastSocketError());
      abandon(thread, slot);
      return 0;
    }
    if (p_usLocalPort != 0 && !Bind(p_usLocalPort, p_localAddress)) {
      Log(kClassName, kLogLevelWarning, "Create(): Bind failed.");
      abandon(thread, slot);
      return 0;
    }
    m_bCreated = true;
    return m_dwSocketId;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Create", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Create", __FILE__, __LINE__);
  }
  return 0;
}

bool TcpNonBlockingClientSocket::IsCreated() {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    return m_bCreated && m_hSocket != platform::kInvalidSocket;
  } catch (...) {
    return false;
  }
}

bool TcpNonBlockingClientSocket::Bind(USHORT p_usPort, const IPAddress& p_address) {
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
      Log(kClassName, kLogLevelWarning, "Bind(): Bind failed with code: %d",
          platform::GetLastSocketError());
      return false;
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

bool TcpNonBlockingClientSocket::Connect(const IPAddress& p_address, USHORT p_usPort) {
  if (!p_address.IsValid()) {
    Log(kClassName, kLogLevelWarning, "Connect(): Invalid argument.");
    platform::SetLastSocketError(platform::winsock::kInvalidArgument);
    return false;
  }
  return Connect(p_address.ToString(), p_usPort);
}

bool TcpNonBlockingClientSocket::Connect(const std::string& p_strHost, USHORT p_usPort) {
  try {
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
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Connect", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Connect", __FILE__, __LINE__);
  }
  return false;
}

void TcpNonBlockingClientSocket::StartNameResolution() {
  try {
    if (!m_pResolver) {
      m_pResolver = std::make_unique<Dns>();
      m_pResolver->SetListener(this);
    }
    // The outcome, whatever it is, arrives at OnResolveNameComplete.
    m_pResolver->ResolveNameAsync(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(m_strHostName),
                                  kNameResolutionTimeout, 0, 0);
    return;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "StartNameResolution", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "StartNameResolution", __FILE__, __LINE__);
  }
  // A name the resolver refuses ends the connect on the event thread.
  int slot = -1;
  SocketEventThread* thread = GetEventThread(&slot);
  if (thread == nullptr || !PostOnConnectAddress(thread, slot, kNoPostedValue)) {
    OnPostedConnect(kNoPostedValue);
  }
}

void TcpNonBlockingClientSocket::OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                                                       DnsRecordList& p_records) {
  (void)p_cstrwName;
  // An abort comes only from destroying the resolver with the socket.
  if (p_dwResult == DNS_ERROR_ABORT) {
    return;
  }
  DWORD dwAddress = kNoPostedValue;
  for (const DnsRecord& record : p_records) {
    if (record.type == kDnsRecordTypeA) {
      dwAddress = record.address.ToNetworkOrder();
      break;
    }
  }
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
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
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
  try {
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
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, p_szWho, exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, p_szWho, __FILE__, __LINE__);
  }
  return 0;
}

DWORD TcpNonBlockingClientSocket::Receive(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return ReceiveInternal(p_pBuffer, p_dwCapacity, false, "Receive");
}

DWORD TcpNonBlockingClientSocket::Peek(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return ReceiveInternal(p_pBuffer, p_dwCapacity, true, "Peek");
}

DWORD TcpNonBlockingClientSocket::Send(const BYTE* p_pData, DWORD p_dwLength) {
  try {
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
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Send", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Send", __FILE__, __LINE__);
  }
  return 0;
}

bool TcpNonBlockingClientSocket::ShutDown(int p_iHow) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "ShutDown(): Calling Shutdown() on socket %d", m_hSocket);
    if (!platform::ShutdownSocket(m_hSocket, p_iHow)) {
      Log(kClassName, kLogLevelTrace, "ShutDown(): shutdown() failed with error code: %d.",
          platform::GetLastSocketError());
      return false;
    }
    return true;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "ShutDown", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "ShutDown", __FILE__, __LINE__);
  }
  return false;
}

void TcpNonBlockingClientSocket::Close(bool p_bImmediate) {
  try {
    Log(kClassName, kLogLevelTrace, "Close(): Calling Close().");
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    if (m_hSocket != platform::kInvalidSocket) {
      Log(kClassName, kLogLevelTrace, "Close(): Calling Shutdown() on socket %d.", m_hSocket);
      platform::ShutdownSocket(m_hSocket, platform::kShutdownBoth);
      SocketEventThread* thread = m_pEventThread.load();
      // If the close cannot be posted it is completed here, so it is never lost.
      if (!p_bImmediate && thread != nullptr && PostOnClose(thread, m_iSlot)) {
        return;
      }
    }
    while (!m_closedEvent.Wait(0)) {
      OnClose(0);
      m_closedEvent.Wait(kCloseWaitSlice);
    }
  } catch (const KestBase::BaseException& exception) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
    KestLog::LogCaughtException(kClassName, "Close", exception);
  } catch (...) {
    Log(kClassName, kLogLevelError, "Close(): Unhandled exception.");
  }
}

bool TcpNonBlockingClientSocket::GetPeer(std::string& p_strAddress, USHORT& p_usPort) {
  try {
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
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "GetPeer", exception);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "GetPeer", __FILE__, __LINE__);
  }
  return false;
}

bool TcpNonBlockingClientSocket::GetPeer(IPAddress& p_address) {
  std::string address;
  USHORT port = 0;
  if (!GetPeer(address, port)) {
    return false;
  }
  return p_address.Set(address);
}

DWORD TcpNonBlockingClientSocket::GetLastSocketError() {
  return TranslateSocketError(platform::GetLastSocketError());
}

void TcpNonBlockingClientSocket::SetListener(TcpNonBlockingSocketListener* p_pListener) {
  try {
    KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
    m_pListener = p_pListener;
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "SetListener", __FILE__, __LINE__);
  }
}

void TcpNonBlockingClientSocket::RecoverDroppedNotification(int p_iWhich, int p_iError) {
  // Nothing of the socket is touched without its mutex: the network-event
  // record re-arms itself, posted events go through the slot.
  int slot = m_iSlot;
  SocketEventThread* thread = m_pEventThread.load();
  switch (p_iWhich) {
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
    default:
      break;
  }
}

void TcpNonBlockingClientSocket::OnAccept(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held() || m_pListener == nullptr) {
    return;
  }
  m_pListener->OnAccept(m_dwSocketId, TranslateSocketError(p_iError));
}

void TcpNonBlockingClientSocket::OnConnect(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      RecoverDroppedNotification(kConnectNotification, p_iError);
    }
    return;
  }
  if (m_hSocket == platform::kInvalidSocket) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnConnect(): Calling OnConnect with errorcode %d", p_iError);
  m_bConnecting = false;
  if (m_pListener != nullptr) {
    m_pListener->OnConnect(m_dwSocketId, TranslateSocketError(p_iError));
  }
  if (m_bReceiveWhileConnecting) {
    m_bReceiveWhileConnecting = false;
    if (m_pListener != nullptr && m_hSocket != platform::kInvalidSocket) {
      m_pListener->OnReceive(m_dwSocketId, SOCKET_NO_ERROR);
    }
  }
}

void TcpNonBlockingClientSocket::OnReceive(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      RecoverDroppedNotification(kReceiveNotification, p_iError);
    }
    return;
  }
  if (m_hSocket == platform::kInvalidSocket) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnReceive(): Calling OnReceive with errorcode %d", p_iError);
  if (m_bConnecting) {
    m_bReceiveWhileConnecting = true;
    return;
  }
  if (m_pListener != nullptr) {
    m_pListener->OnReceive(m_dwSocketId, TranslateSocketError(p_iError));
  }
}

void TcpNonBlockingClientSocket::OnSend(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  if (!lock.Held()) {
    if (!lock.Abandoned()) {
      RecoverDroppedNotification(kSendNotification, p_iError);
    }
    return;
  }
  if (m_hSocket == platform::kInvalidSocket) {
    return;
  }
  Log(kClassName, kLogLevelTrace, "OnSend(): Calling OnSend with errorcode %d", p_iError);
  if (m_pListener != nullptr) {
    m_pListener->OnSend(m_dwSocketId, TranslateSocketError(p_iError));
  }
}

void TcpNonBlockingClientSocket::OnClose(int p_iError) {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
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
    Log(kClassName, kLogLevelTrace, "OnClose(): OnClose Begin");
    CloseInProgress closing(&m_bCloseInProgress);
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
    m_bConnecting = false;
    m_bReceiveWhileConnecting = false;
    if (m_pListener != nullptr) {
      m_pListener->OnClose(m_dwSocketId, TranslateSocketError(p_iError));
    }
    Log(kClassName, kLogLevelTrace, "OnClose(): Calling closesocket() on socket %d.", socket);
    if (!platform::CloseSocket(socket)) {
      const int error = platform::GetLastSocketError();
      if (error == platform::winsock::kNotSocket) {
        Log(kClassName, kLogLevelTrace, "OnClose(): closesocket() returned already closed.");
      } else {
        Log(kClassName, kLogLevelError, "OnClose(): closesocket() failed with error code: %d.",
            error);
      }
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

void TcpNonBlockingClientSocket::Detach() {
  NotificationLock lock(&m_mutex, &m_bCloseInProgress);
  m_pEventThread = nullptr;
  m_pNetworkEvent = nullptr;
}

SocketEventThread* TcpNonBlockingClientSocket::GetEventThread(int* p_piSlotIndex) {
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
