#include "platform/netbios/name_message.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace netbios = kestnet::platform::netbios;

using Name = std::array<std::uint8_t, netbios::kNameLength>;
using Message = std::vector<std::uint8_t>;

constexpr std::uint16_t kTransactionId = 0x4b45;

Name NameOf(const char* p_text, std::uint8_t p_suffix) {
  Name name;
  name.fill(' ');
  std::memcpy(name.data(), p_text, std::strlen(p_text));
  name[15] = p_suffix;
  return name;
}

// A positive answer to kTransactionId for p_name, built by hand after RFC
// 1002 §4.2.13: 10.77.0.10 and 10.77.0.11, unique.
Message PositiveAnswer(const Name& p_name) {
  Message message = {0x4b, 0x45, 0x85, 0x00, 0, 0, 0, 1, 0, 0, 0, 0, 32};
  for (char letter : netbios::EncodeName(p_name)) message.push_back(static_cast<std::uint8_t>(letter));
  const Message rest = {0, 0, 0x20, 0, 1, 0, 0, 0x0e, 0x10, 0, 12, 0, 0, 10, 77, 0, 10, 0, 0, 10, 77, 0, 11};
  message.insert(message.end(), rest.begin(), rest.end());
  return message;
}

TEST(NetbiosNameTest, EncodesAsRfc1001Does) {
  // RFC 1001 §14.1's example: "FRED" padded with spaces.
  EXPECT_EQ(netbios::EncodeName(NameOf("FRED", ' ')), "EGFCEFEECACACACACACACACACACACACA");
  // The 16th byte is the suffix: 0x00 for the workstation service.
  EXPECT_EQ(netbios::EncodeName(NameOf("FRED", 0x00)), "EGFCEFEECACACACACACACACACACACAAA");
}

TEST(NetbiosNameTest, QueryAsksForTheNameByBroadcast) {
  const Message query = netbios::BuildNameQuery(kTransactionId, NameOf("FRED", 0x00));
  const std::string encoded(query.begin() + 13, query.begin() + 45);
  EXPECT_EQ(Message(query.begin(), query.begin() + 13), (Message{0x4b, 0x45, 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0, 32}));
  EXPECT_EQ(encoded, "EGFCEFEECACACACACACACACACACACAAA");
  EXPECT_EQ(Message(query.begin() + 45, query.end()), (Message{0, 0, 0x20, 0, 1}));
}

TEST(NetbiosNameTest, ReadsTheAddressesOfAPositiveAnswer) {
  const Name name = NameOf("KESTSRV1", 0x00);
  const auto answer = netbios::ReadNameQueryResponse(PositiveAnswer(name), kTransactionId, name);
  ASSERT_TRUE(answer);
  EXPECT_FALSE(answer->bGroup);
  ASSERT_EQ(answer->addresses.size(), 2u);
  const std::uint8_t first[4] = {10, 77, 0, 10};
  EXPECT_EQ(std::memcmp(&answer->addresses[0], first, 4), 0);
}

// Each change turns the answer into one that is not ours or not an answer.
struct Change {
  const char* what;
  std::size_t offset;
  std::uint8_t value;
};

class NetbiosAnswerChangeTest : public ::testing::TestWithParam<Change> {};

TEST_P(NetbiosAnswerChangeTest, IsNotTakenForTheAnswer) {
  const Name name = NameOf("KESTSRV1", 0x00);
  Message message = PositiveAnswer(name);
  message[GetParam().offset] = GetParam().value;
  EXPECT_FALSE(netbios::ReadNameQueryResponse(message, kTransactionId, name)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NetbiosAnswerChangeTest,
    ::testing::Values(Change{"another transaction", 1, 0x46}, Change{"a request", 2, 0x05},
                      Change{"a wait-for-acknowledgement", 2, 0xbc}, Change{"a negative answer", 3, 0x03},
                      Change{"no answer record", 7, 0}, Change{"another name", 14, 'F'},
                      Change{"another suffix", 44, 'B'}, Change{"a scope", 45, 3},
                      Change{"another type", 47, 0x21}, Change{"a length past the end", 55, 18},
                      Change{"a partial address entry", 55, 11}));

TEST(NetbiosNameTest, FollowsAPointerToTheQuestionsName) {
  const Name name = NameOf("KESTSRV1", 0x00);
  // The question repeated, and the answer's name pointing at it.
  Message message = netbios::BuildNameQuery(kTransactionId, name);
  message[2] = 0x85;
  message[3] = 0x00;
  message[7] = 1;
  const Message answer = {0xc0, 12, 0, 0x20, 0, 1, 0, 0, 0x0e, 0x10, 0, 6, 0x80, 0, 10, 77, 1, 10};
  message.insert(message.end(), answer.begin(), answer.end());
  const auto read = netbios::ReadNameQueryResponse(message, kTransactionId, name);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->bGroup);
  EXPECT_EQ(read->addresses.size(), 1u);
  // A pointer that loops is malformed, not a hang.
  message[45 + 5 + 0] = 0xc0;
  message[45 + 5 + 1] = 50;
  EXPECT_FALSE(netbios::ReadNameQueryResponse(message, kTransactionId, name));
}

}  // namespace
