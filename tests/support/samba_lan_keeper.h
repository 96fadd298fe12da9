// The keeper of the test LAN (samba_lan.h): a child of the test process that
// owns every namespace, link and daemon of the LAN, so that the LAN goes
// however the test process ends.
//
// It talks to the test process over two pipes. On the status pipe it writes
// messages of one kind letter and a text, each ended by a NUL byte:
//   R<pid>     the LAN is up; <pid> holds the client's namespaces
//   F<reason>  the LAN could not be built (and what was built is gone again)
//   T<report>  the LAN is torn down; the report lists what was left behind,
//              empty when nothing was
// It tears the LAN down once the control pipe reaches its end: the test
// process closed it, or ended.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace kestnet::testing {

// Runs in the freshly forked child (the parent had one thread) and never
// returns. p_directory exists and is the keeper's to remove.
[[noreturn]] void RunSambaLanKeeper(const std::filesystem::path& p_directory, int p_control, int p_status,
                                    pid_t p_testProcess);

}  // namespace kestnet::testing
