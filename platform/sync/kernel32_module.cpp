#include "platform/sync/kernel32_module.h"

#include "platform/os/module_table.h"
#include "platform/sync/wait.h"

namespace kestnet::platform {
namespace {

// Only the entry points some caller looks up by name.
const SystemProcedureEntry kKernel32Procedures[] = {
    {"QueueUserAPC", reinterpret_cast<SystemProcedure>(&::QueueUserAPC)},
};

}  // namespace

void RegisterKernel32Module() { RegisterSystemModule(L"KERNEL32.DLL", kKernel32Procedures); }

}  // namespace kestnet::platform
