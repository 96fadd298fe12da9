// FindFirstFileA / FindNextFileA / FindClose on UNC and local folders. The
// folder is read whole at FindFirstFileA (one listing, as a Windows client
// asks an SMB server for a whole folder), so later calls never touch the
// network.
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/smb/file_calls.h"
#include "platform/smb/file_path.h"
#include "platform/smb/handle_registry.h"

namespace kestnet::platform::smb {
namespace {

struct FindState {
  std::mutex lock;
  std::vector<WIN32_FIND_DATAA> matches;
  std::size_t next = 0;
};

HandleRegistry<FindState>& Finds() {
  static HandleRegistry<FindState> registry;
  return registry;
}

// Windows wildcards: '*' any run, '?' one character, letters without regard
// to case; "*.*" matches names without a dot too, as it does on Windows.
bool MatchesPattern(std::string_view p_pattern, std::string_view p_name) {
  if (p_pattern == "*.*") p_pattern = "*";
  std::size_t pattern = 0, name = 0;
  std::size_t starPattern = std::string_view::npos, starName = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (name < p_name.size()) {
    if (pattern < p_pattern.size() && (p_pattern[pattern] == '?' || same(p_pattern[pattern], p_name[name]))) {
      ++pattern;
      ++name;
    } else if (pattern < p_pattern.size() && p_pattern[pattern] == '*') {
      starPattern = pattern++;
      starName = name;
    } else if (starPattern != std::string_view::npos) {
      pattern = starPattern + 1;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (pattern < p_pattern.size() && p_pattern[pattern] == '*') ++pattern;
  return pattern == p_pattern.size();
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffset = 116444736000000000ull;

FILETIME ToFileTime(const timespec& p_time) {
  const std::uint64_t ticks = kFileTimeEpochOffset +
                              static_cast<std::uint64_t>(p_time.tv_sec) * 10000000ull +
                              static_cast<std::uint64_t>(p_time.tv_nsec) / 100u;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

bool FillFindData(std::string_view p_name, DWORD p_attributes, std::uint64_t p_size, const timespec& p_creation,
                  const timespec& p_access, const timespec& p_write, WIN32_FIND_DATAA& p_data) {
  if (p_name.size() >= MAX_PATH) return false;
  p_data = WIN32_FIND_DATAA{};
  p_data.dwFileAttributes = p_attributes != 0 ? p_attributes : FILE_ATTRIBUTE_NORMAL;
  p_data.ftCreationTime = ToFileTime(p_creation);
  p_data.ftLastAccessTime = ToFileTime(p_access);
  p_data.ftLastWriteTime = ToFileTime(p_write);
  p_data.nFileSizeHigh = static_cast<DWORD>(p_size >> 32);
  p_data.nFileSizeLow = static_cast<DWORD>(p_size & 0xFFFFFFFFu);
  std::memcpy(p_data.cFileName, p_name.data(), p_name.size());
  return true;
}

// The attributes Windows shows for a local file: folders, read-only when the
// owner may not write, archive otherwise (set on every file Windows writes).
DWORD LocalAttributes(const struct stat& p_status) {
  DWORD attributes = S_ISDIR(p_status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((p_status.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

int ListLocal(const std::string& p_folder, std::string_view p_pattern, std::vector<WIN32_FIND_DATAA>& p_matches) {
  DIR* directory = ::opendir(p_folder.c_str());
  if (directory == nullptr) return errno;
  errno = 0;
  while (const dirent* entry = ::readdir(directory)) {
    if (!MatchesPattern(p_pattern, entry->d_name)) continue;
    struct stat status {};
    const std::string path = p_folder + "/" + entry->d_name;
    if (::stat(path.c_str(), &status) != 0) continue;  // gone since it was listed, or a dangling link
    WIN32_FIND_DATAA data;
    if (FillFindData(entry->d_name, LocalAttributes(status), static_cast<std::uint64_t>(status.st_size),
                     status.st_ctim, status.st_atim, status.st_mtim, data)) {
      p_matches.push_back(data);
    }
  }
  const int error = errno;
  ::closedir(directory);
  return error;
}

int ListRemote(SmbClientLease& p_client, const UncPath& p_folder, std::string_view p_pattern,
               std::vector<WIN32_FIND_DATAA>& p_matches) {
  std::vector<SmbDirectoryEntry> entries;
  const int error = p_client.ListDirectory(SmbUrl(p_folder), SmbClientLease::ListingKind::kFolder, entries);
  if (error != 0) return error;
  for (const SmbDirectoryEntry& entry : entries) {
    if (!MatchesPattern(p_pattern, entry.name)) continue;
    DWORD attributes = entry.dosAttributes;
    if (entry.kind == SmbEntryKind::kDirectory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    WIN32_FIND_DATAA data;
    if (FillFindData(entry.name, attributes, entry.size, entry.creation, entry.lastAccess, entry.lastWrite, data)) {
      p_matches.push_back(data);
    }
  }
  return 0;
}

// Splits "folder/pattern"; the folder is empty for a pattern at the top
// (of a share, or of the current folder), "/" for one in the root.
void SplitPattern(const std::string& p_path, std::string& p_folder, std::string& p_pattern) {
  const std::size_t slash = p_path.rfind('/');
  p_folder = slash == std::string::npos ? std::string() : p_path.substr(0, slash == 0 ? 1 : slash);
  p_pattern = slash == std::string::npos ? p_path : p_path.substr(slash + 1);
}

HANDLE FailFind(DWORD p_error) {
  SetLastError(p_error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace kestnet::platform::smb

using namespace kestnet::platform::smb;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  DWORD error = ERROR_SUCCESS;
  std::optional<FilePath> path = ParseFilePath(lpFileName, error);
  if (!path) return FailFind(error);
  if (lpFindFileData == nullptr) return FailFind(ERROR_INVALID_PARAMETER);
  auto state = std::make_shared<FindState>();
  std::string folder, pattern;
  if (path->remote) {
    // "\\SERVER\share" alone names no file: Windows wants "\\SERVER\share\*".
    if (path->unc.folder.empty()) return FailFind(ERROR_BAD_NET_NAME);
    SplitPattern(path->unc.folder, folder, pattern);
    UncPath folderPath = path->unc;
    folderPath.folder = folder;
    SmbClientLease client(ProtocolRange::kDefault);
    const int listError = ListRemote(client, folderPath, pattern, state->matches);
    // A folder that cannot be listed is reported as Windows reports the
    // pattern inside it: a missing folder is a missing path.
    if (listError != 0) return FailFind(Win32ErrorFor(&client, *path, listError));
  } else {
    SplitPattern(path->local, folder, pattern);
    const int listError = ListLocal(folder.empty() ? "." : folder, pattern, state->matches);
    if (listError != 0) return FailFind(Win32ErrorFor(nullptr, *path, listError));
  }
  if (state->matches.empty()) return FailFind(ERROR_FILE_NOT_FOUND);
  *lpFindFileData = state->matches[0];
  state->next = 1;
  return Finds().Add(std::move(state));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  std::shared_ptr<FindState> state = Finds().Find(hFindFile);
  if (state == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(state->lock);
  if (state->next >= state->matches.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *lpFindFileData = state->matches[state->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!Finds().Remove(hFindFile)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
