#include "platform/smb/file_path.h"

#include <algorithm>
#include <string_view>

#include "platform/smb/file_calls.h"
#include "platform/smb/path_errors.h"

namespace kestnet::platform::smb {

std::optional<FilePath> ParseFilePath(LPCSTR p_path, DWORD& p_error) {
  if (p_path == nullptr || p_path[0] == '\0') {
    p_error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  FilePath path;
  const std::string_view text(p_path);
  if (IsUncPath(text)) {
    std::optional<UncPath> unc = ParseUncPath(text);
    if (!unc || unc->share.empty()) {
      p_error = ERROR_INVALID_NAME;
      return std::nullopt;
    }
    path.remote = true;
    path.unc = std::move(*unc);
  } else {
    path.local.assign(text);
    std::replace(path.local.begin(), path.local.end(), '\\', '/');
  }
  if ((path.remote ? path.unc.folder.size() : path.local.size()) >= MAX_PATH) {
    p_error = ERROR_INVALID_NAME;
    return std::nullopt;
  }
  p_error = ERROR_SUCCESS;
  return path;
}

DWORD Win32ErrorFor(SmbClientLease* p_client, const FilePath& p_path, int p_error) {
  if (p_path.remote && p_client != nullptr) return Win32ErrorForUncPath(*p_client, p_path.unc, p_error);
  return Win32ErrorForLocalPath(p_path.local, p_error);
}

}  // namespace kestnet::platform::smb
