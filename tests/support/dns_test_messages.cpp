#include "tests/support/dns_test_messages.h"

#include <arpa/inet.h>

namespace kestnet::testing {

void AppendUInt16(DnsBytes& p_bytes, std::uint16_t p_value) {
  p_bytes.push_back(static_cast<std::uint8_t>(p_value >> 8));
  p_bytes.push_back(static_cast<std::uint8_t>(p_value));
}

void AppendUInt32(DnsBytes& p_bytes, std::uint32_t p_value) {
  AppendUInt16(p_bytes, static_cast<std::uint16_t>(p_value >> 16));
  AppendUInt16(p_bytes, static_cast<std::uint16_t>(p_value));
}

DnsBytes EncodeDnsName(const std::string& p_name) {
  DnsBytes bytes;
  std::size_t start = 0;
  while (start < p_name.size()) {
    std::size_t dot = p_name.find('.', start);
    if (dot == std::string::npos) {
      dot = p_name.size();
    }
    bytes.push_back(static_cast<std::uint8_t>(dot - start));
    bytes.insert(bytes.end(), p_name.begin() + static_cast<long>(start),
                 p_name.begin() + static_cast<long>(dot));
    start = dot + 1;
  }
  bytes.push_back(0);
  return bytes;
}

std::optional<DnsQuery> ReadDnsQuery(const DnsBytes& p_bytes) {
  if (p_bytes.size() < 12) {
    return std::nullopt;
  }
  auto word = [&p_bytes](std::size_t p_at) {
    return static_cast<std::uint16_t>((p_bytes[p_at] << 8) | p_bytes[p_at + 1]);
  };
  DnsQuery query;
  query.id = word(0);
  query.flags = word(2);
  query.questionCount = word(4);
  std::size_t at = 12;
  while (at < p_bytes.size() && p_bytes[at] != 0) {
    const std::size_t length = p_bytes[at];
    if (length > 63 || at + 1 + length > p_bytes.size()) {
      return std::nullopt;
    }
    if (!query.name.empty()) {
      query.name.push_back('.');
    }
    query.name.append(p_bytes.begin() + static_cast<long>(at + 1),
                      p_bytes.begin() + static_cast<long>(at + 1 + length));
    at += 1 + length;
  }
  if (at + 5 > p_bytes.size()) {
    return std::nullopt;
  }
  query.type = word(at + 1);
  query.klass = word(at + 3);
  query.question.assign(p_bytes.begin() + 12, p_bytes.begin() + static_cast<long>(at + 5));
  return query;
}

DnsResponseBuilder::DnsResponseBuilder(const DnsQuery& p_query)
    : m_id(p_query.id), m_question(p_query.question) {}

DnsResponseBuilder& DnsResponseBuilder::Id(std::uint16_t p_id) {
  m_id = p_id;
  return *this;
}

DnsResponseBuilder& DnsResponseBuilder::Flags(std::uint16_t p_flags) {
  m_flags = p_flags;
  return *this;
}

DnsResponseBuilder& DnsResponseBuilder::Question(const std::string& p_name) {
  m_question = EncodeDnsName(p_name);
  AppendUInt16(m_question, 1);
  AppendUInt16(m_question, 1);
  return *this;
}

void DnsResponseBuilder::AppendOwner(const std::string& p_owner) {
  if (p_owner.empty()) {
    m_answers.push_back(0xC0);
    m_answers.push_back(12);
    return;
  }
  const DnsBytes name = EncodeDnsName(p_owner);
  m_answers.insert(m_answers.end(), name.begin(), name.end());
}

DnsResponseBuilder& DnsResponseBuilder::Record(const std::string& p_owner, std::uint16_t p_type,
                                               std::uint32_t p_ttl, const DnsBytes& p_data) {
  AppendOwner(p_owner);
  AppendUInt16(m_answers, p_type);
  AppendUInt16(m_answers, 1);
  AppendUInt32(m_answers, p_ttl);
  AppendUInt16(m_answers, static_cast<std::uint16_t>(p_data.size()));
  m_answers.insert(m_answers.end(), p_data.begin(), p_data.end());
  ++m_answerCount;
  return *this;
}

DnsResponseBuilder& DnsResponseBuilder::A(const std::string& p_owner, std::uint32_t p_ttl,
                                          const std::string& p_address) {
  in_addr address{};
  inet_pton(AF_INET, p_address.c_str(), &address);
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&address.s_addr);
  return Record(p_owner, 1, p_ttl, DnsBytes(octets, octets + 4));
}

DnsResponseBuilder& DnsResponseBuilder::CName(const std::string& p_owner, std::uint32_t p_ttl,
                                              const std::string& p_target) {
  return Record(p_owner, 5, p_ttl, EncodeDnsName(p_target));
}

DnsResponseBuilder& DnsResponseBuilder::AnswerCount(std::uint16_t p_count) {
  m_answerCountOverride = p_count;
  return *this;
}

DnsBytes DnsResponseBuilder::Build() const {
  DnsBytes bytes;
  AppendUInt16(bytes, m_id);
  AppendUInt16(bytes, m_flags);
  AppendUInt16(bytes, m_question.empty() ? 0 : 1);
  AppendUInt16(bytes, m_answerCountOverride.value_or(m_answerCount));
  AppendUInt16(bytes, 0);
  AppendUInt16(bytes, 0);
  bytes.insert(bytes.end(), m_question.begin(), m_question.end());
  bytes.insert(bytes.end(), m_answers.begin(), m_answers.end());
  return bytes;
}

}  // namespace kestnet::testing
