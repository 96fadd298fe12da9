// The one parser of site URLs: the scheme and authority of a URL read the
// way browsers read them (the WHATWG URL Standard), so that the site a
// trust decision is made for is the site the browser talks to.
//
// What that means for the authority:
// - Tabs and new lines anywhere, and C0 controls and spaces at either end,
//   are not part of the URL.
// - For the special schemes (http, https, ws, wss, ftp, file) "\" is "/":
//   it ends the authority, and any run of slashes after "scheme:" starts it.
// - The user information is everything before the last "@" of the
//   authority; it never names the host.
// - A host is percent-decoded, mapped to ASCII by IDNA (UTS #46, as
//   browsers do) and lower-cased; a host that ends in a number is an IPv4
//   address in any of the forms browsers take (0x7f.1) and is written
//   dotted; an IPv6 literal is written compressed in brackets. A host
//   holding a character no host may hold does not parse.
// - The port is decimal digits up to 65535; the scheme's default port, or
//   no digits at all, is no port.
// - file: URLs have a host only after "//" ("localhost" is none) and take
//   no user information or port. Other schemes keep their host as written.
//
// A URL that does not parse gives nullopt: nothing is guessed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace KestAXLib {

struct ParsedUrl {
  std::string scheme;    // lower case
  bool special = false;  // http, https, ws, wss, ftp or file
  bool hasAuthority = false;
  std::string userName;  // as written
  std::string password;  // as written
  std::string host;      // serialised as above; empty when there is none
  std::optional<int> port;  // none for no port or the scheme's default
};

std::optional<ParsedUrl> ParseUrl(std::string_view url);

// The site of a web page, "scheme://host[:port]", for http and https URLs
// only: the other schemes name no site a policy can list (a file: page has
// no origin of its own to trust).
std::optional<std::string> WebSiteOrigin(std::string_view url);

}  // namespace KestAXLib
