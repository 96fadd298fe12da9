// Log: the one entry point through which every component reports what it does.
//
//   Log("KestNet::Pop3Client", 2, "Connected to %s:%u.", host, port);
//
// The class name is the component's namespace and class; the level is 0 error,
// 1 warning, 2 information, 3 detail, 4 trace (smaller is more severe). The
// format follows printf, with "%S" for a wide string. Log never throws and
// leaves the caller's last error and errno as they were. The entry goes to the
// process's KestLog::Logger (see runtime/logger.h), created on first use.
//
// The compiler's format check is not attached because it rejects the "%S"
// conversion that the system's messages use in pedantic builds.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/os/win_types.h"

namespace KestBase {
class BaseException;
}

// Log levels in use across the system.
inline constexpr BYTE kLogLevelError = 0;
inline constexpr BYTE kLogLevelWarning = 1;
inline constexpr BYTE kLogLevelInformation = 2;
inline constexpr BYTE kLogLevelDetail = 3;
inline constexpr BYTE kLogLevelTrace = 4;

void Log(const char* className, BYTE level, const char* format, ...);
void LogV(const char* className, BYTE level, const char* format, va_list args);

namespace KestLog {

// The message Log stores when the C library rejects a format (an invalid
// conversion, or a wide string that is not valid text); it is logged under
// kBadFormatClass at level 2, and the caller's entry keeps the raw format.
inline constexpr const char* kBadFormatMessage =
    "Invalid parameter handler invoked:  The original log text contained an invalid sequence.";
inline constexpr const char* kBadFormatClass = "KestLogLib";

// The conventions every method boundary follows.
// "%s():  Exception - %S.  Extended Data = <%s>" at level 1.
void LogCaughtException(const char* className, const char* methodName,
                        const KestBase::BaseException& exception);
// "%s():  Exception - Unknown." at level 4, then
// "Unhandled unknown exception detected. File: %s Line: %d." at level 0.
void LogUnknownException(const char* className, const char* methodName, const char* sourceFile,
                         int line);
// "%s - Invalid argument detected for parameter %s." at level 1.
void LogInvalidArgument(const char* className, const char* operation, const char* parameterName);
// "%s():  Destructor exception." at level 1.
void LogDestructorException(const char* className, const char* methodName);

}  // namespace KestLog
