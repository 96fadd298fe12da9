#include "runtime/mt_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <unistd.h>

#include "platform/os/last_error.h"

#if __has_include("platform/os/debug_output.h")
#include "platform/os/debug_output.h"
#define KESTNET_HAVE_DEBUG_OUTPUT 1
#endif
#if __has_include("platform/sync/thread.h")
#include "platform/sync/thread.h"
#define KESTNET_HAVE_THREAD_IDS 1
#endif

namespace KestMT {
namespace {

// Three level tags of equal width, so the columns of a debug log line up.
constexpr const char* kLevelTags[] = {"[ ERROR ]", "[ WARN  ]", "[ DEBUG ]"};

const char* LevelTag(BYTE level) { return kLevelTags[level < 2 ? level : 2]; }

unsigned long CurrentProcessId() {
#ifdef KESTNET_HAVE_THREAD_IDS
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

unsigned long CurrentThreadId() {
#ifdef KESTNET_HAVE_THREAD_IDS
  return GetCurrentThreadId();
#else
  return static_cast<unsigned long>(::gettid());
#endif
}

void SendToDebugOutput(const char* line) {
#ifdef KESTNET_HAVE_DEBUG_OUTPUT
  OutputDebugStringA(line);
#else
  (void)line;
#endif
}

// Saves the caller's last error and errno and puts them back on scope exit.
class ErrorStateKeeper {
 public:
  ErrorStateKeeper() : m_lastError(GetLastError()), m_errno(errno) {}
  ~ErrorStateKeeper() {
    SetLastError(m_lastError);
    errno = m_errno;
  }
  ErrorStateKeeper(const ErrorStateKeeper&) = delete;
  ErrorStateKeeper& operator=(const ErrorStateKeeper&) = delete;

 private:
  DWORD m_lastError;
  int m_errno;
};

}  // namespace

const char* SourceFileName(const char* path) {
  if (path == nullptr) return "";
  const char* slash = std::strrchr(path, '/');
  const char* backslash = std::strrchr(path, '\\');
  const char* last = slash > backslash ? slash : backslash;
  return last != nullptr ? last + 1 : path;
}

void MTLog(const char* className, BYTE level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  MTLogV(className, level, format, args);
  va_end(args);
}

void MTLogV(const char* className, BYTE level, const char* format, va_list args) {
  ErrorStateKeeper keepCallerErrorState;

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
                local.tm_hour, local.tm_min, local.tm_sec, CurrentProcessId(), CurrentThreadId(),
                className != nullptr ? className : "", message);
  SendToDebugOutput(line);
}

}  // namespace KestMT
