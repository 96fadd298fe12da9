#include "netsys/net_neighborhood.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <source_location>
#include <utility>
#include <vector>

#include "netsys/library_guard.h"
#include "netsys/local_fs.h"
#include "netsys/local_identity.h"
#include "netsys/network_helper.h"
#include "netsys/scratch_directory.h"
#include "platform/os/last_error.h"
#include "platform/smb/file_calls.h"
#include "platform/smb/net_api.h"
#include "platform/smb/wnet.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"
#include "runtime/string_conversion.h"
#include "utils/os_identification.h"

namespace KestSys {
namespace {

constexpr const char* kClassName = "CNetNeighborhood";
// What WNetGetResourceInformation is first offered: one NETRESOURCEA; a
// longer answer says how much it needs.
constexpr DWORD kResourceInformationSize = 48;
// The refusals that mean "you may read but not write here".
constexpr DWORD kAccessDenied = 5;          // ERROR_ACCESS_DENIED
constexpr DWORD kNetworkAccessDenied = 65;  // ERROR_NETWORK_ACCESS_DENIED
// The prefix GetTempFileName gives the permission test's scratch file.
constexpr const char* kScratchFilePrefix = "a";

using KestUtilsLib::StringConversion;

template <typename Body>
auto Guarded(Body&& p_body, const std::source_location p_where = std::source_location::current())
    -> decltype(p_body()) {
  return LibraryGuarded(kClassName, std::forward<Body>(p_body), p_where);
}

[[noreturn]] void RefuseArgument(const char* p_szOperation, const char* p_szParameter) {
  KestLog::LogInvalidArgument(kClassName, p_szOperation, p_szParameter);
  throw KestBase::InvalidParameterException();
}

// Empty (this computer) or "\\" and at least one character of name.
bool IsComputerNameArgument(const std::wstring& p_cstrwComputerName) {
  return p_cstrwComputerName.empty() ||
         (p_cstrwComputerName.size() > 2 && p_cstrwComputerName.compare(0, 2, L"\\\\") == 0);
}

// The last element of a local or UNC path, or empty when it ends in a separator.
std::wstring LastPathElement(const std::wstring& p_cstrwPath) {
  const size_t separator = p_cstrwPath.find_last_of(L"\\/");
  return separator == std::wstring::npos ? p_cstrwPath : p_cstrwPath.substr(separator + 1);
}

std::string Narrow(const std::wstring& p_cstrwText) { return StringConversion::ConvertCAtlStringWToANSI(p_cstrwText); }

bool IsReadOnlyRefusal(DWORD p_dwError) { return p_dwError == kAccessDenied || p_dwError == kNetworkAccessDenied; }

// The FS_* value of an access the 9x share table gives (1 read, 2 read-write).
LONG PermissionsOfLocalAccess(DWORD p_dwAccess) {
  constexpr LONG kPermissions[] = {FS_UNKNOWN, FS_READ, FS_READ_WRITE};
  return p_dwAccess < std::size(kPermissions) ? kPermissions[p_dwAccess] : FS_UNKNOWN;
}

}  // namespace

CNetNeighborhood::CNetNeighborhood() = default;

CNetNeighborhood::~CNetNeighborhood() {
  std::vector<std::unique_ptr<CNetworkHelper>> helpers;
  {
    std::lock_guard<std::mutex> lock(m_helpersLock);
    helpers.swap(m_helpers);
  }
  // Each helper's destructor aborts a listing still running and waits for it.
  helpers.clear();
}

void CNetNeighborhood::ReapHelpers() {
  std::vector<std::unique_ptr<CNetworkHelper>> finished;
  {
    std::lock_guard<std::mutex> lock(m_helpersLock);
    auto firstFinished = std::stable_partition(m_helpers.begin(), m_helpers.end(),
                                               [](const std::unique_ptr<CNetworkHelper>& p_pHelper) {
                                                 return !p_pHelper->IsReapable();
                                               });
    std::move(firstFinished, m_helpers.end(), std::back_inserter(finished));
    m_helpers.erase(firstFinished, m_helpers.end());
  }
}

bool CNetNeighborhood::StartListing(const char* p_szOperation, const std::wstring& p_cstrwWorkgroupName,
                                    DWORD p_dwListType, CNetworkListener* p_pListener) {
  return Guarded([&] {
    if (p_pListener == nullptr) {
      RefuseArgument(p_szOperation, "p_pListener");
    }
    ReapHelpers();
    std::unique_ptr<CNetworkHelper> helper(new (std::nothrow) CNetworkHelper());
    if (helper == nullptr) {
      throw KestBase::OutOfMemoryException();
    }
    helper->SetListener(p_pListener);
    CNetworkHelper* pHelper = helper.get();
    {
      // Kept before it starts, so that a listing that reports at once is
      // already ours to reap.
      std::lock_guard<std::mutex> lock(m_helpersLock);
      m_helpers.push_back(std::move(helper));
    }
    return pHelper->GetNetworkResource(p_cstrwWorkgroupName, p_dwListType);
  });
}

bool CNetNeighborhood::GetNetworkWorkgroups(CNetworkListener* p_pListener) {
  return StartListing("GetNetworkWorkgroups", L"NO_WORKGROUP_NAME", kListTypeWorkgroups, p_pListener);
}

bool CNetNeighborhood::GetNetworkComputers(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener) {
  return StartListing("GetNetworkComputers", p_cstrwWorkgroupName, kListTypeComputers, p_pListener);
}

bool CNetNeighborhood::GetFileShareList(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener) {
  return StartListing("GetFileShareList", p_cstrwWorkgroupName, kListTypeFileShares, p_pListener);
}

bool CNetNeighborhood::GetPrinterShareList(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener) {
  return StartListing("GetPrinterShareList", p_cstrwWorkgroupName, kListTypePrinterShares, p_pListener);
}

void CNetNeighborhood::GetCurrentHostName(std::wstring& p_cstrwName) {
  Guarded([&] {
    std::wstring name;
    if (!GetLocalComputerName(name)) {
      Log(kClassName, kLogLevelWarning, "%s - Call to GetComputername failed.", "GetCurrentHostName");
      throw FPSGetComputerNameException();
    }
    p_cstrwName = L"\\\\" + name;
  });
}

bool CNetNeighborhood::FileShareExists(const std::wstring& p_cstrwComputerName, const std::wstring& p_cstrwShareName) {
  constexpr const char* kOperation = "FileShareExists";
  return Guarded([&] {
    if (p_cstrwShareName.empty()) {
      RefuseArgument(kOperation, "p_cstrwShareName");
    }
    if (!IsComputerNameArgument(p_cstrwComputerName)) {
      RefuseArgument(kOperation, "p_cstrwComputerName");
    }
    bool bLocal = false;
    const std::wstring computerName = ComputerToAsk(kOperation, p_cstrwComputerName, &bLocal);
    if (bLocal && KestUtilsLib::IsVistaOrLaterNT()) {
      // Whatever else the table answers, only "no such share" says no.
      std::wstring localPath;
      const DWORD dwResult = CLocalFS().GetShareInfoNT(L"", p_cstrwShareName, localPath);
      return dwResult != NERR_NetNameNotFound && dwResult != NERR_ShareNotFound;
    }
    const std::wstring path = computerName + L"\\" + p_cstrwShareName;
    Log(kClassName, kLogLevelTrace, "%s - FilePath is %S.", kOperation, path.c_str());
    std::string remoteName = Narrow(path);
    NETRESOURCEA resource{};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpRemoteName = remoteName.data();

    std::vector<NETRESOURCEA> answer;
    DWORD dwSize = kResourceInformationSize;
    DWORD dwResult = ERROR_MORE_DATA;
    LPSTR pszSystem = nullptr;
    // One call with the first size, one more with the size it asked for.
    for (int attempt = 0; attempt < 2 && dwResult == ERROR_MORE_DATA; ++attempt) {
      try {
        answer.assign((dwSize + sizeof(NETRESOURCEA) - 1) / sizeof(NETRESOURCEA), NETRESOURCEA{});
      } catch (const std::bad_alloc&) {
        Log(kClassName, kLogLevelWarning, "%s - Call to malloc failed.", kOperation);
        throw KestBase::OutOfMemoryException();
      }
      dwResult = WNetGetResourceInformationA(&resource, answer.data(), &dwSize, &pszSystem);
    }
    if (dwResult != NO_ERROR) {
      Log(kClassName, kLogLevelWarning, "%s - GetResourceInfo Method failed with error %d.", kOperation,
          static_cast<int>(dwResult));
      return false;
    }
    if (answer.front().dwType != RESOURCETYPE_DISK) {
      Log(kClassName, kLogLevelWarning, "%s - Resource Type is incorrect.", kOperation);
      return false;
    }
    return true;
  });
}

void CNetNeighborhood::FileSharePermission(const std::wstring& p_cstrwComputerName, const std::wstring& p_cstrwShareName,
                                           LONG* p_pnPermissions) {
  constexpr const char* kOperation = "FileSharePermission";
  Guarded([&] {
    if (p_cstrwShareName.empty()) {
      RefuseArgument(kOperation, "p_cstrwShareName");
    }
    if (!IsComputerNameArgument(p_cstrwComputerName)) {
      RefuseArgument(kOperation, "p_cstrwComputerName");
    }
    if (p_pnPermissions == nullptr) {
      RefuseArgument(kOperation, "p_nPermissions");
    }
    *p_pnPermissions = FS_UNKNOWN;
    bool bLocal = false;
    const std::wstring computerName = ComputerToAsk(kOperation, p_cstrwComputerName, &bLocal);
    if (bLocal && KestUtilsLib::Platform().IsWin9x()) {
      *p_pnPermissions = PermissionsOfLocalAccess(CLocalFS().GetLocalShareAccess9x(p_cstrwShareName));
      return;
    }

    // A share nobody may list tells nothing more.
    const std::string pattern = Narrow(computerName + L"\\" + p_cstrwShareName + L"\\*");
    WIN32_FIND_DATAA found{};
    const HANDLE hFind = FindFirstFileA(pattern.c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) {
      return;
    }
    FindClose(hFind);

    ScratchDirectory scratch;
    const std::wstring scratchFile =
        StringConversion::ConvertANSIToCAtlStringW(scratch.MakeEmptyFile(kScratchFilePrefix));
    DWORD dwError = 0;
    if (!CopyFileToShare(scratchFile, computerName, p_cstrwShareName, &dwError)) {
      if (IsReadOnlyRefusal(dwError)) {
        Log(kClassName, kLogLevelDetail, "%s - Read-only permission.", kOperation);
        *p_pnPermissions = FS_READ;
      } else {
        Log(kClassName, kLogLevelWarning, "%s - Call to CopyFileToShare failed with error %d.", kOperation,
            static_cast<int>(dwError));
      }
      return;
    }
    if (DeleteFileFromShare(LastPathElement(scratchFile), computerName, p_cstrwShareName, &dwError)) {
      Log(kClassName, kLogLevelDetail, "%s - Read-write permission.", kOperation);
      *p_pnPermissions = FS_READ_WRITE;
    } else if (IsReadOnlyRefusal(dwError)) {
      Log(kClassName, kLogLevelDetail, "%s - Read-only permission.", kOperation);
      *p_pnPermissions = FS_READ;
    } else {
      Log(kClassName, kLogLevelWarning, "%s - Call to DeleteFileFromShare failed with error %d.", kOperation,
          static_cast<int>(dwError));
    }
    // The scratch file and its folder go with `scratch`.
  });
}

std::wstring CNetNeighborhood::ShareFileComputer(const char* p_szOperation, const std::wstring& p_cstrwFile,
                                                 const std::wstring& p_cstrwComputerName,
                                                 const std::wstring& p_cstrwShareName, const DWORD* p_pdwError) {
  if (p_cstrwFile.empty() || p_cstrwShareName.empty()) {
    RefuseArgument(p_szOperation, "p_cstrwFile or p_cstrwShareName");
  }
  if (!IsComputerNameArgument(p_cstrwComputerName)) {
    RefuseArgument(p_szOperation, "p_cstrwComputerName");
  }
  if (p_pdwError == nullptr) {
    RefuseArgument(p_szOperation, "p_pdwError");
  }
  return ComputerToAsk(p_szOperation, p_cstrwComputerName, nullptr);
}

std::wstring CNetNeighborhood::ComputerToAsk(const char* p_szOperation, const std::wstring& p_cstrwComputerName,
                                             bool* p_pbLocal) {
  std::wstring computerName = p_cstrwComputerName;
  if (computerName.empty() || p_pbLocal != nullptr) {
    std::wstring currentHostName;
    GetCurrentHostName(currentHostName);
    if (computerName.empty()) computerName = currentHostName;
    // This computer's name is taken exactly as GetCurrentHostName gives it:
    // another spelling of it is asked about over the network.
    if (p_pbLocal != nullptr) *p_pbLocal = computerName == currentHostName;
  }
  Log(kClassName, kLogLevelTrace, "%s - ComputerName is %S.", p_szOperation, computerName.c_str());
  return computerName;
}

bool CNetNeighborhood::CopyFileToShare(const std::wstring& p_cstrwFile, const std::wstring& p_cstrwComputerName,
                                       const std::wstring& p_cstrwShareName, DWORD* p_pdwError) {
  constexpr const char* kOperation = "CopyFileToShare";
  return Guarded([&] {
    const std::wstring computerName =
        ShareFileComputer(kOperation, p_cstrwFile, p_cstrwComputerName, p_cstrwShareName, p_pdwError);
    const std::wstring fileName = LastPathElement(p_cstrwFile);
    if (fileName.empty()) {
      Log(kClassName, kLogLevelWarning, "%s - Parse File Path method failed.", kOperation);
      throw KestBase::InvalidParameterException();
    }
    const std::wstring destination = computerName + L"\\" + p_cstrwShareName + L"\\" + fileName;
    if (!CopyFileA(Narrow(p_cstrwFile).c_str(), Narrow(destination).c_str(), FALSE)) {
      const DWORD dwError = GetLastError();
      Log(kClassName, kLogLevelWarning, "%s - Call to Copy File %S to destination %S failed with error %d.",
          kOperation, p_cstrwFile.c_str(), destination.c_str(), static_cast<int>(dwError));
      *p_pdwError = dwError;
      return false;
    }
    return true;
  });
}

bool CNetNeighborhood::DeleteFileFromShare(const std::wstring& p_cstrwFile, const std::wstring& p_cstrwComputerName,
                                           const std::wstring& p_cstrwShareName, DWORD* p_pdwError) {
  constexpr const char* kOperation = "DeleteFileFromShare";
  return Guarded([&] {
    const std::wstring computerName =
        ShareFileComputer(kOperation, p_cstrwFile, p_cstrwComputerName, p_cstrwShareName, p_pdwError);
    const std::wstring path = computerName + L"\\" + p_cstrwShareName + L"\\" + p_cstrwFile;
    if (!DeleteFileA(Narrow(path).c_str())) {
      const DWORD dwError = GetLastError();
      Log(kClassName, kLogLevelWarning, "%s - Call to Delete File %S failed with error %d.", kOperation, path.c_str(),
          static_cast<int>(dwError));
      *p_pdwError = dwError;
      return false;
    }
    return true;
  });
}

}  // namespace KestSys
