#include "platform/com/memory.h"

#include <cstdlib>

// malloc never returns null for a zero-size request on glibc, which matches the
// task allocator handing out a distinct block for cb == 0.
LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }
