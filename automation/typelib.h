// The KestNet type library, version 1.0: every interface, dispid, parameter
// and event a script can use, written once. Dispatch (TolLock), the class
// information clients read (IProvideClassInfo2) and the registration of the
// library all come from this one description.
#pragma once

#include "platform/com/typelib_description.h"

namespace KestAXLib {

// The description; lives for the whole process.
const kestnet::platform::TypeLibDescription& KestNetTypeLibDescription();

// The library built from the description, one per process, created on first
// use. A new reference for the caller, or null when it cannot be built.
ITypeLib* KestNetTypeLib();

}  // namespace KestAXLib
