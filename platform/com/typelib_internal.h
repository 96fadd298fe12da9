// Type libraries loaded from a module. Internal to platform/com.
#pragma once

#include "platform/com/typelib_description.h"

namespace kestnet::platform {

// As CreateTypeLibFromDescription; the library keeps `module` (a dlopen
// handle, may be null) loaded until its last reference goes, because the
// description lives in the module's memory.
HRESULT CreateTypeLibForModule(const TypeLibDescription* description, void* module, ITypeLib** typeLib);

// Drops a module reference taken for a type library (dlclose; null is ignored).
void ReleaseTypeLibModule(void* module);

}  // namespace kestnet::platform
