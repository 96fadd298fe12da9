// Events: CreateEvent, OpenEvent, SetEvent, ResetEvent, PulseEvent.
//
// Windows semantics kept: a manual-reset event stays signalled until reset and
// releases every waiter; an auto-reset event releases exactly one waiter and
// resets itself. PulseEvent releases the threads waiting at that moment (all of
// them for manual-reset, one for auto-reset) and leaves the event reset; with
// nobody waiting it only resets. A named event is shared by every process of the
// same object scope (kestnet::platform::NamedObjectScope()); creating one that
// exists opens it, leaves its state alone and sets ERROR_ALREADY_EXISTS.
// Events, mutexes and file mappings share one name space: a name already used by
// another kind of object fails with ERROR_INVALID_HANDLE.
//
// Names: any characters ("\\", ":", spaces...); a leading "Global\\" or "Local\\"
// is accepted and ignored (Linux has one session per scope). At most MAX_PATH
// characters. See platform/sync/named_objects.h for lifetime and permissions.
#pragma once

#include "platform/os/win_types.h"
#include "platform/sync/wait.h"

constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;

constexpr DWORD CREATE_EVENT_MANUAL_RESET = 0x00000001;
constexpr DWORD CREATE_EVENT_INITIAL_SET = 0x00000002;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
HANDLE CreateEventExW(LPSECURITY_ATTRIBUTES lpEventAttributes, LPCWSTR lpName, DWORD dwFlags,
                      DWORD dwDesiredAccess);

// Opens an existing named event; ERROR_FILE_NOT_FOUND when there is none.
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
BOOL PulseEvent(HANDLE hEvent);
