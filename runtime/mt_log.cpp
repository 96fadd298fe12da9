#include "runtime/mt_log.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/os/debug_output.h"
#include "platform/sync/thread.h"
#include "runtime/log_error_state.h"

namespace KestMT {
namespace {

// Three level tags of equal width, so the columns of a debug log line up.
constexpr const char* kLevelTags[] = {"[ ERROR ]", "[ WARN  ]", "[ DEBUG ]"};

const char* LevelTag(BYTE level) { return kLevelTags[level < 2 ? level : 2]; }

}  // namespace

const char* SourceFileName(const char* path) {
  if (path == nullptr) return "";
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

void MTLog(const char* className, BYTE level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  MTLogV(className, level, format, args);
  va_end(args);
}

void MTLogV(const char* className, BYTE level, const char* format, va_list args) {
  KestLog::CallerErrorStateKeeper keepCallerErrorState;
  // The line is built only for the debugger output; with nobody observing it
  // the formatting (two printf passes and a clock read) would be thrown away,
  // and the threading library logs several lines for every thread it runs.
  if (!kestnet::platform::IsDebugOutputObserved()) return;

  char message[kMTLogMessageBufferSize];
  message[0] = '\0';
  if (format != nullptr) {
    // A rejected format leaves the message empty; the line is still sent so
    // that the event itself is not lost.
// The caller's format is the point of this function; it cannot be a literal here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (std::vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
#pragma GCC diagnostic pop
  }

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);

  char line[kMTLogMessageBufferSize + 256];
  std::snprintf(line, sizeof line,
                "%s[ %.2d/%.2d/%d %.2d:%.2d:%.2d ] [ PID: %lu ] [ TID: %lu ] [ KestMT-Log ] [ %s ] "
                "[ Msg: %s ]\n",
                LevelTag(level), local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long>(GetCurrentThreadId()),
                className != nullptr ? className : "", message);
  OutputDebugStringA(line);
}

}  // namespace KestMT
