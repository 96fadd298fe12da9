#include "netsys/net_server_get_info_9x.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "NetServerGetInfo_9x";
constexpr short kServerInfoLevel = 1;

// The size answers of the sizing call (ERROR_INSUFFICIENT_BUFFER, NERR_BufTooSmall).
constexpr DWORD kInsufficientBuffer = 122;
constexpr DWORD kBufferTooSmall = 2123;

// The level-1 record of the 9x server API: a 16-byte name, the version
// bytes, the server type and a pointer to the comment.
constexpr size_t kMajorVersionOffset = 16;
constexpr size_t kMinorVersionOffset = 17;
constexpr size_t kServerTypeOffset = 18;
constexpr size_t kCommentOffset = 22;

// Reads a T at p_offset of the record, or false when the record is shorter.
template <typename T>
bool ReadField(const std::vector<char>& p_record, size_t p_offset, T& p_value) {
  if (p_record.size() < p_offset + sizeof(T)) return false;
  std::memcpy(&p_value, p_record.data() + p_offset, sizeof(T));
  return true;
}

}  // namespace

NetServerGetInfo_9x::~NetServerGetInfo_9x() { Release(); }

bool NetServerGetInfo_9x::Initialize() {
  if (!m_module.Load("svrapi.dll") || !m_module.Resolve("NetServerGetInfo", m_pfnNetServerGetInfo)) {
    Release();
    return false;
  }
  return true;
}

void NetServerGetInfo_9x::Release() {
  m_module.Free();
  m_pfnNetServerGetInfo = nullptr;
}

bool NetServerGetInfo_9x::GetInfo(const std::wstring& p_cstrwHostName, LONG& p_lPlatformId, LONG& p_lMajorVersion,
                                  LONG& p_lMinorVersion, std::wstring& p_cstrwComment, LONG& /*p_lReserved*/) {
  if (m_pfnNetServerGetInfo == nullptr) {
    return false;
  }
  const std::string serverName = KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(p_cstrwHostName);
  unsigned short usTotalAvailable = 0;
  DWORD dwResult = m_pfnNetServerGetInfo(serverName.c_str(), kServerInfoLevel, nullptr, 0, &usTotalAvailable);
  if (dwResult != kInsufficientBuffer && dwResult != kBufferTooSmall) {
    Log(kClassName, kLogLevelWarning, "GetInfo:  Error - Failed to determine how much memory is needed.");
    throw KestBase::Win32ErrorException(KestMT::SourceFileName(__FILE__), __LINE__);
  }
  std::vector<char> record;
  try {
    record.resize(usTotalAvailable);
  } catch (const std::bad_alloc&) {
    Log(kClassName, kLogLevelWarning, "GetInfo:  Error - Failed to alloc memory.");
    throw KestBase::OutOfMemoryException();
  }
  dwResult = m_pfnNetServerGetInfo(serverName.c_str(), kServerInfoLevel, record.data(), usTotalAvailable,
                                   &usTotalAvailable);
  if (dwResult != 0) {
    Log(kClassName, kLogLevelWarning, "GetInfo:  Error - Failed NetGetServerInfo with <%i>.",
        static_cast<int>(dwResult));
    return false;
  }
  BYTE byMajor = 0;
  BYTE byMinor = 0;
  DWORD dwType = 0;
  const char* pszComment = nullptr;
  if (!ReadField(record, kMajorVersionOffset, byMajor) || !ReadField(record, kMinorVersionOffset, byMinor) ||
      !ReadField(record, kServerTypeOffset, dwType) || !ReadField(record, kCommentOffset, pszComment)) {
    return false;
  }
  p_lMajorVersion = byMajor;
  p_lMinorVersion = byMinor;
  p_cstrwComment = KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(pszComment != nullptr ? pszComment : "");
  p_lPlatformId = GetPlatform(dwType, byMajor, byMinor);
  return true;
}

}  // namespace KestNet
