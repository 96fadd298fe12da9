#include "platform/sync/critical_section.h"

#include <pthread.h>

#include <new>

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION));

constexpr DWORD kInitializedMark = 0x43534543;  // "CESC": tells a live section from zeroed storage

pthread_mutex_t* Lock(LPCRITICAL_SECTION section) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(section->opaque));
}

}  // namespace

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
  if (lpCriticalSection == nullptr) return FALSE;
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return FALSE;
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  auto* lock = new (lpCriticalSection->opaque) pthread_mutex_t;
  int rc = pthread_mutex_init(lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (rc != 0) return FALSE;
  lpCriticalSection->SpinCount = dwSpinCount;
  lpCriticalSection->initialized = kInitializedMark;
  return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  InitializeCriticalSectionAndSpinCount(lpCriticalSection, 0);
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { pthread_mutex_lock(Lock(lpCriticalSection)); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return pthread_mutex_trylock(Lock(lpCriticalSection)) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { pthread_mutex_unlock(Lock(lpCriticalSection)); }

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr || lpCriticalSection->initialized != kInitializedMark) return;
  pthread_mutex_destroy(Lock(lpCriticalSection));
  lpCriticalSection->initialized = 0;
}
