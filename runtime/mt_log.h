// MTLog: the threading library's own log line, and the throw helper built on it.
//
// The KestMT library cannot use the shared log ring (the logger is itself a
// KestMT thread and takes a KestMT mutex), so it has this much simpler path:
// every call sends exactly one line to the debugger output (built only while
// someone observes that output), formatted as
//   [ ERROR ][ 12/06/2026 11:38:31 ] [ PID: 42 ] [ TID: 43 ] [ KestMT-Log ] [ <class> ] [ Msg:
//   <text> ]
// ("[ WARN  ]" for level 1, "[ DEBUG ]" for any level above). It takes no lock
// and keeps the caller's last error and errno.
//
// Format strings follow the system's printf conventions, including "%S" for a
// wide string; the compiler's format check is not attached because it rejects
// "%S" in pedantic builds.
#pragma once

#include <cstdarg>
#include <source_location>

#include "platform/os/win_types.h"

namespace KestMT {

// Longest message text; longer text is cut.
inline constexpr size_t kMTLogMessageBufferSize = 2048;

void MTLog(const char* className, BYTE level, const char* format, ...);
void MTLogV(const char* className, BYTE level, const char* format, va_list args);

// The file name of a path, after its last '/' or '\\': how the throw lines
// quote a source file, so no build path ever appears in a log.
const char* SourceFileName(const char* path);

// Logs "Throwing <qualified name> exception type. File: <file> Line: <line>."
// at level 0 under className, then throws a default-constructed Exception.
// Exception is one of the simple classes of runtime/exceptions.h.
template <typename Exception>
[[noreturn]] void ThrowLogged(const char* className,
                              const std::source_location& where = std::source_location::current()) {
  MTLog(className, 0, "Throwing %s exception type. File: %s Line: %d.", Exception::kQualifiedName,
        SourceFileName(where.file_name()), static_cast<int>(where.line()));
  throw Exception();
}

}  // namespace KestMT
