#include "automation/dns_object.h"

#include <new>
#include <string_view>

#include "automation/module.h"
#include "net/sockets/set_manager.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/atl_variant.h"
#include "platform/com/scoped_safearray.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::IDNS", "KestNetDNS", &CLSID_KestNetDNS};

// A delimiter may not be able to cut an address apart.
constexpr std::wstring_view kForbiddenDelimiterCharacters = L".0123456789";

std::wstring_view ViewOf(BSTR text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text));
}

std::wstring_view TrimSpaces(std::wstring_view text) {
  size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring_view::npos) return {};
  size_t last = text.find_last_not_of(L' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> SplitDnsServerText(std::wstring_view servers, std::wstring_view delimiters) {
  std::vector<std::string> list;
  size_t start = 0;
  while (start <= servers.size()) {
    size_t end = delimiters.empty() ? std::wstring_view::npos : servers.find_first_of(delimiters, start);
    if (end == std::wstring_view::npos) end = servers.size();
    // A run of delimiters, or a piece of nothing but spaces, names no server.
    std::wstring_view piece = TrimSpaces(servers.substr(start, end - start));
    if (!piece.empty()) list.push_back(KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(piece));
    start = end + 1;
  }
  return list;
}

CDNS::CDNS() : CProxy_IKestNetDNSEvents<CDNS>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CDNS", LifecycleStep::Constructor, [&] {
    m_resolver = std::make_unique<KestNet::Dns>();
    m_resolver->SetListener(this);
    m_bSocketsInitialized = KestNet::InitializeSockets();
  });
}

CDNS::~CDNS() {
  GuardedLifecycle(kIdentity, "~CDNS", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

HRESULT CDNS::FinalConstruct() {
  GuardedLifecycle(kIdentity, "FinalConstruct", LifecycleStep::FinalConstruct, [&] {
    if (m_resolver == nullptr) return;
    m_resolver->SetCacheName(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(TrustVendorId()));
  });
  return S_OK;
}

void CDNS::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    // The window first: the aborts the resolver reports while it goes find no
    // window and are dropped instead of reaching a script.
    DestroyAsyncEventWindow();
    m_resolver.reset();
    if (m_bSocketsInitialized) {
      m_bSocketsInitialized = false;
      KestNet::UninitializeSockets();
    }
  });
}

KestNet::Dns& CDNS::Resolver() {
  // Only a constructor that failed leaves the object without its resolver.
  if (m_resolver == nullptr) throw KestBase::InvalidObjectException();
  return *m_resolver;
}

STDMETHODIMP CDNS::get_Timeout(LONG* pVal) {
  return GuardedMethod(kIdentity, "get_Timeout", [&] {
    CheckOutputPointer(kIdentity, "get_Timeout", pVal);
    Log(kIdentity.className, kLogLevelDetail, "get_Timeout():  Returning timeout of <%lu>ms.",
        static_cast<unsigned long>(m_dwTimeout));
    *pVal = static_cast<LONG>(m_dwTimeout);
  });
}

STDMETHODIMP CDNS::put_Timeout(LONG newVal) {
  return GuardedMethod(kIdentity, "put_Timeout", [&] {
    const DWORD timeout = static_cast<DWORD>(newVal);
    Log(kIdentity.className, kLogLevelDetail, "set_Timeout():  Setting timeout of <%lu>ms.",
        static_cast<unsigned long>(timeout));
    if (timeout < KestNet::kDnsMinimumTimeout || timeout > KestNet::kDnsMaximumTimeout) {
      RejectArgument(kIdentity,
                     "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be in the range of 500 to "
                     "30000 ms.");
    }
    m_dwTimeout = timeout;
  });
}

STDMETHODIMP CDNS::SetDNSServers(BSTR DNSServers, BSTR Delimiter) {
  return GuardedMethod(kIdentity, "SetDNSServers", [&] {
    const std::string serverText = KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(ViewOf(DNSServers));
    Log(kIdentity.className, kLogLevelDetail, "SetDNSServers():  Set the DNS servers to <%s>", serverText.c_str());
    const std::wstring_view delimiters = ViewOf(Delimiter);
    if (delimiters.empty() || delimiters.find_first_of(kForbiddenDelimiterCharacters) != std::wstring_view::npos) {
      RejectArgument(kIdentity,
                     "SetDNSServers():  Error - You may be empty and you may not use a '.' as a delimiter.");
    }
    Log(kIdentity.className, kLogLevelDetail, "SetDNSServers():  Set the DNS servers to <%s>", serverText.c_str());
    std::vector<std::string> servers = SplitDnsServerText(ViewOf(DNSServers), delimiters);
    if (servers.empty()) RejectArgument(kIdentity, "SetDNSServers():  Error - No Servers Defined.");
    Resolver().SetDnsServers(servers);
  });
}

void CDNS::StartResolution(BSTR DomainName, WORD flags, DWORD cacheTime) {
  // The object's time-out is held within 500 to 30000 ms, so it fits.
  Resolver().ResolveNameAsync(std::wstring(ViewOf(DomainName)), static_cast<WORD>(m_dwTimeout), flags, cacheTime);
}

STDMETHODIMP CDNS::ResolveName(BSTR DomainName) {
  return GuardedMethod(kIdentity, "ResolveName", [&] { StartResolution(DomainName, 0, 0); });
}

STDMETHODIMP CDNS::ResolveNameAdvanced(BSTR DomainName, LONG Flags, LONG CacheTime) {
  return GuardedMethod(kIdentity, "ResolveNameAdvanced", [&] {
    StartResolution(DomainName, static_cast<WORD>(static_cast<DWORD>(Flags) & 0xFFFFu),
                    static_cast<DWORD>(CacheTime));
  });
}

STDMETHODIMP CDNS::Abort(BSTR DomainName) {
  return GuardedMethod(kIdentity, "Abort",
                       [&] { Resolver().AbortResolveNameAsync(std::wstring(ViewOf(DomainName))); });
}

STDMETHODIMP CDNS::ClearCache() {
  return GuardedMethod(kIdentity, "ClearCache", [&] { Resolver().ClearCache(); });
}

STDMETHODIMP CDNS::get_VendorID(BSTR* pVal) {
  return GuardedMethod(kIdentity, "get_VendorID", [&] {
    CheckOutputPointer(kIdentity, "get_VendorID", pVal);
    const std::wstring name = Resolver().GetCacheName();
    BSTR copy = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    if (copy == nullptr) throw KestBase::OutOfMemoryException();
    *pVal = copy;
  });
}

STDMETHODIMP CDNS::put_VendorID(BSTR newVal) {
  return GuardedMethod(kIdentity, "put_VendorID", [&] { Resolver().SetCacheName(std::wstring(ViewOf(newVal))); });
}

HRESULT CDNS::GetConstant(const char* methodName, LONG value, LONG* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    CheckOutputPointer(kIdentity, methodName, pVal);
    *pVal = value;
  });
}

STDMETHODIMP CDNS::get_DNS_SUCCESS(LONG* pVal) {
  return GetConstant("get_DNS_SUCCESS", KestNet::DNS_SUCCESS, pVal);
}
STDMETHODIMP CDNS::get_DNS_ERROR_NO_RESPONSES(LONG* pVal) {
  return GetConstant("get_DNS_ERROR_NO_RESPONSES", KestNet::DNS_ERROR_NO_RESPONSES, pVal);
}
STDMETHODIMP CDNS::get_DNS_ERROR_INVALID_OBJECT(LONG* pVal) {
  return GetConstant("get_DNS_ERROR_INVALID_OBJECT", KestNet::DNS_ERROR_INVALID_OBJECT, pVal);
}
STDMETHODIMP CDNS::get_DNS_ERROR_TIMEOUT(LONG* pVal) {
  return GetConstant("get_DNS_ERROR_TIMEOUT", KestNet::DNS_ERROR_TIMEOUT, pVal);
}
STDMETHODIMP CDNS::get_DNS_ERROR_ABORT(LONG* pVal) {
  return GetConstant("get_DNS_ERROR_ABORT", KestNet::DNS_ERROR_ABORT, pVal);
}
STDMETHODIMP CDNS::get_DNS_ERROR_NO_SERVERS(LONG* pVal) {
  return GetConstant("get_DNS_ERROR_NO_SERVERS", KestNet::DNS_ERROR_NO_SERVERS, pVal);
}
STDMETHODIMP CDNS::get_DNS_RESOLVE_NAME_ALWAYS_QUERY(LONG* pVal) {
  return GetConstant("get_DNS_RESOLVE_NAME_ALWAYS_QUERY", KestNet::DNS_RESOLVE_NAME_ALWAYS_QUERY, pVal);
}
STDMETHODIMP CDNS::get_DNS_RESOLVE_NAME_DONT_CACHE(LONG* pVal) {
  return GetConstant("get_DNS_RESOLVE_NAME_DONT_CACHE", KestNet::DNS_RESOLVE_NAME_DONT_CACHE, pVal);
}
STDMETHODIMP CDNS::get_DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT(LONG* pVal) {
  return GetConstant("get_DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT", KestNet::DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT,
                     pVal);
}

void CDNS::OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                                 KestNet::DnsRecordList& p_records) {
  GuardedCallback(kIdentity, "OnResolveNameComplete", [&] {
    ResolveNameCompleteData* record = nullptr;
    try {
      std::vector<std::wstring> addresses;
      for (const KestNet::DnsRecord& answer : p_records) {
        // Only addresses reach the script; a CNAME on the way is not one.
        if (answer.type != KestNet::kDnsRecordTypeA) continue;
        addresses.push_back(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(answer.address.ToString()));
      }
      record = new ResolveNameCompleteData(p_dwResult, p_cstrwName, std::move(addresses));
    } catch (const std::bad_alloc&) {
      Log(kIdentity.className, kLogLevelWarning,
          "OnResolveNameComplete() - Out of memory: Unable to allocate ResolveNameComplete data structure");
      return;
    }
    PostAsyncEvent(kResolveNameCompleteEventId, record);
  });
}

void CDNS::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // The handler owns the record whatever happens to it.
  std::unique_ptr<KestBase::CAsyncEventData> owned(record);
  GuardedCallback(kIdentity, "HandleAsyncEventMessage", [&] {
    if (eventId != kResolveNameCompleteEventId) return;
    auto* outcome = KestBase::AsEventRecord<ResolveNameCompleteData>(kIdentity.className, eventId, owned.get());
    if (outcome == nullptr) return;

    ATL::CComVariant ips;
    const HRESULT built = kestnet::platform::CreateTextArray(outcome->Addresses(), &ips);
    if (FAILED(built)) ATL::AtlThrow(built);
    ATL::CComBSTR domainName(outcome->DomainName());
    if (domainName.m_str == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);

    // A sink may drop the script's last reference while it runs; the object
    // stays until the event has been fired to every sink.
    ATL::CComPtr<IKestNetDNS> keepAlive(static_cast<IKestNetDNS*>(this));
    Fire_OnResolveNameComplete(static_cast<INT>(outcome->Result()), domainName, ips);
  });
}

OBJECT_ENTRY_AUTO(CLSID_KestNetDNS, CDNS)

}  // namespace KestAXLib
