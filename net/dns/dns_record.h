// KestNet::DnsRecord: one answer record of a DNS response, and the record
// lists that the query engine, the resolver and its cache pass around.
#pragma once

#include <string>
#include <vector>

#include "net/sockets/ip_address.h"
#include "platform/os/win_types.h"

namespace KestNet {

// Record TYPE values the engine understands (RFC 1035, 3.2.2); any other
// type is kept as read.
inline constexpr DWORD kDnsRecordTypeA = 1;
inline constexpr DWORD kDnsRecordTypeCName = 5;

struct DnsRecord {
  // Owner name as read from the response: dotted, no trailing dot.
  std::string name;
  // The record's TYPE (1 = A, 5 = CNAME, others as read).
  DWORD type = 0;
  // TTL in seconds as read; records answered from the cache carry 0.
  DWORD ttl = 0;
  // Set only for type 1.
  IPAddress address;
  // The canonical name, set only for type 5.
  std::string data;
};

// Records in the order of the answers in the response.
using DnsRecordList = std::vector<DnsRecord>;

// An empty list whose room grows in blocks of ten entries, the size of a
// typical answer set, so that appending rarely reallocates.
DnsRecordList MakeDnsRecordList();
// Appends one record, growing the room by a block of ten when it is full.
void AppendDnsRecord(DnsRecordList& p_records, DnsRecord p_record);

}  // namespace KestNet
