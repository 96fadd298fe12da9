// KestNetTcpClientSocket: lets a script find out whether a host accepts TCP
// connections on a port, either asynchronously (Connect, then the OnConnect
// and OnClose events) or in one blocking call (BlockingSocketTest). It sends
// and receives no data.
//
// Connect drives the main line socket, whose notifications arrive on a socket
// event thread; they are posted to the object's hidden window and fired on
// the object's own thread. BlockingSocketTest uses a second socket of its own
// with a private listener, resolves names with a resolver of its own, and
// fires nothing, so it never disturbs an asynchronous attempt in progress.
//
// States of the main socket (m_state):
//   0 idle                    Connect may start an attempt
//   1 connect pending         the outcome arrives as OnConnect
//   2 connected or closing    a close (the peer's or Close()) arrives as OnClose
//
// Threads: methods run on the object's thread; the line-socket callbacks run
// on socket event threads (or on the object's thread while it closes a socket
// synchronously) and touch only the state, the target host and the post. The
// state is atomic because both sides read and change it. The connect
// callback moves it only out of "pending" (compare-and-exchange), so a
// Close() made while it runs is never undone; the close callback always ends
// in idle, the connection being gone. Callbacks move the state before they
// post, so a script reacting to an event finds the state the event
// announces (it may Connect again from its OnConnect handler). The target
// host is written by Connect only while idle and read by callbacks only
// while pending; the leaf lock m_targetLock still guards it so that no
// reader ever sees a half-made string.
//
// A socket whose connect failed is of no further use, so an idle object that
// still holds an open one replaces it before the next attempt; such a socket
// is closed with its notifications passed over (m_pRetiringSocket), as its
// attempt has already been reported, or was never started.
//
// Ownership: the object owns both sockets and the test resolver. Final
// release destroys the window first (a record still queued is dropped, never
// fired), then closes the sockets, whose last callbacks find no window.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "automation/async_event_window.h"
#include "automation/class_factory.h"
#include "automation/com_object.h"
#include "automation/event_proxies.h"
#include "automation/interfaces.h"
#include "automation/kest_coclass.h"
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"
#include "net/dns/dns_listener.h"
#include "net/sockets/tcp_non_blocking_line_socket.h"
#include "runtime/event.h"

namespace KestNet {
class Dns;
}

namespace KestAXLib {

// Event ids of the object's records.
inline constexpr DWORD kTcpOnConnectEventId = 1;
inline constexpr DWORD kTcpOnCloseEventId = 2;

// The main socket's states.
inline constexpr LONG kTcpStateIdle = 0;
inline constexpr LONG kTcpStateConnectPending = 1;
inline constexpr LONG kTcpStateConnected = 2;

// The DNS time-out BlockingSocketTest gives its resolver: the test's own
// Timeout, brought into the range the resolver accepts.
inline constexpr LONG kBlockingTestMinimumDnsTimeout = 500;
inline constexpr LONG kBlockingTestMaximumDnsTimeout = 30000;
LONG ClampBlockingTestDnsTimeout(LONG timeout);

// The outcome of a connection attempt, copied on the socket event thread.
class COnConnectData : public KestBase::CAsyncEventData {
 public:
  COnConnectData(DWORD result, std::wstring targetHost, std::wstring targetAddress)
      : m_dwResult(result), m_strTargetHost(std::move(targetHost)), m_strTargetAddress(std::move(targetAddress)) {}

  DWORD m_dwResult;
  std::wstring m_strTargetHost;
  std::wstring m_strTargetAddress;
};

// The end of a connection (or a Close() of an idle object).
class COnCloseData : public KestBase::CAsyncEventData {
 public:
  explicit COnCloseData(DWORD result) : m_dwResult(result) {}

  DWORD m_dwResult;
};

class CTcpClientSocket;
using CTcpClientSocketEventsProxy =
    CProxy_IKestNetTcpClientSocketEvents<CTcpClientSocket,
                                         ATL::IConnectionPointImpl<CTcpClientSocket, &IID_IKestNetTcpClientSocketEvents>>;

class CTcpClientSocket
    : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
      public ATL::CComCoClass<CTcpClientSocket, &CLSID_KestNetTcpClientSocket>,
      public TolLock<CTcpClientSocket, IKestNetTcpClientSocket, &IID_IKestNetTcpClientSocket, &LIBID_KestNet, 1, 0>,
      public ATL::IObjectWithSiteImpl<CTcpClientSocket>,
      public ATL::IObjectSafetyImpl<CTcpClientSocket, 3>,
      public ATL::IConnectionPointContainerImpl<CTcpClientSocket>,
      public CTcpClientSocketEventsProxy,
      public ATL::ISupportErrorInfoImpl<&IID_IKestNetTcpClientSocket>,
      public ATL::IProvideClassInfo2Impl<&CLSID_KestNetTcpClientSocket, &IID_IKestNetTcpClientSocketEvents,
                                         &LIBID_KestNet, 1, 0>,
      public KestNet::TcpNonBlockingLineSocketListener,
      public KestBase::CAsyncEventMgrWnd {
  DECLARE_NOT_AGGREGATABLE(CTcpClientSocket)

 public:
  using ATL::CComCoClass<CTcpClientSocket, &CLSID_KestNetTcpClientSocket>::GetObjectCLSID;

  CTcpClientSocket();
  virtual ~CTcpClientSocket();

  BEGIN_COM_MAP(CTcpClientSocket)
  COM_INTERFACE_ENTRY(IKestNetTcpClientSocket)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetTcpClientSocket)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  void FinalRelease();

  // IKestNetTcpClientSocket
  STDMETHODIMP Connect(BSTR Target, LONG Port) override;
  STDMETHODIMP Close() override;
  STDMETHODIMP BlockingSocketTest(BSTR Target, LONG Port, LONG Timeout, VARIANT_BOOL* pResult) override;
  STDMETHODIMP get_SOCKET_NO_ERROR(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_GENERIC_ERROR(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_OS_LAYER_NOT_INITIALIZED(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_OS_FAILURE(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_ADDR_IN_USE(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_INVALID_STATE(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_INVALID_ARG(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_CONNECT_REFUSED(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_DEST_UNREACHABLE(LONG* pVal) override;
  STDMETHODIMP get_SOCKET_TIMEOUT(LONG* pVal) override;

  // TcpNonBlockingLineSocketListener, for the main socket (socket event thread).
  void OnAccept(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnClose(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnConnect(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnOutOfBandData(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnReceive(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnSend(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
  void OnReceiveLine(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;

  // CAsyncEventMgrWnd (the object's thread).
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

  // The state of the main socket (0 idle, 1 connect pending, 2 connected or closing).
  LONG GetState() const { return m_state.load(); }
  // Bytes the main socket holds of what its peer sent (dropped as they arrive).
  DWORD BytesHeldFromPeer();

 private:
  // Records the outcome of the blocking test's connection and signals.
  class TestSocketListener : public KestNet::TcpNonBlockingLineSocketListener {
   public:
    virtual ~TestSocketListener() = default;
    // Result 1 until the attempt ends; the event reset.
    void Arm();
    DWORD GetResult() const { return m_dwResult.load(); }
    KestMT::Event& GetEvent() { return m_event; }

    void OnAccept(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
    void OnClose(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
    void OnConnect(KestNet::TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) override;
    void OnOutOfBandData(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
    void OnReceive(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
    void OnSend(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
    void OnReceiveLine(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}

   private:
    // The first outcome wins; later notifications of the same attempt (the
    // close that follows a connect) change nothing.
    void Finish(DWORD p_dwResult);

    std::atomic<DWORD> m_dwResult{1};
    std::atomic<bool> m_bFinished{false};
    KestMT::Event m_event;  // manual reset
  };

  // The blocking test reads its answer from the query itself; the resolver
  // still reports every completion to a listener, which has nothing to add.
  class TestResolverListener : public KestNet::DNSListener {
   public:
    virtual ~TestResolverListener() = default;
    void OnResolveNameComplete(const std::wstring&, DWORD, KestNet::DnsRecordList&) override {}
  };

  // Creates the main socket when it is missing or closed. An idle object
  // whose socket is still open holds one that a failed attempt left behind
  // (a failed connect leaves the socket of no further use): it is replaced.
  // Throws InvalidObjectException when no socket can be had.
  void EnsureMainSocket();
  // The same for the blocking test's socket (closed after every test).
  void EnsureTestSocket();
  // Stops both sockets and the resolver after the window is gone; run by
  // FinalRelease and again (doing nothing more) by the destructor.
  void ReleaseEngines();
  // Closes the main socket without its close reaching the script (the
  // attempt it belonged to was already reported, or never started).
  void RetireMainSocket();
  bool IsRetiring(KestNet::TcpNonBlockingLineSocket* p_pSocket) const;

  // The name BlockingSocketTest connects to: Target itself when it is a
  // dotted address, else the first address its own resolver finds. Empty
  // when the name does not resolve (already logged).
  std::string ResolveBlockingTestTarget(const std::string& p_strTarget, LONG p_nTimeout);
  // Connects the test socket and waits; true when it connected in time.
  bool RunBlockingConnect(const std::string& p_strAddress, USHORT p_usPort, LONG p_nTimeout);

  // Posts record as eventId; logs outOfMemoryMessage when there is no record.
  void PostRecord(DWORD eventId, KestBase::CAsyncEventData* record, const char* outOfMemoryMessage);
  void SetTargetHost(const std::wstring& p_strTarget);
  std::wstring GetTargetHost();

  std::atomic<LONG> m_state{kTcpStateIdle};
  std::mutex m_targetLock;  // leaf: m_strTargetHost
  std::wstring m_strTargetHost;
  bool m_bSocketsInitialized = false;

  std::unique_ptr<KestNet::TcpNonBlockingLineSocket> m_pMainSocket;
  // The main socket while RetireMainSocket closes it; its notifications are
  // then only bookkeeping.
  std::atomic<KestNet::TcpNonBlockingLineSocket*> m_pRetiringSocket{nullptr};

  TestSocketListener m_testListener;
  std::unique_ptr<KestNet::TcpNonBlockingLineSocket> m_pTestSocket;
  TestResolverListener m_testResolverListener;
  std::unique_ptr<KestNet::Dns> m_pTestResolver;
};

}  // namespace KestAXLib
