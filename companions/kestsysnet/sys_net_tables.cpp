#include "companions/kestsysnet/sys_net_tables.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestnet::companions {
namespace {

constexpr const char* kDefaultResolverConfiguration = "/etc/resolv.conf";
constexpr const char* kDefaultNeighbourTable = "/proc/net/arp";
// The kernel marks a resolved neighbour with ATF_COM.
constexpr unsigned long kCompleteEntryFlag = 0x2;

std::string PathFromEnvironment(const char* p_szVariable, const char* p_szDefault) {
  const char* value = std::getenv(p_szVariable);
  return value != nullptr && *value != '\0' ? value : p_szDefault;
}

std::optional<std::string> ReadWholeFile(const std::string& p_path) {
  std::ifstream file(p_path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool IsHardwareAddress(const std::string& p_text) {
  if (p_text.size() != 17) return false;
  for (std::size_t i = 0; i < p_text.size(); ++i) {
    const bool separator = i % 3 == 2;
    if (separator ? p_text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(p_text[i]))) return false;
  }
  return true;
}

}  // namespace

std::string ResolverConfigurationPath() {
  return PathFromEnvironment("KESTNET_RESOLV_CONF", kDefaultResolverConfiguration);
}

std::string NeighbourTablePath() { return PathFromEnvironment("KESTNET_ARP_TABLE", kDefaultNeighbourTable); }

bool IsDottedIPv4(const std::string& p_text) {
  int parts = 0;
  std::size_t at = 0;
  while (at <= p_text.size()) {
    const std::size_t end = std::min(p_text.find('.', at), p_text.size());
    const std::string part = p_text.substr(at, end - at);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    at = end + 1;
  }
  return parts == 4;
}

std::vector<std::string> ParseNameServers(const std::string& p_text) {
  std::vector<std::string> servers;
  std::istringstream lines(p_text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t comment = line.find_first_of("#;");
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string keyword;
    std::string address;
    if (!(words >> keyword >> address) || keyword != "nameserver" || !IsDottedIPv4(address)) continue;
    if (std::find(servers.begin(), servers.end(), address) == servers.end()) servers.push_back(address);
  }
  return servers;
}

std::vector<std::string> ReadNameServers(const std::string& p_path) {
  const std::optional<std::string> text = ReadWholeFile(p_path);
  return text ? ParseNameServers(*text) : std::vector<std::string>{};
}

std::optional<std::string> FindNeighbourAddress(const std::string& p_text, const std::string& p_ipAddress) {
  if (!IsDottedIPv4(p_ipAddress)) return std::nullopt;
  std::istringstream lines(p_text);
  std::string line;
  std::getline(lines, line);  // the column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address;
    std::string hardwareType;
    std::string flags;
    std::string hardwareAddress;
    if (!(fields >> address >> hardwareType >> flags >> hardwareAddress) || address != p_ipAddress) continue;
    char* end = nullptr;
    const unsigned long flagBits = std::strtoul(flags.c_str(), &end, 16);
    if (end == flags.c_str() || (flagBits & kCompleteEntryFlag) == 0 || !IsHardwareAddress(hardwareAddress)) {
      continue;
    }
    std::transform(hardwareAddress.begin(), hardwareAddress.end(), hardwareAddress.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return hardwareAddress;
  }
  return std::nullopt;
}

std::optional<std::string> LookupNeighbourAddress(const std::string& p_path, const std::string& p_ipAddress) {
  const std::optional<std::string> text = ReadWholeFile(p_path);
  return text ? FindNeighbourAddress(*text, p_ipAddress) : std::nullopt;
}

}  // namespace kestnet::companions
