// Error information of a failed automation call, set the way ATL's
// AtlSetErrorInfo sets it: the interface id given, the class's ProgID as the
// source (none when the class is not registered), the description, no help
// file or context.
#pragma once

#include "platform/com/guid.h"

namespace KestAXLib {

// Sets the calling thread's error information and returns hr unchanged.
HRESULT SetObjectErrorInfo(REFCLSID clsid, LPCOLESTR description, REFIID iid, HRESULT hr);

}  // namespace KestAXLib
