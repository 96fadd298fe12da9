#include "runtime/critical_log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/os/home.h"
#include "platform/os/process.h"

namespace KestLog {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Owns an open descriptor and the flock on it; both end together.
class LockedFile {
 public:
  explicit LockedFile(const std::string& path)
      : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)) {
    if (m_fd < 0) return;
    int rc;
    do {
      rc = ::flock(m_fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }
  ~LockedFile() {
    if (m_fd >= 0) ::close(m_fd);  // closing drops the flock
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool IsOpen() const { return m_fd >= 0; }

  bool ReadAt(std::uint64_t offset, void* data, size_t size) const {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
      ssize_t got = ::pread(m_fd, bytes, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      bytes += got, offset += static_cast<std::uint64_t>(got), size -= static_cast<size_t>(got);
    }
    return true;
  }

  bool WriteAt(std::uint64_t offset, const void* data, size_t size) const {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
      ssize_t put = ::pwrite(m_fd, bytes, size, static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes += put, offset += static_cast<std::uint64_t>(put), size -= static_cast<size_t>(put);
    }
    return true;
  }

  std::uint64_t Size() const {
    struct stat info {};
    return ::fstat(m_fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  }

 private:
  int m_fd;
};

std::uint32_t DecodeLittleEndian32(const unsigned char bytes[4]) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void EncodeLittleEndian32(std::uint32_t value, unsigned char bytes[4]) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Where the next entry starts and whether it opens with a line end, from the
// stored end P of the newest separator and the file size.
struct AppendPlan {
  std::uint64_t start;
  bool leadingLineEnd;
  bool blankTail;  // blank from P - 25 to the end before writing
};

AppendPlan PlanAppend(std::uint32_t storedEnd, std::uint64_t fileSize) {
  const std::uint32_t separatorLength = CriticalLogFile::kSeparator.size();
  // The smallest P a valid file can hold: header, line end, empty line, marker.
  const std::uint32_t smallestEnd =
      CriticalLogFile::kFirstEntryOffset + kLineEnd.size() + separatorLength;
  if (storedEnd == 0 || storedEnd > fileSize) {
    return {CriticalLogFile::kFirstEntryOffset, true, false};
  }
  if (storedEnd >= CriticalLogFile::kWrapOffset) {
    return {CriticalLogFile::kFirstEntryOffset, true, true};
  }
  if (storedEnd < smallestEnd) return {CriticalLogFile::kFirstEntryOffset, true, false};
  return {storedEnd - separatorLength, false, false};
}

}  // namespace

CriticalLogFile::CriticalLogFile() : m_pathResolved(false) {}

CriticalLogFile::CriticalLogFile(std::string path)
    : m_pathResolved(true), m_path(std::move(path)) {}

std::string CriticalLogFile::DefaultPath() {
  std::string appData = kestnet::platform::MayWriteMachineData() ? kestnet::platform::CommonAppDataFolder()
                                                                  : kestnet::platform::UserAppDataFolder();
  if (appData.empty()) return {};
  std::filesystem::path folder = std::filesystem::path(appData) / "Tolvar";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) return {};
  return (folder / "critical.txt").string();
}

bool CriticalLogFile::ResolvePath() {
  if (!m_pathResolved) {
    // Looked up once: a folder that cannot be created now is not retried on
    // every error entry.
    m_path = DefaultPath();
    m_pathResolved = true;
  }
  return !m_path.empty();
}

void CriticalLogFile::Append(std::string_view line) {
  try {
    KestMT::AutoCriticalSection inProcess(&m_lock);
    if (!ResolvePath()) return;

    LockedFile file(m_path);
    if (!file.IsOpen()) return;

    const std::uint64_t size = file.Size();
    unsigned char storedBytes[4] = {};
    const std::uint32_t storedEnd =
        size >= sizeof storedBytes && file.ReadAt(0, storedBytes, sizeof storedBytes)
            ? DecodeLittleEndian32(storedBytes)
            : 0;
    const AppendPlan plan = PlanAppend(storedEnd, size);

    if (plan.blankTail) {
      const std::uint64_t from = storedEnd - kSeparator.size();
      const std::string spaces(size - from, ' ');
      if (!file.WriteAt(from, spaces.data(), spaces.size())) return;
    }

    std::string entry;
    entry.reserve(kLineEnd.size() + line.size() + kLineEnd.size() + kSeparator.size());
    if (plan.leadingLineEnd) entry.append(kLineEnd);
    entry.append(line).append(kLineEnd).append(kSeparator);
    if (!file.WriteAt(plan.start, entry.data(), entry.size())) return;

    const std::uint64_t newEnd = plan.start + entry.size();
    if (newEnd > 0xFFFFFFFFu) return;
    unsigned char endBytes[4];
    EncodeLittleEndian32(static_cast<std::uint32_t>(newEnd), endBytes);
    file.WriteAt(0, endBytes, sizeof endBytes);
  } catch (...) {
    // The copy on disk is a courtesy; the entry is already in the ring.
  }
}

}  // namespace KestLog
