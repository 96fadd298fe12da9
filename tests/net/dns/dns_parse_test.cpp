// The query message and the response parser, on bytes written by hand.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns_query_message.h"
#include "net/dns/dns_response_parser.h"
#include "tests/support/dns_test_messages.h"

namespace KestNet {
namespace {

using kestnet::testing::DnsBytes;
using kestnet::testing::DnsQuery;
using kestnet::testing::DnsResponseBuilder;
using kestnet::testing::EncodeDnsName;

DnsQuery QueryFor(const std::string& p_name, std::uint16_t p_id = 0x1234) {
  std::vector<BYTE> message;
  EXPECT_TRUE(BuildDnsQueryMessage(p_id, p_name, message));
  auto query = kestnet::testing::ReadDnsQuery(message);
  EXPECT_TRUE(query.has_value());
  return query.value_or(DnsQuery{});
}

DnsParseResult Parse(const DnsBytes& p_bytes, DnsResponse& p_response) {
  return ParseDnsResponse(p_bytes.data(), p_bytes.size(), p_response);
}

TEST(DnsQueryMessage, WritesTheWholeMessageForAThreeLabelName) {
  std::vector<BYTE> message;
  ASSERT_TRUE(BuildDnsQueryMessage(0x0102, "a.bc.def", message));
  const std::vector<BYTE> expected = {0x01, 0x02, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x01, 0x61, 0x02, 0x62, 0x63, 0x03, 0x64, 0x65,
                                      0x66, 0x00, 0x00, 0x01, 0x00, 0x01};
  EXPECT_EQ(message, expected);
  std::vector<BYTE> withTrailingDot;
  ASSERT_TRUE(BuildDnsQueryMessage(0x0102, "a.bc.def.", withTrailingDot));
  EXPECT_EQ(withTrailingDot, expected);
}

TEST(DnsQueryMessage, CopiesLabelsWithoutChangingCase) {
  std::vector<BYTE> message;
  ASSERT_TRUE(BuildDnsQueryMessage(1, "Host.Example", message));
  EXPECT_EQ(QueryFor("Host.Example").name, "Host.Example");
}

TEST(DnsQueryMessage, RefusesNamesThatCannotBeWritten) {
  const std::string label63(63, 'a');
  const std::string label64(64, 'a');
  // 4 labels of 63 plus dots: 255 characters; trimmed to exactly 253.
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  ASSERT_EQ(name253.size(), 253u);
  struct Case {
    std::string name;
    bool encodable;
  } cases[] = {
      {"host", true},          {"host.", true},           {label63, true},
      {label63 + ".x", true},  {name253, true},           {name253 + ".", true},
      {"", false},             {".", false},              {label64, false},
      {"x." + label64, false}, {name253 + "b", false},    {"a..b", false},
      {".a", false},           {"a.b..", false},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> message = {1, 2, 3};
    EXPECT_EQ(IsEncodableDnsName(c.name), c.encodable) << "name of " << c.name.size() << " bytes";
    EXPECT_EQ(BuildDnsQueryMessage(7, c.name, message), c.encodable) << c.name;
    if (!c.encodable) {
      EXPECT_TRUE(message.empty());
    }
  }
}

TEST(DnsQueryMessage, QueryIdsAreNotASequence) {
  // A counter (or a constant) gives at most a few distinct differences; 64
  // random ids give nearly as many as there are pairs.
  std::vector<WORD> ids;
  for (int i = 0; i < 64; ++i) ids.push_back(NewDnsQueryId());
  std::vector<WORD> steps;
  for (std::size_t i = 1; i < ids.size(); ++i) steps.push_back(static_cast<WORD>(ids[i] - ids[i - 1]));
  std::sort(steps.begin(), steps.end());
  EXPECT_GT(std::unique(steps.begin(), steps.end()) - steps.begin(), 32);
}

TEST(DnsNames, CompareIgnoringAsciiCaseOnly) {
  EXPECT_TRUE(DnsNamesEqual("Alpha.TEST", "alpha.test"));
  EXPECT_FALSE(DnsNamesEqual("alpha.test", "alpha.test2"));
  EXPECT_FALSE(DnsNamesEqual("\xC3\x89", "\xC3\xA9"));  // É and é are different bytes
  EXPECT_EQ(WithoutTrailingDot("a.b."), "a.b");
  EXPECT_EQ(WithoutTrailingDot("a.b"), "a.b");
}

TEST(DnsMessageCursor, RefusesReadsPastTheEndAndKeepsItsPlace) {
  const BYTE bytes[] = {0x12, 0x34, 0x56};
  DnsMessageCursor cursor(bytes, sizeof bytes);
  WORD word = 0;
  ASSERT_TRUE(cursor.ReadUInt16(word));
  EXPECT_EQ(word, 0x1234);
  DWORD dword = 0xFFFFFFFF;
  EXPECT_FALSE(cursor.ReadUInt32(dword));
  EXPECT_EQ(dword, 0xFFFFFFFFu);
  EXPECT_FALSE(cursor.ReadUInt16(word));
  EXPECT_EQ(cursor.Position(), 2u);
  BYTE byte = 0;
  EXPECT_TRUE(cursor.ReadUInt8(byte));
  EXPECT_EQ(byte, 0x56);
  EXPECT_FALSE(cursor.ReadUInt8(byte));
  EXPECT_FALSE(cursor.Skip(1));
  EXPECT_TRUE(cursor.Seek(3));
  EXPECT_FALSE(cursor.Seek(4));
  EXPECT_FALSE(cursor.PeekAt(3, byte));
}

TEST(DnsResponseParser, ReadsAddressRecordsInOrder) {
  const DnsBytes bytes = DnsResponseBuilder(QueryFor("alpha.test"))
                             .A("", 300, "10.1.2.3")
                             .A("alpha.test", 0, "10.1.2.4")
                             .Build();
  DnsResponse response;
  ASSERT_EQ(Parse(bytes, response), DnsParseResult::kOk);
  EXPECT_EQ(response.header.id, 0x1234);
  EXPECT_TRUE(response.header.IsResponse());
  EXPECT_EQ(response.questionName, "alpha.test");
  EXPECT_EQ(response.questionType, 1);
  ASSERT_EQ(response.answers.size(), 2u);
  EXPECT_EQ(response.answers[0].record.name, "alpha.test");
  EXPECT_EQ(response.answers[0].record.type, kDnsRecordTypeA);
  EXPECT_EQ(response.answers[0].record.ttl, 300u);
  EXPECT_EQ(response.answers[0].record.address.ToString(), "10.1.2.3");
  EXPECT_EQ(response.answers[1].record.ttl, 0u);
  EXPECT_EQ(response.answers[1].record.address.ToString(), "10.1.2.4");
}

TEST(DnsResponseParser, ReadsCanonicalNamesAndKeepsUnknownTypes) {
  const DnsBytes bytes = DnsResponseBuilder(QueryFor("www.test"))
                             .CName("", 60, "real.test")
                             .Record("real.test", 16, 5, {3, 'a', 'b', 'c', 0xFF})
                             .A("real.test", 60, "192.0.2.1")
                             .Build();
  DnsResponse response;
  ASSERT_EQ(Parse(bytes, response), DnsParseResult::kOk);
  ASSERT_EQ(response.answers.size(), 3u);
  EXPECT_EQ(response.answers[0].record.type, kDnsRecordTypeCName);
  EXPECT_EQ(response.answers[0].record.data, "real.test");
  EXPECT_FALSE(response.answers[0].record.address.IsValid());
  EXPECT_EQ(response.answers[1].record.type, 16u);
  EXPECT_EQ(response.answers[1].dataLength, 5);
  EXPECT_EQ(response.answers[1].record.data, "");
  // The record after the unknown one is read from the right place.
  EXPECT_EQ(response.answers[2].record.address.ToString(), "192.0.2.1");
}

// RFC 4343 §2.1, as c-ares and BIND write names: a label holding a dot or a
// backslash is not two labels, and bytes that are not plain text are \DDD.
TEST(DnsResponseParser, EscapesLabelBytesThatAreNotPlainText) {
  DnsBytes bytes = DnsResponseBuilder(QueryFor("a.test")).A("", 60, "192.0.2.1").Build();
  const DnsBytes owner = {3, 'a', '.', 'b', 4, 't', '\\', 0, ' ', 0};
  bytes.resize(bytes.size() - 16);  // the answer written with a pointer owner
  bytes.insert(bytes.end(), owner.begin(), owner.end());
  const DnsBytes rest = {0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, 1};
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  DnsResponse response;
  ASSERT_EQ(Parse(bytes, response), DnsParseResult::kOk);
  ASSERT_EQ(response.answers.size(), 1u);
  EXPECT_EQ(response.answers[0].record.name, "a\\.b.t\\\\\\000\\032");
  EXPECT_FALSE(DnsNamesEqual(response.answers[0].record.name, "a.b.t"));
}

TEST(DnsResponseParser, FollowsACompressionPointerAboveOffset255) {
  // The question, then a TXT record large enough to push the next record's
  // owner name past offset 255, then an A record pointing back at that name.
  DnsBytes filler(260, 'x');
  filler[0] = 255;  // one character-string of 255 bytes, then 4 more bytes
  DnsResponseBuilder builder(QueryFor("far.test"));
  builder.Record("", 16, 1, filler);
  DnsBytes bytes = builder.Build();
  const std::size_t farName = bytes.size();
  ASSERT_GT(farName, 255u);
  const DnsBytes name = EncodeDnsName("deep.far.test");
  bytes.insert(bytes.end(), name.begin(), name.end());
  // Type 1, class 1, ttl 1, rdlength 4, 10.0.0.1 for the owner written above.
  const DnsBytes restOfFirst = {0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 10, 0, 0, 1};
  bytes.insert(bytes.end(), restOfFirst.begin(), restOfFirst.end());
  const DnsBytes pointed = {static_cast<std::uint8_t>(0xC0 | (farName >> 8)),
                            static_cast<std::uint8_t>(farName & 0xFF),
                            0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 10, 0, 0, 2};
  bytes.insert(bytes.end(), pointed.begin(), pointed.end());
  bytes[7] = 3;  // ANCOUNT
  DnsResponse response;
  ASSERT_EQ(Parse(bytes, response), DnsParseResult::kOk);
  ASSERT_EQ(response.answers.size(), 3u);
  EXPECT_EQ(response.answers[1].record.name, "deep.far.test");
  EXPECT_EQ(response.answers[2].record.name, "deep.far.test");
  EXPECT_EQ(response.answers[2].record.address.ToString(), "10.0.0.2");
}

// A response for "loop.test" whose first answer's owner name is replaced by p_owner.
DnsBytes WithOwnerBytes(const DnsBytes& p_owner) {
  DnsBytes bytes = DnsResponseBuilder(QueryFor("loop.test")).A("", 1, "10.0.0.1").Build();
  const std::size_t ownerAt = 12 + EncodeDnsName("loop.test").size() + 4;
  bytes.erase(bytes.begin() + static_cast<long>(ownerAt), bytes.begin() + static_cast<long>(ownerAt + 2));
  bytes.insert(bytes.begin() + static_cast<long>(ownerAt), p_owner.begin(), p_owner.end());
  return bytes;
}

TEST(DnsResponseParser, RefusesPointersThatLoopOrPointForward) {
  const std::size_t ownerAt = 12 + EncodeDnsName("loop.test").size() + 4;
  const auto high = static_cast<std::uint8_t>(0xC0 | (ownerAt >> 8));
  const auto low = static_cast<std::uint8_t>(ownerAt & 0xFF);
  struct Case {
    const char* what;
    DnsBytes owner;
  } cases[] = {
      {"a pointer to itself", {high, low}},
      {"a pointer to the byte after it", {high, static_cast<std::uint8_t>(low + 2), 0}},
      {"a label then a pointer back to that label", {1, 'a', high, low}},
      {"a pointer past the end", {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    DnsResponse response;
    EXPECT_EQ(Parse(WithOwnerBytes(c.owner), response), DnsParseResult::kForwardPointer) << c.what;
  }
}

TEST(DnsResponseParser, RefusesAChainOfTooManyBackwardPointers) {
  // Each pointer points at the one before it; the first points at the question.
  DnsBytes chain = {0xC0, 12};
  const std::size_t ownerAt = 12 + EncodeDnsName("loop.test").size() + 4;
  for (std::size_t i = 1; i <= kDnsMaxPointerJumps; ++i) {
    const std::size_t previous = ownerAt + 2 * (i - 1);
    chain.push_back(static_cast<std::uint8_t>(0xC0 | (previous >> 8)));
    chain.push_back(static_cast<std::uint8_t>(previous & 0xFF));
  }
  // The owner name starts at the last pointer of the chain.
  DnsBytes bytes = WithOwnerBytes(chain);
  DnsMessageCursor cursor(bytes.data(), bytes.size());
  ASSERT_TRUE(cursor.Seek(ownerAt + 2 * kDnsMaxPointerJumps));
  std::string name = "unchanged";
  EXPECT_EQ(cursor.ReadName(name), DnsParseResult::kTooManyPointers);
  EXPECT_EQ(name, "");
  EXPECT_EQ(cursor.Position(), ownerAt + 2 * kDnsMaxPointerJumps);
  // One jump fewer is a long but valid name.
  ASSERT_TRUE(cursor.Seek(ownerAt + 2 * (kDnsMaxPointerJumps - 1)));
  EXPECT_EQ(cursor.ReadName(name), DnsParseResult::kOk);
  EXPECT_EQ(name, "loop.test");
}

// A CNAME answer whose 6-byte name "real" is announced with another RDLENGTH.
DnsBytes CanonicalNameWithDataLength(const DnsQuery& p_query, std::uint8_t p_length) {
  DnsBytes bytes = DnsResponseBuilder(p_query).Record("", 5, 1, {4, 'r', 'e', 'a', 'l', 0}).Build();
  bytes[bytes.size() - 7] = p_length;
  return bytes;
}

TEST(DnsResponseParser, RefusesMalformedNamesAndRecords) {
  const DnsQuery query = QueryFor("bad.test");
  const std::string label63(63, 'l');
  const std::string longName = label63 + "." + label63 + "." + label63 + "." + label63;
  struct Case {
    const char* what;
    DnsBytes bytes;
    DnsParseResult expected;
  } cases[] = {
      {"a label of reserved type 01", WithOwnerBytes({0x41, 'a', 0}), DnsParseResult::kReservedLabelType},
      {"a label of reserved type 10", WithOwnerBytes({0x81, 'a', 0}), DnsParseResult::kReservedLabelType},
      {"a name over 255 bytes", DnsResponseBuilder(query).A(longName, 1, "10.0.0.1").Build(),
       DnsParseResult::kNameTooLong},
      {"an address of 5 bytes", DnsResponseBuilder(query).Record("", 1, 1, {1, 2, 3, 4, 5}).Build(),
       DnsParseResult::kBadAddressLength},
      {"an address of 3 bytes", DnsResponseBuilder(query).Record("", 1, 1, {1, 2, 3}).Build(),
       DnsParseResult::kBadAddressLength},
      {"a canonical name longer than its data", CanonicalNameWithDataLength(query, 3),
       DnsParseResult::kNameOutsideRecordData},
      {"more answers announced than present",
       DnsResponseBuilder(query).A("", 1, "10.0.0.1").AnswerCount(2).Build(), DnsParseResult::kTruncated},
      {"no question", DnsResponseBuilder(DnsQuery{}).Build(), DnsParseResult::kNoQuestion},
      {"a header cut short", DnsBytes{0x12, 0x34, 0x81}, DnsParseResult::kTruncated},
  };
  for (const Case& c : cases) {
    DnsResponse response;
    EXPECT_EQ(Parse(c.bytes, response), c.expected) << c.what;
    EXPECT_STRNE(DescribeDnsParseResult(c.expected), "unknown parse result");
  }
}

TEST(DnsResponseParser, EveryTruncatedPrefixOfAValidResponseFailsCleanly) {
  const DnsBytes whole = DnsResponseBuilder(QueryFor("www.prefix.test"))
                             .CName("", 60, "real.prefix.test")
                             .Record("real.prefix.test", 99, 5, {1, 2, 3, 4, 5})
                             .A("real.prefix.test", 60, "192.0.2.7")
                             .A("", 60, "192.0.2.8")
                             .Build();
  DnsResponse response;
  ASSERT_EQ(Parse(whole, response), DnsParseResult::kOk);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    // A copy of exactly this length, so that a read past it is a real
    // out-of-bounds access for the address sanitizer to catch.
    const DnsBytes prefix(whole.begin(), whole.begin() + static_cast<long>(length));
    EXPECT_NE(ParseDnsResponse(prefix.empty() ? nullptr : prefix.data(), prefix.size(), response),
              DnsParseResult::kOk)
        << "prefix of " << length << " bytes";
  }
}

}  // namespace
}  // namespace KestNet
