// KestNet::IPAddress: an IPv4 address kept as its dotted-quad text.
//
// The text is empty when the address is invalid. A text is valid when it is
// exactly four decimal parts of 0 to 255 ("255.255.255.255" included);
// anything else ("1.2.3", "256.1.1.1", " 1.2.3.4", "") is rejected.
// Equality compares the texts; ordering compares octet by octet, the first
// octet most significant.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestNet {

class IPAddress {
 public:
  IPAddress() = default;
  // Stores the text only when it is valid; otherwise the address is invalid.
  explicit IPAddress(const std::string& p_strAddress);
  IPAddress(const IPAddress&) = default;
  IPAddress& operator=(const IPAddress&) = default;

  virtual ~IPAddress();
  virtual void SetAnyAddress();       // "0.0.0.0"
  virtual void SetLoopbackAddress();  // "127.0.0.1"
  virtual bool IsValid() const;
  virtual std::string ToString() const;
  // The address in network byte order; 0 when invalid.
  virtual DWORD ToNetworkOrder() const;
  // False (octets zeroed) when invalid.
  virtual bool GetOctets(BYTE& p_byFirst, BYTE& p_bySecond, BYTE& p_byThird, BYTE& p_byFourth) const;
  virtual void SetOctets(BYTE p_byFirst, BYTE p_bySecond, BYTE p_byThird, BYTE p_byFourth);
  // False, and the address becomes invalid, when the text is not valid: a
  // caller that ignores the result must not go on with the previous address.
  virtual bool Set(const std::string& p_strAddress);
  virtual void Set(const IPAddress& p_address);
  // From an address in network byte order.
  virtual void Set(DWORD p_dwNetworkOrderAddress);
  virtual bool operator==(const IPAddress& p_other) const;
  virtual bool operator!=(const IPAddress& p_other) const;
  // Invalid addresses order below every valid one.
  virtual bool operator>=(const IPAddress& p_other) const;
  virtual bool operator<=(const IPAddress& p_other) const;

  // "%d.%d.%d.%d" of the four bytes of the address in memory order.
  static std::string FormatAddress(DWORD p_dwNetworkOrderAddress);
  static bool IsValidAddress(const std::string& p_strAddress);

 private:
  // Octets as one number, first octet most significant; -1 when invalid.
  long long OrderKey() const;

  std::string m_strAddress;
};

}  // namespace KestNet
