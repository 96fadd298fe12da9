// The dual interfaces of the KestNet type library as C++ vtables, declared
// from the tables of typelib_table.h: member i of a table is vtable slot
// 7 + i, which is where Invoke reaches it through the type information.
#pragma once

#include "automation/typelib_ids.h"
#include "automation/typelib_macros.h"
#include "automation/typelib_table.h"
#include "platform/com/dispatch.h"

#define KESTNET_TL_DECLARE_MEMBER(kind, dispid, name, ...) \
  STDMETHOD(KESTNET_TL_VTABLE_NAME(kind, name))(KESTNET_TL_FOR_EACH_COMMA(KESTNET_TL_DECLARE_PARAM, __VA_ARGS__)) = 0;

#define KESTNET_TL_DECLARE_DUAL(interface)                 \
  struct interface : IDispatch {                           \
    static constexpr IID kIid = IID_##interface;           \
    KESTNET_MEMBERS_##interface(KESTNET_TL_DECLARE_MEMBER) \
                                                           \
   protected:                                              \
    ~interface() = default;                                \
  };
#define KESTNET_TL_SKIP_EVENTS(interface, connectionPoint)

KESTNET_INTERFACES(KESTNET_TL_DECLARE_DUAL, KESTNET_TL_SKIP_EVENTS)

#undef KESTNET_TL_DECLARE_DUAL
#undef KESTNET_TL_SKIP_EVENTS
#undef KESTNET_TL_DECLARE_MEMBER
