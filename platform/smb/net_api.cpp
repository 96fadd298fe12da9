#include "platform/smb/net_api.h"

#include "platform/os/module_table.h"

NET_API_STATUS NetServerGetInfo(LMSTR, DWORD, LPBYTE* bufptr) {
  if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  return ERROR_NOT_SUPPORTED;
}

NET_API_STATUS NetGetJoinInformation(LPCWSTR, LPWSTR* lpNameBuffer, PNETSETUP_JOIN_STATUS BufferType) {
  if (lpNameBuffer == nullptr || BufferType == nullptr) return ERROR_INVALID_PARAMETER;
  return ERROR_NOT_SUPPORTED;
}

NET_API_STATUS NetApiBufferFree(LPVOID) { return NERR_Success; }

namespace kestnet::platform {
namespace {

const SystemProcedureEntry kNetapi32Procedures[] = {
    {"NetServerGetInfo", reinterpret_cast<SystemProcedure>(&::NetServerGetInfo)},
    {"NetGetJoinInformation", reinterpret_cast<SystemProcedure>(&::NetGetJoinInformation)},
    {"NetApiBufferFree", reinterpret_cast<SystemProcedure>(&::NetApiBufferFree)},
};

}  // namespace

void RegisterNetapi32Module() { RegisterSystemModule(L"Netapi32.dll", kNetapi32Procedures); }

}  // namespace kestnet::platform
