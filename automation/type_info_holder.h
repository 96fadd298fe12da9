// Type information by library and GUID, for the dispatch base (TolLock) and
// the class-information base (IProvideClassInfo2Impl).
//
// The KestNet library is always known. Another module built on this framework
// (a companion, a test) adds its own description once before its objects are
// used; the description must outlive the process's use of it.
#pragma once

#include "platform/com/typelib_description.h"

namespace KestAXLib {

void AddTypeLibDescription(const kestnet::platform::TypeLibDescription* description);

// The type information of an interface or coclass of library libid (any
// version added). TYPE_E_LIBNOTREGISTERED for an unknown library,
// TYPE_E_ELEMENTNOTFOUND for an unknown GUID.
HRESULT GetTypeInfoOfGuid(REFGUID libid, WORD majorVersion, WORD minorVersion, REFGUID guid, ITypeInfo** info);

}  // namespace KestAXLib
