// The GETHOSTINFO_* status codes a host lookup ends with, and the PLATFORM_*
// numbers that classify the host's operating system.
#pragma once

#include "platform/os/win_types.h"

namespace KestNet {

#define KESTNET_GETHOSTINFO_RESULTS(X) \
  X(GETHOSTINFO_SUCCESS, 0)            \
  X(GETHOSTINFO_ABORTED, 1)            \
  X(GETHOSTINFO_HOST_NOT_FOUND, 2)     \
  X(GETHOSTINFO_ERROR, 3)              \
  X(GETHOSTINFO_INVALIDOBJECT, 4)

// PLATFORM_WINDOWS_NT40 and PLATFORM_WINDOWS_MACINTOSH are part of the
// scripting interface but no server classifies as either (see GetPlatform).
#define KESTNET_HOST_PLATFORMS(X)    \
  X(PLATFORM_WINDOWS_9X, 0)          \
  X(PLATFORM_WINDOWS_2000, 1)        \
  X(PLATFORM_WINDOWS_NT40, 2)        \
  X(PLATFORM_WINDOWS_XP, 3)          \
  X(PLATFORM_WINDOWS_2003, 4)        \
  X(PLATFORM_WINDOWS_VISTA, 5)       \
  X(PLATFORM_WINDOWS_7, 6)           \
  X(PLATFORM_WINDOWS_MACINTOSH, 7)   \
  X(PLATFORM_UNIX, 8)                \
  X(PLATFORM_UNKNOWN, -1)

#define KESTNET_DECLARE_HOST_INFO_CONSTANT(Name, Value) inline constexpr LONG Name = Value;
KESTNET_GETHOSTINFO_RESULTS(KESTNET_DECLARE_HOST_INFO_CONSTANT)
KESTNET_HOST_PLATFORMS(KESTNET_DECLARE_HOST_INFO_CONSTANT)
#undef KESTNET_DECLARE_HOST_INFO_CONSTANT

}  // namespace KestNet
