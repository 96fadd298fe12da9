// Shared memory sections: CreateFileMapping, OpenFileMapping, MapViewOfFile.
//
// Windows semantics kept: a section backed by the paging file
// (hFile == INVALID_HANDLE_VALUE), created zero-filled with the size
// dwMaximumSizeHigh:dwMaximumSizeLow. Creating a name that exists returns the
// existing section (its size is the creator's, whatever this call asked for)
// and sets ERROR_ALREADY_EXISTS. MapViewOfFile with 0 bytes maps the whole
// section; asking for more than the section holds fails (ERROR_ACCESS_DENIED,
// as Windows reports it), so does an offset that is not a multiple of the
// allocation granularity (64 KiB). A view keeps its section alive after the
// handle is closed. Named sections follow the naming, lifetime and permission
// rules of platform/sync/named_objects.h.
//
// Linux differences: mapping real files (hFile other than
// INVALID_HANDLE_VALUE) and protections other than PAGE_READWRITE /
// PAGE_READONLY are not supported (ERROR_NOT_SUPPORTED / ERROR_INVALID_PARAMETER).
// FlushViewOfFile succeeds at once: the section lives in memory only.
#pragma once

#include "platform/os/win_types.h"
#include "platform/sync/wait.h"

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;

constexpr DWORD SECTION_QUERY = 0x0001;
constexpr DWORD SECTION_MAP_WRITE = 0x0002;
constexpr DWORD SECTION_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_COPY = 0x0001;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName);

// Opens an existing named section; ERROR_FILE_NOT_FOUND when there is none.
HANDLE OpenFileMappingW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
// lpBaseAddress must be an address MapViewOfFile returned.
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);
BOOL FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush);
