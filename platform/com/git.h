// The Global Interface Table: a process-wide table where one thread registers
// an interface and any thread fetches it back by cookie.
//
// Obtained as on Windows: CoCreateInstance(CLSID_StdGlobalInterfaceTable,
// nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable, ...). The table
// holds one reference per registration until revoked. This runtime has no
// cross-apartment proxies: the pointer handed back is the registered object
// itself, called on the fetching thread, so objects registered here must be
// callable from any thread (sinks that only touch their own thread's state do
// so through their own synchronisation).
#pragma once

#include "platform/com/unknown.h"

struct IGlobalInterfaceTable : IUnknown {
  KESTNET_INTERFACE_IID(0x00000146, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(RegisterInterfaceInGlobal)(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) = 0;
  STDMETHOD(RevokeInterfaceFromGlobal)(DWORD dwCookie) = 0;
  STDMETHOD(GetInterfaceFromGlobal)(DWORD dwCookie, REFIID riid, void** ppv) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

inline constexpr IID IID_IGlobalInterfaceTable = IGlobalInterfaceTable::kIid;
inline constexpr CLSID CLSID_StdGlobalInterfaceTable = {
    0x00000323, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace kestnet::platform {

// The process's table (one reference added for the caller).
IGlobalInterfaceTable* GetGlobalInterfaceTable();

}  // namespace kestnet::platform
