// "KERNEL32.DLL" in the system module table (platform/os/module_table.h), for
// callers that look its entry points up by name as they would on Windows.
#pragma once

namespace kestnet::platform {

// Registers the module; calling it again changes nothing.
void RegisterKernel32Module();

}  // namespace kestnet::platform
