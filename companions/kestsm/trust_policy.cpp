#include "companions/kestsm/trust_policy.h"

#include <unistd.h>

#include <cwctype>
#include <string_view>

#include "platform/registry/registry.h"

namespace kestnet::companions {
namespace {

constexpr const wchar_t* kPolicyRoot = L"Software\\Tolvar\\Pelwick\\Config\\KestSM";

struct SchemePort {
  std::wstring_view scheme;
  std::wstring_view defaultPort;
};
// The schemes a page can come from, with the port a URL may leave out.
constexpr SchemePort kSchemes[] = {{L"http", L"80"}, {L"https", L"443"}, {L"file", L""}};

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

// The stored form of an entry: sites as their origin, containers as given.
std::optional<std::wstring> StoredForm(TrustKind kind, const std::wstring& entry) {
  if (kind == TrustKind::Site) return SiteOrigin(entry);
  std::wstring_view name = Trim(entry);
  if (name.empty() || name.find(L'\\') != std::wstring_view::npos) return std::nullopt;
  return std::wstring(name);
}

}  // namespace

std::wstring TrustPolicyKey(TrustKind kind, const std::wstring& vendorId) {
  std::wstring key = kPolicyRoot;
  if (kind == TrustKind::Container) return key + L"\\TrustedContainers";
  return key + L"\\TrustedSites\\" + vendorId;
}

LSTATUS AddTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry) {
  std::optional<std::wstring> stored = StoredForm(kind, entry);
  if (!stored || (kind == TrustKind::Site && (vendorId.empty() || vendorId.find(L'\\') != std::wstring::npos))) {
    return ERROR_INVALID_PARAMETER;
  }
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(hive, TrustPolicyKey(kind, vendorId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  DWORD trusted = 1;
  status = RegSetValueExW(key, stored->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&trusted), sizeof trusted);
  RegCloseKey(key);
  return status;
}

LSTATUS RemoveTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry) {
  std::optional<std::wstring> stored = StoredForm(kind, entry);
  if (!stored) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(hive, TrustPolicyKey(kind, vendorId).c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteValueW(key, stored->c_str());
  RegCloseKey(key);
  return status;
}

std::vector<std::wstring> ListTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId) {
  std::vector<std::wstring> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive, TrustPolicyKey(kind, vendorId).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
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
  if (!stored) return false;
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, TrustPolicyKey(kind, vendorId).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
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
  std::wstring_view text = Trim(url);
  size_t schemeEnd = text.find(L"://");
  if (schemeEnd == std::wstring_view::npos || schemeEnd == 0) return std::nullopt;
  std::wstring scheme = Lower(text.substr(0, schemeEnd));
  const SchemePort* known = nullptr;
  for (const SchemePort& candidate : kSchemes) {
    if (candidate.scheme == scheme) known = &candidate;
  }
  if (known == nullptr) return std::nullopt;
  std::wstring_view rest = text.substr(schemeEnd + 3);
  std::wstring_view authority = rest.substr(0, rest.find_first_of(L"/?#"));
  size_t at = authority.rfind(L'@');
  if (at != std::wstring_view::npos) authority.remove_prefix(at + 1);
  std::wstring_view host = authority;
  std::wstring_view port;
  size_t colon = authority.rfind(L':');
  if (colon != std::wstring_view::npos && authority.find(L']', colon) == std::wstring_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    for (wchar_t c : port) {
      if (c < L'0' || c > L'9') return std::nullopt;
    }
    while (port.size() > 1 && port.front() == L'0') port.remove_prefix(1);
  }
  if (host.empty() && scheme != L"file") return std::nullopt;
  std::wstring origin = scheme + L"://" + Lower(host);
  if (!port.empty() && port != known->defaultPort) origin += L":" + std::wstring(port);
  return origin;
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
  return std::wstring(file.begin(), file.end());
}

}  // namespace kestnet::companions
