#include "runtime/guarded_call.h"

#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestBase {
namespace {

// Rethrows the exception in flight to tell its kind.
void LogExceptionInFlight(const char* p_szClassName, const char* p_szMethodName,
                          AbortHandling p_abortHandling, const char* p_szFile, int p_iLine) {
  try {
    throw;
  } catch (const KestMT::ThreadAbortException& exception) {
    if (p_abortHandling == AbortHandling::kAsMutexTermination) {
      Log(p_szClassName, kLogLevelWarning, "Mutex ThreadTerminate Exception at %s line %d", p_szFile,
          p_iLine);
    } else {
      KestLog::LogCaughtException(p_szClassName, p_szMethodName, exception);
    }
  } catch (const BaseException& exception) {
    KestLog::LogCaughtException(p_szClassName, p_szMethodName, exception);
  } catch (...) {
    KestLog::LogUnknownException(p_szClassName, p_szMethodName, p_szFile, p_iLine);
  }
}

}  // namespace

void LogGuardedException(const char* p_szClassName, const char* p_szMethodName,
                         AbortHandling p_abortHandling, const std::source_location& p_where) noexcept {
  try {
    LogExceptionInFlight(p_szClassName, p_szMethodName, p_abortHandling, p_where.file_name(),
                         static_cast<int>(p_where.line()));
  } catch (...) {
    // A log that cannot be written (no memory for the error name) is dropped.
  }
}

}  // namespace KestBase
