// KestSys::CLocalFS: the file shares of this computer.
//
// Here so far: the local share table, which answers for one share of this
// computer (its folder, and on Windows 9x its access) through the server API
// of the system's family: "NetApi32.dll" (NetShareGetInfo, level 2, wide
// strings) on NT, "SvrApi.dll" (NetShareGetInfo, level 50, narrow strings) on
// Windows 9x. Each call loads its library and frees it before it returns,
// also when it throws: a library that cannot be loaded throws
// FPSLoadLibraryException ("%s - LoadLibrary failed."), a missing entry point
// FPSGetProcAddressException ("%s - GetProcAddress failed.").
//
// Every operation logs what fails under "CLocalFS" and throws it on. The
// object holds no state; any thread may use its own.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestSys {

class CLocalFS {
 public:
  // NetShareGetInfo(p_cstrwServer, p_cstrwShareName, 2) of the NT server
  // API; an empty server is this computer. NERR_Success with the share's
  // folder in p_cstrwPath, or the call's error ("%s - Method failed with
  // error %d.") with p_cstrwPath left as it was.
  DWORD GetShareInfoNT(const std::wstring& p_cstrwServer, const std::wstring& p_cstrwShareName,
                       std::wstring& p_cstrwPath);
  // The same of the 9x server API at level 50, which also gives the share's
  // flags (SHI50F_*: 1 read-only, 2 full access) in p_wFlags.
  DWORD GetShareInfo9x(const std::wstring& p_cstrwServer, const std::wstring& p_cstrwShareName,
                       std::wstring& p_cstrwPath, WORD& p_wFlags);
  // The access the 9x server grants to a share of this computer: 1 read, 2
  // read-write; 0 when the share cannot be asked or is password-dependent.
  DWORD GetLocalShareAccess9x(const std::wstring& p_cstrwShareName);
};

}  // namespace KestSys
