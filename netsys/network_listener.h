// KestSys::CNetworkListener: how a neighbourhood listing reports its list,
// and the list types a listing is started with.
#pragma once

#include <string>
#include <vector>

#include "platform/os/win_types.h"

namespace KestSys {

// List types, handed back to the listener with the list.
inline constexpr DWORD kListTypeComputers = 1;      // computers of a workgroup
inline constexpr DWORD kListTypeFileShares = 2;     // file shares of a workgroup
inline constexpr DWORD kListTypePrinterShares = 3;  // printer shares of a workgroup
inline constexpr DWORD kListTypeWorkgroups = 4;     // workgroups

class CNetworkListener {
 public:
  virtual ~CNetworkListener() = default;
  // Called exactly once per started listing, on the listing's thread: the
  // listener carries the list to its own thread itself. The names are in the
  // order the network gave them (UTF-8); a failed listing gives an empty list.
  virtual void NetworkListComplete(DWORD p_dwListType, const std::vector<std::string>& p_names) = 0;
};

}  // namespace KestSys
