// The file calls of "KERNEL32.DLL" (fileapi.h / winbase.h pieces) the
// Windows-networking code makes, on UNC paths and local paths alike.
//
// A path beginning with two backslashes (or two slashes) is a UNC path,
// "\\SERVER\share\dir\file": it is reached through Samba's libsmbclient in
// the configured protocol range, logging on as Windows does for an account
// that has no stored credentials for the server (see smb_session.h). Any
// other path is a local POSIX path ('\' taken as '/').
//
// Every failure returns the call's failure value and sets the thread's last
// error to the Win32 number Windows reports in the same situation:
//   ERROR_FILE_NOT_FOUND          the file is missing (its folder exists);
//   ERROR_PATH_NOT_FOUND          a folder of the path is missing;
//   ERROR_BAD_NET_NAME            the server has no such share;
//   ERROR_BAD_NETPATH             the server is not found or not answering;
//   ERROR_NETWORK_ACCESS_DENIED   the server refused the connection to the share;
//   ERROR_ACCESS_DENIED           the share or file refuses the operation
//                                 (a read-only share refusing a write);
//   ERROR_FILE_EXISTS             a copy refused to replace (bFailIfExists),
//                                 a temporary name already taken;
//   ERROR_ALREADY_EXISTS          a folder to create exists;
//   ERROR_INVALID_PARAMETER       a null or empty argument;
//   ERROR_INVALID_NAME            a UNC path without a share, or too long;
//   otherwise the errno mapping of platform/os/last_error.h.
#pragma once

#include "platform/os/win_types.h"

constexpr DWORD MAX_PATH = 260;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using PWIN32_FIND_DATAA = WIN32_FIND_DATAA*;
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// lpFileName is a folder and a last element that may hold the wildcards '*'
// and '?' ("\\SERVER\share\*", "/tmp/x/*.txt"); names compare without regard
// to case, as on a Windows share. "." and ".." are found as Windows finds them
// (only in a folder that is not a share's root). The first match fills
// *lpFindFileData; the handle gives the rest through FindNextFileA. No match
// in an existing folder: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
// FALSE with ERROR_NO_MORE_FILES at the end, ERROR_INVALID_HANDLE for a
// handle FindFirstFileA did not give.
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// Copies a file's bytes between any two paths, local or UNC. With
// bFailIfExists an existing destination gives ERROR_FILE_EXISTS; without it
// the destination is replaced. A copy that fails part way removes what it
// wrote.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL DeleteFileA(LPCSTR lpFileName);
// lpSecurityAttributes is accepted and ignored: a new folder gets the
// share's (or the process's) default rights.
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// Only an empty folder is removed (ERROR_DIR_NOT_EMPTY otherwise).
BOOL RemoveDirectoryA(LPCSTR lpPathName);

// The folder for temporary files, with a trailing '/': $TMPDIR when set, else
// "/tmp/". Returns its length without the terminating zero, or, when
// nBufferLength is too small, the size needed including it (lpBuffer
// untouched); 0 with the last error on failure.
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

// lpTempFileName (at least MAX_PATH bytes) receives lpPathName + '/' + up to
// three characters of lpPrefixString + a hexadecimal number + ".tmp".
// uUnique 0: numbers are tried from a time-based start until a name is free,
// and that file is created empty (never replacing one); the number used is
// returned. uUnique non-zero: the name is made with it, nothing is created,
// and uUnique is returned. 0 on failure (ERROR_PATH_NOT_FOUND for a missing
// folder, ERROR_FILE_EXISTS when all 65535 numbers are taken, ERROR_BUFFER_OVERFLOW
// when the name would exceed MAX_PATH).
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                      LPSTR lpTempFileName);
