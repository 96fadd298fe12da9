// Where named kernel objects live, how long they last, and who may open them.
//
// Named events, mutexes and file mappings are files in a per-scope directory
// in shared memory ("/dev/shm/kestnet-<scope>", or the temporary directory when
// /dev/shm is missing), one file per name, the name encoded so that any
// Windows name is a safe file name. <scope> is NamedObjectScope() of
// platform/os/home.h, read when the object is created or opened: processes
// with the same KESTNET_HOME share objects, others never see them.
//
// Lifetime, as on Windows: an object lives while any handle (in any process)
// refers to it, and is deleted with the last one. Each process holding the
// object keeps a shared lock on its file; the process that drops the last lock
// removes the file. A process that dies (or exits with handles still open)
// loses its locks with it; the file it leaves is recognised by having no lock
// and is removed by the next process that opens the name, which then finds no
// object (OpenEvent fails, CreateEvent makes a fresh one). So a dead process
// never keeps an object alive. The scope directory itself stays until
// RemoveNamedObjects.
//
// Permissions: an object created with SECURITY_ATTRIBUTES whose descriptor has
// a null DACL is openable by every account (mode 0666 whatever the umask);
// otherwise only by its owner (0600), and others get ERROR_ACCESS_DENIED.
#pragma once

#include <string>

namespace kestnet::platform {

// The directory holding the named objects of a scope; empty for a string that
// is not a scope token (letters, digits, '-', '_').
std::string NamedObjectDirectory(const std::string& scope);

// Removes every named object file of a scope (tests call it when they end).
// Handles still open keep working on their unlinked objects. Returns false if
// some file could not be removed or the scope is not a scope token.
bool RemoveNamedObjects(const std::string& scope);

// The file name a Windows object name is stored under: letters, digits, '-'
// and '_' stand for themselves; every other byte of the UTF-8 form becomes
// "%XX". A "Global\\" or "Local\\" prefix is dropped first. Very long names
// keep a readable prefix and end in a hash of the whole name.
std::string EncodeObjectName(const std::wstring& name);

}  // namespace kestnet::platform
