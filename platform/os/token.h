// Security identifiers and the access token of the process, enough for the
// questions the system asks: is the user an administrator, is the process
// elevated, what integrity level does it run at.
//
// Windows semantics kept: SIDs are variable-length records built with
// AllocateAndInitializeSid and freed with FreeSid; a token is a handle closed
// with CloseHandle; GetTokenInformation answers a size query with
// ERROR_INSUFFICIENT_BUFFER and the size needed; OpenThreadToken fails with
// ERROR_NO_TOKEN unless the thread impersonates (ImpersonateSelf);
// CheckTokenMembership wants an impersonation token or null (the caller's own
// token).
//
// Linux: the token is a snapshot of the process's credentials when it is
// opened. The user is an administrator (BUILTIN\Administrators, S-1-5-32-544,
// enabled) when the effective uid is 0 or the process belongs to the "sudo",
// "wheel" or "admin" group. The process is elevated and at high integrity
// (S-1-16-12288) when the effective uid is 0; otherwise it is at medium
// integrity (S-1-16-8192), or low (S-1-16-4096) when the version profile says
// so. No Linux credential maps to Power Users, so a token never holds it.
#pragma once

#include "platform/os/win_types.h"

using PSID = void*;
using PBOOL = BOOL*;
using PHANDLE = HANDLE*;
using PDWORD = DWORD*;
using HLOCAL = void*;

struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

// The record behind a PSID: SubAuthorityCount sub-authorities follow the
// authority.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
constexpr SID_IDENTIFIER_AUTHORITY SECURITY_WORLD_SID_AUTHORITY = {{0, 0, 0, 0, 0, 1}};
constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NT_AUTHORITY = {{0, 0, 0, 0, 0, 5}};
constexpr SID_IDENTIFIER_AUTHORITY SECURITY_MANDATORY_LABEL_AUTHORITY = {{0, 0, 0, 0, 0, 16}};

constexpr DWORD SECURITY_WORLD_RID = 0;
constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
constexpr DWORD DOMAIN_ALIAS_RID_ADMINS = 544;
constexpr DWORD DOMAIN_ALIAS_RID_USERS = 545;
constexpr DWORD DOMAIN_ALIAS_RID_POWER_USERS = 547;
constexpr DWORD SECURITY_MANDATORY_UNTRUSTED_RID = 0x0000;
constexpr DWORD SECURITY_MANDATORY_LOW_RID = 0x1000;
constexpr DWORD SECURITY_MANDATORY_MEDIUM_RID = 0x2000;
constexpr DWORD SECURITY_MANDATORY_HIGH_RID = 0x3000;
constexpr DWORD SECURITY_MANDATORY_SYSTEM_RID = 0x4000;

// Win32 error numbers only these calls produce.
constexpr DWORD ERROR_NO_TOKEN = 1008;
constexpr DWORD ERROR_NO_IMPERSONATION_TOKEN = 1309;
constexpr DWORD ERROR_BAD_TOKEN_TYPE = 1349;

// The sub-authorities beyond nSubAuthorityCount are ignored. Fails with
// ERROR_INVALID_PARAMETER for a count of 0 or above 8 (the call's limit) or a
// null argument.
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                              DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                              DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                              DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid);
PVOID FreeSid(PSID pSid);
BOOL IsValidSid(PSID pSid);
DWORD GetLengthSid(PSID pSid);
BOOL EqualSid(PSID pSid1, PSID pSid2);

// "S-1-5-32-544"; the text is freed with LocalFree.
BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);
BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid);

// Memory handed out by the calls above; LocalFree(nullptr) does nothing.
// Returns nullptr on success, as on Windows.
HLOCAL LocalFree(HLOCAL hMem);

constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_READ = 0x00020008;

enum SECURITY_IMPERSONATION_LEVEL {
  SecurityAnonymous,
  SecurityIdentification,
  SecurityImpersonation,
  SecurityDelegation
};

enum TOKEN_INFORMATION_CLASS {
  TokenUser = 1,
  TokenGroups = 2,
  TokenElevation = 20,
  TokenIntegrityLevel = 25,
};

constexpr DWORD SE_GROUP_MANDATORY = 0x00000001;
constexpr DWORD SE_GROUP_ENABLED_BY_DEFAULT = 0x00000002;
constexpr DWORD SE_GROUP_ENABLED = 0x00000004;
constexpr DWORD SE_GROUP_INTEGRITY = 0x00000020;
constexpr DWORD SE_GROUP_INTEGRITY_ENABLED = 0x00000040;

struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};

// GroupCount entries; the SIDs they point at follow in the same buffer.
struct TOKEN_GROUPS {
  DWORD GroupCount;
  SID_AND_ATTRIBUTES Groups[1];
};
using PTOKEN_GROUPS = TOKEN_GROUPS*;

struct TOKEN_MANDATORY_LABEL {
  SID_AND_ATTRIBUTES Label;
};
using PTOKEN_MANDATORY_LABEL = TOKEN_MANDATORY_LABEL*;

struct TOKEN_ELEVATION {
  DWORD TokenIsElevated;
};

// ProcessHandle must be GetCurrentProcess().
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
// ThreadHandle must be GetCurrentThread(). Fails with ERROR_NO_TOKEN when the
// thread does not impersonate.
BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle);
// The calling thread impersonates its own process until RevertToSelf.
BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL ImpersonationLevel);
BOOL RevertToSelf();

// TokenUser, TokenGroups, TokenElevation and TokenIntegrityLevel; other
// classes fail with ERROR_INVALID_PARAMETER.
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength);

// True in *IsMember when the SID is an enabled group of the token. A primary
// token (from OpenProcessToken) fails with ERROR_NO_IMPERSONATION_TOKEN; a
// null TokenHandle asks about the caller's own credentials.
BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember);
