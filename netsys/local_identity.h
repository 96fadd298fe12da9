// This computer's name and workgroup as the Windows network knows them.
#pragma once

#include <string>

namespace KestSys {

// The NetBIOS name of this computer, without backslashes; false when the
// system cannot tell.
bool GetLocalComputerName(std::wstring& p_cstrwName);
// The workgroup (or domain) this computer belongs to; false when the system
// cannot tell.
bool GetLocalWorkgroupName(std::wstring& p_cstrwName);

}  // namespace KestSys
