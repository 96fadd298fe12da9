// Text helpers of the logger: bounded copies into the ring's fixed fields and
// the one-line form of an entry used for the debugger output and the
// critical file.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "runtime/log_ring.h"

namespace KestLog {

// Copies p_szText into p_pField of p_capacity bytes: at most p_capacity - 1
// bytes, cut before a UTF-8 sequence that would not fit whole, then NUL.
// Returns the bytes copied.
size_t CopyBoundedText(char* p_pField, size_t p_capacity, const char* p_szText);

template <size_t N>
size_t CopyBoundedText(char (&p_field)[N], const char* p_szText) {
  return CopyBoundedText(p_field, N, p_szText);
}

// CopyBoundedText, then zeros up to the end of the field.
template <size_t N>
void FillText(char (&p_field)[N], const char* p_szText) {
  const size_t length = CopyBoundedText(p_field, N, p_szText);
  std::memset(p_field + length, 0, N - length);
}

// CopyBoundedText into a field that holds a NUL-padded text already (a ring
// slot: zeros when the ring is made, NUL-padded by every entry since): only
// the bytes of the old text beyond the new one are zeroed, the rest are zero
// already. A short entry so touches a few cache lines of its slot, not all.
template <size_t N>
void OverwritePaddedText(char (&p_field)[N], const char* p_szText) {
  const size_t oldLength = strnlen(p_field, N);
  const size_t length = CopyBoundedText(p_field, N, p_szText);
  if (oldLength > length + 1) std::memset(p_field + length + 1, 0, oldLength - length - 1);
}

// Length of the longest prefix of p_szText[0, p_length) that ends on a UTF-8
// character boundary.
size_t Utf8BoundaryAtOrBefore(const char* p_szText, size_t p_length);

// "[12/06/2026 11:38:31][Process: kestnet][PID: 0x2a][Thread: 0x2b]
//  [Class: KestNet::Pop3Client][Msg: ...]" (one line, no line end).
std::string FormatLogLine(const LogEntry& p_entry);

}  // namespace KestLog
