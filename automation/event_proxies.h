// The event proxies, written from the event tables of typelib_table.h: one
// class template CProxy_<event interface> per event interface, with one
// Fire_<event> operation per event, taking the event's parameters in their
// declared order and firing its dispid.
//
// An object holds its proxy as a base and builds it with its own
// IConnectionPointContainer; the proxy owns the connection point (the
// standard one, or KestConnectionPointImplMT for the objects whose events may
// be fired from another apartment or forwarded to a proxy control).
//
// Each Fire_ builds the arguments last parameter first, calls every sink and
// returns the last sink's HRESULT (S_OK without sinks); a sink's failure never
// stops the others. A text that cannot be allocated throws
// ATL::CAtlException(E_OUTOFMEMORY), which the caller's method guard turns
// into E_FAIL.
#pragma once

#include "automation/event_arguments.h"
#include "automation/event_connection_points.h"
#include "automation/typelib_ids.h"
#include "automation/typelib_macros.h"
#include "automation/typelib_table.h"

#define KESTNET_TL_CONNECTION_POINT_MultiThreaded(T, interface) \
  KestAXLib::KestConnectionPointImplMT<T, &IID_##interface>
#define KESTNET_TL_CONNECTION_POINT_Apartment(T, interface) ATL::IConnectionPointImpl<T, &IID_##interface>

#define KESTNET_TL_FIRE_EVENT(dispid, name, ...)                                                 \
  HRESULT Fire_##name(KESTNET_TL_FOR_EACH_COMMA(KESTNET_TL_DECLARE_EVENT_PARAM, __VA_ARGS__)) { \
    KestAXLib::EventArguments arguments;                                                         \
    KESTNET_TL_FOR_EACH(KESTNET_TL_ADD_EVENT_ARGUMENT, __VA_ARGS__)                              \
    return KestAXLib::FireToSinks(m_connectionPoint, dispid, arguments.Params());                \
  }

#define KESTNET_TL_DECLARE_PROXY(interface, connectionPoint)                                                  \
  template <class T, class ConnectionPoint = KESTNET_TL_CONNECTION_POINT_##connectionPoint(T, interface)> \
  class CProxy_##interface {                                                                                  \
   public:                                                                                                    \
    explicit CProxy_##interface(IConnectionPointContainer* container) : m_connectionPoint(container) {}      \
                                                                                                              \
    KESTNET_EVENTS_##interface(KESTNET_TL_FIRE_EVENT)                                                         \
                                                                                                              \
    ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }                                     \
                                                                                                              \
   protected:                                                                                                 \
    ConnectionPoint m_connectionPoint;                                                                        \
  };
#define KESTNET_TL_SKIP_DUAL(interface)

KESTNET_INTERFACES(KESTNET_TL_SKIP_DUAL, KESTNET_TL_DECLARE_PROXY)

#undef KESTNET_TL_DECLARE_PROXY
#undef KESTNET_TL_SKIP_DUAL
#undef KESTNET_TL_FIRE_EVENT
