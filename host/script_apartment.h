// Runs a script the way every script-driven verb does: on the calling thread,
// inside a single-threaded apartment entered for the run and left after it,
// with modules nobody holds any more unloaded before leaving.
#pragma once

#include "host/script_host.h"

namespace kestnet::host {

// `verb` names the command in the message printed when no apartment can be
// entered. Returns the script's exit code, or 1 when it could not run.
int RunScriptInApartment(const ScriptOptions& options, const char* verb);

}  // namespace kestnet::host
