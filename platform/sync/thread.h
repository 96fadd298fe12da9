// Threads and time: _beginthreadex, thread handles, Sleep, tick counts.
//
// Windows semantics kept: a thread handle is signalled when the thread ends,
// and GetExitCodeThread then reads its exit code (STILL_ACTIVE before that).
// Closing the handle of a running thread detaches it; the thread runs on.
// CREATE_SUSPENDED starts a thread that waits for its first ResumeThread.
//
// Linux differences:
// - SuspendThread on a running thread fails with ERROR_NOT_SUPPORTED: stopping
//   a thread at an arbitrary point (inside malloc, holding a lock) cannot be
//   done safely. ResumeThread does release a thread created suspended.
// - TerminateThread cannot kill one thread of a process. It abandons the
//   thread instead: the handle is signalled at once with the given exit code,
//   and the OS thread runs on, detached, until it ends by itself. What the
//   thread uses stays valid until then (its handle object is reference
//   counted), so nothing it touches is freed under it.
// - GetCurrentThreadId is the kernel thread id (gettid), stable and unique
//   while the thread lives.
#pragma once

#include "platform/os/win_types.h"
#include "platform/sync/wait.h"

#include <cstddef>

constexpr DWORD STILL_ACTIVE = 259;
constexpr unsigned CREATE_SUSPENDED = 0x00000004;
constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFF;

// Starts start_address(arglist) on a new thread and returns its handle, or 0
// with errno set (EINVAL for a null start address, EAGAIN when the system
// cannot create a thread). stack_size 0 takes the default. *thrdaddr, when
// given, receives the thread id.
std::uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*),
                              void* arglist, unsigned initflag, unsigned* thrdaddr);

// The handle that always names the calling thread (not to be closed).
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
DWORD GetThreadId(HANDLE Thread);

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

// Returns the previous suspend count, or (DWORD)-1 on failure.
DWORD SuspendThread(HANDLE hThread);
DWORD ResumeThread(HANDLE hThread);

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);

// Ends the calling thread (started by _beginthreadex) with the exit code,
// unwinding its stack.
[[noreturn]] void ExitThread(DWORD dwExitCode);

void Sleep(DWORD dwMilliseconds);
// With bAlertable, returns WAIT_IO_COMPLETION as soon as queued APCs ran.
DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);
BOOL SwitchToThread();

namespace kestnet::platform {

// Threads started by _beginthreadex whose OS thread has not finished yet,
// including abandoned ones (tests check that none outlive them).
std::size_t RunningThreadCount();

}  // namespace kestnet::platform

// Milliseconds since boot (CLOCK_MONOTONIC): the 32-bit form wraps after 49.7
// days as on Windows.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
