// Keeps a process alive when a file it maps shared is cut short under it.
//
// Shared-memory objects that every account may open (the log ring, its
// mutex) live in files every account may write, and any of them can shrink
// such a file while others have it mapped; touching a page past the new end
// raises SIGBUS. A guarded mapping answers that fault by putting a private,
// zero-filled page where the lost one was, so the access completes on memory
// no other process sees, and remembers that the mapping was cut. What the
// lost page held is gone for this process; the owner of the mapping asks
// WasCut and stops trusting it. Faults at addresses outside every guarded
// mapping go to the handler that was installed before.
//
// Register right after mmap and unregister right before munmap. Safe from
// any thread; the fault handler takes no lock.
#pragma once

#include <cstddef>

namespace kestnet::platform {

// False when the table of guarded mappings is full (the mapping then stays
// unguarded, as before).
bool GuardSharedMapping(void* base, std::size_t length);
void UnguardSharedMapping(void* base);
// Whether a page of the guarded mapping at base was cut and replaced.
bool SharedMappingWasCut(const void* base);

}  // namespace kestnet::platform
