// Feeds arbitrary bytes to the DNS response parser. Besides the sanitizers'
// findings, it stops on any result that breaks what the parser promises:
// names within the length a name can have, addresses only in address
// records, the cursor never beyond the message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/dns/dns_response_parser.h"

namespace {

// Dotted text of a name of at most 255 wire bytes: at most 253 label bytes
// (the first length byte and the final zero carry none), each written as at
// most four characters (\DDD), with fewer dots than that between labels.
constexpr std::size_t kMaxDottedName = 4 * (KestNet::kDnsMaxWireNameLength - 2);

void Require(bool p_condition) {
  if (!p_condition) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* p_data, std::size_t p_size) {
  KestNet::DnsResponse response;
  if (KestNet::ParseDnsResponse(p_data, p_size, response) == KestNet::DnsParseResult::kOk) {
    Require(response.questionName.size() <= kMaxDottedName);
    Require(response.answers.size() == response.header.answerCount);
    for (const KestNet::DnsAnswer& answer : response.answers) {
      Require(answer.record.name.size() <= kMaxDottedName);
      Require(answer.record.data.size() <= kMaxDottedName);
      Require(answer.record.address.IsValid() == (answer.record.type == KestNet::kDnsRecordTypeA));
    }
  }
  // Names read from every starting point of the first bytes, as a record's
  // data would make the reader start anywhere.
  const std::size_t starts = p_size < 64 ? p_size : 64;
  for (std::size_t start = 0; start < starts; ++start) {
    KestNet::DnsMessageCursor cursor(p_data, p_size);
    Require(cursor.Seek(start));
    std::string name;
    const KestNet::DnsParseResult result = cursor.ReadName(name);
    Require(cursor.Position() <= p_size);
    if (result == KestNet::DnsParseResult::kOk) {
      Require(name.size() <= kMaxDottedName);
      Require(cursor.Position() > start);
    } else {
      Require(cursor.Position() == start && name.empty());
    }
  }
  return 0;
}
