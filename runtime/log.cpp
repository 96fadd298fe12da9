#include "runtime/log.h"

#include <cstdarg>

#include "runtime/exceptions.h"
#include "runtime/log_error_state.h"
#include "runtime/log_format.h"
#include "runtime/log_text.h"
#include "runtime/logger.h"

namespace KestLog {
namespace {

// The message buffer: the ring keeps 511 bytes of a message, so formatting
// more would only be thrown away.
constexpr size_t kMessageCapacity = sizeof(LogEntry::message);

}  // namespace

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
    if (format != nullptr && !FormatBoundedMessage(message, kMessageCapacity, format, args)) {
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
