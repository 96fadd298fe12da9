// Reading DNS responses (RFC 1035, 4.1) through a checked cursor.
//
// Every byte of a received datagram is read through DnsMessageCursor, which
// refuses any read past the end instead of touching memory beyond it. Names
// follow compression pointers only backwards, to before the start of the
// stretch of labels that holds the pointer, so every jump lands strictly
// earlier than the last and a pointer loop cannot be written; the number of
// jumps and the name's length are bounded as well. A response that breaks any
// rule is rejected as a whole: the caller ignores it, as it ignores a
// response for another name. Nothing here logs; the caller decides.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "net/dns/dns_record.h"
#include "platform/os/win_types.h"

namespace KestNet {

// (enumerator, description). One row per reason a response is refused.
#define KESTNET_DNS_PARSE_RESULTS(X)                                                    \
  X(kOk, "well formed")                                                                 \
  X(kTruncated, "the message ends inside a field")                                      \
  X(kReservedLabelType, "a label starts with the reserved bit pattern 01 or 10")        \
  X(kForwardPointer, "a compression pointer does not point backwards")                  \
  X(kTooManyPointers, "a name follows too many compression pointers")                   \
  X(kNameTooLong, "a name is longer than 255 bytes")                                    \
  X(kNoQuestion, "the response carries no question")                                   \
  X(kBadAddressLength, "an address record's data is not 4 bytes long")                  \
  X(kNameOutsideRecordData, "a canonical name runs past its record's data")

enum class DnsParseResult {
#define KESTNET_DNS_PARSE_ENUM(name, text) name,
  KESTNET_DNS_PARSE_RESULTS(KESTNET_DNS_PARSE_ENUM)
#undef KESTNET_DNS_PARSE_ENUM
};

// A dotted name (labels split at its dots) written as ReadName writes names
// read from a message, so that the two compare byte for byte.
std::string DnsNameAsText(std::string_view p_strName);

// The description of a parse result; "unknown parse result" outside the table.
const char* DescribeDnsParseResult(DnsParseResult p_result);

// Longest name on the wire, length bytes and final zero included (RFC 1035, 2.3.4).
inline constexpr std::size_t kDnsMaxWireNameLength = 255;
// More jumps than a 255-byte name could need (one per two-byte pointer)
// means something is wrong with the message.
inline constexpr std::size_t kDnsMaxPointerJumps = 127;
inline constexpr std::size_t kDnsHeaderLength = 12;

// A read position over one received message. It never owns the bytes; they
// must outlive it. Each read either succeeds completely and advances, or fails
// and leaves the position where it was.
class DnsMessageCursor {
 public:
  DnsMessageCursor(const BYTE* p_pData, std::size_t p_length);

  std::size_t Position() const { return m_position; }
  std::size_t Length() const { return m_length; }
  std::size_t Remaining() const { return m_length - m_position; }

  // False when the offset lies beyond the end (the end itself is allowed).
  bool Seek(std::size_t p_offset);
  bool Skip(std::size_t p_count);
  bool ReadUInt8(BYTE& p_value);
  bool ReadUInt16(WORD& p_value);  // big-endian
  bool ReadUInt32(DWORD& p_value);  // big-endian
  bool ReadBytes(BYTE* p_pOut, std::size_t p_count);
  // The byte at an absolute offset, without moving.
  bool PeekAt(std::size_t p_offset, BYTE& p_value) const;

  // Reads the (possibly compressed) name at the position into dotted form,
  // without a trailing dot; the root name gives an empty string. A dot or
  // backslash inside a label is written with a backslash before it, any other
  // byte that is not printable ASCII as \DDD. On success
  // the position moves past the name as it is stored here: after its zero
  // byte, or after the first compression pointer. On failure the position is
  // unchanged and the name is empty.
  DnsParseResult ReadName(std::string& p_strName);

 private:
  const BYTE* m_pData;
  std::size_t m_length;
  std::size_t m_position = 0;
};

// The fixed header of a message.
struct DnsMessageHeader {
  WORD id = 0;
  WORD flags = 0;
  WORD questionCount = 0;
  WORD answerCount = 0;
  WORD authorityCount = 0;
  WORD additionalCount = 0;

  // The QR bit: set in responses.
  bool IsResponse() const { return (flags & 0x8000) != 0; }
  // The TC bit: the answer did not fit and was cut.
  bool IsTruncated() const { return (flags & 0x0200) != 0; }
  // RCODE, the low four bits of the flags.
  BYTE ResponseCode() const { return static_cast<BYTE>(flags & 0x000F); }
};

// One answer as read, with the length of its data for the caller's log.
struct DnsAnswer {
  DnsRecord record;
  WORD recordClass = 0;
  WORD dataLength = 0;
};

// What ParseDnsResponse makes of a message: the header, the first question
// and every answer record in order. Authority and additional sections are not
// read.
struct DnsResponse {
  DnsMessageHeader header;
  std::string questionName;
  WORD questionType = 0;
  WORD questionClass = 0;
  std::vector<DnsAnswer> answers;
};

// Parses a whole response. Anything but kOk means the message must not be
// used; p_response is then left in an unspecified but valid state.
//
// Address records must carry exactly 4 bytes of data; a canonical name must
// lie within its record's data; every record is stepped over by its RDLENGTH,
// so one odd record cannot shift the reading of the next.
DnsParseResult ParseDnsResponse(const BYTE* p_pData, std::size_t p_length, DnsResponse& p_response);

}  // namespace KestNet
