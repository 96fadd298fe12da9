// Privilege questions answered from the process token.
#include "utils/privileges.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/os/token.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "utils/os_identification.h"

namespace KestUtils {
namespace {

constexpr const char* kLogClass = "KestUtils::Privileges";

constexpr const wchar_t* kLowIntegritySid = L"S-1-16-4096";
constexpr const wchar_t* kHighIntegritySid = L"S-1-16-12288";
constexpr const wchar_t* kSystemIntegritySid = L"S-1-16-16384";

unsigned long ErrorForLog() { return static_cast<unsigned long>(GetLastError()); }

// Owners of what the token questions open; each releases in its destructor,
// so every way out of an operation closes, frees and reverts.
struct TokenCloser {
  HANDLE token = nullptr;
  ~TokenCloser() {
    if (token != nullptr) CloseHandle(token);
  }
};

struct SidFreer {
  PSID sid = nullptr;
  ~SidFreer() {
    if (sid != nullptr) FreeSid(sid);
  }
};

struct Reverter {
  bool impersonating = false;
  ~Reverter() {
    if (impersonating) RevertToSelf();
  }
};

struct LocalFreer {
  void* memory = nullptr;
  ~LocalFreer() { LocalFree(memory); }
};

// Runs an operation that answers false on any failure, logging what it caught
// with the operation's name.
template <typename Body>
bool FalseOnFailure(const char* operation, Body body) noexcept {
  try {
    return body();
  } catch (const KestBase::HRESULTException& exception) {
    Log(kLogClass, kLogLevelWarning, "%s():  Exception - HRESULT = <0x%08.8X>", operation,
        static_cast<unsigned>(exception.GetHRESULT()));
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kLogClass, operation, exception);
  } catch (...) {
    Log(kLogClass, kLogLevelWarning, "%s():  Exception - Unknown.", operation);
  }
  return false;
}

// True when `sid` is one of the token's groups (enabled or not: Windows
// lists a group whether or not it is in force, and so does the question).
bool TokenGroupsContain(HANDLE token, PSID sid) {
  DWORD needed = 0;
  if (GetTokenInformation(token, TokenGroups, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  // Sized by the token's answer rather than a fixed buffer, so that a user
  // with many groups is not refused; kept aligned for the pointers inside.
  std::vector<std::uintptr_t> buffer((needed + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t));
  if (!GetTokenInformation(token, TokenGroups, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(std::uintptr_t)), &needed)) {
    return false;
  }
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (EqualSid(groups->Groups[i].Sid, sid)) return true;
  }
  return false;
}

}  // namespace

Privileges::Privileges() {
  try {
    // The user-account entry points live in the platform layer here; nothing
    // is loaded at construction, but the 9x family still says why.
    if (!KestUtilsLib::IsNTPlatform()) {
      Log(kLogClass, kLogLevelInformation, "Privilages():  Running on non-NT Based OS. Not loading NetAPI32.dll");
    }
  } catch (...) {
    // The object holds nothing that the failure could leave half made; every
    // question reports its own failure, so construction logs and goes on.
    Log(kLogClass, kLogLevelWarning, "%s():  Failed to construct properly.", "Privilages");
  }
}

Privileges::~Privileges() = default;

bool Privileges::IsUserAdministrator() {
  return FalseOnFailure("IsUserAdministrator", [] {
    if (!KestUtilsLib::IsNTPlatform()) return true;

    Reverter reverter;
    if (!ImpersonateSelf(SecurityImpersonation)) {
      Log(kLogClass, kLogLevelWarning, "IsUserAdministrator():  ImpersonateSelf() failed with error %lu",
          ErrorForLog());
      return false;
    }
    reverter.impersonating = true;

    TokenCloser token;
    bool impersonationToken = true;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token.token)) {
      if (GetLastError() != ERROR_NO_TOKEN) {
        Log(kLogClass, kLogLevelWarning, "IsUserAdministrator():  OpenThreadToken() failed with error %lu",
            ErrorForLog());
        return false;
      }
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.token)) {
        Log(kLogClass, kLogLevelWarning, "IsUserAdministrator():  OpenProcessToken() failed with error %lu",
            ErrorForLog());
        return false;
      }
      impersonationToken = false;
    }

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    SidFreer administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &administrators.sid)) {
      Log(kLogClass, kLogLevelWarning, "IsUserAdministrator():  AllocateAndInitializeSid() failed with error %lu",
          ErrorForLog());
      return false;
    }

    // Membership of the enabled Administrators group is what an access check
    // against a descriptor granting that group alone would find. A process
    // token is no impersonation token, so it is asked about as the caller's
    // own credentials.
    BOOL member = FALSE;
    if (!CheckTokenMembership(impersonationToken ? token.token : nullptr, administrators.sid, &member)) {
      Log(kLogClass, kLogLevelWarning, "IsUserAdministrator():  CheckTokenMembership() failed with error %lu",
          ErrorForLog());
      return false;
    }
    return member != FALSE;
  });
}

bool Privileges::IsPowerUser() {
  return FalseOnFailure("IsPowerUser", [] {
    if (!KestUtilsLib::IsNTPlatform()) return true;
    TokenCloser token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token.token)) return false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    SidFreer powerUsers;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_POWER_USERS, 0,
                                  0, 0, 0, 0, 0, &powerUsers.sid)) {
      return false;
    }
    return TokenGroupsContain(token.token, powerUsers.sid);
  });
}

bool Privileges::GetProcessIntegrityLevel(std::wstring& p_cstrwIntegrityLevel) {
  p_cstrwIntegrityLevel.clear();
  return FalseOnFailure("GetProcessIntegrityLevel", [&p_cstrwIntegrityLevel] {
    TokenCloser token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_QUERY_SOURCE, &token.token)) {
      Log(kLogClass, kLogLevelWarning, "GetProcessIntegrityLevel():  Error - Failed OpenProcessToken (%X).",
          static_cast<unsigned>(GetLastError()));
      return false;
    }
    DWORD needed = 0;
    if (!GetTokenInformation(token.token, TokenIntegrityLevel, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      Log(kLogClass, kLogLevelWarning, "GetProcessIntegrityLevel():  Error - Failed GetTokenInformation (%X).",
          static_cast<unsigned>(GetLastError()));
      return false;
    }
    std::unique_ptr<std::uintptr_t[]> label(
        new (std::nothrow) std::uintptr_t[(needed + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t)]);
    if (!label) {
      Log(kLogClass, kLogLevelWarning, "GetProcessIntegrityLevel():  Error - Insufficient memory for pTIL.");
      return false;
    }
    if (!GetTokenInformation(token.token, TokenIntegrityLevel, label.get(), needed, &needed)) {
      Log(kLogClass, kLogLevelWarning, "GetProcessIntegrityLevel():  Error - Failed GetTokenInformation (%X).",
          static_cast<unsigned>(GetLastError()));
      return false;
    }
    LocalFreer text;
    LPWSTR sidText = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.get())->Label.Sid,
                                &sidText)) {
      Log(kLogClass, kLogLevelWarning,
          "GetProcessIntegrityLevel():  Error - Failed ConvertSidToStringSidW (%X).",
          static_cast<unsigned>(GetLastError()));
      return false;
    }
    text.memory = sidText;
    p_cstrwIntegrityLevel = sidText;
    return true;
  });
}

bool Privileges::IsLowIntegrityProcess() {
  return FalseOnFailure("IsLowIntegrityProcess", [this] {
    if (!KestUtilsLib::IsXPOrLaterNT()) return false;
    std::wstring level;
    return GetProcessIntegrityLevel(level) && level == kLowIntegritySid;
  });
}

bool Privileges::IsElevatedProcess() {
  return FalseOnFailure("IsElevatedProcess", [this] {
    if (KestUtilsLib::IsWin9xPlatform()) return true;
    if (KestUtilsLib::IsVistaOrLaterNT()) {
      std::wstring level;
      if (!GetProcessIntegrityLevel(level)) return false;
      return level == kHighIntegritySid || level == kSystemIntegritySid;
    }
    return IsUserAdministrator();
  });
}

}  // namespace KestUtils
