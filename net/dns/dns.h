// KestNet::Dns: the resolver the rest of the system uses to turn a host name
// into IPv4 addresses.
//
// It keeps the list of DNS servers (asked once of the KestSysNet companion,
// or set by the caller), answers from the registry cache (DnsCache) when it
// can, and otherwise runs one DNSThread query. ResolveName blocks until the
// query ends; ResolveNameAsync returns at once and reports through the
// listener. At most one asynchronous resolution per name (letter case aside)
// runs at a time, and AbortResolveNameAsync aborts it by name.
//
// Threads: the resolve calls may come from any thread; completions arrive on
// query threads and socket event threads. The thread manager has its own
// locks; the server list and the listener are guarded by m_stateLock, a leaf
// lock never held while anything else is called. Initialize is run under
// m_initLock so that two first callers do not ask the companion twice.
//
// Destroying the resolver aborts every query still running; each reports
// DNS_ERROR_ABORT to the listener unless it had reported already, so the
// listener must outlive the resolver.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "net/dns/dns_cache.h"
#include "net/dns/dns_listener.h"
#include "net/dns/dns_record.h"
#include "net/dns/dns_thread.h"
#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/thread.h"
#include "runtime/thread_manager.h"

namespace KestNet {

// Resolve flags; any bit outside 0x0007 is invalid.
inline constexpr WORD DNS_RESOLVE_NAME_ALWAYS_QUERY = 1;
inline constexpr WORD DNS_RESOLVE_NAME_DONT_CACHE = 2;
inline constexpr WORD DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT = 4;
inline constexpr WORD kDnsResolveFlagsMask = 0x0007;

// Time-outs accepted by the resolve calls, in milliseconds (both included).
inline constexpr WORD kDnsMinimumTimeout = 500;
inline constexpr WORD kDnsMaximumTimeout = 30000;

class Dns : public DNSListener {
 public:
  Dns();
  // Aborts every running query (each reports DNS_ERROR_ABORT).
  virtual ~Dns();

  Dns(const Dns&) = delete;
  Dns& operator=(const Dns&) = delete;

  // Runs once per object; every other operation calls it first. A bad answer
  // from the companion throws (HRESULTException, InvalidObjectException) and
  // leaves the object uninitialised, so the next operation tries again.
  // Works from any thread: one outside COM enters the multithreaded
  // apartment for the duration of the companion's question.
  void Initialize();

  // Validates every entry ("0.0.0.0" and non-addresses throw
  // InvalidParameterException, leaving the list as it was), then replaces
  // the list.
  void SetDnsServers(const std::vector<std::string>& p_servers);
  std::vector<std::string> GetDnsServers();

  // Null throws InvalidParameterException. Not owned.
  void SetListener(DNSListener* p_pListener);

  // A name with a backslash throws InvalidParameterException.
  void SetCacheName(const std::wstring& p_cstrwCacheName);
  std::wstring GetCacheName();
  std::wstring GetCachePath();
  void ClearCache();

  // Synchronous. Returns the DNS result code; p_addresses receives the
  // dotted addresses of the A records. An abort of p_pAbortEvent or of
  // p_pCallingThread throws KestMT::ThreadAbortException.
  DWORD ResolveName(const std::wstring& p_cstrwName, WORD p_wTimeout, std::vector<std::wstring>& p_addresses,
                    WORD p_wFlags, DWORD p_dwCacheTime, KestMT::Event* p_pAbortEvent = nullptr,
                    KestMT::Thread* p_pCallingThread = nullptr);
  // Asynchronous; the outcome arrives through the listener.
  void ResolveNameAsync(const std::wstring& p_cstrwName, WORD p_wTimeout, WORD p_wFlags, DWORD p_dwCacheTime);
  void AbortResolveNameAsync(const std::wstring& p_cstrwName);

  // DNSListener: every query started here reports through it.
  void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                             DnsRecordList& p_records) override;

  // The cache's clock; tests move time with it.
  void SetCacheClock(DnsCache::Clock p_clock);

 private:
  // The checks both resolve calls make, in order. False (after delivering
  // DNS_ERROR_NO_SERVERS when p_bAsync) when there are no servers; throws
  // InvalidParameterException for bad arguments.
  bool CheckResolveArguments(const char* p_szMethod, const std::wstring& p_cstrwName, WORD p_wTimeout,
                             WORD p_wFlags, DWORD p_dwCacheTime, bool p_bAsync);
  // Creates and starts a query for the lower-cased name. A managed query
  // whose key is taken already is not started: nullptr.
  DNSThread* StartQuery(const char* p_szMethod, const std::string& p_strKey, WORD p_wTimeout, WORD p_wFlags,
                        DWORD p_dwCacheTime, bool p_bManaged);
  DNSListener* GetListener();

  std::mutex m_initLock;
  bool m_bInitialized = false;  // m_initLock
  const bool m_bVista;

  std::mutex m_stateLock;  // leaf: the fields below
  std::vector<std::string> m_servers;
  DNSListener* m_pListener = nullptr;
  std::wstring m_strwCacheName;

  DnsCache m_cache;
  // Declared last so that it is destroyed first, while the rest still lives.
  KestThreadManager<DNSThread, std::string> m_threads;
};

// Lower-cases the ASCII letters of a name, the key of the cache and of the
// running queries.
std::string LowerCaseDnsName(const std::wstring& p_cstrwName);

}  // namespace KestNet
