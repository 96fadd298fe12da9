// KestNetPing: the scriptable face of the echo engine (KestNet::Ping).
//
// Ping starts one echo and returns at once; the engine's worker reports
// through this object's PingListener side, which copies the outcome into a
// PingResponseData record and posts it to the hidden window, and the window
// procedure fires OnPingComplete on the object's thread. BlockingPing runs
// the same echo for a private listener and waits for it on the calling
// thread (no messages are pumped meanwhile), so it fires no event.
//
// Ping, Abort and BlockingPing first ask whether the process has the rights
// an echo needs; without them the call would go to a proxy instance in a
// host process with more rights. This platform makes no such proxies, so the
// object always does the work itself (GetProxyControlAsNeeded says so).
//
// Ownership: the object owns its engine and its blocking listener. At final
// release the window goes first (records still queued are dropped), then the
// engine, whose destruction stops every worker and waits for it; the blocking
// listener, which a worker may still be reporting to until then, goes last.
#pragma once

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
#include "net/ping/ping.h"
#include "net/ping/ping_listener.h"

namespace KestAXLib {

// The name-resolution time-out of an echo unless a script sets another, and
// the least a script may set, in milliseconds.
inline constexpr LONG kDefaultPingDnsTimeout = 5000;
inline constexpr LONG kMinimumPingDnsTimeout = 500;

// How much longer than the echo's own time-out BlockingPing waits for the
// engine's report: the worker's start and report take a little time too.
inline constexpr DWORD kBlockingPingGraceMilliseconds = 300;

// Event ids of the ping object's hidden window.
inline constexpr DWORD kPingCompleteEventId = 0;

// The outcome of one echo, copied on the worker's thread.
class PingResponseData : public KestBase::CAsyncEventData {
 public:
  PingResponseData(WORD status, std::wstring targetHost, std::wstring targetAddress, std::wstring responseAddress,
                   DWORD responseTime)
      : m_status(status),
        m_targetHost(std::move(targetHost)),
        m_targetAddress(std::move(targetAddress)),
        m_responseAddress(std::move(responseAddress)),
        m_responseTime(responseTime) {}

  WORD Status() const { return m_status; }
  const std::wstring& TargetHost() const { return m_targetHost; }
  const std::wstring& TargetAddress() const { return m_targetAddress; }
  const std::wstring& ResponseAddress() const { return m_responseAddress; }
  DWORD ResponseTime() const { return m_responseTime; }

 private:
  WORD m_status;
  std::wstring m_targetHost;
  std::wstring m_targetAddress;
  std::wstring m_responseAddress;
  DWORD m_responseTime;
};

// The listener of BlockingPing: keeps the result of the one echo it waits
// for and signals its manual-reset event. A report that arrives while no
// BlockingPing waits (the late report of an echo that was given up on) is
// not kept, so it can never stand in for the next call's result.
class BlockingPingListener final : public KestNet::PingListener {
 public:
  // The event is created non-signalled; the result starts at -1.
  BlockingPingListener();
  ~BlockingPingListener() override;
  BlockingPingListener(const BlockingPingListener&) = delete;
  BlockingPingListener& operator=(const BlockingPingListener&) = delete;

  // Any thread: stores the result and signals, while armed.
  void PingResponse(WORD p_wResult, const std::wstring& p_cstrwTarget, const std::string& p_strAddress,
                    const std::string& p_strReplyAddress, DWORD p_dwRoundTripTime) override;

  // Result -1, event reset, reports accepted from now on.
  void Arm();
  // Reports ignored from now on.
  void Disarm();
  // WAIT_OBJECT_0 once a report came, WAIT_TIMEOUT, or WAIT_FAILED.
  DWORD Wait(DWORD milliseconds);
  LONG Result() const;

 private:
  HANDLE m_hEvent = nullptr;
  mutable std::mutex m_lock;  // leaf: guards the two fields below
  LONG m_lResult = -1;
  bool m_bArmed = false;
};

class CPing : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
              public KestComCoClass<CPing, &CLSID_KestNetPing, IKestNetPing, &IID_IKestNetPing>,
              public TolLock<CPing, IKestNetPing, &IID_IKestNetPing, &LIBID_KestNet, 1, 0>,
              public ATL::IObjectSafetyImpl<CPing, 3>,
              public ATL::IConnectionPointContainerImpl<CPing>,
              public CProxy_IKestNetPingEvents<CPing>,
              public ATL::ISupportErrorInfoImpl<&IID_IKestNetPing>,
              public ATL::IProvideClassInfo2Impl<&CLSID_KestNetPing, &IID_IKestNetPingEvents, &LIBID_KestNet, 1, 0>,
              public KestNet::PingListener,
              public KestBase::CAsyncEventMgrWnd {
 public:
  CPing();
  ~CPing() override;

  BEGIN_COM_MAP(CPing)
  COM_INTERFACE_ENTRY(IKestNetPing)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetPing)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  void FinalRelease();

  // IKestNetPing
  STDMETHODIMP Ping(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout) override;
  STDMETHODIMP Abort(BSTR Target) override;
  STDMETHODIMP get_DNSTimeout(LONG* pVal) override;
  STDMETHODIMP put_DNSTimeout(LONG newVal) override;
  STDMETHODIMP get_PING_SUCCESS(SHORT* pVal) override;
  STDMETHODIMP get_PING_DID_NOT_RESPOND(SHORT* pVal) override;
  STDMETHODIMP get_PING_INVALID_ADDRESS(SHORT* pVal) override;
  STDMETHODIMP get_PING_INVALID_INTERFACE(SHORT* pVal) override;
  STDMETHODIMP get_PING_TTL_EXPIRED(SHORT* pVal) override;
  STDMETHODIMP get_PING_NET_UNREACHABLE(SHORT* pVal) override;
  STDMETHODIMP get_PING_HOST_UNREACHABLE(SHORT* pVal) override;
  STDMETHODIMP get_PING_TIMEOUT(SHORT* pVal) override;
  STDMETHODIMP get_PING_INVALID_OBJECT(SHORT* pVal) override;
  STDMETHODIMP get_PING_ABORTED(SHORT* pVal) override;
  STDMETHODIMP get_PING_RESOLVE_NAME_FAILED(SHORT* pVal) override;
  STDMETHODIMP get_PING_DNS_TIMEOUT(SHORT* pVal) override;
  STDMETHODIMP get_PING_DNS_NO_RESPONSES(SHORT* pVal) override;
  STDMETHODIMP get_PING_ERROR(SHORT* pVal) override;
  STDMETHODIMP BlockingPing(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout, VARIANT_BOOL* pResult) override;

  // PingListener: the worker's thread; copies the outcome and posts it.
  void PingResponse(WORD p_wResult, const std::wstring& p_cstrwTarget, const std::string& p_strAddress,
                    const std::string& p_strReplyAddress, DWORD p_dwRoundTripTime) override;

  // CAsyncEventMgrWnd: the object's thread; fires OnPingComplete.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // Whether the process may send echoes itself: always on the Windows 9x
  // family; on NT 6 and later at high or system integrity; before that as
  // an administrator.
  static bool HasSufficientRights();
  // An instance of this class in a host process with more rights, made when
  // the rights are lacking. No proxies are made on this platform: always null.
  ATL::CComPtr<IKestNetPing> GetProxyControlAsNeeded();
  // Without sufficient rights and with a proxy at hand: the sinks follow the
  // proxy, call runs on it, result takes its HRESULT, and true is returned.
  template <typename Call>
  bool ForwardedToProxy(Call call, HRESULT& result);

  // Starts the engine's echo exactly as Ping does, reporting to listener.
  void StartEcho(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout, KestNet::PingListener* listener);
  KestNet::Ping& Engine();
  HRESULT GetConstant(const char* methodName, WORD value, SHORT* pVal);

  // Declared before the engine so that it outlives the engine's workers.
  std::unique_ptr<BlockingPingListener> m_blockingListener;
  std::unique_ptr<KestNet::Ping> m_engine;
  LONG m_lDNSTimeout = kDefaultPingDnsTimeout;
  bool m_bSocketsInitialized = false;
};

}  // namespace KestAXLib
