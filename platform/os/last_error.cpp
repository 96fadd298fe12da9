#include "platform/os/last_error.h"

#include <cerrno>
#include <utility>

namespace {

thread_local DWORD tls_last_error = ERROR_SUCCESS;

struct ErrnoToWin32 {
  int errnoValue;
  DWORD win32Error;
};

constexpr ErrnoToWin32 kErrnoTable[] = {
    {0, ERROR_SUCCESS},
    {EPERM, ERROR_ACCESS_DENIED},
    {EACCES, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_INVALID_NAME},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {EAGAIN, ERROR_NOT_ENOUGH_MEMORY},
    {EIO, ERROR_CANTWRITE},
    {ENOSPC, ERROR_CANTWRITE},
};

}  // namespace

DWORD GetLastError() { return tls_last_error; }

void SetLastError(DWORD dwErrCode) { tls_last_error = dwErrCode; }

namespace kestnet::platform {

DWORD Win32ErrorFromErrno(int errnoValue) {
  for (const auto& entry : kErrnoTable) {
    if (entry.errnoValue == errnoValue) return entry.win32Error;
  }
  return ERROR_INVALID_FUNCTION;
}

DWORD SetLastErrorFromErrno(int errnoValue) {
  DWORD error = Win32ErrorFromErrno(errnoValue);
  SetLastError(error);
  return error;
}

}  // namespace kestnet::platform
