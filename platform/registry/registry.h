// The registry store behind the Win32 registry calls.
//
// Keys and typed values live in SQLite databases, one per hive: the machine hive
// (HKEY_LOCAL_MACHINE) under kestnet::platform::MachineDataDirectory() and the
// user hive (HKEY_CURRENT_USER) under UserDataDirectory(). HKEY_CLASSES_ROOT is
// the merged view of Software\Classes of both hives. The functions keep the
// Windows SDK names, signatures and results (Win32 error numbers as LONG), so the
// Windows documentation describes them; the differences that matter on Linux:
//
// - Narrow ("A") forms take and return UTF-8. Wide ("W") forms take wchar_t text,
//   which is 4 bytes here: the data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ
//   values is wchar_t text in the caller's buffer and every size is in bytes of
//   wchar_t, exactly as a caller computes it with sizeof(wchar_t). Both forms
//   read and write the same values; string data is kept as UTF-8 in the store.
// - Key and value names compare without regard to case (Unicode simple case
//   folding); the spelling kept is the one the key or value was created with.
// - HKEY_CLASSES_ROOT merges Software\Classes of both hives, looked up anew on
//   every call: reads take the user's value first, then the machine's;
//   enumeration shows the union once (the user's spelling on a tie); a write
//   goes to the machine hive unless the key exists only in the user hive (a new
//   key goes where the deepest existing part of its path is, the machine hive
//   on a tie); a deletion through it removes the key or value from both hives.
//   RegOverridePredefKey(HKEY_CLASSES_ROOT, key) sends every classes call to
//   that key instead (per-user registration).
// - Every write is one transaction; several processes may use the store at once,
//   and a process killed in the middle of a write leaves it consistent.
// - Security descriptors are not enforced; RegSetKeySecurity keeps the bytes with
//   the key and RegGetKeySecurity returns them. Access rights of a handle are:
//   a key opened for reading only fails writes with ERROR_ACCESS_DENIED.
// - KEY_WOW64_64KEY and KEY_WOW64_32KEY are accepted; there is one view.
//
// Every function is thread-safe. Handles are process-local; a handle stays
// valid when another thread or process deletes its key, and operations through
// it then fail with ERROR_KEY_DELETED. A process that forks may keep using its
// handles in the child (the child opens its own database connections).
#pragma once

#include <string>

#include "platform/os/win_types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;


// Predefined keys: fixed handle values, as in the Windows SDK.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000000))))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001))))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002))))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000003))))

// Access rights (REGSAM). The standard rights they are built from (DELETE
// 0x10000, READ_CONTROL 0x20000, WRITE_DAC 0x40000) and the generic rights
// (GENERIC_READ ...) and MAXIMUM_ALLOWED are accepted with their Windows values.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x00020019;     // READ_CONTROL | QUERY_VALUE | ENUMERATE_SUB_KEYS | NOTIFY
constexpr REGSAM KEY_WRITE = 0x00020006;    // READ_CONTROL | SET_VALUE | CREATE_SUB_KEY
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;  // standard rights and every KEY_ right

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// RegCreateKeyEx options and dispositions.
constexpr DWORD REG_OPTION_RESERVED = 0x0;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_OPTION_VOLATILE = 0x1;
constexpr DWORD REG_CREATED_NEW_KEY = 0x1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 0x2;

// Win32 error numbers only the registry calls produce.
constexpr DWORD ERROR_INVALID_DATATYPE = 1804;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// lpClass is kept with a newly created key; REG_OPTION_VOLATILE is refused with
// ERROR_INVALID_PARAMETER (the store has no volatile keys); lpSecurityAttributes'
// descriptor, when given, is stored with a newly created key.
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Fails with ERROR_ACCESS_DENIED while the key has subkeys. An empty lpSubKey
// deletes the key hKey refers to.
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// Deletes the subkey with everything below it; with a null or empty lpSubKey,
// deletes the values and subkeys of hKey but keeps hKey itself.
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);

// Subkeys enumerate in case-insensitive name order; values in creation order.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime);

LSTATUS RegCloseKey(HKEY hKey);

// Every write is consistent when its call returns and durable against power
// loss after a lazy flush a few seconds later; this makes everything written
// to the key's hive so far durable now.
LSTATUS RegFlushKey(HKEY hKey);

// The descriptor is one built with platform/os/security.h; its self-relative
// copy (GetSecurityDescriptorLength bytes) is kept with the key. A key that
// never had one set gives an empty descriptor (*lpcbSecurityDescriptor = 0).
// SecurityInformation (a SECURITY_INFORMATION mask) is accepted and not used:
// the whole descriptor is kept and returned.
LSTATUS RegGetKeySecurity(HKEY hKey, DWORD SecurityInformation, PSECURITY_DESCRIPTOR pSecurityDescriptor,
                          LPDWORD lpcbSecurityDescriptor);
LSTATUS RegSetKeySecurity(HKEY hKey, DWORD SecurityInformation, PSECURITY_DESCRIPTOR pSecurityDescriptor);

// Maps a predefined key to another open key for the rest of the process (or
// until called again with a null hNewHKey). The store keeps its own reference,
// so hNewHKey may be closed afterwards.
LSTATUS RegOverridePredefKey(HKEY hKey, HKEY hNewHKey);

namespace kestnet::platform {

// Adds lAddend to the REG_QWORD value (a missing value counts as 0) in one
// transaction, so increments from several threads or processes are never lost.
// *pullResult (optional) receives the new value. A value of another type gives
// ERROR_INVALID_DATATYPE.
LSTATUS RegAddToQwordValueW(HKEY hKey, LPCWSTR lpValueName, LONGLONG lAddend, ULONGLONG* pullResult);

// The full path of an open key, for messages: "HKEY_LOCAL_MACHINE\Software\X"
// (predefined roots by their long names, merged classes keys under
// HKEY_CLASSES_ROOT). Empty when the handle is invalid.
std::wstring RegKeyPathForDisplay(HKEY hKey);

}  // namespace kestnet::platform
