#include "platform/sync/object_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/sync/named_objects.h"

namespace kestnet::platform {
namespace {

// 1 ms apart, so about five seconds: far longer than any removal takes, even
// on a loaded machine.
constexpr int kSharedLockAttempts = 5000;
constexpr useconds_t kSharedLockPauseUs = 1000;

// Each round either opens the directory or sees it vanish under it and tries
// again; a handful always suffices.
constexpr int kOpenRounds = 64;

// Process-wide: one descriptor (and so one flock) per directory. Leaked on
// purpose: objects may be released from static destructors.
struct DirectoryRegistry {
  std::mutex mutex;
  std::unordered_map<std::string, std::weak_ptr<ObjectDirectory>> directories;
};

DirectoryRegistry& Registry() {
  static DirectoryRegistry* registry = new DirectoryRegistry();
  return *registry;
}

// Scopes are tokens made by NamedObjectScope(); anything else could name a
// directory outside the shared memory folder.
bool ValidScope(const std::string& scope) {
  if (scope.empty() || scope.size() > 64) return false;
  for (char c : scope) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!plain) return false;
  }
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

// Whether a directory may hold this namespace's objects. An account's own
// directory admits nobody else: it is ours and 0700. The machine-wide one is
// shared on purpose, so only its kind matters, and that nobody can empty or
// fill it behind our back: ours, root's, or sticky.
bool Trustworthy(const struct stat& info, ObjectNamespace ns) {
  if (!S_ISDIR(info.st_mode)) return false;
  if (ns == ObjectNamespace::Account) return info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
  return info.st_uid == ::geteuid() || info.st_uid == 0 || (info.st_mode & S_ISVTX) != 0;
}

std::string DirectoryOf(ObjectNamespace ns) {
  std::string scope = NamedObjectScope();
  return ns == ObjectNamespace::Machine ? NamedObjectDirectory(scope) : AccountNamedObjectDirectory(scope);
}

}  // namespace

std::string NamedObjectDirectory(const std::string& scope) {
  if (!ValidScope(scope)) return std::string();
  std::error_code error;
  std::string base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error) || ::access(base.c_str(), W_OK | X_OK) != 0) {
    base = std::filesystem::temp_directory_path(error).string();
    if (base.empty()) base = "/tmp";
  }
  return base + "/kestnet-" + scope;
}

std::string AccountNamedObjectDirectory(const std::string& scope) {
  std::string machine = NamedObjectDirectory(scope);
  // '.' never occurs in a scope token, so no scope's directory looks like this.
  return machine.empty() ? machine : machine + ".u" + std::to_string(::geteuid());
}

bool RemoveNamedObjects(const std::string& scope) {
  std::string machine = NamedObjectDirectory(scope);
  if (machine.empty()) return false;
  bool removed = true;
  for (const std::string& directory : {machine, AccountNamedObjectDirectory(scope)}) {
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    removed = removed && !error;
  }
  return removed;
}

void SetNamedObjectErrorFromErrno(int error) {
  if (error == ENOENT) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else {
    SetLastErrorFromErrno(error);
  }
}

bool LockShared(int fd) {
  for (int attempt = 0; attempt < kSharedLockAttempts; ++attempt) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    ::usleep(kSharedLockPauseUs);
  }
  errno = EWOULDBLOCK;
  return false;
}

ObjectDirectory::ObjectDirectory(std::string path, int fd)
    : path_(std::move(path)), fd_(fd), openerProcess_(::getpid()) {}

ObjectDirectory::~ObjectDirectory() {
  {
    DirectoryRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.directories.find(path_);
    if (found != registry.directories.end() && found->second.expired()) registry.directories.erase(found);
  }
  RemoveIfLastHolder();
  ::close(fd_);
}

void ObjectDirectory::RemoveIfLastHolder() {
  if (::getpid() != openerProcess_ || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) return;
  struct stat mine {};
  struct stat linked {};
  if (::fstat(fd_, &mine) != 0 || ::lstat(path_.c_str(), &linked) != 0 || !SameFile(mine, linked)) return;
  // Nobody else holds anything here, and nobody can start to until the lock
  // goes with the descriptor: every file left is stale.
  int listing = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    if (listing >= 0) ::close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(entries)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(entries);
  for (const std::string& name : names) ::unlinkat(fd_, name.c_str(), 0);
  // Fails, harmlessly, when another account's leftovers stay behind.
  ::rmdir(path_.c_str());
}

std::shared_ptr<ObjectDirectory> ObjectDirectory::Acquire(ObjectNamespace ns, bool create) {
  std::string path = DirectoryOf(ns);
  if (path.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  DirectoryRegistry& registry = Registry();
  // Declared before the lock: should it hold the last reference, the
  // directory is released after the registry lock (its destructor takes it).
  std::shared_ptr<ObjectDirectory> existing;
  std::lock_guard lock(registry.mutex);
  if (auto found = registry.directories.find(path); found != registry.directories.end()) {
    existing = found->second.lock();
    struct stat info {};
    // One removed meanwhile (by RemoveNamedObjects) is no place for new objects.
    if (existing && ::fstat(existing->fd_, &info) == 0 && info.st_nlink > 0) return existing;
  }

  const mode_t mode = ns == ObjectNamespace::Machine ? 01777 : 0700;
  for (int round = 0; round < kOpenRounds; ++round) {
    if (create) {
      if (::mkdir(path.c_str(), mode) == 0) {
        ::chmod(path.c_str(), mode);  // whatever the umask
      } else if (errno != EEXIST) {
        SetNamedObjectErrorFromErrno(errno);
        return nullptr;
      }
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      int error = errno;
      if (error == ENOENT && create) continue;  // removed by its last holder between the two calls
      if (error == ELOOP || error == ENOTDIR) {
        SetLastError(ERROR_ACCESS_DENIED);
      } else {
        SetNamedObjectErrorFromErrno(error);
      }
      return nullptr;
    }
    if (!LockShared(fd)) {
      ::close(fd);
      SetLastError(ERROR_TIMEOUT);
      return nullptr;
    }
    struct stat mine {};
    struct stat linked {};
    if (::fstat(fd, &mine) != 0 || mine.st_nlink == 0 || ::lstat(path.c_str(), &linked) != 0 ||
        !SameFile(mine, linked)) {
      ::close(fd);  // its last holder removed it while we waited for the lock
      if (!create && ::lstat(path.c_str(), &linked) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      continue;
    }
    if (!Trustworthy(mine, ns)) {
      ::close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    std::shared_ptr<ObjectDirectory> directory(new ObjectDirectory(path, fd));
    registry.directories[path] = directory;
    return directory;
  }
  SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return nullptr;
}

void RemoveObjectDirectoriesAtExit() {
  std::vector<std::shared_ptr<ObjectDirectory>> held;
  {
    DirectoryRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (auto& [path, directory] : registry.directories) {
      if (auto live = directory.lock()) held.push_back(std::move(live));
    }
  }
  for (const auto& directory : held) directory->RemoveIfLastHolder();
}

}  // namespace kestnet::platform
