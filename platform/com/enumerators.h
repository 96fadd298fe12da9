// Ready-made enumerators for the IEnum* interfaces the system hands out:
// connections of a connection point, connection points of a container, the
// objects of a container.
//
// Each enumerator takes a snapshot: it holds its own reference on every item,
// so the source may change (a sink unadvised, an object removed) while a
// caller walks it. Clones share the snapshot and copy the position. Items are
// handed out with a reference added, which the caller releases. Next follows
// the COM rule: pceltFetched may be null only when celt is 1; fewer items than
// asked for gives S_FALSE.
#pragma once

#include "platform/com/connection_points.h"
#include "platform/com/ole_site.h"

namespace kestnet::platform {

HRESULT CreateEnumConnections(const CONNECTDATA* items, ULONG count, IEnumConnections** enumerator);
HRESULT CreateEnumConnectionPoints(IConnectionPoint* const* items, ULONG count, IEnumConnectionPoints** enumerator);
HRESULT CreateEnumUnknown(IUnknown* const* items, ULONG count, IEnumUnknown** enumerator);

}  // namespace kestnet::platform
