#include "automation/url_cracker.h"

#include <string_view>

#include "automation/url_parser.h"

namespace KestAXLib {
namespace {

struct SchemeEntry {
  std::string_view name;
  UrlScheme scheme;
  int defaultPort;
};

constexpr SchemeEntry kSchemes[] = {
    {"ftp", UrlScheme::Ftp, 21},     {"gopher", UrlScheme::Gopher, 70}, {"http", UrlScheme::Http, 80},
    {"https", UrlScheme::Https, 443}, {"file", UrlScheme::File, 0},      {"news", UrlScheme::News, 0},
    {"mailto", UrlScheme::Mailto, 0}, {"socks", UrlScheme::Socks, 1080},
};

const SchemeEntry* FindScheme(std::string_view name) {
  for (const SchemeEntry& entry : kSchemes) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace

std::optional<CrackedUrl> CrackUrl(const std::string& url) {
  if (url.size() > kMaxUrlComponentLength) return std::nullopt;
  std::optional<ParsedUrl> parsed = ParseUrl(url);
  if (!parsed) return std::nullopt;
  const SchemeEntry* scheme = FindScheme(parsed->scheme);
  if (scheme == nullptr || parsed->userName.size() > kMaxUrlCredentialLength ||
      parsed->password.size() > kMaxUrlCredentialLength || parsed->host.size() > kMaxUrlComponentLength) {
    return std::nullopt;
  }
  return CrackedUrl{scheme->scheme, std::move(parsed->userName), std::move(parsed->password), std::move(parsed->host),
                    parsed->port.value_or(scheme->defaultPort)};
}

std::string FormatSiteAddress(const CrackedUrl& url) {
  return std::to_string(static_cast<int>(url.scheme)) + "://" + url.userName + ":" + url.password + "@" + url.host +
         ":" + std::to_string(url.port);
}

}  // namespace KestAXLib
