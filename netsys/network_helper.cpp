#include "netsys/network_helper.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <memory>
#include <new>

#include "netsys/fps_exceptions.h"
#include "netsys/local_identity.h"
#include "platform/smb/wnet.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestSys {
namespace {

constexpr const char* kClassName = "CNetworkHelper";
// What the shell's own walk asks for at a time: enough for a level of
// several hundred entries in a few calls.
constexpr DWORD kEnumBufferSize = 16384;
constexpr DWORD kAllEntries = 0xFFFFFFFF;

struct ListTypeResource {
  DWORD dwListType;
  DWORD dwResourceType;
};

constexpr std::array<ListTypeResource, 4> kListTypeResources = {{
    {kListTypeComputers, RESOURCETYPE_ANY},
    {kListTypeFileShares, RESOURCETYPE_DISK},
    {kListTypePrinterShares, RESOURCETYPE_PRINT},
    {kListTypeWorkgroups, RESOURCETYPE_ANY},
}};

using KestUtilsLib::StringConversion;

bool EqualsIgnoringCase(const std::wstring& p_cstrwLeft, const std::wstring& p_cstrwRight) {
  return std::equal(p_cstrwLeft.begin(), p_cstrwLeft.end(), p_cstrwRight.begin(), p_cstrwRight.end(),
                    [](wchar_t p_left, wchar_t p_right) { return std::towupper(p_left) == std::towupper(p_right); });
}

// Closes an enumeration handle when the walk of its level ends, however it ends.
class EnumHandle {
 public:
  explicit EnumHandle(HANDLE p_hEnum) : m_hEnum(p_hEnum) {}
  ~EnumHandle() { WNetCloseEnum(m_hEnum); }
  EnumHandle(const EnumHandle&) = delete;
  EnumHandle& operator=(const EnumHandle&) = delete;

 private:
  HANDLE m_hEnum;
};

}  // namespace

CNetworkHelper::CNetworkHelper() = default;

CNetworkHelper::~CNetworkHelper() {
  try {
    if (IsRunning()) Abort(kDestructorDeadlockTimeout);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~CNetworkHelper");
  }
}

bool CNetworkHelper::ResourceTypeOfListType(DWORD p_dwListType, DWORD& p_dwResourceType) {
  for (const ListTypeResource& entry : kListTypeResources) {
    if (entry.dwListType == p_dwListType) {
      p_dwResourceType = entry.dwResourceType;
      return true;
    }
  }
  return false;
}

void CNetworkHelper::SetListener(CNetworkListener* p_pListener) {
  m_pListener = p_pListener;
  Log(kClassName, kLogLevelTrace, "%s - Listener has been set.", "SetListener");
}

bool CNetworkHelper::GetNetworkResource(const std::wstring& p_cstrwWorkgroupName, DWORD p_dwListType) {
  std::wstring workgroupName = p_cstrwWorkgroupName;
  if (workgroupName.empty() && !GetLocalWorkgroupName(workgroupName)) {
    Log(kClassName, kLogLevelWarning, "%s - Call to GetWorkgroupname failed.", "GetNetworkResource");
    throw FPSGetWorkgroupException();
  }
  m_cstrwWorkgroupName = workgroupName;
  m_dwListType = p_dwListType;
  return Execute();
}

DWORD CNetworkHelper::Run() {
  try {
    Log(kClassName, kLogLevelTrace, "%s - Entry into Run method.", "Run");
    DWORD dwResourceType = RESOURCETYPE_ANY;
    if (!ResourceTypeOfListType(m_dwListType, dwResourceType)) {
      KestLog::LogInvalidArgument(kClassName, "Run", "List Type");
      m_result.clear();
      throw KestBase::InvalidParameterException();
    }
    HANDLE hEnum = nullptr;
    const DWORD dwResult = WNetOpenEnumA(RESOURCE_GLOBALNET, dwResourceType, 0, nullptr, &hEnum);
    if (dwResult != NO_ERROR) {
      Log(kClassName, kLogLevelWarning, "%s - WNetOpenEnum Method failed with error %d.", "Run",
          static_cast<int>(dwResult));
      m_result.clear();
      throw FPSOpenEnumException();
    }
    {
      EnumHandle closer(hEnum);
      Log(kClassName, kLogLevelTrace, "%s - WorkGroupName is %S.", "Run", m_cstrwWorkgroupName.c_str());
      DisplayResources(hEnum, m_cstrwWorkgroupName, m_dwListType, m_result);
    }
    Log(kClassName, kLogLevelTrace, "%s - Signalling Listener...", "Run");
    ReportList();
    Log(kClassName, kLogLevelTrace, "%s - Exit Run method.", "Run");
    return 1;
  } catch (...) {
    // A listing never throws to its listener: failure is an empty list.
    m_result.clear();
    try {
      ReportList();
    } catch (...) {
      KestLog::LogUnknownException(kClassName, "Run", "network_helper.cpp", __LINE__);
    }
  }
  return 0;
}

void CNetworkHelper::ReportList() {
  // A listener that throws has heard already; it is not told again.
  if (m_bReported || m_pListener == nullptr) return;
  m_bReported = true;
  m_pListener->NetworkListComplete(m_dwListType, m_result);
}

bool CNetworkHelper::DisplayResources(HANDLE p_hEnum, const std::wstring& p_cstrwFilter, DWORD p_dwListType,
                                      std::vector<std::string>& p_result) {
  // Records of NETRESOURCEA alignment, at least kEnumBufferSize bytes: the
  // enumeration packs strings up to the last byte it is offered.
  constexpr size_t kRecords = (kEnumBufferSize + sizeof(NETRESOURCEA) - 1) / sizeof(NETRESOURCEA);
  std::unique_ptr<NETRESOURCEA[]> buffer(new (std::nothrow) NETRESOURCEA[kRecords]);
  if (buffer == nullptr) {
    Log(kClassName, kLogLevelWarning, "%s - Call to malloc failed.", "DisplayResources");
    throw KestBase::OutOfMemoryException();
  }
  DWORD dwResourceType = RESOURCETYPE_ANY;
  ResourceTypeOfListType(p_dwListType, dwResourceType);
  bool bSucceeded = true;
  for (;;) {
    // A walk of a large network may take long: an abort ends it here.
    Yield();
    DWORD dwCount = kAllEntries;
    DWORD dwSize = kEnumBufferSize;
    if (WNetEnumResourceA(p_hEnum, &dwCount, buffer.get(), &dwSize) != NO_ERROR) {
      // The end of the enumeration, or a failure: either ends this level.
      return bSucceeded;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
      NETRESOURCEA& entry = buffer[i];
      const std::string remoteName = entry.lpRemoteName != nullptr ? entry.lpRemoteName : "";
      const std::wstring wideName = StringConversion::ConvertANSIToCAtlStringW(remoteName);
      if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_DOMAIN) {
        if (p_dwListType == kListTypeWorkgroups) {
          p_result.push_back(remoteName);
          Log(kClassName, kLogLevelTrace, "%s - Adding %s to the list.", "DisplayResources", remoteName.c_str());
          continue;
        }
        if (!EqualsIgnoringCase(wideName, p_cstrwFilter)) {
          continue;
        }
      }
      switch (p_dwListType) {
        case kListTypeComputers:
          if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_SERVER) {
            p_result.push_back(remoteName);
            continue;
          }
          break;
        case kListTypeFileShares:
        case kListTypePrinterShares:
          if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_SHARE) {
            p_result.push_back(remoteName);
          }
          break;
        case kListTypeWorkgroups:
          break;
        default:
          KestLog::LogInvalidArgument(kClassName, "DisplayResources", "Display Type");
          throw KestBase::InvalidParameterException();
      }
      if ((entry.dwUsage & RESOURCEUSAGE_CONTAINER) != 0) {
        HANDLE hNested = nullptr;
        const DWORD dwResult = WNetOpenEnumA(RESOURCE_GLOBALNET, dwResourceType, 0, &entry, &hNested);
        if (dwResult != NO_ERROR) {
          Log(kClassName, kLogLevelWarning, "%s - WNetOpenEnum Method failed with error %d.", "DisplayResources",
              static_cast<int>(dwResult));
          bSucceeded = false;
          continue;
        }
        EnumHandle closer(hNested);
        bSucceeded = DisplayResources(hNested, p_cstrwFilter, p_dwListType, p_result) && bSucceeded;
      }
    }
  }
}

}  // namespace KestSys
