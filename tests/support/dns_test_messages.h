// DNS messages written by hand for tests: reading the question of a query a
// peer received, and building the response a scripted peer sends back.
// Independent of the engine's own parser, so that tests do not check the
// engine against itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestnet::testing {

using DnsBytes = std::vector<std::uint8_t>;

// The parts of a query a test looks at. Names are read without compression
// (queries never use it).
struct DnsQuery {
  std::uint16_t id = 0;
  std::uint16_t flags = 0;
  std::uint16_t questionCount = 0;
  std::string name;  // dotted
  std::uint16_t type = 0;
  std::uint16_t klass = 0;
  DnsBytes question;  // the question section as sent (name, type, class)
};
std::optional<DnsQuery> ReadDnsQuery(const DnsBytes& p_bytes);

// Labels as length-prefixed bytes with the final zero ("a.b" -> 01 61 01 62 00).
DnsBytes EncodeDnsName(const std::string& p_name);

// A response to a query: by default it echoes the query's ID and question,
// with flags 0x8180 (response, recursion desired and available, no error).
// Answers are appended in order; an empty owner name writes a compression
// pointer to the question's name (offset 12), as servers do.
class DnsResponseBuilder {
 public:
  explicit DnsResponseBuilder(const DnsQuery& p_query);

  DnsResponseBuilder& Id(std::uint16_t p_id);
  DnsResponseBuilder& Flags(std::uint16_t p_flags);
  // Replaces the echoed question (the name and A/IN).
  DnsResponseBuilder& Question(const std::string& p_name);
  DnsResponseBuilder& A(const std::string& p_owner, std::uint32_t p_ttl, const std::string& p_address);
  DnsResponseBuilder& CName(const std::string& p_owner, std::uint32_t p_ttl, const std::string& p_target);
  // Any record, its data given as raw bytes.
  DnsResponseBuilder& Record(const std::string& p_owner, std::uint16_t p_type, std::uint32_t p_ttl,
                             const DnsBytes& p_data);
  // Sets ANCOUNT to a number other than the records written.
  DnsResponseBuilder& AnswerCount(std::uint16_t p_count);

  DnsBytes Build() const;

 private:
  void AppendOwner(const std::string& p_owner);

  std::uint16_t m_id;
  std::uint16_t m_flags = 0x8180;
  DnsBytes m_question;
  DnsBytes m_answers;
  std::uint16_t m_answerCount = 0;
  std::optional<std::uint16_t> m_answerCountOverride;
};

void AppendUInt16(DnsBytes& p_bytes, std::uint16_t p_value);
void AppendUInt32(DnsBytes& p_bytes, std::uint32_t p_value);

}  // namespace kestnet::testing
