// Where KestNetX keeps its state on this machine, and how named objects are scoped.
//
// KESTNET_HOME, when set, holds everything: the machine hive and machine-wide data
// under "$KESTNET_HOME/machine", the user hive and per-user data under
// "$KESTNET_HOME/user", and it scopes named kernel objects (mutexes, events, shared
// memory), so that processes with different homes never see each other's objects.
// Tests point it at a fresh temporary directory. Without it, machine data lives in
// /var/lib/kestnet and user data in "${XDG_DATA_HOME:-$HOME/.local/share}/kestnet".
//
// Machine data is one store for every account, as on Windows: readable by all,
// written only by an account that may write the machine directory (for
// /var/lib/kestnet, root; directories are made 0755). An account other than
// the owner of KESTNET_HOME that shares it keeps its user data in its own
// per-user directory, never in "$KESTNET_HOME/user".
#pragma once

#include <string>

namespace kestnet::platform {

// Directory for machine-wide data (the machine hive, the all-users application
// data folder). Created when missing; never ends with '/'.
std::string MachineDataDirectory();

// Whether this process may change machine data (write the machine directory).
bool MayWriteMachineData();

// Directory for the current user's data (the user hive). Created when missing.
std::string UserDataDirectory();

// A short token naming the object namespace of this process: "default" without
// KESTNET_HOME, otherwise a hash of its absolute path. Named kernel objects are
// only shared between processes with the same token.
std::string NamedObjectScope();

}  // namespace kestnet::platform
