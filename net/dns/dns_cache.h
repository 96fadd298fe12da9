// KestNet::DnsCache: the resolver's persistent cache of A records, kept in
// the current user's registry and shared by every process of the session.
//
// Layout under HKEY_CURRENT_USER\<path>:
//   "LastLocalTime"  DWORD   the time of the last read or write
//   <name>\"IPAddresses"     multi-string, the addresses in rotation order
//   <name>\"ExpirationDate"  DWORD, time of expiry
//   <name>\"TTL"             DWORD, the lifetime granted when written
// Times are seconds since 1970 UTC, low 32 bits. A clock that has gone back
// behind "LastLocalTime" empties the whole cache.
//
// Every access holds the named mutex "KEST_DNS_CACHE_MTX" (session scope),
// which serialises this process's threads and the other processes alike; it
// is waited for at most kCacheLockTimeout, after which the access goes on
// without the cache. The
// mutex is recursive, so Clear may run while a lookup holds it. The path has
// its own small lock (m_pathLock), a leaf taken only to copy or replace it.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "net/dns/dns_record.h"
#include "platform/os/win_types.h"
#include "runtime/mutex.h"
#include "runtime/registry.h"

namespace KestNet {

class DnsCache {
 public:
  // The current time in seconds since 1970 UTC (low 32 bits).
  using Clock = std::function<DWORD()>;

  static constexpr const char* kMutexName = "Local\\KEST_DNS_CACHE_MTX";
  // How long a cache access waits for the named mutex before going on
  // without the cache (a lookup misses, a store or clear is skipped). An
  // access holds it for a few registry operations, milliseconds; two
  // seconds is far beyond any honest hold yet short against a resolution's
  // own time-out, so a process that hangs holding the mutex costs the
  // others their cache, never their answers.
  static constexpr DWORD kCacheLockTimeout = 2000;

  DnsCache();
  DnsCache(const DnsCache&) = delete;
  DnsCache& operator=(const DnsCache&) = delete;

  // The registry key (under HKEY_CURRENT_USER) for a cache name; an empty
  // name is the default cache. p_bVista chooses the base key.
  static std::wstring MakeCachePath(const std::wstring& p_cstrwCacheName, bool p_bVista);
  // The system clock.
  static DWORD SystemClock();

  void SetPath(const std::wstring& p_cstrwPath);
  std::wstring GetPath() const;
  // Replaces the clock (tests move time without touching the machine's).
  void SetClock(Clock p_clock);

  // True with one record per cached address (ttl 0, the list rotated by one
  // and written back) when the name has an unexpired entry.
  bool Lookup(const std::string& p_strLowerName, DnsRecordList& p_records);
  // Stores the A records with a non-zero TTL for the largest TTL (a TTL of
  // 2^31 or more counts as 0), or every A record for p_dwCacheTime when
  // p_bSpecifyCacheTime. With nothing to keep no entry is made. Registry
  // failures are logged, never thrown.
  void Store(const std::string& p_strLowerName, const DnsRecordList& p_records,
             bool p_bSpecifyCacheTime, DWORD p_dwCacheTime);
  // Deletes the cache key and everything below it.
  void Clear();

 private:
  DWORD Now() const;
  // Reads and updates "LastLocalTime" of the open cache key (m_cacheMutex
  // held): clears the cache when the clock went back or the value cannot be
  // read, leaving p_cache open on the new, empty key. p_szReadError is the
  // line logged for an unreadable value. Returns now.
  DWORD CheckClock(const std::wstring& p_cstrwPath, KestUtilsLib::Registry::OpenedKey& p_cache,
                   const char* p_szReadError);

  KestMT::Mutex m_cacheMutex;
  mutable std::mutex m_pathLock;
  std::wstring m_strwPath;  // m_pathLock
  Clock m_clock;            // m_pathLock
};

}  // namespace KestNet
