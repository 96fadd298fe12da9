#include "automation/url_cracker.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace KestAXLib {
namespace {

struct SchemeEntry {
  std::string_view name;
  UrlScheme scheme;
  int defaultPort;
  bool hierarchical;  // "scheme://authority/..." rather than "scheme:opaque"
};

constexpr SchemeEntry kSchemes[] = {
    {"ftp", UrlScheme::Ftp, 21, true},       {"gopher", UrlScheme::Gopher, 70, true},
    {"http", UrlScheme::Http, 80, true},     {"https", UrlScheme::Https, 443, true},
    {"file", UrlScheme::File, 0, true},      {"news", UrlScheme::News, 0, false},
    {"mailto", UrlScheme::Mailto, 0, false}, {"socks", UrlScheme::Socks, 1080, true},
};

std::string Lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

const SchemeEntry* FindScheme(std::string_view name) {
  std::string lowered = Lower(name);
  for (const SchemeEntry& entry : kSchemes) {
    if (entry.name == lowered) return &entry;
  }
  return nullptr;
}

std::optional<int> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

}  // namespace

std::optional<CrackedUrl> CrackUrl(const std::string& url) {
  if (url.size() > kMaxUrlComponentLength) return std::nullopt;
  size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  const SchemeEntry* scheme = FindScheme(std::string_view(url).substr(0, colon));
  if (scheme == nullptr) return std::nullopt;

  CrackedUrl cracked{scheme->scheme, {}, {}, {}, scheme->defaultPort};
  std::string_view rest = std::string_view(url).substr(colon + 1);
  if (!scheme->hierarchical || rest.substr(0, 2) != "//") return cracked;

  rest.remove_prefix(2);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view credentials = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    size_t separator = credentials.find(':');
    std::string_view user = credentials.substr(0, separator);
    std::string_view password =
        separator == std::string_view::npos ? std::string_view() : credentials.substr(separator + 1);
    if (user.size() > kMaxUrlCredentialLength || password.size() > kMaxUrlCredentialLength) return std::nullopt;
    cracked.userName = user;
    cracked.password = password;
  }
  std::string_view host = authority;
  // A bracketed IPv6 literal keeps its colons.
  size_t portSeparator = host.starts_with('[') ? host.find(':', host.find(']')) : host.rfind(':');
  if (portSeparator != std::string_view::npos) {
    std::optional<int> port = ParsePort(host.substr(portSeparator + 1));
    if (!port) return std::nullopt;
    cracked.port = *port;
    host = host.substr(0, portSeparator);
  }
  cracked.host = host;
  return cracked;
}

std::string FormatSiteAddress(const CrackedUrl& url) {
  return std::to_string(static_cast<int>(url.scheme)) + "://" + url.userName + ":" + url.password + "@" + url.host +
         ":" + std::to_string(url.port);
}

}  // namespace KestAXLib
