// NetBIOS name service messages (RFC 1001/1002): the first-level name
// encoding, the broadcast name query and the reading of its answer.
//
// Names are the 16 bytes of a NetBIOS name, the 16th being the service
// suffix; no scope is used. Addresses are IPv4 in network byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestnet::platform::netbios {

inline constexpr std::size_t kNameLength = 16;
inline constexpr std::uint16_t kNameServicePort = 137;

using NetbiosName = std::span<const std::uint8_t, kNameLength>;

// RFC 1001 §14.1: each half-byte, high first, becomes 'A' plus its value,
// 32 characters in all ("FRED" padded with spaces: "EGFCEFEECACA...CA").
std::string EncodeName(NetbiosName p_name);

// RFC 1002 §4.2.12: a broadcast NAME QUERY REQUEST for p_name.
std::vector<std::uint8_t> BuildNameQuery(std::uint16_t p_transactionId, NetbiosName p_name);

struct NameQueryAnswer {
  bool bGroup = false;                   // the name is a group name
  std::vector<std::uint32_t> addresses;  // in the answer's order
};

// RFC 1002 §4.2.13: the addresses a POSITIVE NAME QUERY RESPONSE to our
// query gives. Nothing when p_message is anything else: another transaction,
// another name, a request, a negative answer or a wait-for-acknowledgement
// (a broadcast query is answered only by the name's owners, so a "no" from
// one machine rules out none of the others), or a malformed message.
std::optional<NameQueryAnswer> ReadNameQueryResponse(std::span<const std::uint8_t> p_message,
                                                     std::uint16_t p_transactionId, NetbiosName p_name);

}  // namespace kestnet::platform::netbios
