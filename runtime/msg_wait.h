// KestMT::MsgWait: a wait for the apartment (window-owning) thread that keeps
// dispatching its window messages, so that events posted by worker threads are
// fired while the thread waits.
#pragma once

#include "platform/msg/message.h"
#include "platform/os/win_types.h"

namespace KestMT {

// Results of MsgWait.
constexpr DWORD MSGWAIT_TIMEOUT = 0;
constexpr DWORD MSGWAIT_FAILED = 1;
// Handle i (0 to 4) was signalled or abandoned: MSGWAIT_OBJECT_0 + i.
constexpr DWORD MSGWAIT_OBJECT_0 = 3;
constexpr DWORD MSGWAIT_COUNT_OUT_OF_RANGE = 8;
// The most handles one MsgWait takes.
constexpr DWORD MSGWAIT_MAXIMUM_OBJECTS = 5;

// Waits up to p_dwTimeout ms (INFINITE for no limit) for one of p_dwCount
// handles (all of them with p_bWaitAll), dispatching every message queued for
// the calling thread meanwhile. With both p_hAccelWindow and p_hAccelTable,
// accelerator keys are translated for that window first. A finite time-out
// covers the whole call, message handling included; a handle already
// signalled is reported even with a zero time-out. With p_bWaitAll the wait
// ends when all handles are signalled (MSGWAIT_OBJECT_0), without waiting for
// a message as the OS wait-all would. A null handle array with a valid count
// throws KestBase::InvalidParameterException.
DWORD MsgWait(DWORD p_dwCount, const HANDLE* p_pHandles, DWORD p_dwTimeout, BOOL p_bWaitAll,
              HWND p_hAccelWindow = nullptr, HACCEL p_hAccelTable = nullptr);

}  // namespace KestMT
