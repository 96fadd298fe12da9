// The debugger output channel: OutputDebugStringA / OutputDebugStringW.
//
// Linux has no debugger output channel; KESTNET_DEBUG_OUTPUT chooses where the
// lines go, read on every call:
//   unset or empty  discarded (as on Windows with no debugger listening);
//   "stderr"        standard error;
//   "syslog"        syslog, facility LOG_USER, priority LOG_DEBUG;
//   anything else   a file path, opened with O_APPEND and written with one
//                   write(2) per line, so lines of several processes never
//                   interleave.
// A line without a trailing '\n' gets one. Wide text is written as UTF-8.
#pragma once

#include <functional>
#include <string_view>

#include "platform/os/win_types.h"

void OutputDebugStringA(LPCSTR lpOutputString);
void OutputDebugStringW(LPCWSTR lpOutputString);

namespace kestnet::platform {

// Observes every line in this process (tests); an empty function removes the
// hook. The hook sees the line without its '\n' and runs on the calling
// thread; it works whether or not KESTNET_DEBUG_OUTPUT sends the line elsewhere.
void SetDebugOutputHook(std::function<void(std::string_view)> hook);

// True when a line sent now would reach someone: a hook is set or
// KESTNET_DEBUG_OUTPUT names a target. A caller that builds a line only for
// this channel may skip building it otherwise (Windows callers ask
// IsDebuggerPresent for the same reason).
bool IsDebugOutputObserved();

}  // namespace kestnet::platform
