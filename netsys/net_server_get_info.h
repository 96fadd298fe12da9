// KestNet::NetServerGetInfo: a remote server's version, platform and comment,
// asked of its server service.
//
// Two implementations, one per system family: NetServerGetInfo_NT over
// "Netapi32.dll" (level 101) and NetServerGetInfo_9x over "svrapi.dll"
// (level 1). Each loads its library and resolves its entry points in
// Initialize, which the factories below call; each keeps them until it is
// destroyed.
#pragma once

#include <memory>
#include <string>

#include "netsys/system_library.h"
#include "platform/os/win_types.h"

namespace KestNet {

class NetServerGetInfo {
 public:
  virtual ~NetServerGetInfo() = default;

  // Asks p_cstrwHostName (with or without its leading backslashes) and fills
  // the out values from the answer; true when the server answered. On failure
  // the out values are left as they were.
  virtual bool GetInfo(const std::wstring& p_cstrwHostName, LONG& p_lPlatformId,
                       LONG& p_lMajorVersion, LONG& p_lMinorVersion, std::wstring& p_cstrwComment,
                       LONG& p_lReserved) = 0;
};

// The library a server-information class asks through, loaded and resolved
// with the log lines of Initialize under the class's name. Frees the library
// when it goes.
class ServerInfoModule {
 public:
  explicit ServerInfoModule(const char* p_szClassName) : m_szClassName(p_szClassName) {}

  // False, logged "Initialize() - Error:  Failed to load <name>", when the
  // library cannot be loaded.
  bool Load(const char* p_szModuleName);
  // False, logged "Initialize() - Error:  Failed to get address of <name>.",
  // when the library has no such entry point.
  template <typename Function>
  bool Resolve(const char* p_szProcedureName, Function& p_pfnFunction) {
    p_pfnFunction = m_library.Resolve<Function>(p_szProcedureName);
    if (p_pfnFunction == nullptr) LogMissingProcedure(p_szProcedureName);
    return p_pfnFunction != nullptr;
  }
  void Free() { m_library.Free(); }

 private:
  void LogMissingProcedure(const char* p_szProcedureName) const;

  const char* m_szClassName;
  KestSys::SystemLibrary m_library;
};

// The PLATFORM_* number of a server from its SV_TYPE_* bits and version.
LONG GetPlatform(DWORD p_dwServerType, DWORD p_dwMajorVersion, DWORD p_dwMinorVersion);

// An initialised implementation, or null after logging
// "CreateGetServerInfo_NT():  Error - Failed to create object" (or the _9x form).
std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_NT();
std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_9x();

}  // namespace KestNet
