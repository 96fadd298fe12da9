#include "net/dns/dns_response_parser.h"

#include <algorithm>
#include <array>
#include <utility>

namespace KestNet {
namespace {

constexpr std::array kParseResultDescriptions = {
#define KESTNET_DNS_PARSE_TEXT(name, text) text,
    KESTNET_DNS_PARSE_RESULTS(KESTNET_DNS_PARSE_TEXT)
#undef KESTNET_DNS_PARSE_TEXT
};

// The two top bits of a label's first byte (RFC 1035, 4.1.4; RFC 6891, 5).
constexpr BYTE kLabelTypeMask = 0xC0;
constexpr BYTE kPointerLabel = 0xC0;
constexpr BYTE kNormalLabel = 0x00;

constexpr std::size_t kAddressLength = 4;

// Appends one label as text (RFC 4343 §2.1, as c-ares and BIND write it): a
// dot or backslash inside a label is escaped with a backslash, so a label
// "a.b" never reads as the two labels "a" and "b"; a byte that is not
// printable ASCII, space included, is written \DDD in decimal.
void AppendLabelText(std::string& p_name, const BYTE* p_pLabel, std::size_t p_length) {
  for (std::size_t i = 0; i < p_length; ++i) {
    const BYTE c = p_pLabel[i];
    if (c == '.' || c == '\\') {
      p_name.push_back('\\');
      p_name.push_back(static_cast<char>(c));
    } else if (c <= ' ' || c >= 0x7F) {
      const char digits[] = {'\\', static_cast<char>('0' + c / 100), static_cast<char>('0' + c / 10 % 10),
                             static_cast<char>('0' + c % 10)};
      p_name.append(digits, sizeof digits);
    } else {
      p_name.push_back(static_cast<char>(c));
    }
  }
}

}  // namespace

std::string DnsNameAsText(std::string_view p_strName) {
  std::string text;
  std::size_t labelStart = 0;
  while (labelStart <= p_strName.size()) {
    std::size_t dot = p_strName.find('.', labelStart);
    if (dot == std::string_view::npos) {
      dot = p_strName.size();
    }
    if (labelStart != 0) {
      text.push_back('.');
    }
    AppendLabelText(text, reinterpret_cast<const BYTE*>(p_strName.data() + labelStart), dot - labelStart);
    labelStart = dot + 1;
  }
  return text;
}

const char* DescribeDnsParseResult(DnsParseResult p_result) {
  const auto index = static_cast<std::size_t>(p_result);
  return index < kParseResultDescriptions.size() ? kParseResultDescriptions[index]
                                                 : "unknown parse result";
}

DnsMessageCursor::DnsMessageCursor(const BYTE* p_pData, std::size_t p_length)
    : m_pData(p_pData), m_length(p_pData == nullptr ? 0 : p_length) {}

bool DnsMessageCursor::Seek(std::size_t p_offset) {
  if (p_offset > m_length) {
    return false;
  }
  m_position = p_offset;
  return true;
}

bool DnsMessageCursor::Skip(std::size_t p_count) {
  if (p_count > Remaining()) {
    return false;
  }
  m_position += p_count;
  return true;
}

bool DnsMessageCursor::PeekAt(std::size_t p_offset, BYTE& p_value) const {
  if (p_offset >= m_length) {
    return false;
  }
  p_value = m_pData[p_offset];
  return true;
}

bool DnsMessageCursor::ReadUInt8(BYTE& p_value) {
  if (Remaining() < 1) {
    return false;
  }
  p_value = m_pData[m_position];
  m_position += 1;
  return true;
}

bool DnsMessageCursor::ReadUInt16(WORD& p_value) {
  if (Remaining() < 2) {
    return false;
  }
  p_value = static_cast<WORD>((m_pData[m_position] << 8) | m_pData[m_position + 1]);
  m_position += 2;
  return true;
}

bool DnsMessageCursor::ReadUInt32(DWORD& p_value) {
  if (Remaining() < 4) {
    return false;
  }
  DWORD value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | m_pData[m_position + i];
  }
  p_value = value;
  m_position += 4;
  return true;
}

bool DnsMessageCursor::ReadBytes(BYTE* p_pOut, std::size_t p_count) {
  if (p_count > Remaining() || (p_pOut == nullptr && p_count > 0)) {
    return false;
  }
  for (std::size_t i = 0; i < p_count; ++i) {
    p_pOut[i] = m_pData[m_position + i];
  }
  m_position += p_count;
  return true;
}

DnsParseResult DnsMessageCursor::ReadName(std::string& p_strName) {
  std::string name;
  std::size_t position = m_position;
  // Where the current stretch of labels began: a pointer must land before it.
  std::size_t stretchStart = m_position;
  std::size_t resumeAt = 0;
  bool jumped = false;
  std::size_t jumps = 0;
  std::size_t wireLength = 0;

  auto fail = [&p_strName](DnsParseResult p_result) {
    p_strName.clear();
    return p_result;
  };

  for (;;) {
    BYTE lengthByte = 0;
    if (!PeekAt(position, lengthByte)) {
      return fail(DnsParseResult::kTruncated);
    }
    const BYTE labelType = lengthByte & kLabelTypeMask;
    if (labelType == kPointerLabel) {
      BYTE low = 0;
      if (!PeekAt(position + 1, low)) {
        return fail(DnsParseResult::kTruncated);
      }
      const std::size_t target = (static_cast<std::size_t>(lengthByte & 0x3F) << 8) | low;
      if (target >= stretchStart) {
        return fail(DnsParseResult::kForwardPointer);
      }
      if (++jumps > kDnsMaxPointerJumps) {
        return fail(DnsParseResult::kTooManyPointers);
      }
      if (!jumped) {
        resumeAt = position + 2;
        jumped = true;
      }
      position = target;
      stretchStart = target;
      continue;
    }
    if (labelType != kNormalLabel) {
      return fail(DnsParseResult::kReservedLabelType);
    }
    wireLength += 1 + lengthByte;
    if (wireLength > kDnsMaxWireNameLength) {
      return fail(DnsParseResult::kNameTooLong);
    }
    if (lengthByte == 0) {
      position += 1;
      break;
    }
    if (lengthByte > m_length - position - 1) {
      return fail(DnsParseResult::kTruncated);
    }
    if (!name.empty()) {
      name.push_back('.');
    }
    AppendLabelText(name, m_pData + position + 1, lengthByte);
    position += 1 + lengthByte;
  }

  m_position = jumped ? resumeAt : position;
  p_strName = std::move(name);
  return DnsParseResult::kOk;
}

namespace {

DnsParseResult ReadHeader(DnsMessageCursor& p_cursor, DnsMessageHeader& p_header) {
  const bool complete = p_cursor.ReadUInt16(p_header.id) && p_cursor.ReadUInt16(p_header.flags) &&
                        p_cursor.ReadUInt16(p_header.questionCount) &&
                        p_cursor.ReadUInt16(p_header.answerCount) &&
                        p_cursor.ReadUInt16(p_header.authorityCount) &&
                        p_cursor.ReadUInt16(p_header.additionalCount);
  return complete ? DnsParseResult::kOk : DnsParseResult::kTruncated;
}

DnsParseResult ReadQuestions(DnsMessageCursor& p_cursor, DnsResponse& p_response) {
  if (p_response.header.questionCount == 0) {
    return DnsParseResult::kNoQuestion;
  }
  for (WORD index = 0; index < p_response.header.questionCount; ++index) {
    std::string name;
    WORD type = 0;
    WORD klass = 0;
    const DnsParseResult result = p_cursor.ReadName(name);
    if (result != DnsParseResult::kOk) {
      return result;
    }
    if (!p_cursor.ReadUInt16(type) || !p_cursor.ReadUInt16(klass)) {
      return DnsParseResult::kTruncated;
    }
    if (index == 0) {
      p_response.questionName = std::move(name);
      p_response.questionType = type;
      p_response.questionClass = klass;
    }
  }
  return DnsParseResult::kOk;
}

DnsParseResult ReadAnswer(DnsMessageCursor& p_cursor, DnsAnswer& p_answer) {
  DnsRecord& record = p_answer.record;
  DnsParseResult result = p_cursor.ReadName(record.name);
  if (result != DnsParseResult::kOk) {
    return result;
  }
  WORD type = 0;
  WORD klass = 0;
  if (!p_cursor.ReadUInt16(type) || !p_cursor.ReadUInt16(klass) ||
      !p_cursor.ReadUInt32(record.ttl) || !p_cursor.ReadUInt16(p_answer.dataLength)) {
    return DnsParseResult::kTruncated;
  }
  record.type = type;
  p_answer.recordClass = klass;
  const std::size_t dataStart = p_cursor.Position();
  const std::size_t dataEnd = dataStart + p_answer.dataLength;
  if (p_answer.dataLength > p_cursor.Remaining()) {
    return DnsParseResult::kTruncated;
  }
  if (type == kDnsRecordTypeA) {
    if (p_answer.dataLength != kAddressLength) {
      return DnsParseResult::kBadAddressLength;
    }
    std::array<BYTE, kAddressLength> octets{};
    p_cursor.ReadBytes(octets.data(), octets.size());
    record.address.SetOctets(octets[0], octets[1], octets[2], octets[3]);
  } else if (type == kDnsRecordTypeCName) {
    result = p_cursor.ReadName(record.data);
    if (result != DnsParseResult::kOk) {
      return result;
    }
    if (p_cursor.Position() > dataEnd) {
      return DnsParseResult::kNameOutsideRecordData;
    }
  }
  // Step over the data by its stated length whatever was read of it.
  p_cursor.Seek(dataEnd);
  return DnsParseResult::kOk;
}

}  // namespace

DnsParseResult ParseDnsResponse(const BYTE* p_pData, std::size_t p_length, DnsResponse& p_response) {
  p_response = DnsResponse{};
  DnsMessageCursor cursor(p_pData, p_length);
  DnsParseResult result = ReadHeader(cursor, p_response.header);
  if (result != DnsParseResult::kOk) {
    return result;
  }
  result = ReadQuestions(cursor, p_response);
  if (result != DnsParseResult::kOk) {
    return result;
  }
  // Room for what the header announces, but no more than the message could
  // hold (11 bytes per record at least), so a lying count reserves nothing huge.
  const std::size_t plausible = cursor.Remaining() / 11;
  p_response.answers.reserve(std::min<std::size_t>(p_response.header.answerCount, plausible));
  for (WORD index = 0; index < p_response.header.answerCount; ++index) {
    DnsAnswer answer;
    result = ReadAnswer(cursor, answer);
    if (result != DnsParseResult::kOk) {
      return result;
    }
    p_response.answers.push_back(std::move(answer));
  }
  return DnsParseResult::kOk;
}

}  // namespace KestNet
