// KestSys::CNetworkHelper: the thread of one neighbourhood listing.
//
// Run opens the enumeration of the whole network for the list's resource
// type, walks it depth first (DisplayResources) collecting the workgroups,
// the servers of the filter workgroup or the shares under its servers, and
// hands the list to the listener exactly once: the names found, or an empty
// list when the walk could not start.
#pragma once

#include <string>
#include <vector>

#include "netsys/network_listener.h"
#include "platform/os/win_types.h"
#include "runtime/thread.h"

namespace KestSys {

class CNetworkHelper : public KestMT::Thread {
 public:
  CNetworkHelper();
  // Aborts a listing still running and waits for its body to end.
  ~CNetworkHelper() override;

  // The listener is not owned and must outlive the listing.
  void SetListener(CNetworkListener* p_pListener);
  // Stores the workgroup filter (an empty name stands for this machine's
  // workgroup) and the list type, and starts the thread: true when it
  // started. Throws FPSGetWorkgroupException when the local workgroup cannot
  // be read.
  bool GetNetworkResource(const std::wstring& p_cstrwWorkgroupName, DWORD p_dwListType);

  DWORD Run() override;

  // The resource type (RESOURCETYPE_*) a list type enumerates; false for a
  // list type outside 1 to 4.
  static bool ResourceTypeOfListType(DWORD p_dwListType, DWORD& p_dwResourceType);

 private:
  // Walks one level of an open enumeration and every container below it;
  // false when a nested enumeration could not be opened.
  bool DisplayResources(HANDLE p_hEnum, const std::wstring& p_cstrwFilter, DWORD p_dwListType,
                        std::vector<std::string>& p_result);
  // Hands the result to the listener, once per listing.
  void ReportList();

  CNetworkListener* m_pListener = nullptr;  // not owned
  std::wstring m_cstrwWorkgroupName;
  DWORD m_dwListType = 0;
  std::vector<std::string> m_result;
  bool m_bReported = false;
};

}  // namespace KestSys
