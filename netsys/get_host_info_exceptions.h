// The host lookup's own exception: no adapter found the NetBIOS name.
#pragma once

#include "runtime/exceptions.h"

namespace KestNet {
KEST_DECLARE_SIMPLE_EXCEPTION(KestNet, InternalGetHostInfoException_HostNotFound,
                              L"INTERNAL_GETHOSTINFO_HOSTNOTFOUND_ERROR")
}  // namespace KestNet
