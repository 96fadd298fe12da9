// Connection points: how an object hands events to the sinks that advised it.
// Windows vtable order; cookies are non-zero.
#pragma once

#include "platform/com/unknown.h"

struct IConnectionPointContainer;

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};
using LPCONNECTDATA = CONNECTDATA*;

struct IEnumConnections : IUnknown {
  KESTNET_INTERFACE_IID(0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
  STDMETHOD(Next)(ULONG cConnections, LPCONNECTDATA rgcd, ULONG* pcFetched) = 0;
  STDMETHOD(Skip)(ULONG cConnections) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumConnections** ppEnum) = 0;

 protected:
  ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
  KESTNET_INTERFACE_IID(0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
  STDMETHOD(GetConnectionInterface)(IID* pIID) = 0;
  STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) = 0;
  STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  STDMETHOD(Unadvise)(DWORD dwCookie) = 0;
  STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
  KESTNET_INTERFACE_IID(0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
  STDMETHOD(Next)(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
  STDMETHOD(Skip)(ULONG cConnections) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumConnectionPoints** ppEnum) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
  KESTNET_INTERFACE_IID(0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) = 0;
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

inline constexpr IID IID_IEnumConnections = IEnumConnections::kIid;
inline constexpr IID IID_IConnectionPoint = IConnectionPoint::kIid;
inline constexpr IID IID_IEnumConnectionPoints = IEnumConnectionPoints::kIid;
inline constexpr IID IID_IConnectionPointContainer = IConnectionPointContainer::kIid;
