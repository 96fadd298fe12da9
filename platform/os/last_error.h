// The thread's last OS error, as GetLastError/SetLastError keep it on Windows.
//
// Every platform call that fails sets it to a Win32 error number; callers read
// it right after the failing call. It is per thread and never touched by a
// successful call unless the Windows function of the same name does so.
#pragma once

#include "platform/os/win_types.h"

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

namespace kestnet::platform {

// Maps a Linux errno value to the nearest Win32 error number; one table for the
// whole platform layer, so every wrapper reports failures the same way.
DWORD Win32ErrorFromErrno(int errnoValue);

// Sets the thread's last error from errno and returns it.
DWORD SetLastErrorFromErrno(int errnoValue);

}  // namespace kestnet::platform
