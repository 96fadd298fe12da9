#include "net/dns/dns.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "companions/kestsysnet/kest_sys_net.h"
#include "net/dns/dns_query_message.h"
#include "net/sockets/ip_address.h"
#include "platform/com/activation.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/atl_variant.h"
#include "platform/com/safearray.h"
#include "platform/com/scoped_com_initializer.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"
#include "runtime/string_conversion.h"
#include "utils/os_identification.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNetLib::DNS";

using KestUtilsLib::StringConversion;

template <typename Exception>
[[noreturn]] void Throw(const std::source_location& where = std::source_location::current()) {
  KestMT::ThrowLogged<Exception>(kClassName, where);
}

// Appends the companion's servers; throws as Initialize documents.
void ReadCompanionServers(IKestSysNetNetwork* p_pNetwork, std::vector<std::string>& p_servers) {
  ATL::CComVariant servers;
  const HRESULT hr = p_pNetwork->get_DNSServers(servers.Receive());
  if (FAILED(hr)) {
    Log(kClassName, kLogLevelWarning,
        "Initialize():  Error - We found SysNet and failed a call to get the DNSServers, hr = <0x%X>.",
        static_cast<unsigned>(hr));
    throw KestBase::HRESULTException(hr, KestMT::SourceFileName(__FILE__), __LINE__);
  }
  if (V_VT(&servers) != (VT_ARRAY | VT_VARIANT) || V_ARRAY(&servers) == nullptr ||
      SafeArrayGetDim(V_ARRAY(&servers)) != 1) {
    Log(kClassName, kLogLevelWarning, "Initialize():  KestSysNet returned an invalid response.");
    Throw<KestBase::InvalidObjectException>();
  }
  SAFEARRAY* pArray = V_ARRAY(&servers);
  LONG lLower = 0;
  LONG lUpper = -1;
  SafeArrayGetLBound(pArray, 1, &lLower);
  SafeArrayGetUBound(pArray, 1, &lUpper);
  for (LONG lIndex = lLower; lIndex <= lUpper; ++lIndex) {
    ATL::CComVariant element;
    if (FAILED(SafeArrayGetElement(pArray, &lIndex, element.Receive())) || V_VT(&element) != VT_BSTR) {
      Log(kClassName, kLogLevelWarning, "Initialize():  KestSysNet returned an array that contains invalid values.");
      Throw<KestBase::InvalidObjectException>();
    }
    BSTR bstrServer = V_BSTR(&element);
    const std::string server =
        StringConversion::ConvertCAtlStringWToANSI(std::wstring(bstrServer, SysStringLen(bstrServer)));
    Log(kClassName, kLogLevelDetail, "Intialize():  Found DNS Server <%s>.", server.c_str());
    p_servers.push_back(server);
  }
}

// The cache's base key follows the platform: Vista and later keep it under
// the newer configuration key. A platform that cannot say counts as newer,
// the base every other part of the system assumes by default.
bool RunsOnVistaOrLater() {
  try {
    return KestUtilsLib::Platform().IsVistaOrLater();
  } catch (const KestBase::BaseException&) {
    return true;
  }
}

// A host name is printable text: a NUL would be sent whole but end the name
// wherever it meets a C string (the cache's registry key among them, where
// "victim\0.poison" would land on "victim"), and other control characters
// have no place in a name a user typed.
bool IsHostNameText(const std::wstring& p_cstrwName) {
  return std::none_of(p_cstrwName.begin(), p_cstrwName.end(),
                      [](wchar_t p_c) { return p_c < L' ' || p_c == 0x7F; });
}

}  // namespace

std::string LowerCaseDnsName(const std::wstring& p_cstrwName) {
  std::string name = StringConversion::ConvertCAtlStringWToANSI(p_cstrwName);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

Dns::Dns() : m_bVista(RunsOnVistaOrLater()) {}

Dns::~Dns() {
  try {
    m_threads.DeleteAllThreads();
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~Dns");
  }
}

void Dns::Initialize() {
  std::lock_guard<std::mutex> init(m_initLock);
  if (m_bInitialized) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_pListener = nullptr;
  }
  m_cache.SetPath(DnsCache::MakeCachePath(L"", m_bVista));

  // Declared before the companion's pointers so that they are released
  // while the thread is still in the apartment.
  // The companion is asked through COM, which the calling thread may never
  // have entered (a socket connecting by name from a plain worker thread).
  // Such a thread joins the multithreaded apartment for the span of the
  // question; a thread already able to use COM is left as it is. Declared
  // before the companion's pointers, which are released inside the apartment.
  kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kMultithreadedUnlessInitialized);
  if (!com.Succeeded()) {
    Log(kClassName, kLogLevelWarning,
        "Initialize():  Error - COM could not be initialized on this thread, hr = <0x%X>.",
        static_cast<unsigned>(com.Result()));
  }
  ATL::CComPtr<IUnknown> unknown;
  if (FAILED(CoCreateInstance(CLSID_KestSysNetNetwork, nullptr, CLSCTX_ALL, IID_IUnknown,
                              reinterpret_cast<void**>(&unknown))) ||
      unknown == nullptr) {
    Log(kClassName, kLogLevelInformation,
        "Initialize():  Warning - Could not CoCreate KestSysNetNetwork to get the DNS servers.  You must add them "
        "manually.");
    m_bInitialized = true;
    return;
  }
  ATL::CComPtr<IKestSysNetNetwork> network;
  if (FAILED(unknown->QueryInterface(IID_PPV_ARGS(&network))) || network == nullptr) {
    Log(kClassName, kLogLevelInformation,
        "Initialize():  Warning - Could not query for IKestSysNetNetwork to get the DNS servers.  You must add "
        "them manually.");
    m_bInitialized = true;
    return;
  }
  std::vector<std::string> found;
  ReadCompanionServers(network, found);
  {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_servers.insert(m_servers.end(), found.begin(), found.end());
  }
  m_bInitialized = true;
}

void Dns::SetDnsServers(const std::vector<std::string>& p_servers) {
  Initialize();
  for (const std::string& server : p_servers) {
    if (server == "0.0.0.0" || !IPAddress(server).IsValid()) {
      Log(kClassName, kLogLevelWarning, "SetDNSServers():  Error - <%s> is not an Address", server.c_str());
      Throw<KestBase::InvalidParameterException>();
    }
  }
  std::lock_guard<std::mutex> lock(m_stateLock);
  m_servers = p_servers;
}

std::vector<std::string> Dns::GetDnsServers() {
  Initialize();
  std::lock_guard<std::mutex> lock(m_stateLock);
  return m_servers;
}

void Dns::SetListener(DNSListener* p_pListener) {
  Initialize();
  if (p_pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "SetListener():  Error - The listener is not valid.");
    Throw<KestBase::InvalidParameterException>();
  }
  std::lock_guard<std::mutex> lock(m_stateLock);
  m_pListener = p_pListener;
}

DNSListener* Dns::GetListener() {
  std::lock_guard<std::mutex> lock(m_stateLock);
  return m_pListener;
}

void Dns::SetCacheName(const std::wstring& p_cstrwCacheName) {
  Initialize();
  if (p_cstrwCacheName.find(L'\\') != std::wstring::npos) {
    Log(kClassName, kLogLevelWarning, "SetCacheName():  Error - Cache Name may not have a \\ in it.");
    Throw<KestBase::InvalidParameterException>();
  }
  std::lock_guard<std::mutex> lock(m_stateLock);
  m_strwCacheName = p_cstrwCacheName;
  m_cache.SetPath(DnsCache::MakeCachePath(m_strwCacheName, m_bVista));
}

std::wstring Dns::GetCacheName() {
  Initialize();
  std::lock_guard<std::mutex> lock(m_stateLock);
  return m_strwCacheName;
}

std::wstring Dns::GetCachePath() {
  Initialize();
  return m_cache.GetPath();
}

void Dns::ClearCache() {
  Initialize();
  m_cache.Clear();
}

void Dns::SetCacheClock(DnsCache::Clock p_clock) { m_cache.SetClock(std::move(p_clock)); }

bool Dns::CheckResolveArguments(const char* p_szMethod, const std::wstring& p_cstrwName, WORD p_wTimeout,
                                WORD p_wFlags, DWORD p_dwCacheTime, bool p_bAsync) {
  const std::string narrow = StringConversion::ConvertCAtlStringWToANSI(p_cstrwName);
  Log(kClassName, kLogLevelDetail, "%s():  Attempting to resolve server <%s>.", p_szMethod, narrow.c_str());
  if (p_cstrwName.empty()) {
    Log(kClassName, kLogLevelWarning, "%s():  Error - Invalid Parameter. You must specify a name.", p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  if (!IsHostNameText(p_cstrwName)) {
    KestLog::LogInvalidArgument(kClassName, p_szMethod, "p_cstrwName");
    Throw<KestBase::InvalidParameterException>();
  }
  if (p_bAsync && GetListener() == nullptr) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - Cannot perform Async operations without setting the listener.", p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  if ((p_wFlags & ~kDnsResolveFlagsMask) != 0) {
    Log(kClassName, kLogLevelWarning, "%s():  Error - Invalid Flags specified.", p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  const bool bSpecify = (p_wFlags & DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT) != 0;
  if (bSpecify && p_dwCacheTime == 0) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - You may not specify a cache time of 0 (zero) with DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, "
        "use DNS_RESOLVE_NAME_DONT_CACHE instead.",
        p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  if (bSpecify && (p_wFlags & DNS_RESOLVE_NAME_DONT_CACHE) != 0) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - You may not specify a cache time with the instruction to not cache the results.",
        p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  if (p_wTimeout < kDnsMinimumTimeout || p_wTimeout > kDnsMaximumTimeout) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - Invalid Timeout Parameter.  Timeouts must be int he range of 500 to 30000 ms.", p_szMethod);
    Throw<KestBase::InvalidParameterException>();
  }
  // A name that cannot be written into a question would only fail later,
  // on the query thread; it is refused here with its own line.
  if (!IsEncodableDnsName(narrow)) {
    Log(kClassName, kLogLevelWarning, "%s():  Error - <%s> is not a name that can be queried.", p_szMethod,
        narrow.c_str());
    Throw<KestBase::InvalidParameterException>();
  }
  bool bNoServers = false;
  {
    std::lock_guard<std::mutex> lock(m_stateLock);
    bNoServers = m_servers.empty();
  }
  if (bNoServers) {
    Log(kClassName, kLogLevelWarning,
        "%s():  Error - Invalid Operation.  You must set the servers before performing a query.", p_szMethod);
    if (p_bAsync) {
      DnsRecordList none;
      OnResolveNameComplete(p_cstrwName, DNS_ERROR_NO_SERVERS, none);
    }
    return false;
  }
  return true;
}

DNSThread* Dns::StartQuery(const char* p_szMethod, const std::string& p_strKey, WORD p_wTimeout, WORD p_wFlags,
                           DWORD p_dwCacheTime, bool p_bManaged) {
  std::unique_ptr<DNSThread> query;
  try {
    query = std::make_unique<DNSThread>();
  } catch (...) {
    query.reset();
  }
  if (!query) {
    Log(kClassName, kLogLevelError, "%s():  Error - Failed to allocated a Thread object.", p_szMethod);
    Throw<KestBase::InvalidObjectException>();
  }
  std::vector<std::string> servers;
  {
    std::lock_guard<std::mutex> lock(m_stateLock);
    servers = m_servers;
  }
  const bool bDontCache = (p_wFlags & DNS_RESOLVE_NAME_DONT_CACHE) != 0;
  const bool bSpecify = (p_wFlags & DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT) != 0;
  DNSThread* pQuery = query.get();
  if (p_bManaged) {
    // A key already taken means the name is being resolved: the unstarted
    // query is dropped. Otherwise the manager owns the query from here; a
    // failed start leaves an entry that nothing would ever remove, so it is
    // taken out again.
    if (!m_threads.TryAddThread(p_strKey, pQuery)) {
      return nullptr;
    }
    query.release();
    try {
      pQuery->RunQuery(servers, p_strKey, p_wTimeout, bDontCache, bSpecify, p_dwCacheTime, this);
    } catch (...) {
      m_threads.DeleteThread(p_strKey);
      throw;
    }
    return pQuery;
  }
  pQuery->RunQuery(servers, p_strKey, p_wTimeout, bDontCache, bSpecify, p_dwCacheTime, this);
  return query.release();
}

DWORD Dns::ResolveName(const std::wstring& p_cstrwName, WORD p_wTimeout, std::vector<std::wstring>& p_addresses,
                       WORD p_wFlags, DWORD p_dwCacheTime, KestMT::Event* p_pAbortEvent,
                       KestMT::Thread* p_pCallingThread) {
  Initialize();
  if (!CheckResolveArguments("ResolveName", p_cstrwName, p_wTimeout, p_wFlags, p_dwCacheTime, false)) {
    p_addresses.clear();
    return DNS_ERROR_NO_SERVERS;
  }
  const std::string key = LowerCaseDnsName(p_cstrwName);
  p_addresses.clear();
  DWORD dwResult = DNS_ERROR_NO_RESPONSES;
  DnsRecordList records;
  bool bFromCache = false;
  bool bDontCache = (p_wFlags & DNS_RESOLVE_NAME_DONT_CACHE) != 0;
  if ((p_wFlags & DNS_RESOLVE_NAME_ALWAYS_QUERY) == 0 && m_cache.Lookup(key, records)) {
    dwResult = DNS_SUCCESS;
    bFromCache = true;
  }
  if (!bFromCache) {
    std::unique_ptr<DNSThread> query(StartQuery("ResolveName", key, p_wTimeout, p_wFlags, p_dwCacheTime, false));
    // An abort throws ThreadAbortException out of here; destroying the query
    // then aborts it.
    query->WaitForThreadToEnd(INFINITE, p_pAbortEvent, p_pCallingThread);
    query->GetResults(dwResult, records);
    bDontCache = query->GetDontCache();  // a truncated answer is not kept
  }
  for (const DnsRecord& record : records) {
    if (record.type == kDnsRecordTypeA) {
      p_addresses.push_back(StringConversion::ConvertANSIToCAtlStringW(record.address.ToString()));
    }
  }
  // Only answers are cached: an error outcome carries no records anyway.
  // A cache hit is not stored again: with a given cache time that would
  // push its expiry out on every hit.
  if (!bFromCache && !bDontCache && dwResult == DNS_SUCCESS) {
    m_cache.Store(key, records, (p_wFlags & DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT) != 0, p_dwCacheTime);
  }
  return dwResult;
}

void Dns::ResolveNameAsync(const std::wstring& p_cstrwName, WORD p_wTimeout, WORD p_wFlags, DWORD p_dwCacheTime) {
  Initialize();
  if (!CheckResolveArguments("ResolveNameAsync", p_cstrwName, p_wTimeout, p_wFlags, p_dwCacheTime, true)) {
    return;
  }
  const std::string key = LowerCaseDnsName(p_cstrwName);
  if (m_threads.HasThread(key)) {
    Log(kClassName, kLogLevelInformation, "ResolveNameAsync():  This name is already being resolved.");
    return;
  }
  if ((p_wFlags & DNS_RESOLVE_NAME_ALWAYS_QUERY) == 0) {
    DnsRecordList records;
    if (m_cache.Lookup(key, records)) {
      Log(kClassName, kLogLevelTrace, "ResolveNameAsync():  Found name in the cache.");
      OnResolveNameComplete(p_cstrwName, DNS_SUCCESS, records);
      return;
    }
  }
  if (StartQuery("ResolveNameAsync", key, p_wTimeout, p_wFlags, p_dwCacheTime, true) == nullptr) {
    // Two callers raced past the check above: the second one is the
    // already-running case, and reports nothing.
    Log(kClassName, kLogLevelInformation, "ResolveNameAsync():  This name is already being resolved.");
  }
}

void Dns::AbortResolveNameAsync(const std::wstring& p_cstrwName) {
  Initialize();
  const std::string narrow = StringConversion::ConvertCAtlStringWToANSI(p_cstrwName);
  Log(kClassName, kLogLevelDetail, "AbortAsyncResolveName():  Aborting thread operation for <%s>.", narrow.c_str());
  if (p_cstrwName.empty()) {
    Log(kClassName, kLogLevelWarning, "AbortAsyncResolveName():  Error - Invalid Parameter. You must specify a name.");
    Throw<KestBase::InvalidParameterException>();
  }
  const std::string key = LowerCaseDnsName(p_cstrwName);
  if (!m_threads.HasThread(key)) {
    Log(kClassName, kLogLevelInformation,
        "AbortAsyncResolveName():  Thread <%s> does not exist, maybe the call back has already occured (or is "
        "occuring).",
        narrow.c_str());
    return;
  }
  // The query reports DNS_ERROR_ABORT through OnResolveNameComplete, which
  // removes its entry; the entry is gone by the time AbortThread returns.
  m_threads.AbortThread(key);
  if (m_threads.HasThread(key)) {
    m_threads.DeleteThread(key);
  }
}

void Dns::OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult, DnsRecordList& p_records) {
  const std::string narrow = StringConversion::ConvertCAtlStringWToANSI(p_cstrwName);
  Log(kClassName, kLogLevelDetail,
      "OnResolveNameComplete():  Resolution complete for <%s> with error code <%u>. Found <%u> responses.",
      narrow.c_str(), static_cast<unsigned>(p_dwResult), static_cast<unsigned>(p_records.size()));
  const std::string key = LowerCaseDnsName(p_cstrwName);
  bool bAsync = false;
  bool bDontCache = false;
  bool bSpecify = false;
  DWORD dwCacheTime = 0;
  if (m_threads.HasThread(key)) {
    try {
      DNSThread* pQuery = m_threads.GetThread(key);
      bAsync = true;
      bDontCache = pQuery->GetDontCache();
      bSpecify = pQuery->GetSpecifyCacheTime();
      dwCacheTime = pQuery->GetCacheTime();
      m_threads.DeleteThread(key);
    } catch (const KestBase::InvalidParameterException&) {
      // Removed meanwhile by an abort: nothing left to read.
      bAsync = false;
    }
  }
  DNSListener* pListener = GetListener();
  if (pListener == nullptr) {
    Log(kClassName, kLogLevelWarning, "OnResolveNameComplete():  Error - The listener is not valid.");
    Throw<KestBase::InvalidObjectException>();
  }
  pListener->OnResolveNameComplete(p_cstrwName, p_dwResult, p_records);
  if (bAsync && p_dwResult == DNS_SUCCESS && !bDontCache) {
    m_cache.Store(key, p_records, bSpecify, dwCacheTime);
  }
}

}  // namespace KestNet
