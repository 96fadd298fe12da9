// The engine's own exception: ends a worker's body with a result it has
// already set (a failed name resolution).
#pragma once

#include "runtime/exceptions.h"

namespace KestNet {
KEST_DECLARE_SIMPLE_EXCEPTION(KestNet, InternalPingException, L"INTERNAL_PING_ERROR")
}  // namespace KestNet
