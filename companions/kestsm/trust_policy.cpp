#include "companions/kestsm/trust_policy.h"

#include <unistd.h>

#include <cwctype>
#include <string_view>

#include "automation/url_parser.h"
#include "platform/os/utf8.h"
#include "platform/registry/registry.h"

namespace kestnet::companions {
namespace {

constexpr const wchar_t* kPolicyRoot = L"Software\\Tolvar\\Pelwick\\Config\\KestSM";

std::wstring Lower(std::wstring_view text) {
  std::wstring lowered(text);
  for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return lowered;
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && std::iswspace(static_cast<wint_t>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::iswspace(static_cast<wint_t>(text.back()))) text.remove_suffix(1);
  return text;
}

// A NUL would cut a registry name short and so name another vendor's key or
// another entry: text holding one names nothing here.
bool HoldsNul(const std::wstring& text) { return text.find(L'\0') != std::wstring::npos; }

// The stored form of an entry: sites as their origin, containers as given.
std::optional<std::wstring> StoredForm(TrustKind kind, const std::wstring& entry) {
  if (HoldsNul(entry)) return std::nullopt;
  if (kind == TrustKind::Site) return SiteOrigin(entry);
  std::wstring_view name = Trim(entry);
  if (name.empty() || name.find(L'\\') != std::wstring_view::npos) return std::nullopt;
  return std::wstring(name);
}

// The policy key, or nullopt for a vendor id that cannot name one.
std::optional<std::wstring> PolicyKeyOf(TrustKind kind, const std::wstring& vendorId) {
  if (kind == TrustKind::Site && (vendorId.empty() || vendorId.find(L'\\') != std::wstring::npos || HoldsNul(vendorId))) {
    return std::nullopt;
  }
  return TrustPolicyKey(kind, vendorId);
}

}  // namespace

std::wstring TrustPolicyKey(TrustKind kind, const std::wstring& vendorId) {
  std::wstring key = kPolicyRoot;
  if (kind == TrustKind::Container) return key + L"\\TrustedContainers";
  return key + L"\\TrustedSites\\" + vendorId;
}

LSTATUS AddTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry,
                   std::wstring* storedEntry) {
  std::optional<std::wstring> stored = StoredForm(kind, entry);
  std::optional<std::wstring> policyKey = PolicyKeyOf(kind, vendorId);
  if (!stored || !policyKey) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(hive, policyKey->c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  DWORD trusted = 1;
  status = RegSetValueExW(key, stored->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&trusted), sizeof trusted);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && storedEntry != nullptr) *storedEntry = *stored;
  return status;
}

LSTATUS RemoveTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry,
                      std::wstring* storedEntry) {
  std::optional<std::wstring> stored = StoredForm(kind, entry);
  // An entry older policies stored that no longer reads as a site (such as
  // "file://") can still be removed by its stored name.
  if (!stored && kind == TrustKind::Site && !entry.empty() && !HoldsNul(entry)) stored = entry;
  std::optional<std::wstring> policyKey = PolicyKeyOf(kind, vendorId);
  if (!stored || !policyKey) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(hive, policyKey->c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteValueW(key, stored->c_str());
  RegCloseKey(key);
  if (storedEntry != nullptr) *storedEntry = *stored;
  return status;
}

std::vector<std::wstring> ListTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId) {
  std::vector<std::wstring> entries;
  std::optional<std::wstring> policyKey = PolicyKeyOf(kind, vendorId);
  HKEY key = nullptr;
  if (!policyKey || RegOpenKeyExW(hive, policyKey->c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD length = static_cast<DWORD>(std::size(name));
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegEnumValueW(key, index, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) continue;  // not one of ours: a policy value is a DWORD
    if (status != ERROR_SUCCESS) break;
    if (type == REG_DWORD && value != 0) entries.emplace_back(name, length);
  }
  RegCloseKey(key);
  return entries;
}

bool IsListed(TrustKind kind, const std::wstring& vendorId, const std::wstring& entry) {
  std::optional<std::wstring> stored = StoredForm(kind, entry);
  std::optional<std::wstring> policyKey = PolicyKeyOf(kind, vendorId);
  if (!stored || !policyKey) return false;
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, policyKey->c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegQueryValueExW(key, stored->c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && type == REG_DWORD && value != 0) return true;
  }
  return false;
}

std::optional<std::wstring> SiteOrigin(const std::wstring& url) {
  std::optional<std::string> origin = KestAXLib::WebSiteOrigin(platform::Utf8FromWide(url));
  if (!origin) return std::nullopt;
  return platform::WideFromUtf8(*origin);
}

bool ListNamesContainer(const std::wstring& list, const std::wstring& name) {
  std::wstring wanted = Lower(Trim(name));
  if (wanted.empty()) return false;
  std::wstring_view rest = list;
  while (!rest.empty()) {
    size_t end = rest.find(L';');
    if (Lower(Trim(rest.substr(0, end))) == wanted) return true;
    if (end == std::wstring_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

std::wstring CurrentContainerName() {
  char path[4096];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string_view full(path, static_cast<size_t>(length));
  std::string_view file = full.substr(full.rfind('/') + 1);
  return platform::WideFromUtf8(file);
}

}  // namespace kestnet::companions
