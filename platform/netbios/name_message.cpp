#include "platform/netbios/name_message.h"

#include <cstring>

namespace kestnet::platform::netbios {
namespace {

// RFC 1002 §4.2.1.1 header flags: RESPONSE, OPCODE (4 bits), NM_FLAGS (AA,
// TC, RD, RA, 0, 0, B) and RCODE (4 bits).
constexpr std::uint16_t kResponseFlag = 0x8000;
constexpr std::uint16_t kOpcodeMask = 0x7800;
constexpr std::uint16_t kQueryOpcode = 0x0000;
constexpr std::uint16_t kRecursionDesiredFlag = 0x0100;
constexpr std::uint16_t kBroadcastFlag = 0x0010;
constexpr std::uint16_t kRcodeMask = 0x000f;
constexpr std::size_t kHeaderLength = 12;

constexpr std::uint16_t kTypeNb = 0x0020;
constexpr std::uint16_t kClassIn = 0x0001;
constexpr std::uint16_t kGroupNameFlag = 0x8000;  // NB_FLAGS' G bit
constexpr std::size_t kAddressEntryLength = 6;    // NB_FLAGS, NB_ADDRESS

constexpr std::uint8_t kLabelPointer = 0xc0;
constexpr int kMaximumPointers = 8;

void AppendWord(std::vector<std::uint8_t>& p_message, std::uint16_t p_value) {
  p_message.push_back(static_cast<std::uint8_t>(p_value >> 8));
  p_message.push_back(static_cast<std::uint8_t>(p_value));
}

std::uint16_t WordAt(std::span<const std::uint8_t> p_message, std::size_t p_offset) {
  return static_cast<std::uint16_t>(p_message[p_offset] << 8 | p_message[p_offset + 1]);
}

// The encoded name as it stands on the wire: one label, no scope.
std::string WireName(NetbiosName p_name) {
  const std::string encoded = EncodeName(p_name);
  return static_cast<char>(encoded.size()) + encoded + '\0';
}

// Reads the (possibly compressed, RFC 883 label pointers) domain name at
// p_offset into p_name and moves p_offset past it. False when malformed.
bool ReadWireName(std::span<const std::uint8_t> p_message, std::size_t& p_offset, std::string& p_name) {
  p_name.clear();
  std::size_t position = p_offset;
  bool bFollowedPointer = false;
  for (int pointers = 0;;) {
    if (position >= p_message.size()) return false;
    const std::uint8_t length = p_message[position];
    if ((length & kLabelPointer) == kLabelPointer) {
      if (position + 1 >= p_message.size() || ++pointers > kMaximumPointers) return false;
      if (!bFollowedPointer) p_offset = position + 2;
      bFollowedPointer = true;
      position = static_cast<std::size_t>((length & ~kLabelPointer) << 8 | p_message[position + 1]);
      continue;
    }
    if ((length & kLabelPointer) != 0 || position + 1 + length > p_message.size()) return false;
    p_name.append(reinterpret_cast<const char*>(&p_message[position]), length + 1u);
    position += length + 1u;
    if (length == 0) break;
  }
  if (!bFollowedPointer) p_offset = position;
  return true;
}

}  // namespace

std::string EncodeName(NetbiosName p_name) {
  std::string encoded;
  encoded.reserve(2 * kNameLength);
  for (const std::uint8_t byte : p_name) {
    encoded.push_back(static_cast<char>('A' + (byte >> 4)));
    encoded.push_back(static_cast<char>('A' + (byte & 0x0f)));
  }
  return encoded;
}

std::vector<std::uint8_t> BuildNameQuery(std::uint16_t p_transactionId, NetbiosName p_name) {
  std::vector<std::uint8_t> message;
  AppendWord(message, p_transactionId);
  AppendWord(message, kQueryOpcode | kRecursionDesiredFlag | kBroadcastFlag);
  AppendWord(message, 1);  // QDCOUNT
  AppendWord(message, 0);  // ANCOUNT
  AppendWord(message, 0);  // NSCOUNT
  AppendWord(message, 0);  // ARCOUNT
  const std::string name = WireName(p_name);
  message.insert(message.end(), name.begin(), name.end());
  AppendWord(message, kTypeNb);
  AppendWord(message, kClassIn);
  return message;
}

std::optional<NameQueryAnswer> ReadNameQueryResponse(std::span<const std::uint8_t> p_message,
                                                     std::uint16_t p_transactionId, NetbiosName p_name) {
  if (p_message.size() < kHeaderLength || WordAt(p_message, 0) != p_transactionId) return std::nullopt;
  const std::uint16_t flags = WordAt(p_message, 2);
  if ((flags & kResponseFlag) == 0 || (flags & kOpcodeMask) != kQueryOpcode || (flags & kRcodeMask) != 0) {
    return std::nullopt;
  }
  const std::uint16_t questions = WordAt(p_message, 4);
  const std::uint16_t answers = WordAt(p_message, 6);
  if (answers == 0) return std::nullopt;
  // A responder may repeat the question; it is skipped.
  std::size_t offset = kHeaderLength;
  std::string name;
  for (std::uint16_t index = 0; index < questions; ++index) {
    if (!ReadWireName(p_message, offset, name) || offset + 4 > p_message.size()) return std::nullopt;
    offset += 4;
  }
  // RR_NAME, RR_TYPE, RR_CLASS, TTL, RDLENGTH, then the address entries.
  if (!ReadWireName(p_message, offset, name) || name != WireName(p_name) || offset + 10 > p_message.size() ||
      WordAt(p_message, offset) != kTypeNb || WordAt(p_message, offset + 2) != kClassIn) {
    return std::nullopt;
  }
  const std::size_t dataLength = WordAt(p_message, offset + 8);
  offset += 10;
  if (dataLength == 0 || dataLength % kAddressEntryLength != 0 || offset + dataLength > p_message.size()) {
    return std::nullopt;
  }
  NameQueryAnswer answer;
  answer.bGroup = (WordAt(p_message, offset) & kGroupNameFlag) != 0;
  for (std::size_t entry = offset; entry < offset + dataLength; entry += kAddressEntryLength) {
    std::uint32_t address = 0;
    std::memcpy(&address, &p_message[entry + 2], sizeof(address));
    answer.addresses.push_back(address);
  }
  return answer;
}

}  // namespace kestnet::platform::netbios
