// Activation: finding a class by ProgID or CLSID in the registry store and
// creating its objects from in-process server modules.
//
// A class is registered under HKEY_CLASSES_ROOT\CLSID\{clsid}; the default
// value of its InprocServer32 subkey is the module's path. The module is
// loaded with dlopen and asked for its class factory through the exported
// DllGetClassObject; it stays loaded until CoFreeUnusedLibraries finds its
// DllCanUnloadNow answering S_OK. A ProgID is a key under HKEY_CLASSES_ROOT
// whose CLSID subkey holds the class id; a version-independent ProgID names
// its current version in CurVer.
//
// Only in-process servers exist here: a request for a local or remote server
// alone gives REGDB_E_CLASSNOTREG, as on Windows for a class without one.
// The class's ThreadingModel is not enforced (see apartment.h).
#pragma once

#include "platform/com/unknown.h"

enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ACTIVATE_32_BIT_SERVER = 0x40000,
  CLSCTX_ACTIVATE_64_BIT_SERVER = 0x80000,
};
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

enum REGCLS : DWORD {
  REGCLS_SINGLEUSE = 0,
  REGCLS_MULTIPLEUSE = 1,
  REGCLS_MULTI_SEPARATE = 2,
};

struct COSERVERINFO;

// A ProgID (or a braced CLSID string) to its CLSID. Unknown names give CO_E_CLASSSTRING.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// The class's ProgID, allocated with CoTaskMemAlloc. Unknown class: REGDB_E_CLASSNOTREG.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// Class factories registered by this process come first (CoRegisterClassObject),
// then the Global Interface Table's class, then the registry.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Unloads every module whose DllCanUnloadNow says S_OK and that is not in the
// middle of an activation.
void CoFreeUnusedLibraries();
void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);

namespace kestnet::platform {

// Number of server modules currently loaded by activation (for tests).
size_t LoadedServerModuleCount();

}  // namespace kestnet::platform
