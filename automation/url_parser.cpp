#include "automation/url_parser.h"

#include <arpa/inet.h>
#include <unicode/uidna.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace KestAXLib {
namespace {

struct SpecialScheme {
  std::string_view name;
  int defaultPort;  // -1: the scheme has none
};
constexpr SpecialScheme kSpecialSchemes[] = {{"ftp", 21},  {"file", -1}, {"http", 80},
                                             {"https", 443}, {"ws", 80},   {"wss", 443}};

// Origins of web pages come only from these.
constexpr std::string_view kWebSiteSchemes[] = {"http", "https"};

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiHexDigit(char c) { return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
  return lowered;
}

const SpecialScheme* FindSpecialScheme(std::string_view scheme) {
  for (const SpecialScheme& entry : kSpecialSchemes) {
    if (entry.name == scheme) return &entry;
  }
  return nullptr;
}

// Characters no host may hold.
bool IsForbiddenHostCodePoint(unsigned char c) {
  constexpr std::string_view kForbidden("\0\t\n\r #/:<>?@[\\]^|", 18);
  return kForbidden.find(static_cast<char>(c)) != std::string_view::npos;
}

// And those no domain may hold besides.
bool IsForbiddenDomainCodePoint(unsigned char c) {
  return IsForbiddenHostCodePoint(c) || c <= 0x1F || c == '%' || c == 0x7F;
}

// Tabs and new lines are dropped wherever they are; C0 controls and spaces
// at either end are not part of the URL.
std::string WithoutIgnoredCharacters(std::string_view url) {
  auto isEdge = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!url.empty() && isEdge(url.front())) url.remove_prefix(1);
  while (!url.empty() && isEdge(url.back())) url.remove_suffix(1);
  std::string kept;
  kept.reserve(url.size());
  for (char c : url) {
    if (c != '\t' && c != '\n' && c != '\r') kept += c;
  }
  return kept;
}

int HexValue(char c) { return IsAsciiDigit(c) ? c - '0' : AsciiLower(c) - 'a' + 10; }

// "%" not followed by two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && IsAsciiHexDigit(text[i + 1]) && IsAsciiHexDigit(text[i + 2])) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// One part of an IPv4 address: decimal, octal after a leading 0, hex after
// 0x. Values past 32 bits are all the same failure, so they saturate.
std::optional<uint64_t> ParseIPv4Number(std::string_view part) {
  if (part.empty()) return std::nullopt;
  int radix = 10;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    radix = 16;
    part.remove_prefix(2);
  } else if (part.size() >= 2 && part[0] == '0') {
    radix = 8;
    part.remove_prefix(1);
  }
  uint64_t value = 0;
  for (char c : part) {
    int digit = radix == 16 ? (IsAsciiHexDigit(c) ? HexValue(c) : -1) : (IsAsciiDigit(c) ? c - '0' : -1);
    if (digit < 0 || digit >= radix) return std::nullopt;
    value = std::min<uint64_t>(value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit), 1ull << 40);
  }
  return value;
}

// The parts of a dotted host; one trailing empty part is dropped.
std::vector<std::string_view> DottedParts(std::string_view host) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    size_t dot = host.find('.', start);
    parts.push_back(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
  return parts;
}

// Whether a host is meant as an IPv4 address: its last part is a number.
bool EndsInANumber(std::string_view host) {
  std::string_view last = DottedParts(host).back();
  if (!last.empty() && std::all_of(last.begin(), last.end(), IsAsciiDigit)) return true;
  return last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X') &&
         std::all_of(last.begin() + 2, last.end(), IsAsciiHexDigit);
}

// Up to four parts; the last fills the bytes the others leave.
std::optional<std::string> ParseIPv4(std::string_view host) {
  std::vector<std::string_view> parts = DottedParts(host);
  if (parts.size() > 4) return std::nullopt;
  uint64_t address = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::optional<uint64_t> number = ParseIPv4Number(parts[i]);
    if (!number) return std::nullopt;
    const bool last = i + 1 == parts.size();
    if (!last) {
      if (*number > 255) return std::nullopt;
      address |= *number << (8 * (3 - i));
    } else {
      if (*number >= (1ull << (8 * (5 - parts.size())))) return std::nullopt;
      address |= *number;
    }
  }
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// "[...]" holding an IPv6 address, written back compressed in lower case:
// the first longest run of two or more zero pieces becomes "::".
std::optional<std::string> ParseIPv6(std::string_view literal) {
  std::string inner(literal.substr(1, literal.size() - 2));
  in6_addr address{};
  if (inet_pton(AF_INET6, inner.c_str(), &address) != 1) return std::nullopt;
  std::array<unsigned, 8> pieces{};
  for (size_t i = 0; i < pieces.size(); ++i) pieces[i] = address.s6_addr[2 * i] << 8 | address.s6_addr[2 * i + 1];
  size_t runStart = pieces.size();
  size_t runLength = 1;
  for (size_t i = 0; i < pieces.size();) {
    size_t j = i;
    while (j < pieces.size() && pieces[j] == 0) ++j;
    if (j - i > runLength) {
      runStart = i;
      runLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string text = "[";
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i == runStart) {
      text += i == 0 ? "::" : ":";
      i += runLength - 1;
      continue;
    }
    char piece[8];
    std::snprintf(piece, sizeof piece, "%x", pieces[i]);
    text += piece;
    if (i + 1 < pieces.size()) text += ':';
  }
  return text + "]";
}

// UTS #46 with the options of the URL Standard: non-transitional, bidi and
// joiner rules checked, hyphen and DNS length rules not (names such as
// "a--b" or "_srv" are hosts to a browser). ICU's refusal is the host's.
std::optional<std::string> DomainToAscii(const std::string& domain) {
  constexpr uint32_t kIgnoredErrors = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                      UIDNA_ERROR_DOMAIN_NAME_TOO_LONG | UIDNA_ERROR_LEADING_HYPHEN |
                                      UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UIDNA, decltype(&uidna_close)> idna(
      uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII, &status),
      &uidna_close);
  if (U_FAILURE(status) || idna == nullptr || domain.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
  std::string ascii(domain.size() + 64, '\0');
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  auto convert = [&] {
    return uidna_nameToASCII_UTF8(idna.get(), domain.data(), static_cast<int32_t>(domain.size()), ascii.data(),
                                  static_cast<int32_t>(ascii.size()), &info, &status);
  };
  int32_t length = convert();
  if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
    status = U_ZERO_ERROR;
    info = UIDNA_INFO_INITIALIZER;
    ascii.resize(static_cast<size_t>(length));
    length = convert();
  }
  if (U_FAILURE(status) || (info.errors & ~kIgnoredErrors) != 0 || length <= 0) return std::nullopt;
  ascii.resize(static_cast<size_t>(length));
  for (char c : ascii) {
    if (IsForbiddenDomainCodePoint(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return ascii;
}

// The host of a scheme other than the special ones is kept as written,
// controls and bytes past ASCII percent-encoded.
std::optional<std::string> ParseOpaqueHost(std::string_view input) {
  std::string host;
  for (char c : input) {
    auto byte = static_cast<unsigned char>(c);
    if (byte != '%' && IsForbiddenHostCodePoint(byte)) return std::nullopt;
    if (byte < 0x20 || byte >= 0x7F) {
      char encoded[4];
      std::snprintf(encoded, sizeof encoded, "%%%02X", byte);
      host += encoded;
    } else {
      host += c;
    }
  }
  return host;
}

std::optional<std::string> ParseHost(std::string_view input, bool special) {
  if (input.front() == '[') {
    if (input.size() < 2 || input.back() != ']') return std::nullopt;
    return ParseIPv6(input);
  }
  if (!special) return ParseOpaqueHost(input);
  std::optional<std::string> domain = DomainToAscii(PercentDecoded(input));
  if (!domain) return std::nullopt;
  if (EndsInANumber(*domain)) return ParseIPv4(*domain);
  return domain;
}

// Decimal digits up to 65535; none at all, or the default, is no port.
bool ParsePort(std::string_view digits, int defaultPort, std::optional<int>* port) {
  long value = 0;
  for (char c : digits) {
    if (!IsAsciiDigit(c)) return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  if (!digits.empty() && value != defaultPort) *port = static_cast<int>(value);
  return true;
}

bool IsWindowsDriveLetter(std::string_view text) {
  return text.size() == 2 && IsAsciiAlpha(text[0]) && (text[1] == ':' || text[1] == '|');
}

// After "file:": a host only after two slashes, and "localhost" is none.
std::optional<ParsedUrl> ParseFileAuthority(std::string_view rest, ParsedUrl url) {
  auto isSlash = [](char c) { return c == '/' || c == '\\'; };
  if (rest.size() < 2 || !isSlash(rest[0]) || !isSlash(rest[1])) return url;
  rest.remove_prefix(2);
  url.hasAuthority = true;
  std::string_view hostText = rest.substr(0, rest.find_first_of("/\\?#"));
  // "file://C:/..." names a drive, not a host.
  if (hostText.empty() || IsWindowsDriveLetter(hostText)) return url;
  std::optional<std::string> host = ParseHost(hostText, true);
  if (!host) return std::nullopt;
  if (*host != "localhost") url.host = std::move(*host);
  return url;
}

}  // namespace

std::optional<ParsedUrl> ParseUrl(std::string_view input) {
  const std::string text = WithoutIgnoredCharacters(input);
  std::string_view rest = text;

  if (rest.empty() || !IsAsciiAlpha(rest.front())) return std::nullopt;
  size_t colon = 1;
  while (colon < rest.size() && (IsAsciiAlpha(rest[colon]) || IsAsciiDigit(rest[colon]) || rest[colon] == '+' ||
                                 rest[colon] == '-' || rest[colon] == '.')) {
    ++colon;
  }
  if (colon == rest.size() || rest[colon] != ':') return std::nullopt;
  ParsedUrl url;
  url.scheme = AsciiLowered(rest.substr(0, colon));
  rest.remove_prefix(colon + 1);
  const SpecialScheme* special = FindSpecialScheme(url.scheme);
  url.special = special != nullptr;
  if (url.scheme == "file") return ParseFileAuthority(rest, std::move(url));

  auto endsAuthority = [&](char c) { return c == '/' || c == '?' || c == '#' || (url.special && c == '\\'); };
  if (url.special) {
    // Browsers start the authority after any run of slashes, either way round.
    while (!rest.empty() && (rest.front() == '/' || rest.front() == '\\')) rest.remove_prefix(1);
  } else {
    if (rest.substr(0, 2) != "//") return url;  // an opaque path: mailto:, news:, javascript:
    rest.remove_prefix(2);
  }
  url.hasAuthority = true;
  size_t end = 0;
  while (end < rest.size() && !endsAuthority(rest[end])) ++end;
  std::string_view authority = rest.substr(0, end);

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    size_t separator = userInfo.find(':');
    url.userName = userInfo.substr(0, separator);
    if (separator != std::string_view::npos) url.password = userInfo.substr(separator + 1);
    authority.remove_prefix(at + 1);
    if (authority.empty()) return std::nullopt;
  }

  // A colon outside an IPv6 literal's brackets starts the port.
  size_t portSeparator = std::string_view::npos;
  bool inBrackets = false;
  for (size_t i = 0; i < authority.size() && portSeparator == std::string_view::npos; ++i) {
    if (authority[i] == '[') inBrackets = true;
    if (authority[i] == ']') inBrackets = false;
    if (authority[i] == ':' && !inBrackets) portSeparator = i;
  }
  std::string_view hostText = authority.substr(0, portSeparator);
  if (portSeparator != std::string_view::npos) {
    if (hostText.empty()) return std::nullopt;
    if (!ParsePort(authority.substr(portSeparator + 1), special != nullptr ? special->defaultPort : -1, &url.port)) {
      return std::nullopt;
    }
  }
  if (hostText.empty()) {
    if (url.special) return std::nullopt;
    return url;
  }
  std::optional<std::string> host = ParseHost(hostText, url.special);
  if (!host) return std::nullopt;
  url.host = std::move(*host);
  return url;
}

std::optional<std::string> WebSiteOrigin(std::string_view input) {
  std::optional<ParsedUrl> url = ParseUrl(input);
  if (!url || std::find(std::begin(kWebSiteSchemes), std::end(kWebSiteSchemes), url->scheme) ==
                  std::end(kWebSiteSchemes)) {
    return std::nullopt;
  }
  std::string origin = url->scheme + "://" + url->host;
  if (url->port) origin += ":" + std::to_string(*url->port);
  return origin;
}

}  // namespace KestAXLib
