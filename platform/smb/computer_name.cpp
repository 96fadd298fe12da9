#include "platform/smb/computer_name.h"

#include "platform/os/last_error.h"

BOOL GetComputerNameW(LPWSTR, LPDWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
BOOL GetComputerNameA(LPSTR, LPDWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
