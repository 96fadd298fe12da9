// The Win32 error numbers Windows reports for a failed file or share call,
// from the errno value Samba's client or the kernel gave.
//
// An errno value alone is too coarse: libsmbclient reports a missing file, a
// missing folder and a missing share all as ENOENT, and a refused share
// connection and a refused write both as EACCES. Where Windows tells these
// apart, the server (or the local file system) is asked what exists.
#pragma once

#include <string>

#include "platform/os/win_types.h"
#include "platform/smb/smb_session.h"
#include "platform/smb/unc_path.h"

namespace kestnet::platform::smb {

// For a call on p_path that failed with p_error:
//   ENOENT/ENOTDIR  ERROR_FILE_NOT_FOUND (the folder exists),
//                   ERROR_PATH_NOT_FOUND (the share exists, the folder not),
//                   else as the share itself fails (below);
//   EACCES/EPERM    ERROR_NETWORK_ACCESS_DENIED when the share refuses the
//                   connection, else ERROR_ACCESS_DENIED;
//   EINVAL          (libsmbclient's answer when it reaches no server) as the
//                   share fails, else ERROR_INVALID_NAME;
//   others          as Win32ErrorForUncErrno.
DWORD Win32ErrorForUncPath(SmbClientLease& p_client, const UncPath& p_path, int p_error);

// For the share (or server) of p_path failing with p_error: EACCES is
// ERROR_NETWORK_ACCESS_DENIED; ENOENT and EINVAL are ERROR_BAD_NET_NAME when
// the server answers with its share list, else ERROR_BAD_NETPATH.
DWORD Win32ErrorForShare(SmbClientLease& p_client, const UncPath& p_path, int p_error);

// Without asking the server: an unreachable server (refused, unreachable,
// timed out, unresolvable) ERROR_BAD_NETPATH, EACCES ERROR_ACCESS_DENIED,
// EEXIST ERROR_FILE_EXISTS, EISDIR ERROR_ACCESS_DENIED (as Windows refuses to
// delete a folder as a file), ENOTEMPTY ERROR_DIR_NOT_EMPTY, the rest as
// platform/os/last_error.h maps errno.
DWORD Win32ErrorForUncErrno(int p_error);

// The same for a local path (no server): ENOENT is ERROR_FILE_NOT_FOUND when
// the folder holding p_path exists, else ERROR_PATH_NOT_FOUND.
DWORD Win32ErrorForLocalPath(const std::string& p_path, int p_error);

}  // namespace kestnet::platform::smb
