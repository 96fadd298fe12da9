// The module's lock count: one per live object and one per server lock held
// through IClassFactory::LockServer. DllCanUnloadNow answers from it.
#pragma once

#include "platform/os/win_types.h"

namespace KestAXLib {

void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

}  // namespace KestAXLib
