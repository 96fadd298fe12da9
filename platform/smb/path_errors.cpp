#include "platform/smb/path_errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "platform/os/last_error.h"

namespace kestnet::platform::smb {
namespace {

struct ErrnoToWin32 {
  int errnoValue;
  DWORD win32Error;
};

// What file calls on Windows report where the Linux error differs from the
// platform's general errno table.
constexpr ErrnoToWin32 kFileErrors[] = {
    {ECONNREFUSED, ERROR_BAD_NETPATH}, {EHOSTUNREACH, ERROR_BAD_NETPATH},
    {ENETUNREACH, ERROR_BAD_NETPATH},  {EHOSTDOWN, ERROR_BAD_NETPATH},
    {ETIMEDOUT, ERROR_BAD_NETPATH},    {ECONNRESET, ERROR_BAD_NETPATH},
    {ECONNABORTED, ERROR_BAD_NETPATH}, {ENETDOWN, ERROR_BAD_NETPATH},
    {EEXIST, ERROR_FILE_EXISTS},       {EISDIR, ERROR_ACCESS_DENIED},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
};

bool IsMissing(int p_error) { return p_error == ENOENT || p_error == ENOTDIR; }
// libsmbclient's answer when it could not reach the server at all.
bool IsUnreachable(int p_error) { return p_error == EINVAL; }
bool IsDenied(int p_error) { return p_error == EACCES || p_error == EPERM; }

std::string ParentOf(const std::string& p_path) {
  const std::size_t slash = p_path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p_path.substr(0, slash);
}

}  // namespace

DWORD Win32ErrorForUncErrno(int p_error) {
  for (const ErrnoToWin32& entry : kFileErrors) {
    if (entry.errnoValue == p_error) return entry.win32Error;
  }
  return Win32ErrorFromErrno(p_error);
}

DWORD Win32ErrorForShare(SmbClientLease& p_client, const UncPath& p_path, int p_error) {
  if (IsDenied(p_error)) return ERROR_NETWORK_ACCESS_DENIED;
  if (!IsMissing(p_error) && !IsUnreachable(p_error)) return Win32ErrorForUncErrno(p_error);
  // A missing share and a missing server both come as ENOENT: a server that
  // answers with its share list has no share of that name.
  std::vector<SmbDirectoryEntry> shares;
  const int serverError =
      p_client.ListDirectory(ServerUrl(p_path.server), SmbClientLease::ListingKind::kNetwork, shares);
  if (serverError == 0 || IsDenied(serverError)) return ERROR_BAD_NET_NAME;
  return ERROR_BAD_NETPATH;
}

DWORD Win32ErrorForUncPath(SmbClientLease& p_client, const UncPath& p_path, int p_error) {
  if (!IsMissing(p_error) && !IsDenied(p_error) && !IsUnreachable(p_error)) return Win32ErrorForUncErrno(p_error);
  struct stat status {};
  const int shareError = p_client.Stat(ShareUrl(p_path), status);
  if (shareError != 0) return Win32ErrorForShare(p_client, p_path, shareError);
  if (IsDenied(p_error)) return ERROR_ACCESS_DENIED;
  if (IsUnreachable(p_error)) return ERROR_INVALID_NAME;  // the share answers; the name is what it refused
  if (p_path.folder.find('/') == std::string::npos) return ERROR_FILE_NOT_FOUND;
  const int folderError = p_client.Stat(ParentUrl(p_path), status);
  return folderError == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD Win32ErrorForLocalPath(const std::string& p_path, int p_error) {
  if (IsMissing(p_error)) {
    struct stat status {};
    const bool folderExists = ::stat(ParentOf(p_path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    return folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  return Win32ErrorForUncErrno(p_error);
}

}  // namespace kestnet::platform::smb
