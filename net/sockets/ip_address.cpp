#include "net/sockets/ip_address.h"

#include <cstring>

#include "platform/net/socket_calls.h"

namespace KestNet {

IPAddress::IPAddress(const std::string& p_strAddress) {
  if (IsValidAddress(p_strAddress)) {
    m_strAddress = p_strAddress;
  }
}

IPAddress::~IPAddress() = default;

void IPAddress::SetAnyAddress() { m_strAddress = "0.0.0.0"; }

void IPAddress::SetLoopbackAddress() { m_strAddress = "127.0.0.1"; }

bool IPAddress::IsValid() const { return !m_strAddress.empty(); }

std::string IPAddress::ToString() const { return m_strAddress; }

DWORD IPAddress::ToNetworkOrder() const {
  std::uint32_t address = 0;
  if (!kestnet::platform::ParseIPv4Address(m_strAddress, &address)) {
    return 0;
  }
  return address;
}

bool IPAddress::GetOctets(BYTE& p_byFirst, BYTE& p_bySecond, BYTE& p_byThird,
                          BYTE& p_byFourth) const {
  BYTE octets[4] = {0, 0, 0, 0};
  std::uint32_t address = 0;
  const bool valid = kestnet::platform::ParseIPv4Address(m_strAddress, &address);
  if (valid) {
    std::memcpy(octets, &address, sizeof(octets));
  }
  p_byFirst = octets[0];
  p_bySecond = octets[1];
  p_byThird = octets[2];
  p_byFourth = octets[3];
  return valid;
}

void IPAddress::SetOctets(BYTE p_byFirst, BYTE p_bySecond, BYTE p_byThird, BYTE p_byFourth) {
  const BYTE octets[4] = {p_byFirst, p_bySecond, p_byThird, p_byFourth};
  DWORD address = 0;
  std::memcpy(&address, octets, sizeof(address));
  m_strAddress = FormatAddress(address);
}

bool IPAddress::Set(const std::string& p_strAddress) {
  if (!IsValidAddress(p_strAddress)) {
    m_strAddress.clear();
    return false;
  }
  m_strAddress = p_strAddress;
  return true;
}

void IPAddress::Set(const IPAddress& p_address) { m_strAddress = p_address.m_strAddress; }

void IPAddress::Set(DWORD p_dwNetworkOrderAddress) {
  m_strAddress = FormatAddress(p_dwNetworkOrderAddress);
}

bool IPAddress::operator==(const IPAddress& p_other) const {
  return m_strAddress == p_other.m_strAddress;
}

bool IPAddress::operator!=(const IPAddress& p_other) const { return !(*this == p_other); }

bool IPAddress::operator>=(const IPAddress& p_other) const {
  return OrderKey() >= p_other.OrderKey();
}

bool IPAddress::operator<=(const IPAddress& p_other) const {
  return OrderKey() <= p_other.OrderKey();
}

std::string IPAddress::FormatAddress(DWORD p_dwNetworkOrderAddress) {
  return kestnet::platform::FormatIPv4Address(p_dwNetworkOrderAddress);
}

bool IPAddress::IsValidAddress(const std::string& p_strAddress) {
  return !p_strAddress.empty() && kestnet::platform::ParseIPv4Address(p_strAddress, nullptr);
}

long long IPAddress::OrderKey() const {
  BYTE first = 0;
  BYTE second = 0;
  BYTE third = 0;
  BYTE fourth = 0;
  if (!GetOctets(first, second, third, fourth)) {
    return -1;
  }
  return (static_cast<long long>(first) << 24) | (static_cast<long long>(second) << 16) |
         (static_cast<long long>(third) << 8) | fourth;
}

}  // namespace KestNet
