#include "platform/sync/named_section.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/shared_mapping_guard.h"
#include "platform/os/utf8.h"
#include "platform/sync/named_objects.h"
#include "platform/sync/object_directory.h"

namespace kestnet::platform {
namespace {

constexpr std::uint32_t kSectionMagic = 0x4F584E4B;  // "KNXO"
constexpr std::size_t kStateOffset = 64;
constexpr std::size_t kMaxNameLength = 260;  // MAX_PATH, as Windows limits object names
constexpr std::size_t kMaxEncodedLength = 200;

struct SectionHeader {
  std::uint32_t magic;
  std::uint32_t kind;
  std::uint64_t dataSize;
};
static_assert(sizeof(SectionHeader) <= kStateOffset);
static_assert(kStateOffset + NamedSection::kStateBytes <= NamedSection::kHeaderPage);

// Process-wide: each named object file is mapped once per process, so every
// handle to a name shares one address for its state (a process-shared pthread
// mutex must not be used through two addresses by one thread). Leaked on
// purpose: sections may be released from static destructors.
struct SectionRegistry {
  std::mutex mutex;
  std::unordered_map<std::string, std::weak_ptr<NamedSection>> sections;
};

SectionRegistry& Registry() {
  static SectionRegistry* registry = new SectionRegistry();
  return *registry;
}

std::string Hex64(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::wstring WithoutNamespacePrefix(const std::wstring& name) {
  for (const wchar_t* prefix : {L"Global\\", L"Local\\"}) {
    std::wstring_view view(prefix);
    if (name.compare(0, view.size(), view) == 0) return name.substr(view.size());
  }
  return name;
}

// Unlinks name in the directory if it still names the file fd is open on (a
// fresh object may have taken the name meanwhile).
void UnlinkIfStillNamed(int directoryFd, const std::string& name, int fd) {
  struct stat mine {};
  struct stat linked {};
  if (::fstat(fd, &mine) == 0 && ::fstatat(directoryFd, name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
      mine.st_ino == linked.st_ino && mine.st_dev == linked.st_dev) {
    ::unlinkat(directoryFd, name.c_str(), 0);
  }
}

// Another account may cut a machine-wide object's file short while it is
// mapped: the guard keeps this process from dying of it.
void* MapHeader(int fd) {
  void* header = ::mmap(nullptr, NamedSection::kHeaderPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (header == MAP_FAILED) return nullptr;
  GuardSharedMapping(header, NamedSection::kHeaderPage);
  return header;
}

void UnmapHeader(void* header) {
  UnguardSharedMapping(header);
  ::munmap(header, NamedSection::kHeaderPage);
}

}  // namespace

std::string EncodeObjectName(const std::wstring& name) {
  std::string encoded;
  for (wchar_t wide : WithoutNamespacePrefix(name)) {
    auto c = static_cast<char32_t>(wide);
    bool plain = (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'-' ||
                 c == U'_';
    if (plain) {
      encoded += static_cast<char>(c);
      continue;
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Not a character: kept distinct from every valid one.
      char text[16];
      std::snprintf(text, sizeof text, "%%U%08X", static_cast<unsigned>(c));
      encoded += text;
      continue;
    }
    std::string utf8;
    AppendUtf8(utf8, c);
    for (unsigned char byte : utf8) {
      char text[4];
      std::snprintf(text, sizeof text, "%%%02X", byte);
      encoded += text;
    }
  }
  if (encoded.size() > kMaxEncodedLength) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a of the whole encoded name
    for (unsigned char c : encoded) {
      hash ^= c;
      hash *= 1099511628211ull;
    }
    encoded = encoded.substr(0, kMaxEncodedLength - 20) + "~" + Hex64(hash);
  }
  return encoded;
}

std::wstring ObjectNameFromUtf8(const char* text) {
  return text == nullptr ? std::wstring() : WideFromUtf8(text);
}

NamedSection::NamedSection(std::shared_ptr<ObjectDirectory> directory, std::string name, int fd, void* header,
                           std::uint64_t dataSize)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      path_(directory_->Path() + "/" + name_),
      fd_(fd),
      header_(header),
      dataSize_(dataSize),
      openerProcess_(::getpid()) {}

NamedSection::~NamedSection() {
  UnmapHeader(header_);
  {
    SectionRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.sections.find(path_);
    if (found != registry.sections.end() && found->second.expired()) registry.sections.erase(found);
  }
  RemoveNameIfLastHolder();
  ::close(fd_);
  // directory_ goes after the file, so that an emptied directory can go too.
}

void NamedSection::RemoveNameIfLastHolder() {
  // Nobody else holds a shared lock when the exclusive one is granted. A
  // forked child shares the opener's lock and must not decide for it.
  if (::getpid() != openerProcess_ || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) return;
  UnlinkIfStillNamed(directory_->Descriptor(), name_, fd_);
}

void NamedSection::RemoveNamesAtExit() {
  std::vector<std::shared_ptr<NamedSection>> held;
  {
    SectionRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (auto& [path, section] : registry.sections) {
      if (auto live = section.lock()) held.push_back(std::move(live));
    }
  }
  // Their memory stays mapped for whatever still runs; only the names go.
  for (const auto& section : held) section->RemoveNameIfLastHolder();
  RemoveObjectDirectoriesAtExit();
}

void* NamedSection::State() const { return static_cast<char*>(header_) + kStateOffset; }

std::shared_ptr<NamedSection> NamedSection::Acquire(const std::wstring& name, NamedKind kind, bool createIfMissing,
                                                    std::uint64_t dataSize, unsigned fileMode,
                                                    const std::function<void(void*)>& initState, bool* existed) {
  *existed = false;
  if (name.size() > kMaxNameLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  std::string encoded = EncodeObjectName(name);
  if (encoded.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  // Objects still held when the process ends take their names with them.
  static std::once_flag exitHook;
  std::call_once(exitHook, [] { std::atexit(RemoveNamesAtExit); });

  // A name is looked up in the account's own directory first, then in the
  // machine-wide one. There, an object only for this account may be one the
  // account made for everyone under that name, never one another account
  // planted. Only a name found counts: an unusable directory of ours does not
  // keep the machine-wide name space from a caller.
  const bool forEveryone = !createIfMissing || (fileMode & 0066) != 0;
  std::shared_ptr<NamedSection> section;
  auto lookUp = [&](ObjectNamespace ns, bool onlyOurs) {
    auto directory = ObjectDirectory::Acquire(ns, false);
    if (!directory) return false;
    section = AcquireIn(std::move(directory), encoded, kind, false, 0, fileMode, nullptr, onlyOurs, existed);
    return section != nullptr || GetLastError() != ERROR_FILE_NOT_FOUND;
  };
  if (lookUp(ObjectNamespace::Account, false)) return section;
  if (!forEveryone && lookUp(ObjectNamespace::Machine, true)) return section;
  if (!createIfMissing) return lookUp(ObjectNamespace::Machine, false) ? section : nullptr;
  auto directory = ObjectDirectory::Acquire(forEveryone ? ObjectNamespace::Machine : ObjectNamespace::Account, true);
  if (!directory) return nullptr;
  return AcquireIn(std::move(directory), encoded, kind, true, dataSize, fileMode, initState, false, existed);
}

std::shared_ptr<NamedSection> NamedSection::AcquireIn(std::shared_ptr<ObjectDirectory> directory,
                                                      const std::string& name, NamedKind kind, bool createIfMissing,
                                                      std::uint64_t dataSize, unsigned fileMode,
                                                      const std::function<void(void*)>& initState, bool onlyOurs,
                                                      bool* existed) {
  const int directoryFd = directory->Descriptor();
  std::string path = directory->Path() + "/" + name;

  SectionRegistry& registry = Registry();
  // Declared before the lock so that, should it hold the last reference, the
  // section is released after the registry lock (its destructor takes it).
  std::shared_ptr<NamedSection> existing;
  std::unique_lock lock(registry.mutex);
  if (auto found = registry.sections.find(path); found != registry.sections.end()) {
    if (auto section = (existing = found->second.lock())) {
      if (static_cast<const SectionHeader*>(section->header_)->kind != static_cast<std::uint32_t>(kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      *existed = true;
      return section;
    }
  }

  static std::atomic<unsigned> temporaryCounter{0};
  // Each round either opens the file, creates it, or sees it vanish or appear
  // under it and tries again; a handful of rounds always suffices.
  for (int round = 0; round < 64; ++round) {
    // Non-blocking: a FIFO planted under the name must not stall the open.
    int fd = ::openat(directoryFd, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0) {
      struct stat info {};
      if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      if (onlyOurs && info.st_uid != ::geteuid()) {  // another account's: not the object asked for
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      // Every live holder keeps a shared lock. A file nobody locks is what
      // processes that ended without closing (killed, or exiting with
      // handles open) left behind: the object is gone, as on Windows, and
      // the name is free for a fresh one.
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        UnlinkIfStillNamed(directoryFd, name, fd);
        ::close(fd);
        continue;
      }
      if (!LockShared(fd)) {
        ::close(fd);
        SetLastError(ERROR_TIMEOUT);
        return nullptr;
      }
      if (::fstat(fd, &info) != 0 || info.st_nlink == 0) {  // removed by its last holder meanwhile
        ::close(fd);
        continue;
      }
      // The header and the file's size are checked once, here, and the size
      // kept: any account that may open the object may also write its header.
      void* header = static_cast<std::uint64_t>(info.st_size) >= kHeaderPage ? MapHeader(fd) : nullptr;
      const auto* fields = static_cast<const SectionHeader*>(header);
      const std::uint64_t dataHeld = static_cast<std::uint64_t>(info.st_size) - kHeaderPage;
      const std::uint64_t claimed = header != nullptr ? fields->dataSize : 0;
      if (header == nullptr || fields->magic != kSectionMagic || fields->kind != static_cast<std::uint32_t>(kind) ||
          claimed > dataHeld) {
        if (header != nullptr) UnmapHeader(header);
        ::close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      std::shared_ptr<NamedSection> section(new NamedSection(std::move(directory), name, fd, header, claimed));
      registry.sections[path] = section;
      *existed = true;
      return section;
    }
    if (errno != ENOENT) {
      if (errno == ELOOP) {
        SetLastError(ERROR_INVALID_HANDLE);  // a symbolic link planted under the name
      } else {
        SetNamedObjectErrorFromErrno(errno);
      }
      return nullptr;
    }
    if (!createIfMissing) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }

    // Build the object completely under a private name, then publish it with
    // link(2), which fails if someone else published first.
    std::string temporary =
        ".new-" + std::to_string(::getpid()) + "-" + std::to_string(temporaryCounter.fetch_add(1));
    fd = ::openat(directoryFd, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, fileMode);
    if (fd < 0) {
      SetNamedObjectErrorFromErrno(errno);
      return nullptr;
    }
    ::fchmod(fd, fileMode);  // whatever the umask
    void* header = nullptr;
    const bool fits = dataSize <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - kHeaderPage;
    if (!fits || ::ftruncate(fd, static_cast<off_t>(kHeaderPage + dataSize)) != 0 ||
        (header = MapHeader(fd)) == nullptr) {
      int error = fits ? errno : EFBIG;
      ::unlinkat(directoryFd, temporary.c_str(), 0);
      ::close(fd);
      SetNamedObjectErrorFromErrno(error == EFBIG || error == EINVAL ? ENOMEM : error);
      return nullptr;
    }
    auto* fields = static_cast<SectionHeader*>(header);
    fields->kind = static_cast<std::uint32_t>(kind);
    fields->dataSize = dataSize;
    if (initState) initState(static_cast<char*>(header) + kStateOffset);
    fields->magic = kSectionMagic;
    ::flock(fd, LOCK_SH);
    int linked = ::linkat(directoryFd, temporary.c_str(), directoryFd, name.c_str(), 0);
    int linkError = errno;
    ::unlinkat(directoryFd, temporary.c_str(), 0);
    if (linked == 0) {
      std::shared_ptr<NamedSection> section(new NamedSection(std::move(directory), name, fd, header, dataSize));
      registry.sections[path] = section;
      return section;
    }
    UnmapHeader(header);
    ::close(fd);
    if (linkError != EEXIST) {
      SetNamedObjectErrorFromErrno(linkError);
      return nullptr;
    }
  }
  SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return nullptr;
}

}  // namespace kestnet::platform
