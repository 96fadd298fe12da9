// Closing handles and waiting on kernel objects, with the Win32 shapes.
//
// A HANDLE names an event, a mutex, a thread or a file mapping. Every wait
// here works on any mix of them, named (shared with other processes) or not.
//
// Windows semantics kept: WaitForMultipleObjects takes 1..MAXIMUM_WAIT_OBJECTS
// handles; wait-any returns the lowest index that is signalled; wait-all takes
// every object at once. A mutex left by a thread (or a process) that ended
// while owning it is obtained with WAIT_ABANDONED_0 + i, and the waiter owns it.
// Alertable waits (the ...Ex forms with bAlertable) run the thread's queued
// user APCs and return WAIT_IO_COMPLETION.
//
// Linux: a wait sleeps on futexes (futex_waitv), so it wakes as soon as
// another thread or process signals an object. When a process dies holding a
// named mutex, the kernel's robust-futex handling marks the mutex and wakes a
// waiter, which obtains it abandoned; as a safety net a wait re-checks named
// mutexes once a second (every 50 ms if the C library's mutex layout is not
// the expected one).
#pragma once

#include "platform/os/win_types.h"

constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
constexpr DWORD WAIT_IO_COMPLETION = 0x000000C0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Standard access rights used by the Open... functions (access checks beyond
// file permissions are not performed; see the object headers).
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD READ_CONTROL = 0x00020000;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;

// Closes one handle. The object lives on while other handles (in this or
// another process), a mapped view or, for a mutex, an owning thread refer to it.
// A handle that is not open fails with ERROR_INVALID_HANDLE; closing a pseudo
// handle (GetCurrentThread(), GetCurrentProcess()) does nothing and succeeds.
BOOL CloseHandle(HANDLE hObject);

// Copies a handle within this process (hSourceProcessHandle and
// hTargetProcessHandle must be GetCurrentProcess()). DUPLICATE_CLOSE_SOURCE
// closes the source.
constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x00000001;
constexpr DWORD DUPLICATE_SAME_ACCESS = 0x00000002;
HANDLE GetCurrentProcess();
BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     HANDLE* lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable);

// User APCs: QueueUserAPC queues pfnAPC(dwData) to the thread of hThread; it
// runs on that thread during its next alertable wait (SleepEx or a ...Ex wait
// with bAlertable TRUE), which then returns WAIT_IO_COMPLETION.
using PAPCFUNC = void (*)(ULONG_PTR dwParam);
DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData);
