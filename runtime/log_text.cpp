#include "runtime/log_text.h"

#include <cstdio>
#include <cstring>

#include "runtime/log_ring_reader.h"

namespace KestLog {

size_t Utf8BoundaryAtOrBefore(const char* p_szText, size_t p_length) {
  // Step back over continuation bytes to the lead byte of the last character,
  // then keep that character only if all of its bytes are inside the prefix.
  size_t lead = p_length;
  size_t stepped = 0;
  while (lead > 0 && stepped < 4 &&
         (static_cast<unsigned char>(p_szText[lead - 1]) & 0xC0) == 0x80) {
    --lead, ++stepped;
  }
  if (lead == 0) return p_length;  // no lead byte: not UTF-8, cut where asked
  const auto first = static_cast<unsigned char>(p_szText[lead - 1]);
  size_t expected = 1;
  if ((first & 0xE0) == 0xC0) {
    expected = 2;
  } else if ((first & 0xF0) == 0xE0) {
    expected = 3;
  } else if ((first & 0xF8) == 0xF0) {
    expected = 4;
  }
  if (expected == 1) return p_length;  // ASCII or a stray byte: nothing to tear
  return stepped + 1 >= expected ? p_length : lead - 1;
}

size_t CopyBoundedText(char* p_pField, size_t p_capacity, const char* p_szText) {
  if (p_capacity == 0) return 0;
  size_t length = p_szText != nullptr ? strnlen(p_szText, p_capacity) : 0;
  if (length >= p_capacity) length = Utf8BoundaryAtOrBefore(p_szText, p_capacity - 1);
  if (length > 0) std::memcpy(p_pField, p_szText, length);
  p_pField[length] = '\0';
  return length;
}

std::string FormatLogLine(const LogEntry& p_entry) {
  char line[sizeof(LogEntry) + 128];
  std::snprintf(
      line, sizeof line, "[%s][Process: %.*s][PID: 0x%lx][Thread: 0x%lx][Class: %.*s][Msg: %.*s]",
      FormatEntryTime(p_entry.time).c_str(),
      static_cast<int>(strnlen(p_entry.processName, sizeof p_entry.processName)),
      p_entry.processName, static_cast<unsigned long>(p_entry.processId),
      static_cast<unsigned long>(p_entry.threadId),
      static_cast<int>(strnlen(p_entry.className, sizeof p_entry.className)), p_entry.className,
      static_cast<int>(strnlen(p_entry.message, sizeof p_entry.message)), p_entry.message);
  return line;
}

}  // namespace KestLog
