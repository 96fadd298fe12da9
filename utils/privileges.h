// With which rights the process runs: administrator, power user, integrity
// level, elevation.
//
// A Privileges object is cheap: construct it on the stack, ask, drop it. The
// answers come from the process token on every call. Messages are logged
// under "KestUtils::Privileges".
#pragma once

#include <string>

namespace KestUtils {

class Privileges {
 public:
  Privileges();
  ~Privileges();
  Privileges(const Privileges&) = delete;
  Privileges& operator=(const Privileges&) = delete;

  // True on the Windows 9x family; otherwise whether the token holds the
  // enabled Administrators group. Any failure answers false.
  bool IsUserAdministrator();
  // True on the Windows 9x family; otherwise whether the token's groups
  // include Power Users. Any failure answers false.
  bool IsPowerUser();
  // The integrity-level SID of the process as text ("S-1-16-8192"). Returns
  // false (and leaves the text empty) when it cannot be read.
  bool GetProcessIntegrityLevel(std::wstring& p_cstrwIntegrityLevel);
  // Low integrity ("S-1-16-4096") on XP or later NT; false elsewhere and on
  // failure.
  bool IsLowIntegrityProcess();
  // True on the Windows 9x family; on Vista or later, high or system
  // integrity; on earlier NT systems, IsUserAdministrator().
  bool IsElevatedProcess();
};

}  // namespace KestUtils
