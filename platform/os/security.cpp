#include "platform/os/security.h"

#include <cstddef>
#include <cstring>

#include "platform/os/last_error.h"

namespace {

SECURITY_DESCRIPTOR* AsDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  return static_cast<SECURITY_DESCRIPTOR*>(descriptor);
}

bool IsSelfRelative(const SECURITY_DESCRIPTOR* descriptor) {
  return (descriptor->Control & SE_SELF_RELATIVE) != 0;
}

// The DACL a descriptor carries, in either form; nullptr when absent or null.
const ACL* DaclOf(const SECURITY_DESCRIPTOR* descriptor) {
  if ((descriptor->Control & SE_DACL_PRESENT) == 0 || descriptor->Dacl == nullptr) return nullptr;
  if (!IsSelfRelative(descriptor)) return descriptor->Dacl;
  auto offset = reinterpret_cast<std::uintptr_t>(descriptor->Dacl);
  return reinterpret_cast<const ACL*>(reinterpret_cast<const BYTE*>(descriptor) + offset);
}

bool ValidAcl(const ACL* acl) { return acl == nullptr || acl->AclSize >= sizeof(ACL); }

}  // namespace

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (pSecurityDescriptor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  AsDescriptor(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted) {
  if (IsValidSecurityDescriptor(pSecurityDescriptor) == FALSE) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  SECURITY_DESCRIPTOR* descriptor = AsDescriptor(pSecurityDescriptor);
  if (IsSelfRelative(descriptor)) {  // Windows refuses to edit the self-relative form
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  if (!ValidAcl(pDacl)) {
    SetLastError(ERROR_INVALID_ACL);
    return FALSE;
  }
  descriptor->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  descriptor->Dacl = nullptr;
  if (bDaclPresent != FALSE) {
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = pDacl;
    if (bDaclDefaulted != FALSE) descriptor->Control |= SE_DACL_DEFAULTED;
  }
  return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL* lpbDaclPresent, PACL* pDacl,
                               BOOL* lpbDaclDefaulted) {
  if (IsValidSecurityDescriptor(pSecurityDescriptor) == FALSE || lpbDaclPresent == nullptr || pDacl == nullptr ||
      lpbDaclDefaulted == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SECURITY_DESCRIPTOR* descriptor = AsDescriptor(pSecurityDescriptor);
  *lpbDaclPresent = (descriptor->Control & SE_DACL_PRESENT) != 0 ? TRUE : FALSE;
  *pDacl = const_cast<PACL>(DaclOf(descriptor));
  *lpbDaclDefaulted = (descriptor->Control & SE_DACL_DEFAULTED) != 0 ? TRUE : FALSE;
  return TRUE;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  if (pSecurityDescriptor == nullptr) return FALSE;
  const SECURITY_DESCRIPTOR* descriptor = AsDescriptor(pSecurityDescriptor);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return FALSE;
  return ValidAcl(DaclOf(descriptor)) ? TRUE : FALSE;
}

DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  if (IsValidSecurityDescriptor(pSecurityDescriptor) == FALSE) return 0;
  const ACL* dacl = DaclOf(AsDescriptor(pSecurityDescriptor));
  return static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR) + (dacl != nullptr ? dacl->AclSize : 0));
}

BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor, LPDWORD lpdwBufferLength) {
  if (IsValidSecurityDescriptor(pAbsoluteSecurityDescriptor) == FALSE || lpdwBufferLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SECURITY_DESCRIPTOR* source = AsDescriptor(pAbsoluteSecurityDescriptor);
  DWORD needed = GetSecurityDescriptorLength(pAbsoluteSecurityDescriptor);
  if (pSelfRelativeSecurityDescriptor == nullptr || *lpdwBufferLength < needed) {
    *lpdwBufferLength = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const ACL* dacl = DaclOf(source);
  auto* target = AsDescriptor(pSelfRelativeSecurityDescriptor);
  std::memset(target, 0, needed);
  target->Revision = source->Revision;
  target->Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(source->Control | SE_SELF_RELATIVE);
  if (dacl != nullptr) {
    std::memcpy(reinterpret_cast<BYTE*>(target) + sizeof(SECURITY_DESCRIPTOR), dacl, dacl->AclSize);
    target->Dacl = reinterpret_cast<PACL>(static_cast<std::uintptr_t>(sizeof(SECURITY_DESCRIPTOR)));
  }
  return TRUE;
}

namespace kestnet::platform {

unsigned NamedObjectFileMode(const SECURITY_ATTRIBUTES* attributes) {
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return 0600;
  auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
  if (IsValidSecurityDescriptor(descriptor) == FALSE) return 0600;
  // A present but null DACL grants every account full access. Without a DACL
  // the creator's default applies, which is owner-only here.
  bool nullDacl = (descriptor->Control & SE_DACL_PRESENT) != 0 && descriptor->Dacl == nullptr;
  return nullDacl ? 0666 : 0600;
}

}  // namespace kestnet::platform
