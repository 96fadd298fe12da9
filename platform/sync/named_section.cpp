#include "platform/sync/named_section.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/utf8.h"
#include "platform/sync/named_objects.h"

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

void SetErrorFromErrno(int error) {
  if (error == ENOENT) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else {
    SetLastErrorFromErrno(error);
  }
}

std::wstring WithoutNamespacePrefix(const std::wstring& name) {
  for (const wchar_t* prefix : {L"Global\\", L"Local\\"}) {
    std::wstring_view view(prefix);
    if (name.compare(0, view.size(), view) == 0) return name.substr(view.size());
  }
  return name;
}

// Creates the scope directory, open to every account (sticky, like /tmp), so
// objects created with a null DACL can be opened by other users. An existing
// one must be a real directory that nobody else can empty or fill behind our
// back: ours or root's, or sticky; anything else (a symbolic link, another
// user's open directory) fails with ERROR_ACCESS_DENIED.
bool EnsureDirectory(const std::string& directory) {
  if (::mkdir(directory.c_str(), 01777) == 0) {
    ::chmod(directory.c_str(), 01777);
    return true;
  }
  if (errno != EEXIST) {
    SetErrorFromErrno(errno);
    return false;
  }
  struct stat info {};
  bool safe = ::lstat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
              (info.st_uid == ::geteuid() || info.st_uid == 0 || (info.st_mode & S_ISVTX) != 0);
  if (!safe) SetLastError(ERROR_ACCESS_DENIED);
  return safe;
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

void* MapHeader(int fd) {
  void* header = ::mmap(nullptr, NamedSection::kHeaderPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return header == MAP_FAILED ? nullptr : header;
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

bool RemoveNamedObjects(const std::string& scope) {
  std::string directory = NamedObjectDirectory(scope);
  if (directory.empty()) return false;
  std::error_code error;
  std::filesystem::remove_all(directory, error);
  return !error;
}

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

NamedSection::NamedSection(std::string path, int fd, void* header)
    : path_(std::move(path)), fd_(fd), header_(header) {}

NamedSection::~NamedSection() {
  ::munmap(header_, kHeaderPage);
  SectionRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.sections.find(path_);
  if (found != registry.sections.end() && found->second.expired()) registry.sections.erase(found);
  // The last holder in any process removes the name: nobody else holds a
  // shared lock when the exclusive one is granted.
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    struct stat mine {};
    struct stat linked {};
    if (::fstat(fd_, &mine) == 0 && ::stat(path_.c_str(), &linked) == 0 && mine.st_ino == linked.st_ino &&
        mine.st_dev == linked.st_dev) {
      ::unlink(path_.c_str());
    }
  }
  ::close(fd_);
}

void* NamedSection::State() const { return static_cast<char*>(header_) + kStateOffset; }

std::uint64_t NamedSection::DataSize() const { return static_cast<const SectionHeader*>(header_)->dataSize; }

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
  std::string directory = NamedObjectDirectory(NamedObjectScope());
  if (directory.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (!EnsureDirectory(directory)) return nullptr;
  std::string path = directory + "/" + encoded;

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
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      // Every live holder keeps a shared lock. A file nobody locks is what
      // processes that ended without closing (killed, or exiting with
      // handles open) left behind: the object is gone, as on Windows, and
      // the name is free for a fresh one.
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat mine {};
        struct stat linked {};
        if (::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &linked) == 0 && mine.st_ino == linked.st_ino &&
            mine.st_dev == linked.st_dev) {
          ::unlink(path.c_str());
        }
        ::close(fd);
        continue;
      }
      while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
      }
      struct stat info {};
      if (::fstat(fd, &info) != 0 || info.st_nlink == 0) {  // removed by its last holder meanwhile
        ::close(fd);
        continue;
      }
      void* header = static_cast<std::size_t>(info.st_size) >= kHeaderPage ? MapHeader(fd) : nullptr;
      const auto* fields = static_cast<const SectionHeader*>(header);
      if (header == nullptr || fields->magic != kSectionMagic ||
          fields->kind != static_cast<std::uint32_t>(kind)) {
        if (header != nullptr) ::munmap(header, kHeaderPage);
        ::close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      std::shared_ptr<NamedSection> section(new NamedSection(path, fd, header));
      registry.sections[path] = section;
      *existed = true;
      return section;
    }
    if (errno != ENOENT) {
      SetErrorFromErrno(errno);
      return nullptr;
    }
    if (!createIfMissing) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }

    // Build the object completely under a private name, then publish it with
    // link(2), which fails if someone else published first.
    std::string temporary = directory + "/.new-" + std::to_string(::getpid()) + "-" +
                            std::to_string(temporaryCounter.fetch_add(1));
    fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, fileMode);
    if (fd < 0) {
      SetErrorFromErrno(errno);
      return nullptr;
    }
    ::fchmod(fd, fileMode);  // whatever the umask
    void* header = nullptr;
    if (::ftruncate(fd, static_cast<off_t>(kHeaderPage + dataSize)) != 0 || (header = MapHeader(fd)) == nullptr) {
      int error = errno;
      ::unlink(temporary.c_str());
      ::close(fd);
      SetErrorFromErrno(error == EFBIG || error == EINVAL ? ENOMEM : error);
      return nullptr;
    }
    auto* fields = static_cast<SectionHeader*>(header);
    fields->kind = static_cast<std::uint32_t>(kind);
    fields->dataSize = dataSize;
    if (initState) initState(static_cast<char*>(header) + kStateOffset);
    fields->magic = kSectionMagic;
    ::flock(fd, LOCK_SH);
    int linked = ::link(temporary.c_str(), path.c_str());
    int linkError = errno;
    ::unlink(temporary.c_str());
    if (linked == 0) {
      std::shared_ptr<NamedSection> section(new NamedSection(path, fd, header));
      registry.sections[path] = section;
      return section;
    }
    ::munmap(header, kHeaderPage);
    ::close(fd);
    if (linkError != EEXIST) {
      SetErrorFromErrno(linkError);
      return nullptr;
    }
  }
  SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return nullptr;
}

}  // namespace kestnet::platform
