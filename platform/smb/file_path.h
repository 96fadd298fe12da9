// A path a file call was given, sorted into a UNC path (over Samba's client)
// or a local one.
#pragma once

#include <optional>
#include <string>

#include "platform/os/win_types.h"
#include "platform/smb/smb_session.h"
#include "platform/smb/unc_path.h"

namespace kestnet::platform::smb {

struct FilePath {
  bool remote = false;
  UncPath unc;        // remote
  std::string local;  // local, '\' turned into '/'
};

// Null or empty: ERROR_INVALID_PARAMETER; a UNC path naming no share:
// ERROR_INVALID_NAME (as p_error, nullopt returned).
std::optional<FilePath> ParseFilePath(LPCSTR p_path, DWORD& p_error);

// The Win32 error for a call on p_path that failed with p_error (client is
// used only for a remote path).
DWORD Win32ErrorFor(SmbClientLease* p_client, const FilePath& p_path, int p_error);

}  // namespace kestnet::platform::smb
