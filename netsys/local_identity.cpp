#include "netsys/local_identity.h"

#include <array>

#include "platform/smb/computer_name.h"
#include "platform/smb/net_api.h"

namespace KestSys {

bool GetLocalComputerName(std::wstring& p_cstrwName) {
  std::array<WCHAR, MAX_COMPUTERNAME_LENGTH + 1> name{};
  DWORD dwSize = static_cast<DWORD>(name.size());
  if (!GetComputerNameW(name.data(), &dwSize)) {
    return false;
  }
  p_cstrwName.assign(name.data(), dwSize);
  return true;
}

bool GetLocalWorkgroupName(std::wstring& p_cstrwName) {
  LPWSTR pszName = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  if (NetGetJoinInformation(nullptr, &pszName, &status) != NERR_Success) {
    NetApiBufferFree(pszName);
    return false;
  }
  const bool bKnown = pszName != nullptr && (status == NetSetupWorkgroupName || status == NetSetupDomainName);
  if (bKnown) {
    p_cstrwName = pszName;
  }
  NetApiBufferFree(pszName);
  return bKnown;
}

}  // namespace KestSys
