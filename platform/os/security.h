// Security descriptors, enough for objects to keep a copy and for named
// objects to choose who may open them.
//
// Windows semantics kept: a descriptor starts empty (no DACL: an object created
// with it gets the creator's default protection); SetSecurityDescriptorDacl
// with bDaclPresent TRUE and a null pDacl gives a null DACL (everyone may open
// the object); a present, non-null DACL restricts access. A self-relative copy is one contiguous block
// of GetSecurityDescriptorLength bytes that can be copied and freed as a whole.
//
// Linux: only whether the DACL is null matters. Named objects created with a
// null DACL get mode 0666; otherwise (no attributes, no DACL, or a real DACL)
// they are owner-only (0600). ACL contents are kept as
// opaque bytes and not interpreted.
#pragma once

#include "platform/os/win_types.h"

constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
constexpr DWORD SECURITY_DESCRIPTOR_MIN_LENGTH = 40;

using SECURITY_DESCRIPTOR_CONTROL = WORD;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PRESENT = 0x0004;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_DEFAULTED = 0x0008;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SELF_RELATIVE = 0x8000;

// An access control list: the header of the Windows layout; the entries that
// follow it (AclSize bytes in all) are kept but not interpreted.
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
using PACL = ACL*;

// Opaque to callers: build it with the functions below. The absolute form
// points at the caller's ACL; the self-relative form carries the ACL after the
// header, and Dacl then holds its offset.
struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  DWORD Reserved;
  PACL Dacl;
  void* Reserved2[3];
};
static_assert(sizeof(SECURITY_DESCRIPTOR) == SECURITY_DESCRIPTOR_MIN_LENGTH);

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL* lpbDaclPresent, PACL* pDacl,
                               BOOL* lpbDaclDefaulted);
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor);
DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor);
// Copies an absolute (or self-relative) descriptor into one block; when the
// buffer is too small, sets *lpdwBufferLength to the size needed and fails
// with ERROR_INSUFFICIENT_BUFFER.
BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor, LPDWORD lpdwBufferLength);

namespace kestnet::platform {

// The file mode a named object created with these attributes gets: 0666 for
// a descriptor with a null DACL, 0600 otherwise.
unsigned NamedObjectFileMode(const SECURITY_ATTRIBUTES* attributes);

}  // namespace kestnet::platform
