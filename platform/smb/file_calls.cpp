// CopyFileA, DeleteFileA, CreateDirectoryA, RemoveDirectoryA, GetTempPathA
// and GetTempFileNameA on UNC and local paths (FindFirstFileA and its
// companions are in find_files.cpp).
#include "platform/smb/file_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/os/last_error.h"
#include "platform/smb/file_path.h"

namespace kestnet::platform::smb {
namespace {

BOOL Fail(DWORD p_error) {
  SetLastError(p_error);
  return FALSE;
}

// One end of a copy: a local descriptor or a file on a share.
class OpenFile {
 public:
  OpenFile(SmbClientLease* p_client, const FilePath& p_path) : m_client(p_client), m_path(p_path) {}
  ~OpenFile() { Close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int Open(int p_flags) {
    if (m_path.remote) return m_client->Open(SmbUrl(m_path.unc), p_flags, 0644, m_remote);
    m_local = ::open(m_path.local.c_str(), p_flags | O_CLOEXEC, 0644);
    return m_local < 0 ? errno : 0;
  }

  // 0 and the file's kind; errno otherwise.
  int IsFolder(bool& p_bFolder) {
    struct stat status {};
    const int error = m_path.remote ? m_client->Stat(SmbUrl(m_path.unc), status)
                                    : (::fstat(m_local, &status) == 0 ? 0 : errno);
    p_bFolder = error == 0 && S_ISDIR(status.st_mode);
    return error;
  }

  int Read(void* p_buffer, std::size_t p_capacity, std::size_t& p_read) {
    if (m_path.remote) return m_client->Read(m_remote, p_buffer, p_capacity, p_read);
    for (;;) {
      const ssize_t got = ::read(m_local, p_buffer, p_capacity);
      if (got >= 0) {
        p_read = static_cast<std::size_t>(got);
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int Write(const char* p_data, std::size_t p_length) {
    if (m_path.remote) return m_client->Write(m_remote, p_data, p_length);
    while (p_length > 0) {
      const ssize_t written = ::write(m_local, p_data, p_length);
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      p_data += written;
      p_length -= static_cast<std::size_t>(written);
    }
    return 0;
  }

  // A close can report a write the server refused late, so it is checked.
  int Close() {
    int error = 0;
    if (m_remote != nullptr) error = m_client->Close(m_remote);
    if (m_local >= 0 && ::close(m_local) != 0) error = errno;
    m_remote = nullptr;
    m_local = -1;
    return error;
  }

 private:
  SmbClientLease* m_client;
  const FilePath& m_path;
  int m_local = -1;
  SmbFile m_remote = nullptr;
};

int RemoveFile(SmbClientLease* p_client, const FilePath& p_path) {
  if (p_path.remote) return p_client->Unlink(SmbUrl(p_path.unc));
  return ::unlink(p_path.local.c_str()) == 0 ? 0 : errno;
}

int MakeFolder(SmbClientLease* p_client, const FilePath& p_path) {
  if (p_path.remote) return p_client->MakeDirectory(SmbUrl(p_path.unc));
  return ::mkdir(p_path.local.c_str(), 0777) == 0 ? 0 : errno;
}

int RemoveFolder(SmbClientLease* p_client, const FilePath& p_path) {
  if (p_path.remote) return p_client->RemoveDirectory(SmbUrl(p_path.unc));
  return ::rmdir(p_path.local.c_str()) == 0 ? 0 : errno;
}

// The client a call needs: a lease on the process's SMB client when any of
// its paths is remote, none otherwise.
void LeaseIfRemote(std::optional<SmbClientLease>& p_client, bool p_bRemote) {
  if (p_bRemote) p_client.emplace(ProtocolRange::kDefault);
}

SmbClientLease* Pointer(std::optional<SmbClientLease>& p_client) { return p_client ? &*p_client : nullptr; }

constexpr std::size_t kCopyChunk = 64 * 1024;

// Copies the bytes; on failure the destination is removed and the Win32
// error returned.
DWORD CopyBytes(SmbClientLease* p_client, const FilePath& p_source, const FilePath& p_destination,
                bool p_bFailIfExists) {
  OpenFile source(p_client, p_source);
  if (const int error = source.Open(O_RDONLY); error != 0) return Win32ErrorFor(p_client, p_source, error);
  bool isFolder = false;
  if (const int error = source.IsFolder(isFolder); error != 0) return Win32ErrorFor(p_client, p_source, error);
  if (isFolder) return ERROR_ACCESS_DENIED;  // as Windows refuses to copy a folder as a file

  OpenFile destination(p_client, p_destination);
  const int flags = O_WRONLY | O_CREAT | (p_bFailIfExists ? O_EXCL : O_TRUNC);
  if (const int error = destination.Open(flags); error != 0) {
    return error == EEXIST ? ERROR_FILE_EXISTS : Win32ErrorFor(p_client, p_destination, error);
  }
  std::string buffer(kCopyChunk, '\0');
  int error = 0;
  for (;;) {
    std::size_t got = 0;
    error = source.Read(buffer.data(), buffer.size(), got);
    if (error != 0 || got == 0) break;
    error = destination.Write(buffer.data(), got);
    if (error != 0) break;
  }
  if (const int closeError = destination.Close(); error == 0) error = closeError;
  if (error == 0) return ERROR_SUCCESS;
  const DWORD result = Win32ErrorFor(p_client, p_destination, error);
  RemoveFile(p_client, p_destination);
  return result;
}

std::string TemporaryFolder() {
  const char* configured = std::getenv("TMPDIR");
  std::string folder = configured != nullptr && configured[0] != '\0' ? configured : "/tmp";
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

// Windows starts its search for a free temporary name at the tick count; a
// process-wide counter beside it keeps threads that start in the same tick
// from racing through the same numbers.
UINT FirstTemporaryNumber() {
  static std::atomic<UINT> calls{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::milliseconds(1);
  return static_cast<UINT>(ticks) + calls.fetch_add(1, std::memory_order_relaxed);
}

// "<folder><separator><prefix><number>.tmp", the number in hexadecimal.
std::string TemporaryName(const std::string& p_folder, const std::string& p_prefix, UINT p_number,
                          char p_separator) {
  char number[16];
  std::snprintf(number, sizeof number, "%X", p_number & 0xFFFFu);
  std::string name = p_folder;
  if (!name.empty() && name.back() != '\\' && name.back() != '/') name.push_back(p_separator);
  return name + p_prefix + number + ".tmp";
}

}  // namespace
}  // namespace kestnet::platform::smb

using namespace kestnet::platform::smb;

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  DWORD error = ERROR_SUCCESS;
  const std::optional<FilePath> source = ParseFilePath(lpExistingFileName, error);
  if (!source) return Fail(error);
  const std::optional<FilePath> destination = ParseFilePath(lpNewFileName, error);
  if (!destination) return Fail(error);
  std::optional<SmbClientLease> client;
  LeaseIfRemote(client, source->remote || destination->remote);
  error = CopyBytes(Pointer(client), *source, *destination, bFailIfExists != FALSE);
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  DWORD error = ERROR_SUCCESS;
  const std::optional<FilePath> path = ParseFilePath(lpFileName, error);
  if (!path) return Fail(error);
  std::optional<SmbClientLease> client;
  LeaseIfRemote(client, path->remote);
  const int result = RemoveFile(Pointer(client), *path);
  return result == 0 ? TRUE : Fail(Win32ErrorFor(Pointer(client), *path, result));
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  DWORD error = ERROR_SUCCESS;
  const std::optional<FilePath> path = ParseFilePath(lpPathName, error);
  if (!path) return Fail(error);
  std::optional<SmbClientLease> client;
  LeaseIfRemote(client, path->remote);
  const int result = MakeFolder(Pointer(client), *path);
  if (result == 0) return TRUE;
  return Fail(result == EEXIST ? ERROR_ALREADY_EXISTS : Win32ErrorFor(Pointer(client), *path, result));
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  DWORD error = ERROR_SUCCESS;
  const std::optional<FilePath> path = ParseFilePath(lpPathName, error);
  if (!path) return Fail(error);
  std::optional<SmbClientLease> client;
  LeaseIfRemote(client, path->remote);
  const int result = RemoveFolder(Pointer(client), *path);
  return result == 0 ? TRUE : Fail(Win32ErrorFor(Pointer(client), *path, result));
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::string folder = TemporaryFolder();
  const auto length = static_cast<DWORD>(folder.size());
  if (lpBuffer == nullptr || nBufferLength <= length) return length + 1;
  std::memcpy(lpBuffer, folder.c_str(), folder.size() + 1);
  return length;
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  if (lpPathName == nullptr || lpPathName[0] == '\0' || lpTempFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string folder(lpPathName);
  const std::string prefix = lpPrefixString != nullptr ? std::string(lpPrefixString).substr(0, 3) : "";
  const char separator = IsUncPath(folder) ? '\\' : '/';
  auto emit = [&](UINT p_number, std::string& p_name) {
    p_name = TemporaryName(folder, prefix, p_number, separator);
    if (p_name.size() >= MAX_PATH) return false;
    std::memcpy(lpTempFileName, p_name.c_str(), p_name.size() + 1);
    return true;
  };
  std::string name;
  if (uUnique != 0) {
    if (!emit(uUnique, name)) {
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return 0;
    }
    return uUnique;
  }
  // Numbers 1 to 0xFFFF, from a moving start, until one is free; the file is
  // created exclusively, so a name another process took meanwhile is skipped.
  const UINT start = FirstTemporaryNumber();
  for (UINT attempt = 0; attempt < 0xFFFFu; ++attempt) {
    const UINT number = (start + attempt) % 0xFFFFu + 1;
    if (!emit(number, name)) {
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return 0;
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<FilePath> path = ParseFilePath(name.c_str(), error);
    if (!path) {
      SetLastError(error);
      return 0;
    }
    std::optional<SmbClientLease> client;
  LeaseIfRemote(client, path->remote);
    OpenFile file(Pointer(client), *path);
    const int result = file.Open(O_WRONLY | O_CREAT | O_EXCL);
    if (result == EEXIST) continue;
    if (result != 0) {
      SetLastError(Win32ErrorFor(Pointer(client), *path, result));
      return 0;
    }
    if (const int closeError = file.Close(); closeError != 0) {
      SetLastError(Win32ErrorFor(Pointer(client), *path, closeError));
      return 0;
    }
    return number;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}
