#include "automation/tcp_client_socket_object.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/module.h"
#include "net/dns/dns.h"
#include "net/dns/dns_name_resolver.h"
#include "net/sockets/ip_address.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_result.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/bstr.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

using KestNet::TcpNonBlockingLineSocket;
using KestUtilsLib::StringConversion;

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNet::TcpClientSocket", "KestNetTcpClientSocket", &CLSID_KestNetTcpClientSocket};

constexpr ULONG kHighestPort = 65535;

std::wstring_view ViewOf(BSTR text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text));
}

// Ports are compared as unsigned, so a negative port is out of range too.
bool IsValidPort(LONG port) { return static_cast<ULONG>(port) <= kHighestPort; }

// A record, or null when memory ran out (the caller logs its own words).
template <class Record, typename... Args>
Record* MakeRecord(Args&&... args) noexcept {
  try {
    return new Record(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// The constant getters answer a null pointer with E_INVALIDARG and nothing
// else: they are read by scripts as plain constants and never log.
HRESULT GetSocketResultConstant(LONG* pVal, DWORD value) {
  if (pVal == nullptr) return E_INVALIDARG;
  *pVal = static_cast<LONG>(value);
  return S_OK;
}

BSTR AllocateEventText(const std::wstring& text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);
  return copy;
}

}  // namespace

LONG ClampBlockingTestDnsTimeout(LONG timeout) {
  return std::clamp(timeout, kBlockingTestMinimumDnsTimeout, kBlockingTestMaximumDnsTimeout);
}

// ---------------------------------------------------------------------------
// The blocking test's listener.

void CTcpClientSocket::TestSocketListener::Arm() {
  m_bFinished.store(false);
  m_dwResult.store(1);
  m_event.Reset();
}

void CTcpClientSocket::TestSocketListener::Finish(DWORD p_dwResult) {
  bool expected = false;
  if (!m_bFinished.compare_exchange_strong(expected, true)) return;
  m_dwResult.store(p_dwResult);
  m_event.Set();
}

void CTcpClientSocket::TestSocketListener::OnConnect(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  Finish(p_dwResult);
}

void CTcpClientSocket::TestSocketListener::OnClose(TcpNonBlockingLineSocket*, DWORD p_dwResult) {
  // A name that does not resolve, or a refusal, may end the attempt with a
  // close and no connect: that is a failed attempt, whatever code it carries.
  Finish(p_dwResult != KestNet::SOCKET_NO_ERROR ? p_dwResult : KestNet::SOCKET_GENERIC_ERROR);
}

// ---------------------------------------------------------------------------
// Construction and release.

CTcpClientSocket::CTcpClientSocket() : CTcpClientSocketEventsProxy(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CTcpClientSocket", LifecycleStep::Constructor, [&] {
    // The main socket connects by name through the system's resolver.
    KestNet::InstallDnsNameResolution();
    m_bSocketsInitialized = KestNet::InitializeSockets();
    if (!m_bSocketsInitialized) {
      // Every later socket creation fails and says so; the object itself stays usable.
      Log(kIdentity.className, kLogLevelWarning, "CTcpClientSocket():  Error - The socket layer could not be started.");
    }
  });
}

CTcpClientSocket::~CTcpClientSocket() {
  GuardedLifecycle(kIdentity, "~CTcpClientSocket", LifecycleStep::Destructor, [&] { ReleaseEngines(); });
}

void CTcpClientSocket::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] { ReleaseEngines(); });
}

void CTcpClientSocket::ReleaseEngines() {
  // The window goes first: a socket closed below still tells this object,
  // and what it posts then is dropped instead of fired into a dying object.
  DestroyAsyncEventWindow();
  m_pMainSocket.reset();
  m_pTestSocket.reset();
  m_pTestResolver.reset();
  if (m_bSocketsInitialized) {
    m_bSocketsInitialized = false;
    KestNet::UninitializeSockets();
  }
}

// ---------------------------------------------------------------------------
// Methods.

STDMETHODIMP CTcpClientSocket::Connect(BSTR Target, LONG Port) {
  return GuardedMethod(kIdentity, "Connect", [&] {
    if (!IsValidPort(Port)) RejectParameter(kIdentity, "Connect", "p_nPort");
    if (m_state.load() != kTcpStateIdle) {
      Log(kIdentity.className, kLogLevelWarning,
          "Connect() - Error: Attempting to connect while connected or while a connection attempt is pending.");
      throw KestBase::InvalidOperationException();
    }
    const std::wstring target(ViewOf(Target));
    SetTargetHost(target);
    if (target.empty()) RejectParameter(kIdentity, "Connect", "p_strAddress");
    const std::string narrowTarget = StringConversion::ConvertCAtlStringWToANSI(target);

    EnsureMainSocket();
    m_state.store(kTcpStateConnectPending);
    if (!m_pMainSocket->Connect(narrowTarget, static_cast<USHORT>(Port))) {
      Log(kIdentity.className, kLogLevelWarning, "Connect() - TcpNonBlockingLineSocket::Connect() failed.");
      // The attempt never started, so no notification will ever end it:
      // the object goes back to idle at once (the caller has its error) and
      // the socket, of no further use, is closed without an event.
      RetireMainSocket();
      m_state.store(kTcpStateIdle);
      throw KestBase::InvalidObjectException();
    }
  });
}

STDMETHODIMP CTcpClientSocket::Close() {
  return GuardedMethod(kIdentity, "Close", [&] {
    if (m_state.load() == kTcpStateIdle) {
      // Closing an idle object still answers with OnClose(0).
      PostRecord(kTcpOnCloseEventId, MakeRecord<COnCloseData>(KestNet::SOCKET_NO_ERROR),
                 "Close() - Out of memory: Unable to allocate OnClose data structure");
      return;
    }
    if (m_pMainSocket == nullptr || !m_pMainSocket->IsCreated()) {
      // IsCreated waits for a notification in progress. A connection that
      // ended on its own just now (the peer closed) has gone back to idle,
      // and its own event reports the end: nothing is left to close.
      if (m_pMainSocket != nullptr && m_state.load() == kTcpStateIdle) return;
      Log(kIdentity.className, kLogLevelWarning, "Close() - The underlying socket is invalid.");
      throw KestBase::InvalidObjectException();
    }
    m_state.store(kTcpStateConnected);
    // The close completes on the event thread, whose close callback fires OnClose.
    m_pMainSocket->Close(false);
  });
}

STDMETHODIMP CTcpClientSocket::BlockingSocketTest(BSTR Target, LONG Port, LONG Timeout, VARIANT_BOOL* pResult) {
  return GuardedMethod(kIdentity, "BlockingSocketTest", [&] {
    CheckOutputPointer(kIdentity, "BlockingSocketTest", pResult);
    if (!IsValidPort(Port)) RejectParameter(kIdentity, "BlockingSocketTest", "p_nPort");
    // A negative time-out would turn into an endless wait of the script's
    // thread; an empty target names nothing to test.
    if (Timeout < 0) RejectParameter(kIdentity, "BlockingSocketTest", "p_nTimeout");
    const std::wstring target(ViewOf(Target));
    if (target.empty()) RejectParameter(kIdentity, "BlockingSocketTest", "p_strAddress");
    const std::string narrowTarget = StringConversion::ConvertCAtlStringWToANSI(target);

    EnsureTestSocket();
    *pResult = VARIANT_FALSE;
    const std::string address = ResolveBlockingTestTarget(narrowTarget, Timeout);
    if (address.empty()) return;
    if (RunBlockingConnect(address, static_cast<USHORT>(Port), Timeout)) *pResult = VARIANT_TRUE;
  });
}

STDMETHODIMP CTcpClientSocket::get_SOCKET_NO_ERROR(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_NO_ERROR);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_GENERIC_ERROR(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_GENERIC_ERROR);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_OS_LAYER_NOT_INITIALIZED(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_OS_LAYER_NOT_INITIALIZED);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_OS_FAILURE(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_OS_FAILURE);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_ADDR_IN_USE(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_ADDR_IN_USE);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_INVALID_STATE(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_INVALID_STATE);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_INVALID_ARG(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_INVALID_ARG);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_CONNECT_REFUSED(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_CONNECT_REFUSED);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_DEST_UNREACHABLE(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_DEST_UNREACHABLE);
}
STDMETHODIMP CTcpClientSocket::get_SOCKET_TIMEOUT(LONG* pVal) {
  return GetSocketResultConstant(pVal, KestNet::SOCKET_TIMEOUT);
}

// ---------------------------------------------------------------------------
// The main socket.

void CTcpClientSocket::EnsureMainSocket() {
  // Connect comes here only while idle, when an open socket can only be one
  // whose attempt failed: it is not connected to anything and is not used again.
  if (m_pMainSocket != nullptr && m_pMainSocket->IsCreated()) RetireMainSocket();
  if (m_pMainSocket == nullptr) m_pMainSocket.reset(new (std::nothrow) TcpNonBlockingLineSocket());
  if (m_pMainSocket != nullptr && !m_pMainSocket->IsCreated() && m_pMainSocket->Create(this) != 0) {
    // Nothing here reads lines: announcing each one would be wasted work.
    m_pMainSocket->SetLineMode(false);
  }
  if (m_pMainSocket == nullptr || !m_pMainSocket->IsCreated()) {
    Log(kIdentity.className, kLogLevelWarning, "Connect() - The underlying socket is invalid.");
    throw KestBase::InvalidObjectException();
  }
}

void CTcpClientSocket::RetireMainSocket() {
  m_pRetiringSocket.store(m_pMainSocket.get());
  // Synchronous: its close callback has run (and been passed over) on return,
  // and nothing more of that socket reaches this object.
  m_pMainSocket->Close(true);
  m_pRetiringSocket.store(nullptr);
}

bool CTcpClientSocket::IsRetiring(TcpNonBlockingLineSocket* p_pSocket) const {
  return p_pSocket != nullptr && p_pSocket == m_pRetiringSocket.load();
}

void CTcpClientSocket::SetTargetHost(const std::wstring& p_strTarget) {
  std::lock_guard<std::mutex> lock(m_targetLock);
  m_strTargetHost = p_strTarget;
}

std::wstring CTcpClientSocket::GetTargetHost() {
  std::lock_guard<std::mutex> lock(m_targetLock);
  return m_strTargetHost;
}

void CTcpClientSocket::PostRecord(DWORD eventId, KestBase::CAsyncEventData* record, const char* outOfMemoryMessage) {
  if (record == nullptr) {
    Log(kIdentity.className, kLogLevelWarning, "%s", outOfMemoryMessage);
    return;
  }
  PostAsyncEvent(eventId, record);
}

// ---------------------------------------------------------------------------
// Callbacks of the main socket (socket event thread).
//
// Each builds its record from what it saw, moves the state, and only then
// posts: a script that reacts to the event (Connect again from its OnConnect
// handler) must find the object already in the state the event announces.

void CTcpClientSocket::OnConnect(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) {
  GuardedCallback(kIdentity, "OnConnect", [&] {
    if (IsRetiring(p_pSocket)) return;
    const LONG state = m_state.load();
    if (state != kTcpStateConnectPending) {
      Log(kIdentity.className, kLogLevelWarning,
          "OnConnect() - Received an OnConnect callback in an invalid state [%d], ignoring.", static_cast<int>(state));
      return;
    }
    std::wstring address;
    if (p_dwResult == KestNet::SOCKET_NO_ERROR && p_pSocket != nullptr) {
      std::string peer;
      USHORT port = 0;
      if (p_pSocket->GetPeer(peer, port)) address = StringConversion::ConvertANSIToCAtlStringW(peer);
    }
    COnConnectData* record = MakeRecord<COnConnectData>(p_dwResult, GetTargetHost(), std::move(address));
    // A Close() made meanwhile has moved the state on; it stays as Close() left it.
    LONG expected = kTcpStateConnectPending;
    m_state.compare_exchange_strong(expected,
                                    p_dwResult == KestNet::SOCKET_NO_ERROR ? kTcpStateConnected : kTcpStateIdle);
    PostRecord(kTcpOnConnectEventId, record, "OnConnect() - Out of memory: Unable to allocate OnConnect data structure");
  });
}

void CTcpClientSocket::OnClose(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) {
  GuardedCallback(kIdentity, "OnClose", [&] {
    if (IsRetiring(p_pSocket)) return;
    if (m_state.load() == kTcpStateConnectPending) {
      // The attempt ended with a close (a name that did not resolve, a
      // refusal reported as a close): it is reported as its OnConnect.
      COnConnectData* record = MakeRecord<COnConnectData>(p_dwResult, GetTargetHost(), std::wstring());
      m_state.store(kTcpStateIdle);
      PostRecord(kTcpOnConnectEventId, record, "OnClose() - Out of memory: Unable to allocate OnConnect data structure");
      return;
    }
    COnCloseData* record = MakeRecord<COnCloseData>(p_dwResult);
    m_state.store(kTcpStateIdle);
    PostRecord(kTcpOnCloseEventId, record, "OnClose() - Out of memory: Unable to allocate OnClose data structure");
  });
}

// The object sends and receives no data.
void CTcpClientSocket::OnAccept(TcpNonBlockingLineSocket*, DWORD) {}
void CTcpClientSocket::OnOutOfBandData(TcpNonBlockingLineSocket*, DWORD) {}

// Whatever a peer sends is dropped as it arrives: nothing ever reads it, and
// a peer that keeps talking to a connection a script holds open would
// otherwise grow the socket's buffer without end.
void CTcpClientSocket::OnReceive(TcpNonBlockingLineSocket* p_pSocket, DWORD) {
  if (p_pSocket != nullptr) p_pSocket->ClearReceiveBuffer();
}

DWORD CTcpClientSocket::BytesHeldFromPeer() {
  return m_pMainSocket == nullptr ? 0 : m_pMainSocket->GetReceivedSize();
}
void CTcpClientSocket::OnSend(TcpNonBlockingLineSocket*, DWORD) {}
void CTcpClientSocket::OnReceiveLine(TcpNonBlockingLineSocket*, DWORD) {}

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CTcpClientSocket::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  GuardedCallback(kIdentity, "HandleAsyncEventMessage", [&] {
    std::unique_ptr<KestBase::CAsyncEventData> owned(record);
    if (eventId == kTcpOnConnectEventId) {
      auto* connect = KestBase::AsEventRecord<COnConnectData>(kIdentity.className, eventId, record);
      if (connect == nullptr) return;
      ATL::CComBSTR targetHost;
      ATL::CComBSTR targetAddress;
      targetHost.Attach(AllocateEventText(connect->m_strTargetHost));
      targetAddress.Attach(AllocateEventText(connect->m_strTargetAddress));
      Fire_OnConnect(static_cast<LONG>(connect->m_dwResult), targetHost, targetAddress);
    } else if (eventId == kTcpOnCloseEventId) {
      auto* close = KestBase::AsEventRecord<COnCloseData>(kIdentity.className, eventId, record);
      if (close == nullptr) return;
      Fire_OnClose(static_cast<LONG>(close->m_dwResult));
    } else {
      Log(kIdentity.className, kLogLevelWarning,
          "HandleAsyncEventMessage() - Received an invalid async event ID [%d], ignoring.", static_cast<int>(eventId));
    }
  });
}

// ---------------------------------------------------------------------------
// The blocking test.

void CTcpClientSocket::EnsureTestSocket() {
  if (m_pTestSocket == nullptr) m_pTestSocket.reset(new (std::nothrow) TcpNonBlockingLineSocket());
  if (m_pTestSocket != nullptr && !m_pTestSocket->IsCreated()) m_pTestSocket->Create(&m_testListener);
  if (m_pTestSocket == nullptr || !m_pTestSocket->IsCreated()) {
    Log(kIdentity.className, kLogLevelWarning, "BlockingSocketTest() - The underlying socket is invalid.");
    throw KestBase::InvalidObjectException();
  }
}

std::string CTcpClientSocket::ResolveBlockingTestTarget(const std::string& p_strTarget, LONG p_nTimeout) {
  if (KestNet::IPAddress::IsValidAddress(p_strTarget)) return p_strTarget;
  const LONG dnsTimeout = ClampBlockingTestDnsTimeout(p_nTimeout);
  Log(kIdentity.className, kLogLevelDetail,
      "BlockingSocketTest():  Attempting to resolve host name <%s> using a DNS timeout value of <%d>.",
      p_strTarget.c_str(), static_cast<int>(dnsTimeout));
  if (m_pTestResolver == nullptr) m_pTestResolver = std::make_unique<KestNet::Dns>();
  // Also retries a resolver whose first start-up failed.
  m_pTestResolver->SetListener(&m_testResolverListener);
  std::vector<std::wstring> addresses;
  DWORD result = m_pTestResolver->ResolveName(StringConversion::ConvertANSIToCAtlStringW(p_strTarget),
                                              static_cast<WORD>(dnsTimeout), addresses, 0, 0);
  // An answer without an address (only an alias, say) leaves nothing to connect to.
  if (result == KestNet::DNS_SUCCESS && addresses.empty()) result = KestNet::DNS_ERROR_NO_RESPONSES;
  if (result != KestNet::DNS_SUCCESS) {
    Log(kIdentity.className, kLogLevelWarning, "BlockingSocketTest():  DNS name resulution failed with error code <%d>.",
        static_cast<int>(result));
    return std::string();
  }
  std::string address = StringConversion::ConvertCAtlStringWToANSI(addresses.front());
  Log(kIdentity.className, kLogLevelDetail,
      "BlockingSocketTest():  DNS name resulution succeeded, resulting IP address: <%s>.", address.c_str());
  return address;
}

bool CTcpClientSocket::RunBlockingConnect(const std::string& p_strAddress, USHORT p_usPort, LONG p_nTimeout) {
  m_testListener.Arm();
  Log(kIdentity.className, kLogLevelDetail, "BlockingSocketTest():  Connecting to <%s:%d>.", p_strAddress.c_str(),
      static_cast<int>(p_usPort));
  if (!m_pTestSocket->Connect(p_strAddress, p_usPort)) {
    Log(kIdentity.className, kLogLevelWarning, "BlockingSocketTest() - TcpNonBlockingLineSocket::Connect() failed.");
    // Not left open: the next test starts from a fresh socket.
    m_pTestSocket->Close(true);
    throw KestBase::InvalidObjectException();
  }
  // No message pumping: the blocking test answers its caller, never a sink.
  const DWORD waitResult = WaitForSingleObject(m_testListener.GetEvent().GetHandle(), static_cast<DWORD>(p_nTimeout));
  const DWORD connectResult = m_testListener.GetResult();
  m_pTestSocket->Close(true);

  if (waitResult == WAIT_TIMEOUT) {
    Log(kIdentity.className, kLogLevelTrace, "BlockingSocketTest():  A timeout has occurred.");
    return false;
  }
  if (waitResult != WAIT_OBJECT_0) {
    Log(kIdentity.className, kLogLevelWarning,
        "BlockingSocketTest():  Failed to wait for internal connect operation to complete, wait result code <%d>.",
        static_cast<int>(waitResult));
    return false;
  }
  if (connectResult != KestNet::SOCKET_NO_ERROR) {
    Log(kIdentity.className, kLogLevelDetail,
        "BlockingSocketTest():  The internal connect operation failed with error code <%d>.",
        static_cast<int>(connectResult));
    return false;
  }
  return true;
}

OBJECT_ENTRY_AUTO(CLSID_KestNetTcpClientSocket, CTcpClientSocket)

}  // namespace KestAXLib
