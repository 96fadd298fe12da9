#include "runtime/log.h"

#include <locale.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "runtime/exceptions.h"
#include "runtime/log_error_state.h"
#include "runtime/log_text.h"
#include "runtime/logger.h"

namespace KestLog {
namespace {

// The message buffer: the ring keeps 511 bytes of a message, so formatting
// more would only be thrown away.
constexpr size_t kMessageCapacity = sizeof(LogEntry::message);

// The locale Log formats in: the process's narrow code page (UTF-8 here, as
// GetACP reports 65001) with "." as the decimal point. Windows switches the
// process-wide C locale around each call; uselocale switches only the calling
// thread, so concurrent log calls and the caller's own locale are untouched.
locale_t FormattingLocale() {
  static const locale_t locale = [] {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return utf8 != static_cast<locale_t>(nullptr)
               ? utf8
               : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return locale;
}

class ThreadLocaleSwitch {
 public:
  explicit ThreadLocaleSwitch(locale_t locale)
      : m_previous(locale != static_cast<locale_t>(nullptr) ? uselocale(locale)
                                                            : static_cast<locale_t>(nullptr)) {}
  ~ThreadLocaleSwitch() {
    if (m_previous != static_cast<locale_t>(nullptr)) uselocale(m_previous);
  }
  ThreadLocaleSwitch(const ThreadLocaleSwitch&) = delete;
  ThreadLocaleSwitch& operator=(const ThreadLocaleSwitch&) = delete;

 private:
  locale_t m_previous;
};

// Formats into a fixed buffer of kMessageCapacity bytes.
bool FormatInto(char* buffer, const char* format, va_list args) {
  ThreadLocaleSwitch formatting(FormattingLocale());
  // The caller's format is the point of this function; it cannot be a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int length = std::vsnprintf(buffer, kMessageCapacity, format, args);
#pragma GCC diagnostic pop
  if (length < 0) {
    buffer[0] = '\0';
    return false;
  }
  if (static_cast<size_t>(length) >= kMessageCapacity) {
    // Cut text must not end in half a character.
    buffer[Utf8BoundaryAtOrBefore(buffer, kMessageCapacity - 1)] = '\0';
  }
  return true;
}

}  // namespace

bool FormatLogMessage(std::string& text, const char* format, va_list args) {
  text.clear();
  if (format == nullptr) return false;
  va_list measuring;
  va_copy(measuring, args);
  int length;
  {
    ThreadLocaleSwitch formatting(FormattingLocale());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) return false;
    text.resize(static_cast<size_t>(length) + 1);
    length = std::vsnprintf(text.data(), text.size(), format, args);
#pragma GCC diagnostic pop
  }
  if (length < 0) {
    text.clear();
    return false;
  }
  text.resize(static_cast<size_t>(length));
  return true;
}

void LogCaughtException(const char* className, const char* methodName,
                        const KestBase::BaseException& exception) {
  const std::string extendedData = exception.GetExtendedData();
  Log(className, kLogLevelWarning, "%s():  Exception - %S.  Extended Data = <%s>", methodName,
      exception.GetErrorName().c_str(), extendedData.c_str());
}

void LogUnknownException(const char* className, const char* methodName, const char* sourceFile,
                         int line) {
  Log(className, kLogLevelTrace, "%s():  Exception - Unknown.", methodName);
  Log(className, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.",
      sourceFile, line);
}

void LogInvalidArgument(const char* className, const char* operation, const char* parameterName) {
  Log(className, kLogLevelWarning, "%s - Invalid argument detected for parameter %s.", operation,
      parameterName);
}

void LogDestructorException(const char* className, const char* methodName) {
  Log(className, kLogLevelWarning, "%s():  Destructor exception.", methodName);
}

}  // namespace KestLog

void Log(const char* className, BYTE level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(className, level, format, args);
  va_end(args);
}

void LogV(const char* className, BYTE level, const char* format, va_list args) {
  using namespace KestLog;
  CallerErrorStateKeeper keepCallerErrorState;
  try {
    Logger* logger = Logger::Instance();
    if (logger == nullptr) return;
    // A filtered entry is not formatted: the trace lines of busy paths cost
    // nothing once the filter keeps them out.
    if (logger->WouldDiscard(level)) return;

    char message[kMessageCapacity];
    message[0] = '\0';
    if (format != nullptr && !FormatInto(message, format, args)) {
      // The C library rejected the format: say so, and keep the caller's
      // entry with its raw format below rather than lose it.
      logger->Write(kBadFormatClass, kLogLevelInformation, kBadFormatMessage);
    }
    const char* text = message[0] != '\0' ? message : (format != nullptr ? format : "");
    logger->Write(className, level, text);
  } catch (...) {
    // Logging never fails its caller.
  }
}
