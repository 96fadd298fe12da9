// The calling thread's locale in the Win32 shape (GetThreadLocale /
// SetThreadLocale). Registration switches it to the system default while
// its scripts run and puts the caller's back afterwards.
//
// Each thread starts with LOCALE_USER_DEFAULT. Only the number is kept: on
// Linux nothing else reads it, so changing it never affects how other code
// formats text.
#pragma once

#include "platform/com/variant.h"

LCID GetThreadLocale();
// FALSE (ERROR_INVALID_PARAMETER) for locale 0.
BOOL SetThreadLocale(LCID locale);

namespace KestAXLib {

// Sets the thread's locale for its lifetime and restores the previous one,
// whatever way the scope is left.
class ScopedThreadLocale {
 public:
  explicit ScopedThreadLocale(LCID locale);
  ~ScopedThreadLocale();
  ScopedThreadLocale(const ScopedThreadLocale&) = delete;
  ScopedThreadLocale& operator=(const ScopedThreadLocale&) = delete;

 private:
  LCID previous_;
};

}  // namespace KestAXLib
