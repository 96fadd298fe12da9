// Critical sections: recursive in-process locks with the Win32 shape.
//
// Windows semantics kept: the owning thread may enter again (each Enter needs
// a Leave); TryEnterCriticalSection never blocks. The spin count is accepted
// and ignored (the lock spins briefly on its own before sleeping).
#pragma once

#include "platform/os/win_types.h"

// The lock lives in storage the caller owns, as on Windows; the fields are
// private to the platform layer. Opaque storage sized for a recursive
// pthread mutex, aligned for it.
struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
  DWORD SpinCount;
  DWORD initialized;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
