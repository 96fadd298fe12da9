#include "automation/ping_object.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "automation/module.h"
#include "net/sockets/set_manager.h"
#include "platform/com/atl_bstr.h"
#include "platform/sync/event.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"
#include "utils/privileges.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNet::Ping", "KestNetPing", &CLSID_KestNetPing};

std::wstring_view ViewOf(BSTR text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text));
}

// TTL and data size travel as the 16-bit unsigned values the echo service
// takes, so a negative one arrives as a large number the engine refuses.
DWORD Unsigned16(SHORT value) { return static_cast<USHORT>(value); }

// A negative echo time-out would otherwise become a wait of some 49 days;
// as 0 it is refused by the engine like any time-out below 10 ms.
DWORD EchoTimeout(LONG timeout) { return timeout < 0 ? 0 : static_cast<DWORD>(timeout); }

DWORD BlockingWait(LONG timeout) {
  const unsigned long long wait = static_cast<unsigned long long>(EchoTimeout(timeout)) + kBlockingPingGraceMilliseconds;
  return static_cast<DWORD>(std::min<unsigned long long>(wait, INFINITE - 1));
}

BSTR AllocateOrThrow(const std::wstring& text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);
  return copy;
}

}  // namespace

// --- BlockingPingListener -------------------------------------------------------

BlockingPingListener::BlockingPingListener() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (m_hEvent == nullptr) throw KestBase::InvalidObjectException();
}

BlockingPingListener::~BlockingPingListener() { CloseHandle(m_hEvent); }

void BlockingPingListener::PingResponse(WORD p_wResult, const std::wstring&, const std::string&, const std::string&,
                                        DWORD) {
  std::lock_guard lock(m_lock);
  if (!m_bArmed) return;
  m_lResult = p_wResult;
  SetEvent(m_hEvent);
}

void BlockingPingListener::Arm() {
  std::lock_guard lock(m_lock);
  m_lResult = -1;
  ResetEvent(m_hEvent);
  m_bArmed = true;
}

void BlockingPingListener::Disarm() {
  std::lock_guard lock(m_lock);
  m_bArmed = false;
}

DWORD BlockingPingListener::Wait(DWORD milliseconds) { return WaitForSingleObject(m_hEvent, milliseconds); }

LONG BlockingPingListener::Result() const {
  std::lock_guard lock(m_lock);
  return m_lResult;
}

// --- CPing ------------------------------------------------------------------------

CPing::CPing() : CProxy_IKestNetPingEvents<CPing>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CPing", LifecycleStep::Constructor, [&] {
    m_blockingListener = std::make_unique<BlockingPingListener>();
    m_engine = std::make_unique<KestNet::Ping>();
    m_bSocketsInitialized = KestNet::InitializeSockets();
  });
}

CPing::~CPing() {
  GuardedLifecycle(kIdentity, "~CPing", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

void CPing::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    DestroyAsyncEventWindow();
    // Stops every worker and waits for it; none reports to this object after.
    m_engine.reset();
    m_blockingListener.reset();
    if (m_bSocketsInitialized) {
      m_bSocketsInitialized = false;
      KestNet::UninitializeSockets();
    }
  });
}

bool CPing::HasSufficientRights() { return KestUtils::Privileges().IsElevatedProcess(); }

ATL::CComPtr<IKestNetPing> CPing::GetProxyControlAsNeeded() { return nullptr; }

template <typename Call>
bool CPing::ForwardedToProxy(Call call, HRESULT& result) {
  if (HasSufficientRights()) return false;
  ATL::CComPtr<IKestNetPing> proxy = GetProxyControlAsNeeded();
  if (proxy == nullptr) return false;
  HookupActiveXCallBacks(proxy);
  result = call(proxy.p);
  return true;
}

KestNet::Ping& CPing::Engine() {
  // Only a constructor that failed leaves the object without its engine.
  if (m_engine == nullptr || m_blockingListener == nullptr) throw KestBase::InvalidObjectException();
  return *m_engine;
}

void CPing::StartEcho(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout, KestNet::PingListener* listener) {
  Engine().EchoRequestAsync(std::wstring(ViewOf(Target)), listener, static_cast<DWORD>(m_lDNSTimeout),
                            EchoTimeout(Timeout), Unsigned16(TTL), Unsigned16(DataSize));
}

STDMETHODIMP CPing::Ping(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "Ping", [&] {
    wasForwarded = ForwardedToProxy(
        [&](IKestNetPing* proxy) { return proxy->Ping(Target, TTL, DataSize, Timeout); }, forwarded);
    if (!wasForwarded) StartEcho(Target, TTL, DataSize, Timeout, this);
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

STDMETHODIMP CPing::Abort(BSTR Target) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "Abort", [&] {
    wasForwarded = ForwardedToProxy([&](IKestNetPing* proxy) { return proxy->Abort(Target); }, forwarded);
    if (!wasForwarded) Engine().Abort(std::wstring(ViewOf(Target)));
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

STDMETHODIMP CPing::BlockingPing(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout, VARIANT_BOOL* pResult) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "BlockingPing", [&] {
    wasForwarded = ForwardedToProxy(
        [&](IKestNetPing* proxy) { return proxy->BlockingPing(Target, TTL, DataSize, Timeout, pResult); },
        forwarded);
    if (wasForwarded) return;
    CheckOutputPointer(kIdentity, "BlockingPing", pResult);
    *pResult = VARIANT_FALSE;
    KestNet::Ping& engine = Engine();
    BlockingPingListener& listener = *m_blockingListener;

    listener.Arm();
    try {
      StartEcho(Target, TTL, DataSize, Timeout, &listener);
    } catch (...) {
      listener.Disarm();
      throw;
    }
    const DWORD waited = listener.Wait(BlockingWait(Timeout));
    if (waited == WAIT_TIMEOUT) {
      Log(kIdentity.className, kLogLevelTrace,
          "BlockingPing():  A timeout has occurred, now aborting internal ping operation.");
      // The engine's abort waits for the worker, so the target is free again
      // when it returns; the aborted report it makes is not wanted.
      engine.Abort(std::wstring(ViewOf(Target)));
      listener.Disarm();
      return;
    }
    listener.Disarm();
    if (waited == WAIT_OBJECT_0) {
      const LONG result = listener.Result();
      if (result == KestNet::PING_SUCCESS) {
        *pResult = VARIANT_TRUE;
      } else {
        Log(kIdentity.className, kLogLevelWarning,
            "BlockingPing():  The internal ping operation failed with result code <%d>.", static_cast<int>(result));
      }
      return;
    }
    Log(kIdentity.className, kLogLevelWarning,
        "BlockingPing():  Failed to wait for internal ping operation to complete, wait result code <%d>.",
        static_cast<int>(waited));
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

STDMETHODIMP CPing::get_DNSTimeout(LONG* pVal) {
  return GuardedMethod(kIdentity, "get_DNSTimeout", [&] {
    CheckOutputPointer(kIdentity, "get_DNSTimeout", pVal);
    *pVal = m_lDNSTimeout;
  });
}

STDMETHODIMP CPing::put_DNSTimeout(LONG newVal) {
  return GuardedMethod(kIdentity, "put_DNSTimeout", [&] {
    // The message speaks of positive numbers; the limit is the resolver's least time-out.
    if (newVal < kMinimumPingDnsTimeout) {
      RejectArgument(kIdentity, "put_Timeout():  Error - Timeouts must be positive integers (not <= 0 )");
    }
    m_lDNSTimeout = newVal;
  });
}

HRESULT CPing::GetConstant(const char* methodName, WORD value, SHORT* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    CheckOutputPointer(kIdentity, methodName, pVal);
    *pVal = static_cast<SHORT>(value);
  });
}

STDMETHODIMP CPing::get_PING_SUCCESS(SHORT* pVal) {
  return GetConstant("get_PING_SUCCESS", KestNet::PING_SUCCESS, pVal);
}
STDMETHODIMP CPing::get_PING_DID_NOT_RESPOND(SHORT* pVal) {
  return GetConstant("get_PING_DID_NOT_RESPOND", KestNet::PING_DID_NOT_RESPOND, pVal);
}
STDMETHODIMP CPing::get_PING_INVALID_ADDRESS(SHORT* pVal) {
  return GetConstant("get_PING_INVALID_ADDRESS", KestNet::PING_INVALID_ADDRESS, pVal);
}
STDMETHODIMP CPing::get_PING_INVALID_INTERFACE(SHORT* pVal) {
  return GetConstant("get_PING_INVALID_INTERFACE", KestNet::PING_INVALID_INTERFACE, pVal);
}
STDMETHODIMP CPing::get_PING_TTL_EXPIRED(SHORT* pVal) {
  return GetConstant("get_PING_TTL_EXPIRED", KestNet::PING_TTL_EXPIRED, pVal);
}
STDMETHODIMP CPing::get_PING_NET_UNREACHABLE(SHORT* pVal) {
  return GetConstant("get_PING_NET_UNREACHABLE", KestNet::PING_NET_UNREACHABLE, pVal);
}
STDMETHODIMP CPing::get_PING_HOST_UNREACHABLE(SHORT* pVal) {
  return GetConstant("get_PING_HOST_UNREACHABLE", KestNet::PING_HOST_UNREACHABLE, pVal);
}
STDMETHODIMP CPing::get_PING_TIMEOUT(SHORT* pVal) {
  return GetConstant("get_PING_TIMEOUT", KestNet::PING_TIMEOUT, pVal);
}
STDMETHODIMP CPing::get_PING_INVALID_OBJECT(SHORT* pVal) {
  return GetConstant("get_PING_INVALID_OBJECT", KestNet::PING_INVALID_OBJECT, pVal);
}
STDMETHODIMP CPing::get_PING_ABORTED(SHORT* pVal) {
  return GetConstant("get_PING_ABORTED", KestNet::PING_ABORTED, pVal);
}
STDMETHODIMP CPing::get_PING_RESOLVE_NAME_FAILED(SHORT* pVal) {
  return GetConstant("get_PING_RESOLVE_NAME_FAILED", KestNet::PING_RESOLVE_NAME_FAILED, pVal);
}
STDMETHODIMP CPing::get_PING_DNS_TIMEOUT(SHORT* pVal) {
  return GetConstant("get_PING_DNS_TIMEOUT", KestNet::PING_DNS_TIMEOUT, pVal);
}
STDMETHODIMP CPing::get_PING_DNS_NO_RESPONSES(SHORT* pVal) {
  return GetConstant("get_PING_DNS_NO_RESPONSES", KestNet::PING_DNS_NO_RESPONSES, pVal);
}
STDMETHODIMP CPing::get_PING_ERROR(SHORT* pVal) {
  return GetConstant("get_PING_ERROR", KestNet::PING_ERROR, pVal);
}

void CPing::PingResponse(WORD p_wResult, const std::wstring& p_cstrwTarget, const std::string& p_strAddress,
                         const std::string& p_strReplyAddress, DWORD p_dwRoundTripTime) {
  GuardedCallback(kIdentity, "PingResponse", [&] {
    PingResponseData* record = nullptr;
    try {
      record = new PingResponseData(p_wResult, p_cstrwTarget,
                                    KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strAddress),
                                    KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strReplyAddress),
                                    p_dwRoundTripTime);
    } catch (const std::bad_alloc&) {
      Log(kIdentity.className, kLogLevelWarning, "PingResponse():  Error - Failed to get allocate a buffer.");
      return;
    }
    PostAsyncEvent(kPingCompleteEventId, record);
  });
}

void CPing::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // The handler owns the record whatever happens to it.
  std::unique_ptr<KestBase::CAsyncEventData> owned(record);
  GuardedCallback(kIdentity, "HandleAsyncEventMessage", [&] {
    if (eventId != kPingCompleteEventId) return;
    auto* outcome = KestBase::AsEventRecord<PingResponseData>(kIdentity.className, eventId, owned.get());
    if (outcome == nullptr) return;
    ATL::CComBSTR targetHost;
    targetHost.Attach(AllocateOrThrow(outcome->TargetHost()));
    ATL::CComBSTR targetAddress;
    targetAddress.Attach(AllocateOrThrow(outcome->TargetAddress()));
    ATL::CComBSTR responseAddress;
    responseAddress.Attach(AllocateOrThrow(outcome->ResponseAddress()));
    // A sink may drop the script's last reference while it runs; the object
    // stays until the event has been fired to every sink.
    ATL::CComPtr<IKestNetPing> keepAlive(static_cast<IKestNetPing*>(this));
    Fire_OnPingComplete(static_cast<SHORT>(outcome->Status()), targetHost, targetAddress, responseAddress,
                        static_cast<LONG>(outcome->ResponseTime()));
  });
}

OBJECT_ENTRY_AUTO(CLSID_KestNetPing, CPing)

}  // namespace KestAXLib
