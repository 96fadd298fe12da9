// Keeps the caller's error state across a log call: logging must never change
// what GetLastError or errno report to the code that logged.
#pragma once

#include <cerrno>

#include "platform/os/last_error.h"

namespace KestLog {

class CallerErrorStateKeeper {
 public:
  CallerErrorStateKeeper() : m_lastError(GetLastError()), m_errno(errno) {}
  ~CallerErrorStateKeeper() {
    SetLastError(m_lastError);
    errno = m_errno;
  }
  CallerErrorStateKeeper(const CallerErrorStateKeeper&) = delete;
  CallerErrorStateKeeper& operator=(const CallerErrorStateKeeper&) = delete;

 private:
  DWORD m_lastError;
  int m_errno;
};

}  // namespace KestLog
