// SIDs and the process token, answered from the process's credentials.
#include "platform/os/token.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/utf8.h"
#include "platform/os/version.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"

namespace kestnet::platform {
namespace {

// The handle table knows the kinds of the synchronisation objects only; a
// token is told apart by its own kind value, which no other object uses.
constexpr auto kTokenKind = static_cast<ObjectKind>(0x544F4B);

constexpr DWORD kSidHeaderSize = 8;  // revision, count, authority

DWORD SidSize(BYTE subAuthorityCount) { return kSidHeaderSize + 4U * subAuthorityCount; }

// A SID kept by value inside the token.
using SidBytes = std::vector<BYTE>;

SidBytes MakeSid(const SID_IDENTIFIER_AUTHORITY& authority, std::initializer_list<DWORD> subAuthorities) {
  SidBytes bytes(SidSize(static_cast<BYTE>(subAuthorities.size())));
  auto* sid = reinterpret_cast<SID*>(bytes.data());
  sid->Revision = SID_REVISION;
  sid->SubAuthorityCount = static_cast<BYTE>(subAuthorities.size());
  sid->IdentifierAuthority = authority;
  std::copy(subAuthorities.begin(), subAuthorities.end(), sid->SubAuthority);
  return bytes;
}

// The groups that make a Linux user an administrator.
constexpr const char* kAdministratorGroups[] = {"sudo", "wheel", "admin"};

constexpr std::size_t kLargestGroupEntry = std::size_t{1} << 20;

bool BelongsToAdministratorGroup() {
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)) + 1);
  const int filled = getgroups(count, groups.data());
  groups.resize(static_cast<std::size_t>(std::max(filled, 0)));
  groups.push_back(getegid());
  for (const char* name : kAdministratorGroups) {
    // getgrnam_r keeps this safe on any thread; a group with a long member
    // list needs a larger buffer, which it says with ERANGE.
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    int error = 0;
    while ((error = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < kLargestGroupEntry) {
      buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || found == nullptr) continue;
    if (std::find(groups.begin(), groups.end(), found->gr_gid) != groups.end()) return true;
  }
  return false;
}

struct TokenGroup {
  SidBytes sid;
  DWORD attributes;
};

class TokenObject : public KernelObject {
 public:
  explicit TokenObject(bool impersonation) : m_impersonation(impersonation) {
    const uid_t euid = geteuid();
    m_user = MakeSid(SECURITY_NT_AUTHORITY, {21, 0, 0, 0, static_cast<DWORD>(1000 + euid)});
    m_elevated = euid == 0;
    m_administrator = m_elevated || BelongsToAdministratorGroup();
    DWORD integrity = SECURITY_MANDATORY_MEDIUM_RID;
    if (m_elevated) {
      integrity = SECURITY_MANDATORY_HIGH_RID;
    } else if (ReadVersionProfile().Integrity == static_cast<DWORD>(ProfileIntegrity::Low)) {
      integrity = SECURITY_MANDATORY_LOW_RID;
    }
    m_integrity = MakeSid(SECURITY_MANDATORY_LABEL_AUTHORITY, {integrity});

    constexpr DWORD kEnabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    m_groups.push_back({MakeSid(SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}), kEnabled});
    if (m_administrator) {
      m_groups.push_back({MakeSid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}),
                          kEnabled});
    }
    m_groups.push_back(
        {MakeSid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}), kEnabled});
    m_groups.push_back({m_integrity, SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED});
  }

  ObjectKind Kind() const override { return kTokenKind; }

  bool IsImpersonation() const { return m_impersonation; }
  const SidBytes& User() const { return m_user; }
  const SidBytes& Integrity() const { return m_integrity; }
  const std::vector<TokenGroup>& Groups() const { return m_groups; }
  bool Elevated() const { return m_elevated; }

 private:
  bool m_impersonation;
  bool m_elevated = false;
  bool m_administrator = false;
  SidBytes m_user;
  SidBytes m_integrity;
  std::vector<TokenGroup> m_groups;
};

// Whether the calling thread impersonates its process (ImpersonateSelf).
thread_local bool t_impersonating = false;

HANDLE InsertToken(bool impersonation) {
  std::shared_ptr<TokenObject> token;
  try {
    token = std::make_shared<TokenObject>(impersonation);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return InsertHandle(std::move(token));
}

std::shared_ptr<TokenObject> LookupToken(HANDLE handle) {
  std::shared_ptr<KernelObject> object = LookupHandle(handle);
  if (!object || object->Kind() != kTokenKind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<TokenObject>(object);
}

// Answers a GetTokenInformation call with `needed` bytes, written by `fill`
// when the caller's buffer is large enough.
template <typename Fill>
BOOL Answer(LPVOID buffer, DWORD bufferLength, PDWORD returnLength, DWORD needed, Fill fill) {
  *returnLength = needed;
  if (buffer == nullptr || bufferLength < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  fill(static_cast<BYTE*>(buffer));
  return TRUE;
}

std::string SidText(const SID* sid) {
  std::string text = "S-" + std::to_string(sid->Revision) + "-";
  const BYTE* authority = sid->IdentifierAuthority.Value;
  if (authority[0] == 0 && authority[1] == 0) {
    const unsigned long value = (static_cast<unsigned long>(authority[2]) << 24) |
                                (static_cast<unsigned long>(authority[3]) << 16) |
                                (static_cast<unsigned long>(authority[4]) << 8) | authority[5];
    text += std::to_string(value);
  } else {
    // Authorities above 32 bits are written in hexadecimal, as Windows does.
    static constexpr char kHex[] = "0123456789ABCDEF";
    text += "0x";
    for (int i = 0; i < 6; ++i) {
      text += kHex[authority[i] >> 4];
      text += kHex[authority[i] & 0xF];
    }
  }
  for (BYTE i = 0; i < sid->SubAuthorityCount; ++i) {
    text += '-';
    text += std::to_string(sid->SubAuthority[i]);
  }
  return text;
}

}  // namespace
}  // namespace kestnet::platform

using namespace kestnet::platform;

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                              DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                              DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                              DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid) {
  if (pIdentifierAuthority == nullptr || pSid == nullptr || nSubAuthorityCount == 0 || nSubAuthorityCount > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* sid = static_cast<SID*>(std::calloc(1, SidSize(nSubAuthorityCount)));
  if (sid == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  const DWORD subAuthorities[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                                   nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  sid->Revision = SID_REVISION;
  sid->SubAuthorityCount = nSubAuthorityCount;
  sid->IdentifierAuthority = *pIdentifierAuthority;
  std::memcpy(sid->SubAuthority, subAuthorities, 4U * nSubAuthorityCount);
  *pSid = sid;
  return TRUE;
}

PVOID FreeSid(PSID pSid) {
  std::free(pSid);
  return nullptr;
}

BOOL IsValidSid(PSID pSid) {
  const auto* sid = static_cast<const SID*>(pSid);
  return sid != nullptr && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES
             ? TRUE
             : FALSE;
}

DWORD GetLengthSid(PSID pSid) {
  if (!IsValidSid(pSid)) return 0;
  return SidSize(static_cast<const SID*>(pSid)->SubAuthorityCount);
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
  if (!IsValidSid(pSid1) || !IsValidSid(pSid2)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  const DWORD length = GetLengthSid(pSid1);
  SetLastError(ERROR_SUCCESS);
  return length == GetLengthSid(pSid2) && std::memcmp(pSid1, pSid2, length) == 0 ? TRUE : FALSE;
}

BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
  if (StringSid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsValidSid(Sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  const std::string text = SidText(static_cast<const SID*>(Sid));
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::memcpy(copy, text.c_str(), text.size() + 1);
  *StringSid = copy;
  return TRUE;
}

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
  if (StringSid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsValidSid(Sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  const std::wstring text = WideFromUtf8(SidText(static_cast<const SID*>(Sid)));
  auto* copy = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::wmemcpy(copy, text.c_str(), text.size() + 1);
  *StringSid = copy;
  return TRUE;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD /*DesiredAccess*/, PHANDLE TokenHandle) {
  if (TokenHandle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (ProcessHandle != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HANDLE token = InsertToken(false);
  if (token == nullptr) return FALSE;
  *TokenHandle = token;
  return TRUE;
}

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD /*DesiredAccess*/, BOOL /*OpenAsSelf*/, PHANDLE TokenHandle) {
  if (TokenHandle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (ThreadHandle != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!t_impersonating) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  HANDLE token = InsertToken(true);
  if (token == nullptr) return FALSE;
  *TokenHandle = token;
  return TRUE;
}

BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL ImpersonationLevel) {
  if (ImpersonationLevel < SecurityAnonymous || ImpersonationLevel > SecurityDelegation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t_impersonating = true;
  return TRUE;
}

BOOL RevertToSelf() {
  t_impersonating = false;
  return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
  if (ReturnLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<TokenObject> token = LookupToken(TokenHandle);
  if (!token) return FALSE;

  // A SID_AND_ATTRIBUTES header followed by the SID it points at.
  auto answerOneSid = [&](const SidBytes& sid, DWORD attributes) {
    const DWORD needed = static_cast<DWORD>(sizeof(SID_AND_ATTRIBUTES) + sid.size());
    return Answer(TokenInformation, TokenInformationLength, ReturnLength, needed, [&](BYTE* out) {
      auto* entry = reinterpret_cast<SID_AND_ATTRIBUTES*>(out);
      BYTE* sidCopy = out + sizeof(SID_AND_ATTRIBUTES);
      std::memcpy(sidCopy, sid.data(), sid.size());
      entry->Sid = sidCopy;
      entry->Attributes = attributes;
    });
  };

  switch (TokenInformationClass) {
    case TokenUser:
      return answerOneSid(token->User(), 0);
    case TokenIntegrityLevel:
      return answerOneSid(token->Integrity(), SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED);
    case TokenElevation:
      return Answer(TokenInformation, TokenInformationLength, ReturnLength, sizeof(TOKEN_ELEVATION),
                    [&](BYTE* out) {
                      reinterpret_cast<TOKEN_ELEVATION*>(out)->TokenIsElevated = token->Elevated() ? 1 : 0;
                    });
    case TokenGroups: {
      const auto& groups = token->Groups();
      const std::size_t headerSize = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
      std::size_t needed = headerSize;
      for (const TokenGroup& group : groups) needed += group.sid.size();
      return Answer(TokenInformation, TokenInformationLength, ReturnLength, static_cast<DWORD>(needed),
                    [&](BYTE* out) {
                      auto* list = reinterpret_cast<TOKEN_GROUPS*>(out);
                      list->GroupCount = static_cast<DWORD>(groups.size());
                      BYTE* next = out + headerSize;
                      for (std::size_t i = 0; i < groups.size(); ++i) {
                        std::memcpy(next, groups[i].sid.data(), groups[i].sid.size());
                        list->Groups[i].Sid = next;
                        list->Groups[i].Attributes = groups[i].attributes;
                        next += groups[i].sid.size();
                      }
                    });
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
  if (IsMember == nullptr || !IsValidSid(SidToCheck)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<TokenObject> token;
  if (TokenHandle == nullptr) {
    try {
      token = std::make_shared<TokenObject>(true);
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
  } else {
    token = LookupToken(TokenHandle);
    if (!token) return FALSE;
    if (!token->IsImpersonation()) {
      SetLastError(ERROR_NO_IMPERSONATION_TOKEN);
      return FALSE;
    }
  }
  const DWORD length = GetLengthSid(SidToCheck);
  *IsMember = FALSE;
  for (const TokenGroup& group : token->Groups()) {
    if ((group.attributes & SE_GROUP_ENABLED) != 0 && group.sid.size() == length &&
        std::memcmp(group.sid.data(), SidToCheck, length) == 0) {
      *IsMember = TRUE;
    }
  }
  return TRUE;
}
