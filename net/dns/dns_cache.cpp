#include "net/dns/dns_cache.h"

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/registry.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNetLib::DNS";
constexpr const wchar_t* kLastLocalTime = L"LastLocalTime";
constexpr const wchar_t* kAddresses = L"IPAddresses";
constexpr const wchar_t* kExpirationDate = L"ExpirationDate";
constexpr const wchar_t* kTtl = L"TTL";

using KestUtilsLib::Registry;

// RFC 2181 §8: a TTL with the most significant bit set is treated as 0.
constexpr DWORD kLargestTtl = 0x7FFFFFFFu;

DWORD EffectiveTtl(DWORD p_dwTtl) { return p_dwTtl > kLargestTtl ? 0 : p_dwTtl; }

// One hold of the cache's named mutex, for at most kCacheLockTimeout. The
// mutex is shared by every process of the session: one that hangs while
// holding it must cost the others a resolution from the network, not their
// resolutions altogether.
class CacheLockHold {
 public:
  CacheLockHold(KestMT::Mutex& p_mutex, const char* p_szOperation)
      : m_mutex(p_mutex), m_bHeld(p_mutex.Acquire(DnsCache::kCacheLockTimeout)) {
    if (!m_bHeld) {
      Log(kClassName, kLogLevelWarning,
          "%s():  Warning - The cache lock was not granted within %u ms; going on without the cache.",
          p_szOperation, static_cast<unsigned>(DnsCache::kCacheLockTimeout));
    }
  }
  ~CacheLockHold() {
    if (m_bHeld) {
      m_mutex.Release();
    }
  }
  CacheLockHold(const CacheLockHold&) = delete;
  CacheLockHold& operator=(const CacheLockHold&) = delete;

  bool IsHeld() const { return m_bHeld; }

 private:
  KestMT::Mutex& m_mutex;
  const bool m_bHeld;
};

// Opens the cache key with full access into p_key (empty); false when it
// cannot be opened, a missing key included.
bool OpenCacheKey(const std::wstring& p_cstrwPath, Registry::OpenedKey& p_key) {
  return RegOpenKeyExW(HKEY_CURRENT_USER, p_cstrwPath.c_str(), 0, KEY_ALL_ACCESS, p_key.Receive()) == ERROR_SUCCESS;
}

// Creates the cache key (the wrapper logs and throws what fails) and opens it
// into p_key in place of what it held.
void CreateCacheKey(const std::wstring& p_cstrwPath, Registry::OpenedKey& p_key) {
  Registry::CreateKey(HKEY_CURRENT_USER, p_cstrwPath);
  p_key.Reset();
  if (!OpenCacheKey(p_cstrwPath, p_key)) throw KestUtils::RegOpenKeyException();
}

// A name holding a key separator would be stored as a path of keys, outside
// its own entry; such names are never cached.
bool IsCacheableName(const std::string& p_strName) {
  return !p_strName.empty() && p_strName.find('\\') == std::string::npos &&
         p_strName.find('\0') == std::string::npos;
}

}  // namespace

DnsCache::DnsCache() : m_clock(&DnsCache::SystemClock) {
  m_cacheMutex.Config(kMutexName, nullptr);
}

std::wstring DnsCache::MakeCachePath(const std::wstring& p_cstrwCacheName, bool p_bVista) {
  std::wstring path = p_bVista ? L"SOFTWARE\\Tolvar\\Kest\\Config\\" : L"SOFTWARE\\Tolvar\\Pelwick\\Config\\";
  if (!p_cstrwCacheName.empty()) {
    path += p_cstrwCacheName + L"\\";
  }
  return path + L"KestNet\\DNSCache";
}

DWORD DnsCache::SystemClock() { return static_cast<DWORD>(std::time(nullptr)); }

void DnsCache::SetPath(const std::wstring& p_cstrwPath) {
  std::lock_guard<std::mutex> lock(m_pathLock);
  m_strwPath = p_cstrwPath;
}

std::wstring DnsCache::GetPath() const {
  std::lock_guard<std::mutex> lock(m_pathLock);
  return m_strwPath;
}

void DnsCache::SetClock(Clock p_clock) {
  std::lock_guard<std::mutex> lock(m_pathLock);
  m_clock = p_clock ? std::move(p_clock) : Clock(&DnsCache::SystemClock);
}

DWORD DnsCache::Now() const {
  Clock clock;
  {
    std::lock_guard<std::mutex> lock(m_pathLock);
    clock = m_clock;
  }
  return clock();
}

DWORD DnsCache::CheckClock(const std::wstring& p_cstrwPath, Registry::OpenedKey& p_cache, const char* p_szReadError) {
  const DWORD dwNow = Now();
  DWORD dwLast = 0;
  bool bRead = false;
  try {
    bRead = Registry::GetDwordVal(p_cache.Get(), kLastLocalTime, dwLast);
  } catch (const KestBase::BaseException&) {
    bRead = false;  // a value of another type
  }
  if (!bRead && RegQueryValueExW(p_cache.Get(), kLastLocalTime, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    // A damaged time stamp would otherwise fail every resolution from now
    // on: nothing in the cache can be trusted, so it starts again empty.
    Log(kClassName, kLogLevelWarning, p_szReadError);
    Clear();
    CreateCacheKey(p_cstrwPath, p_cache);
  } else if (bRead && dwNow < dwLast) {
    Clear();
    CreateCacheKey(p_cstrwPath, p_cache);
    bRead = false;
  }
  // Rewriting the same second would change nothing but cost a write.
  if (!bRead || dwLast != dwNow) Registry::SetDwordVal(p_cache.Get(), kLastLocalTime, dwNow);
  return dwNow;
}

bool DnsCache::Lookup(const std::string& p_strLowerName, DnsRecordList& p_records) {
  p_records.clear();
  if (!IsCacheableName(p_strLowerName)) {
    return false;
  }
  const std::wstring path = GetPath();
  try {
    CacheLockHold lock(m_cacheMutex, "ResolveNameFromCache");
    if (!lock.IsHeld()) {
      return false;
    }
    // The cache key and the entry are opened once each, and every read and
    // write below is one call on them.
    Registry::OpenedKey cache;
    if (!OpenCacheKey(path, cache)) {
      Registry::CreateKey(HKEY_CURRENT_USER, path);
      return false;
    }
    const DWORD dwNow =
        CheckClock(path, cache, "ResolveNameFromCache():  Error - Failed to read local time from the registry.");

    const std::wstring name = KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strLowerName);
    Registry::ValidateKeyPathLength(path + L"\\" + name);
    Registry::OpenedKey entry;
    if (RegOpenKeyExW(cache.Get(), name.c_str(), 0, KEY_ALL_ACCESS, entry.Receive()) != ERROR_SUCCESS) {
      return false;
    }
    DWORD dwExpiry = 0;
    std::vector<std::wstring> addresses;
    try {
      if (!Registry::GetDwordVal(entry.Get(), kExpirationDate, dwExpiry) || dwExpiry < dwNow ||
          !Registry::GetMultiStringVal(entry.Get(), kAddresses, addresses) || addresses.empty()) {
        return false;
      }
    } catch (const KestBase::BaseException&) {
      return false;  // a value of another type: the entry is unreadable
    }
    std::rotate(addresses.begin(), addresses.begin() + 1, addresses.end());
    DnsRecordList records;
    for (const std::wstring& address : addresses) {
      DnsRecord record;
      record.name = p_strLowerName;
      record.type = kDnsRecordTypeA;
      record.ttl = 0;
      record.address.Set(KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(address));
      records.push_back(std::move(record));
    }
    // One address rotates onto itself: there is nothing to write back.
    if (addresses.size() > 1) {
      Registry::SetMultiStringVal(entry.Get(), kAddresses, addresses);
    }
    Log(kClassName, kLogLevelDetail, "ResolveNameFromCache():  Resolved name from cache.");
    p_records = std::move(records);
    return true;
  } catch (const KestBase::BaseException& e) {
    // A key path over the registry's limit, or a store that cannot be
    // opened: the name is simply not in the cache.
    KestLog::LogCaughtException(kClassName, "ResolveNameFromCache", e);
    return false;
  }
}

void DnsCache::Store(const std::string& p_strLowerName, const DnsRecordList& p_records,
                     bool p_bSpecifyCacheTime, DWORD p_dwCacheTime) {
  if (!IsCacheableName(p_strLowerName)) {
    return;
  }
  // With a given cache time every address is kept for it, whatever its TTL
  // (a TTL-0 answer included); otherwise only addresses the server allows to
  // be kept, for the longest TTL among them.
  std::vector<std::wstring> addresses;
  DWORD dwLifetime = 0;
  for (const DnsRecord& record : p_records) {
    const DWORD dwTtl = EffectiveTtl(record.ttl);
    if (record.type == kDnsRecordTypeA && (p_bSpecifyCacheTime || dwTtl != 0)) {
      addresses.push_back(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(record.address.ToString()));
      dwLifetime = std::max(dwLifetime, dwTtl);
    }
  }
  if (p_bSpecifyCacheTime) {
    dwLifetime = p_dwCacheTime;
  }
  if (dwLifetime == 0 || addresses.empty()) {
    return;  // nothing to keep: the cache is not touched at all
  }
  const std::wstring path = GetPath();
  try {
    CacheLockHold lock(m_cacheMutex, "SaveResolvedNameInCache");
    if (!lock.IsHeld()) {
      return;
    }
    Registry::OpenedKey cache;
    if (!OpenCacheKey(path, cache)) {
      CreateCacheKey(path, cache);
    }
    const DWORD dwNow =
        CheckClock(path, cache, "SaveResolvedNameInCache():  Error - Unable to read the last local time.");
    const std::wstring name = KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strLowerName);
    Registry::ValidateKeyPathLength(path + L"\\" + name);
    Registry::OpenedKey entry;
    if (RegCreateKeyExW(cache.Get(), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        entry.Receive(), nullptr) != ERROR_SUCCESS) {
      return;
    }
    Log(kClassName, kLogLevelDetail, "SaveResolvedNameInCache():  Caching response for <%s> for <%u> seconds.",
        p_strLowerName.c_str(), static_cast<unsigned>(dwLifetime));
    bool bWritten = false;
    try {
      bWritten = Registry::SetMultiStringVal(entry.Get(), kAddresses, addresses);
    } catch (const KestBase::BaseException&) {
      bWritten = false;  // logged by the wrapper; the line below says what it meant
    }
    if (!bWritten) {
      Log(kClassName, kLogLevelWarning,
          "SaveResolvedNameInCache():  Error - Failed to write the addresses to the registry.");
      return;
    }
    // The expiry saturates rather than wrapping into the past.
    const unsigned long long ullExpiry = static_cast<unsigned long long>(dwNow) + dwLifetime;
    const DWORD dwExpiry = ullExpiry > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullExpiry);
    Registry::SetDwordVal(entry.Get(), kExpirationDate, dwExpiry);
    Registry::SetDwordVal(entry.Get(), kTtl, dwLifetime);
  } catch (const KestBase::BaseException& e) {
    KestLog::LogCaughtException(kClassName, "SaveResolvedNameInCache", e);
  }
}

void DnsCache::Clear() {
  const std::wstring path = GetPath();
  Log(kClassName, kLogLevelDetail, "ClearCache():  Clearing the cache <%S>.", path.c_str());
  CacheLockHold lock(m_cacheMutex, "ClearCache");
  if (!lock.IsHeld()) {
    return;
  }
  if (Registry::DoesKeyExist(HKEY_CURRENT_USER, path)) {
    Registry::DeleteKey(HKEY_CURRENT_USER, path);
  }
}

}  // namespace KestNet
