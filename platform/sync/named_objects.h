// Where named kernel objects live, how long they last, and who may open them.
//
// Named events, mutexes and file mappings are files in shared memory
// ("/dev/shm", or the temporary directory when /dev/shm is missing), one file
// per name, the name encoded so that any Windows name is a safe file name.
// Each scope (NamedObjectScope() of platform/os/home.h, read when the object
// is created or opened: processes with the same KESTNET_HOME share objects,
// others never see them) has two directories, as Windows has a global and a
// session name space:
//   "kestnet-<scope>"         machine-wide: objects every account may open.
//                             Sticky and open to all (01777), like /tmp.
//   "kestnet-<scope>.u<uid>"  the account's own: 0700, owned by it.
// An object created with SECURITY_ATTRIBUTES whose descriptor has a null DACL
// is openable by every account: it lives in the machine-wide directory, mode
// 0666 whatever the umask. Any other is the creator's alone: it lives in the
// creator's directory, mode 0600, where no other account can plant, hold or
// remove a name. A name is looked up in the account's directory first, then
// in the machine-wide one; an object for the account alone is taken from
// there only if this account made it (never one another account planted). A "Global\\" or "Local\\" prefix is ignored.
// A directory that is a symbolic link, or whose owner or mode would let
// another account in where it must not, is refused with ERROR_ACCESS_DENIED.
//
// Whatever another account may write is checked before it is used: an object
// file must be a regular file at least as large as its header says, or the
// name fails with ERROR_INVALID_HANDLE; sizes are read once, when the file is
// opened. (An account that may write an object may still truncate it while
// others have it mapped; that is why only objects meant for every account
// are writable by more than one.)
//
// Lifetime, as on Windows: an object lives while any handle (in any process)
// refers to it, and is deleted with the last one. Each process holding the
// object keeps a shared lock on its file and on its directory; the process
// that can take the last lock exclusively removes the file, and the directory
// with its last object. A process that ends with handles open removes, on its
// way out, what nobody else holds; one that dies loses its locks with it, and
// the file it leaves is recognised by having no lock and is removed by the
// next process that opens the name (or the directory). So a dead process
// never keeps an object alive, and nothing stays in shared memory.
#pragma once

#include <string>

namespace kestnet::platform {

// The machine-wide directory of a scope; empty for a string that is not a
// scope token (letters, digits, '-', '_').
std::string NamedObjectDirectory(const std::string& scope);

// The calling account's own directory of a scope; empty as above.
std::string AccountNamedObjectDirectory(const std::string& scope);

// Removes every named object file of a scope, machine-wide and the calling
// account's (tests call it when they end).
// Handles still open keep working on their unlinked objects. Returns false if
// some file could not be removed or the scope is not a scope token.
bool RemoveNamedObjects(const std::string& scope);

// The file name a Windows object name is stored under: letters, digits, '-'
// and '_' stand for themselves; every other byte of the UTF-8 form becomes
// "%XX". A "Global\\" or "Local\\" prefix is dropped first. Very long names
// keep a readable prefix and end in a hash of the whole name.
std::string EncodeObjectName(const std::wstring& name);

}  // namespace kestnet::platform
