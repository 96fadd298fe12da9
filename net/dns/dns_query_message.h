// The query message the DNS engine sends (RFC 1035, 4.1): one question for
// the A record of a name, recursion desired, and the process-wide query id.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os/win_types.h"

namespace KestNet {

// Longest label and longest name in text form (RFC 1035, 2.3.4: 63 bytes per
// label, 255 on the wire, which leaves 253 characters of dotted text).
inline constexpr std::size_t kDnsMaxLabelLength = 63;
inline constexpr std::size_t kDnsMaxNameLength = 253;

// A fresh query id from the system's CSPRNG (RFC 5452 §9.2: an id an
// off-path attacker cannot predict is half of what keeps forged answers out;
// the other half is the random source port the socket already gets).
WORD NewDnsQueryId();

// Whether the name can be written as a question: not empty, no empty label
// (one trailing dot is allowed and adds nothing), no label over 63 bytes and
// no more than 253 bytes without the trailing dot.
bool IsEncodableDnsName(std::string_view p_strName);

// The name as it is compared with a response's question: without its one
// trailing dot.
std::string_view WithoutTrailingDot(std::string_view p_strName);

// Builds the whole message: ID, flags 0x0100, one question, no other records,
// QNAME made of the name's labels copied byte for byte, QTYPE 1, QCLASS 1.
// False (message emptied) when the name is not encodable.
bool BuildDnsQueryMessage(WORD p_wId, std::string_view p_strName, std::vector<BYTE>& p_message);

// Compares two names ignoring the case of ASCII letters only (RFC 4343).
bool DnsNamesEqual(std::string_view p_strFirst, std::string_view p_strSecond);

}  // namespace KestNet
