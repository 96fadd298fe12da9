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

// A name holding a key separator would be stored as a path of keys, outside
// its own entry; such names are never cached.
bool IsCacheableName(const std::string& p_strName) {
  return !p_strName.empty() && p_strName.find('\\') == std::string::npos;
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

DWORD DnsCache::CheckClock(const std::wstring& p_cstrwPath, const char* p_szReadError) {
  const DWORD dwNow = Now();
  if (Registry::DoesValNameExist(HKEY_CURRENT_USER, p_cstrwPath, kLastLocalTime)) {
    DWORD dwLast = 0;
    bool bRead = false;
    try {
      bRead = Registry::GetDwordKeyVal(HKEY_CURRENT_USER, p_cstrwPath, kLastLocalTime, dwLast);
    } catch (const KestBase::BaseException&) {
      bRead = false;  // a value of another type
    }
    if (!bRead) {
      // A damaged time stamp would otherwise fail every resolution from now
      // on: nothing in the cache can be trusted, so it starts again empty.
      Log(kClassName, kLogLevelWarning, p_szReadError);
      Clear();
      Registry::CreateKey(HKEY_CURRENT_USER, p_cstrwPath);
    } else if (dwNow < dwLast) {
      Clear();
      Registry::CreateKey(HKEY_CURRENT_USER, p_cstrwPath);
    }
  }
  Registry::SetDwordKeyVal(HKEY_CURRENT_USER, p_cstrwPath, kLastLocalTime, dwNow);
  return dwNow;
}

bool DnsCache::Lookup(const std::string& p_strLowerName, DnsRecordList& p_records) {
  p_records.clear();
  if (!IsCacheableName(p_strLowerName)) {
    return false;
  }
  const std::wstring path = GetPath();
  try {
    KestMT::AutoLockMutex lock(&m_cacheMutex, INFINITE);
    if (!Registry::DoesKeyExist(HKEY_CURRENT_USER, path)) {
      Registry::CreateKey(HKEY_CURRENT_USER, path);
      return false;
    }
    const DWORD dwNow =
        CheckClock(path, "ResolveNameFromCache():  Error - Failed to read local time from the registry.");

    const std::wstring entry = path + L"\\" + KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strLowerName);
    if (!Registry::DoesKeyExist(HKEY_CURRENT_USER, entry)) {
      return false;
    }
    DWORD dwExpiry = 0;
    std::vector<std::wstring> addresses;
    try {
      if (!Registry::GetDwordKeyVal(HKEY_CURRENT_USER, entry, kExpirationDate, dwExpiry) || dwExpiry < dwNow ||
          !Registry::GetMultiStringKeyVal(HKEY_CURRENT_USER, entry, kAddresses, addresses) || addresses.empty()) {
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
    Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, entry, kAddresses, addresses);
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
  const std::wstring path = GetPath();
  try {
    KestMT::AutoLockMutex lock(&m_cacheMutex, INFINITE);
    if (!Registry::DoesKeyExist(HKEY_CURRENT_USER, path)) {
      Registry::CreateKey(HKEY_CURRENT_USER, path);
    }
    const DWORD dwNow = CheckClock(path, "SaveResolvedNameInCache():  Error - Unable to read the last local time.");

    const std::wstring entry = path + L"\\" + KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strLowerName);
    if (!Registry::DoesKeyExist(HKEY_CURRENT_USER, entry) && !Registry::CreateKey(HKEY_CURRENT_USER, entry)) {
      return;
    }
    std::vector<std::wstring> addresses;
    DWORD dwLifetime = 0;
    for (const DnsRecord& record : p_records) {
      if (record.type == kDnsRecordTypeA && record.ttl != 0) {
        addresses.push_back(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(record.address.ToString()));
        dwLifetime = std::max(dwLifetime, record.ttl);
      }
    }
    if (p_bSpecifyCacheTime) {
      dwLifetime = p_dwCacheTime;
    }
    if (dwLifetime == 0) {
      return;
    }
    Log(kClassName, kLogLevelDetail, "SaveResolvedNameInCache():  Caching response for <%s> for <%u> seconds.",
        p_strLowerName.c_str(), static_cast<unsigned>(dwLifetime));
    if (addresses.empty()) {
      return;
    }
    if (!Registry::SetMultiStringKeyVal(HKEY_CURRENT_USER, entry, kAddresses, addresses)) {
      Log(kClassName, kLogLevelWarning,
          "SaveResolvedNameInCache():  Error - Failed to write the addresses to the registry.");
      return;
    }
    // The expiry saturates rather than wrapping into the past.
    const unsigned long long ullExpiry = static_cast<unsigned long long>(dwNow) + dwLifetime;
    const DWORD dwExpiry = ullExpiry > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullExpiry);
    Registry::SetDwordKeyVal(HKEY_CURRENT_USER, entry, kExpirationDate, dwExpiry);
    Registry::SetDwordKeyVal(HKEY_CURRENT_USER, entry, kTtl, dwLifetime);
  } catch (const KestBase::BaseException& e) {
    KestLog::LogCaughtException(kClassName, "SaveResolvedNameInCache", e);
  }
}

void DnsCache::Clear() {
  const std::wstring path = GetPath();
  Log(kClassName, kLogLevelDetail, "ClearCache():  Clearing the cache <%S>.", path.c_str());
  KestMT::AutoLockMutex lock(&m_cacheMutex, INFINITE);
  if (Registry::DoesKeyExist(HKEY_CURRENT_USER, path)) {
    Registry::DeleteKey(HKEY_CURRENT_USER, path);
  }
}

}  // namespace KestNet
