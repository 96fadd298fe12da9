// The wait behind every Wait... function (platform layer only).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/os/win_types.h"

namespace kestnet::platform {

// A source of wake-ups that is not a handle: the message queue of
// MsgWaitForMultipleObjects. ready() is asked after every change of *word and
// returns true when the wait should end with WAIT_OBJECT_0 + count.
struct ExtraWakeSource {
  std::atomic<std::uint32_t>* word = nullptr;
  std::function<bool()> ready;
  // When the source will next be ready without its word changing (a timer
  // falling due), in CLOCK_MONOTONIC nanoseconds; empty function or nullopt = never.
  std::function<std::optional<std::int64_t>()> nextReadyNs;
};

// WaitForMultipleObjectsEx with an optional extra source. Validates the
// handles (ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER for a count of 0 or
// above MAXIMUM_WAIT_OBJECTS unless extra is given, when 0 is allowed).
DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, bool alertable,
                     const ExtraWakeSource* extra);

}  // namespace kestnet::platform
