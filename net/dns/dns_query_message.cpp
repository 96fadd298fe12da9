#include "net/dns/dns_query_message.h"

#include <sys/random.h>

#include <random>

namespace KestNet {
namespace {

constexpr WORD kStandardQueryRecursionDesired = 0x0100;
constexpr WORD kQueryTypeA = 1;
constexpr WORD kQueryClassInternet = 1;

void AppendUInt16(std::vector<BYTE>& p_message, WORD p_value) {
  p_message.push_back(static_cast<BYTE>(p_value >> 8));
  p_message.push_back(static_cast<BYTE>(p_value & 0xFF));
}

char LowerAscii(char p_c) {
  return (p_c >= 'A' && p_c <= 'Z') ? static_cast<char>(p_c - 'A' + 'a') : p_c;
}

}  // namespace

WORD NewDnsQueryId() {
  WORD wId = 0;
  if (getrandom(&wId, sizeof wId, 0) == static_cast<ssize_t>(sizeof wId)) {
    return wId;
  }
  // getrandom cannot fail for two bytes once the pool is ready; the device
  // stands in should it ever be missing (an old kernel, a seccomp filter).
  thread_local std::random_device device;
  return static_cast<WORD>(device());
}

std::string_view WithoutTrailingDot(std::string_view p_strName) {
  if (!p_strName.empty() && p_strName.back() == '.') {
    p_strName.remove_suffix(1);
  }
  return p_strName;
}

bool IsEncodableDnsName(std::string_view p_strName) {
  const std::string_view name = WithoutTrailingDot(p_strName);
  if (name.empty() || name.size() > kDnsMaxNameLength) {
    return false;
  }
  std::size_t labelStart = 0;
  for (;;) {
    const std::size_t dot = name.find('.', labelStart);
    const std::size_t labelEnd = dot == std::string_view::npos ? name.size() : dot;
    const std::size_t labelLength = labelEnd - labelStart;
    if (labelLength == 0 || labelLength > kDnsMaxLabelLength) {
      return false;
    }
    if (dot == std::string_view::npos) {
      return true;
    }
    labelStart = dot + 1;
  }
}

bool BuildDnsQueryMessage(WORD p_wId, std::string_view p_strName, std::vector<BYTE>& p_message) {
  p_message.clear();
  if (!IsEncodableDnsName(p_strName)) {
    return false;
  }
  const std::string_view name = WithoutTrailingDot(p_strName);
  // Header, one length byte more than the dots, the final zero, type, class.
  p_message.reserve(12 + name.size() + 2 + 4);
  AppendUInt16(p_message, p_wId);
  AppendUInt16(p_message, kStandardQueryRecursionDesired);
  AppendUInt16(p_message, 1);  // QDCOUNT
  AppendUInt16(p_message, 0);  // ANCOUNT
  AppendUInt16(p_message, 0);  // NSCOUNT
  AppendUInt16(p_message, 0);  // ARCOUNT
  std::size_t labelStart = 0;
  while (labelStart <= name.size()) {
    std::size_t dot = name.find('.', labelStart);
    if (dot == std::string_view::npos) {
      dot = name.size();
    }
    p_message.push_back(static_cast<BYTE>(dot - labelStart));
    p_message.insert(p_message.end(), name.begin() + static_cast<std::ptrdiff_t>(labelStart),
                     name.begin() + static_cast<std::ptrdiff_t>(dot));
    labelStart = dot + 1;
  }
  p_message.push_back(0);
  AppendUInt16(p_message, kQueryTypeA);
  AppendUInt16(p_message, kQueryClassInternet);
  return true;
}

bool DnsNamesEqual(std::string_view p_strFirst, std::string_view p_strSecond) {
  if (p_strFirst.size() != p_strSecond.size()) {
    return false;
  }
  for (std::size_t i = 0; i < p_strFirst.size(); ++i) {
    if (LowerAscii(p_strFirst[i]) != LowerAscii(p_strSecond[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace KestNet
