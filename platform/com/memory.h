// The COM task allocator: memory handed across a COM interface boundary
// (strings from StringFromCLSID/ProgIDFromCLSID, arrays a caller must free).
#pragma once

#include "platform/os/win_types.h"

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);
