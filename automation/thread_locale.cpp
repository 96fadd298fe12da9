#include "automation/thread_locale.h"

#include "platform/os/last_error.h"

namespace {

thread_local LCID t_threadLocale = LOCALE_USER_DEFAULT;

}  // namespace

LCID GetThreadLocale() { return t_threadLocale; }

BOOL SetThreadLocale(LCID locale) {
  if (locale == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t_threadLocale = locale;
  return TRUE;
}

namespace KestAXLib {

ScopedThreadLocale::ScopedThreadLocale(LCID locale) : previous_(GetThreadLocale()) { SetThreadLocale(locale); }

ScopedThreadLocale::~ScopedThreadLocale() { SetThreadLocale(previous_); }

}  // namespace KestAXLib
