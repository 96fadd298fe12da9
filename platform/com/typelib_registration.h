// Loading and registering type libraries.
//
// A type library file is a module (shared library) exporting
// DllGetTypeLibDescription (typelib_description.h), the counterpart of the
// TYPELIB resource of a Windows DLL. Registration writes what Windows writes:
//   HKCR\TypeLib\{libid}\<major>.<minor> = help string
//     0\win64 = module path, FLAGS = "0", HELPDIR = help directory
//   HKCR\Interface\{iid} = interface name
//     ProxyStubClsid, ProxyStubClsid32 = the automation marshaller's class
//     TypeLib = {libid}, with named value Version = "<major>.<minor>"
// Version numbers are written in hexadecimal, as Windows does.
#pragma once

#include "platform/com/typeinfo.h"

enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER = 1, REGKIND_NONE = 2 };

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName);
HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// Removes the library's keys and the Interface keys that point at it.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);

inline constexpr CLSID CLSID_PSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr CLSID CLSID_PSDispatch = {0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
