#include "platform/smb/unc_path.h"

#include <vector>

namespace kestnet::platform::smb {
namespace {

bool IsSeparator(char p_char) { return p_char == '\\' || p_char == '/'; }

std::vector<std::string_view> SplitElements(std::string_view p_path) {
  std::vector<std::string_view> elements;
  std::size_t start = 0;
  while (start < p_path.size()) {
    while (start < p_path.size() && IsSeparator(p_path[start])) ++start;
    std::size_t end = start;
    while (end < p_path.size() && !IsSeparator(p_path[end])) ++end;
    if (end > start) elements.push_back(p_path.substr(start, end - start));
    start = end;
  }
  return elements;
}

bool IsUnreserved(unsigned char p_byte) {
  return (p_byte >= 'A' && p_byte <= 'Z') || (p_byte >= 'a' && p_byte <= 'z') ||
         (p_byte >= '0' && p_byte <= '9') || p_byte == '-' || p_byte == '.' || p_byte == '_' ||
         p_byte == '~' || p_byte == '$';
}

void AppendEncoded(std::string& p_url, std::string_view p_text, bool p_bKeepSlashes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : p_text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte) || (p_bKeepSlashes && c == '/')) {
      p_url.push_back(c);
    } else {
      p_url.push_back('%');
      p_url.push_back(kHex[byte >> 4]);
      p_url.push_back(kHex[byte & 0x0F]);
    }
  }
}

std::string UrlOf(const std::string& p_server, std::string_view p_share, std::string_view p_folder) {
  std::string url = "smb://";
  AppendEncoded(url, p_server, false);
  url.push_back('/');
  if (!p_share.empty()) {
    AppendEncoded(url, p_share, false);
    if (!p_folder.empty()) {
      url.push_back('/');
      AppendEncoded(url, p_folder, true);
    }
  }
  return url;
}

}  // namespace

bool IsUncPath(std::string_view p_path) {
  return p_path.size() >= 2 && IsSeparator(p_path[0]) && IsSeparator(p_path[1]);
}

std::optional<UncPath> ParseUncPath(std::string_view p_path) {
  if (!IsUncPath(p_path)) return std::nullopt;
  const std::vector<std::string_view> elements = SplitElements(p_path);
  if (elements.empty()) return std::nullopt;
  UncPath path;
  path.server.assign(elements[0]);
  if (elements.size() > 1) path.share.assign(elements[1]);
  for (std::size_t i = 2; i < elements.size(); ++i) {
    if (!path.folder.empty()) path.folder.push_back('/');
    path.folder.append(elements[i]);
  }
  return path;
}

std::string SmbUrl(const UncPath& p_path) { return UrlOf(p_path.server, p_path.share, p_path.folder); }

std::string ShareUrl(const UncPath& p_path) { return UrlOf(p_path.server, p_path.share, {}); }

std::string ParentUrl(const UncPath& p_path) {
  const std::size_t slash = p_path.folder.rfind('/');
  const std::string_view parent =
      slash == std::string::npos ? std::string_view{} : std::string_view(p_path.folder).substr(0, slash);
  return UrlOf(p_path.server, p_path.share, parent);
}

std::string ServerUrl(const std::string& p_server) { return UrlOf(p_server, {}, {}); }

std::string_view LastPathElement(std::string_view p_path) {
  std::size_t end = p_path.size();
  while (end > 0 && IsSeparator(p_path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !IsSeparator(p_path[start - 1])) --start;
  return p_path.substr(start, end - start);
}

}  // namespace kestnet::platform::smb
