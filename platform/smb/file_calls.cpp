#include "platform/smb/file_calls.h"

#include "platform/os/last_error.h"

HANDLE FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}
BOOL FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
BOOL FindClose(HANDLE) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
BOOL CopyFileA(LPCSTR, LPCSTR, BOOL) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
BOOL DeleteFileA(LPCSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
BOOL CreateDirectoryA(LPCSTR, LPSECURITY_ATTRIBUTES) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
BOOL RemoveDirectoryA(LPCSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
DWORD GetTempPathA(DWORD, LPSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}
UINT GetTempFileNameA(LPCSTR, LPCSTR, UINT, LPSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}
