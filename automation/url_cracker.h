// Splitting a location URL into the parts the trust gate keys a site by, in
// the manner of the platform's URL cracker: scheme number, user name,
// password, host and port, with the scheme's default port when none is
// written. The URL is read by the one site-URL parser (url_parser.h), so
// host and port are the ones a browser would use.
//
// Known schemes and their numbers: ftp 1, gopher 2, http 3, https 4, file 5,
// news 6, mailto 7, socks 8. Default ports: ftp 21, gopher 70, http 80,
// https 443, socks 1080 (0 for the others). A URL of another scheme, a part
// longer than its limit (2089 characters; 128 for the user name and the
// password), or a port that is not a number from 0 to 65535 does not crack.
#pragma once

#include <optional>
#include <string>

namespace KestAXLib {

enum class UrlScheme : int {
  Ftp = 1,
  Gopher = 2,
  Http = 3,
  Https = 4,
  File = 5,
  News = 6,
  Mailto = 7,
  Socks = 8,
};

struct CrackedUrl {
  UrlScheme scheme;
  std::string userName;
  std::string password;
  std::string host;
  int port;
};

inline constexpr size_t kMaxUrlComponentLength = 2089;
inline constexpr size_t kMaxUrlCredentialLength = 128;

std::optional<CrackedUrl> CrackUrl(const std::string& url);

// "%d://%s:%s@%s:%d": scheme number, user name, password, host, port.
std::string FormatSiteAddress(const CrackedUrl& url);

}  // namespace KestAXLib
