// KestNetDNS: the scriptable face of the resolver (KestNet::Dns).
//
// A script sets the servers and the time-out, calls ResolveName, and hears
// the outcome as OnResolveNameComplete(Result, DomainName, IPs) on its own
// thread. The object only validates and forwards: the resolver runs the
// query on its own threads and reports through this object's DNSListener
// side, which copies the outcome into a ResolveNameCompleteData record and
// posts it to the hidden window; the window procedure, on the object's
// thread, turns the record into automation values and fires the event.
//
// IPs is always an array (VT_ARRAY | VT_VARIANT, one dimension, lower bound
// 0) of address texts in the resolver's order; a failed resolution gives an
// array with no elements, never VT_EMPTY, so a script can always ask for its
// bounds.
//
// Ownership: the object owns its resolver. At final release the window goes
// first (records still queued are dropped), then the resolver, whose
// destruction aborts every query still running; their reports find no window
// and are deleted unsent.
#pragma once

#include <memory>
#include <string>
#include <vector>

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
#include "net/dns/dns.h"

namespace KestAXLib {

// The resolver's time-out unless a script sets another, in milliseconds.
inline constexpr DWORD kDefaultDnsObjectTimeout = 7000;

// Event ids of the DNS object's hidden window.
inline constexpr DWORD kResolveNameCompleteEventId = 0;

// The outcome of one resolution, copied on the reporting thread.
class ResolveNameCompleteData : public KestBase::CAsyncEventData {
 public:
  ResolveNameCompleteData(DWORD result, std::wstring domainName, std::vector<std::wstring> addresses)
      : m_result(result), m_domainName(std::move(domainName)), m_addresses(std::move(addresses)) {}

  DWORD Result() const { return m_result; }
  const std::wstring& DomainName() const { return m_domainName; }
  // The texts of the A records, in the order the resolver reported them.
  const std::vector<std::wstring>& Addresses() const { return m_addresses; }

 private:
  DWORD m_result;
  std::wstring m_domainName;
  std::vector<std::wstring> m_addresses;
};

// The server list a SetDNSServers text names: the text split at every
// character of delimiters, each piece trimmed of spaces at both ends, pieces
// left empty dropped. Delimiters are not checked here.
std::vector<std::string> SplitDnsServerText(std::wstring_view servers, std::wstring_view delimiters);

class CDNS : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
             public ATL::CComCoClass<CDNS, &CLSID_KestNetDNS>,
             public TolLock<CDNS, IKestNetDNS, &IID_IKestNetDNS, &LIBID_KestNet, 1, 0>,
             public ATL::IObjectWithSiteImpl<CDNS>,
             public ATL::IObjectSafetyImpl<CDNS, 3>,
             public ATL::IConnectionPointContainerImpl<CDNS>,
             public CProxy_IKestNetDNSEvents<CDNS>,
             public ATL::ISupportErrorInfoImpl<&IID_IKestNetDNS>,
             public ATL::IProvideClassInfo2Impl<&CLSID_KestNetDNS, &IID_IKestNetDNSEvents, &LIBID_KestNet, 1, 0>,
             public KestNet::DNSListener,
             public KestBase::CAsyncEventMgrWnd {
 public:
  CDNS();
  ~CDNS() override;

  BEGIN_COM_MAP(CDNS)
  COM_INTERFACE_ENTRY(IKestNetDNS)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetDNS)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  HRESULT FinalConstruct();
  void FinalRelease();

  // IKestNetDNS
  STDMETHODIMP get_Timeout(LONG* pVal) override;
  STDMETHODIMP put_Timeout(LONG newVal) override;
  STDMETHODIMP SetDNSServers(BSTR DNSServers, BSTR Delimiter) override;
  STDMETHODIMP ResolveName(BSTR DomainName) override;
  STDMETHODIMP Abort(BSTR DomainName) override;
  STDMETHODIMP ClearCache() override;
  STDMETHODIMP get_VendorID(BSTR* pVal) override;
  STDMETHODIMP put_VendorID(BSTR newVal) override;
  STDMETHODIMP ResolveNameAdvanced(BSTR DomainName, LONG Flags, LONG CacheTime) override;
  STDMETHODIMP get_DNS_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_DNS_ERROR_NO_RESPONSES(LONG* pVal) override;
  STDMETHODIMP get_DNS_ERROR_INVALID_OBJECT(LONG* pVal) override;
  STDMETHODIMP get_DNS_ERROR_TIMEOUT(LONG* pVal) override;
  STDMETHODIMP get_DNS_ERROR_ABORT(LONG* pVal) override;
  STDMETHODIMP get_DNS_ERROR_NO_SERVERS(LONG* pVal) override;
  STDMETHODIMP get_DNS_RESOLVE_NAME_ALWAYS_QUERY(LONG* pVal) override;
  STDMETHODIMP get_DNS_RESOLVE_NAME_DONT_CACHE(LONG* pVal) override;
  STDMETHODIMP get_DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT(LONG* pVal) override;

  // DNSListener: any thread; copies the outcome and posts it to the window.
  void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                             KestNet::DnsRecordList& p_records) override;

  // CAsyncEventMgrWnd: the object's thread; fires OnResolveNameComplete.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  HRESULT GetConstant(const char* methodName, LONG value, LONG* pVal);
  void StartResolution(BSTR DomainName, WORD flags, DWORD cacheTime);
  // The resolver; throws InvalidObjectException when construction failed.
  KestNet::Dns& Resolver();

  std::unique_ptr<KestNet::Dns> m_resolver;
  DWORD m_dwTimeout = kDefaultDnsObjectTimeout;
  bool m_bSocketsInitialized = false;
};

}  // namespace KestAXLib
