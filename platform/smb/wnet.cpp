#include "platform/smb/wnet.h"

#include "platform/os/last_error.h"

namespace {
DWORD Fail(DWORD error) {
  SetLastError(error);
  return error;
}
}  // namespace

DWORD WNetOpenEnumA(DWORD, DWORD, DWORD, LPNETRESOURCEA, LPHANDLE lphEnum) {
  if (lphEnum == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *lphEnum = nullptr;
  return Fail(ERROR_NO_NETWORK);
}
DWORD WNetEnumResourceA(HANDLE, LPDWORD, LPVOID, LPDWORD) { return Fail(ERROR_INVALID_HANDLE); }
DWORD WNetCloseEnum(HANDLE) { return Fail(ERROR_INVALID_HANDLE); }
DWORD WNetGetResourceInformationA(LPNETRESOURCEA, LPVOID, LPDWORD, LPSTR*) { return Fail(ERROR_NO_NETWORK); }
DWORD WNetGetLastErrorA(LPDWORD, LPSTR, DWORD, LPSTR, DWORD) { return Fail(ERROR_INVALID_PARAMETER); }
