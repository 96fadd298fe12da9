#include "netsys/local_fs.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "netsys/fps_exceptions.h"
#include "netsys/library_guard.h"
#include "netsys/system_library.h"
#include "platform/smb/net_api.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestSys {
namespace {

constexpr const char* kClassName = "CLocalFS";
constexpr DWORD kShareInfoLevelNT = 2;
constexpr short kShareInfoLevel9x = 50;

// The 9x record's flags: SHI50F_RDONLY and SHI50F_FULL; both together
// (SHI50F_DEPENDSON) leave the access to the password given.
constexpr WORD kAccessFlags = 0x0003;

// The level-50 record of the 9x server API (svrapi.h, byte-packed): a 13-byte
// name, the type byte, the flags, then pointers to the remark and the path.
constexpr std::size_t kFlagsOffset = 14;
constexpr std::size_t kPathOffset = 16 + sizeof(const char*);
// What the 9x call is first offered: the record and room for its strings. A
// longer answer (NERR_BufTooSmall, ERROR_MORE_DATA) says how much it needs.
constexpr unsigned short kShareInfo9xSize = 1024;
constexpr DWORD kMoreData = 234;  // ERROR_MORE_DATA

using KestUtilsLib::StringConversion;

// A server library loaded for one call and freed when the call leaves; what
// is missing is logged under the operation and thrown.
class CallLibrary {
 public:
  CallLibrary(const char* p_szOperation, LPCWSTR p_wszName) : m_szOperation(p_szOperation) {
    if (!m_library.Load(p_wszName)) {
      Log(kClassName, kLogLevelWarning, "%s - LoadLibrary failed.", m_szOperation);
      throw FPSLoadLibraryException();
    }
  }

  template <typename Function>
  Function Resolve(const char* p_szProcedureName) const {
    const auto function = m_library.Resolve<Function>(p_szProcedureName);
    if (function == nullptr) {
      Log(kClassName, kLogLevelWarning, "%s - GetProcAddress failed.", m_szOperation);
      throw FPSGetProcAddressException();
    }
    return function;
  }

 private:
  const char* m_szOperation;
  SystemLibrary m_library;
};

void LogMethodFailure(const char* p_szOperation, DWORD p_dwResult) {
  Log(kClassName, kLogLevelWarning, "%s - Method failed with error %d.", p_szOperation, static_cast<int>(p_dwResult));
}

}  // namespace

DWORD CLocalFS::GetShareInfoNT(const std::wstring& p_cstrwServer, const std::wstring& p_cstrwShareName,
                               std::wstring& p_cstrwPath) {
  constexpr const char* kOperation = "GetShareInfoNT";
  return LibraryGuarded(kClassName, [&] {
    using NetShareGetInfoFunction = DWORD (*)(LPWSTR, LPWSTR, DWORD, LPBYTE*);
    using NetApiBufferFreeFunction = DWORD (*)(LPVOID);
    kestnet::platform::RegisterNetapi32Module();
    const CallLibrary library(kOperation, L"NetApi32.dll");
    const auto pfnNetShareGetInfo = library.Resolve<NetShareGetInfoFunction>("NetShareGetInfo");
    const auto pfnNetApiBufferFree = library.Resolve<NetApiBufferFreeFunction>("NetApiBufferFree");

    std::wstring server = p_cstrwServer;
    std::wstring shareName = p_cstrwShareName;
    LPBYTE pBuffer = nullptr;
    const DWORD dwResult = pfnNetShareGetInfo(server.empty() ? nullptr : server.data(), shareName.data(),
                                              kShareInfoLevelNT, &pBuffer);
    if (dwResult == NERR_Success && pBuffer != nullptr) {
      const auto* pInfo = reinterpret_cast<const SHARE_INFO_2*>(pBuffer);
      p_cstrwPath = pInfo->shi2_path != nullptr ? pInfo->shi2_path : L"";
    }
    if (pBuffer != nullptr) pfnNetApiBufferFree(pBuffer);
    if (dwResult != NERR_Success) LogMethodFailure(kOperation, dwResult);
    return dwResult;
  });
}

DWORD CLocalFS::GetShareInfo9x(const std::wstring& p_cstrwServer, const std::wstring& p_cstrwShareName,
                               std::wstring& p_cstrwPath, WORD& p_wFlags) {
  constexpr const char* kOperation = "GetShareInfo9x";
  return LibraryGuarded(kClassName, [&] {
    // NetShareGetInfo(server, share, level, buffer, buffer size, total available).
    using NetShareGetInfoFunction = DWORD (*)(const char*, const char*, short, char*, unsigned short,
                                              unsigned short*);
    const CallLibrary library(kOperation, L"SvrApi.dll");
    const auto pfnNetShareGetInfo = library.Resolve<NetShareGetInfoFunction>("NetShareGetInfo");

    const std::string server = StringConversion::ConvertCAtlStringWToANSI(p_cstrwServer);
    const std::string shareName = StringConversion::ConvertCAtlStringWToANSI(p_cstrwShareName);
    std::vector<char> record(kShareInfo9xSize);
    unsigned short usTotalAvailable = 0;
    DWORD dwResult = kMoreData;
    // One call with the first size, one more with the size it asked for.
    for (int attempt = 0; attempt < 2 && (dwResult == kMoreData || dwResult == NERR_BufTooSmall); ++attempt) {
      if (attempt > 0) record.resize(std::max<std::size_t>(usTotalAvailable, record.size()));
      dwResult = pfnNetShareGetInfo(server.empty() ? nullptr : server.c_str(), shareName.c_str(), kShareInfoLevel9x,
                                    record.data(), static_cast<unsigned short>(record.size()), &usTotalAvailable);
    }
    if (dwResult != NERR_Success) {
      LogMethodFailure(kOperation, dwResult);
      return dwResult;
    }
    const char* pszPath = nullptr;
    std::memcpy(&p_wFlags, record.data() + kFlagsOffset, sizeof(p_wFlags));
    std::memcpy(&pszPath, record.data() + kPathOffset, sizeof(pszPath));
    p_cstrwPath = StringConversion::ConvertANSIToCAtlStringW(pszPath != nullptr ? pszPath : "");
    return dwResult;
  });
}

DWORD CLocalFS::GetLocalShareAccess9x(const std::wstring& p_cstrwShareName) {
  return LibraryGuarded(kClassName, [&]() -> DWORD {
    std::wstring path;
    WORD wFlags = 0;
    if (GetShareInfo9x(L"", p_cstrwShareName, path, wFlags) != NERR_Success) return 0;
    const WORD wAccess = wFlags & kAccessFlags;
    return wAccess == kAccessFlags ? 0 : wAccess;
  });
}

}  // namespace KestSys
