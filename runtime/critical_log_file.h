// CriticalLogFile: the small ring text file that keeps the latest error entries.
//
// "critical.txt" in the folder "Tolvar" of the all-users application data
// folder holds about 32500 bytes of the most recent level-0 log lines, so that
// errors survive the shared-memory ring and the processes that wrote them.
//
// Layout: bytes 0-3 hold P, a 32-bit little-endian offset: the end of the
// newest entry's separator. From byte 4 come the entries, each the log line,
// "\r\n" and the 25-character marker "$$******SEPARATOR******$$"; the first
// entry after a wrap is preceded by "\r\n". A new entry overwrites the marker of
// the previous one, so the marker always stands after the newest entry. When P
// reaches 32500 the writer blanks the old tail from its last marker on and
// starts again at offset 4.
//
// Several threads and several processes append to the same file: an append
// holds the object's critical section (threads of this process) and an
// exclusive flock on the file (other processes) while it reads P and writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/critical_section.h"

namespace KestLog {

class CriticalLogFile {
 public:
  static constexpr std::uint32_t kWrapOffset = 32500;
  static constexpr std::string_view kSeparator = "$$******SEPARATOR******$$";
  static constexpr std::uint32_t kFirstEntryOffset = 4;

  // The file at its system location, found (and its folders created) on the
  // first append.
  CriticalLogFile();
  // The file at a path chosen by the caller (the folder must exist).
  explicit CriticalLogFile(std::string path);

  CriticalLogFile(const CriticalLogFile&) = delete;
  CriticalLogFile& operator=(const CriticalLogFile&) = delete;

  // Appends one line (without line end). Failures (no folder, no file, a full
  // disk) drop the copy; nothing is thrown.
  void Append(std::string_view line);

  // The system location: <all-users application data>/Tolvar/critical.txt,
  // creating the folders when missing. Empty when they cannot be created.
  // The machine's file is written only by processes that may change machine
  // data; a process of another account keeps its own file at the same place
  // under its user application data, so no account can truncate, overwrite
  // or fill another's entries.
  static std::string DefaultPath();

 private:
  bool ResolvePath();

  KestMT::CriticalSection m_lock;
  bool m_pathResolved;
  std::string m_path;
};

}  // namespace KestLog
