#include "net/dns/dns_record.h"

#include <utility>

namespace KestNet {
namespace {

constexpr std::size_t kRecordListBlock = 10;

}  // namespace

DnsRecordList MakeDnsRecordList() {
  DnsRecordList records;
  records.reserve(kRecordListBlock);
  return records;
}

void AppendDnsRecord(DnsRecordList& p_records, DnsRecord p_record) {
  if (p_records.size() == p_records.capacity()) {
    p_records.reserve(p_records.capacity() + kRecordListBlock);
  }
  p_records.push_back(std::move(p_record));
}

}  // namespace KestNet
