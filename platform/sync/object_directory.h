// The directories named objects live in (platform layer only; see
// named_objects.h for the rules callers see).
//
// Each process keeps one descriptor per directory, with a shared flock on it,
// for as long as it holds any object inside. The process that can turn that
// lock into an exclusive one holds the last reference anywhere: whatever is
// left inside belongs to processes that ended without closing, and the
// directory goes. An opener that finds the directory removed once its own lock
// is granted starts again with a fresh one, so removal never races a new user.
#pragma once

#include <memory>
#include <string>

namespace kestnet::platform {

enum class ObjectNamespace {
  Machine,  // every account of the scope: sticky, open to all, like /tmp
  Account,  // this account only: 0700, owned by it
};

class ObjectDirectory {
 public:
  // The directory of the current scope for ns, created when missing and
  // create is set. On failure returns nullptr and sets the last error:
  // ERROR_FILE_NOT_FOUND (missing, not creating), ERROR_ACCESS_DENIED (a
  // symbolic link, not a directory, or an owner or mode that lets another
  // account in where it must not), ERROR_TIMEOUT (kept locked by someone),
  // ERROR_INVALID_NAME (no usable scope).
  static std::shared_ptr<ObjectDirectory> Acquire(ObjectNamespace ns, bool create);

  ~ObjectDirectory();
  ObjectDirectory(const ObjectDirectory&) = delete;
  ObjectDirectory& operator=(const ObjectDirectory&) = delete;

  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Removes the directory and its leftovers when no other process holds it.
  // Only the process that opened it does so (a forked child shares its lock).
  void RemoveIfLastHolder();

 private:
  ObjectDirectory(std::string path, int fd);
  std::string path_;
  int fd_;
  int openerProcess_;
};

// Takes a shared flock on fd. An exclusive lock is only ever held by a process
// removing the object or directory, for a few system calls; one held much
// longer is another account's doing and is not waited for without end.
// False (errno EWOULDBLOCK) when the lock stayed exclusive.
bool LockShared(int fd);

// The last error for a failed call on a named object's file: a missing one
// is ERROR_FILE_NOT_FOUND, the rest as errno maps.
void SetNamedObjectErrorFromErrno(int error);

// At process exit: each directory this process still holds goes if no other
// process holds it.
void RemoveObjectDirectoriesAtExit();

}  // namespace kestnet::platform
