// The interfaces between a control and its container: site, safety, class
// information, services, client site and the container's object enumeration.
// Windows vtable order.
#pragma once

#include "platform/com/dispatch.h"

struct IMoniker;
struct IBindCtx;

struct IEnumUnknown : IUnknown {
  KESTNET_INTERFACE_IID(0x00000100, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(Next)(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
  STDMETHOD(Skip)(ULONG celt) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumUnknown** ppenum) = 0;

 protected:
  ~IEnumUnknown() = default;
};

struct IParseDisplayName : IUnknown {
  KESTNET_INTERFACE_IID(0x0000011A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(ParseDisplayName)(IBindCtx* pbc, LPOLESTR pszDisplayName, ULONG* pchEaten, IMoniker** ppmkOut) = 0;

 protected:
  ~IParseDisplayName() = default;
};

// OLECONTF: which embedded objects IOleContainer::EnumObjects lists.
constexpr DWORD OLECONTF_EMBEDDINGS = 1;
constexpr DWORD OLECONTF_LINKS = 2;
constexpr DWORD OLECONTF_OTHERS = 4;
constexpr DWORD OLECONTF_ONLYUSER = 8;
constexpr DWORD OLECONTF_ONLYIFRUNNING = 16;

struct IOleContainer : IParseDisplayName {
  KESTNET_INTERFACE_IID(0x0000011B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(EnumObjects)(DWORD grfFlags, IEnumUnknown** ppenum) = 0;
  STDMETHOD(LockContainer)(BOOL fLock) = 0;

 protected:
  ~IOleContainer() = default;
};

struct IOleClientSite : IUnknown {
  KESTNET_INTERFACE_IID(0x00000118, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(SaveObject)() = 0;
  STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
  STDMETHOD(GetContainer)(IOleContainer** ppContainer) = 0;
  STDMETHOD(ShowObject)() = 0;
  STDMETHOD(OnShowWindow)(BOOL fShow) = 0;
  STDMETHOD(RequestNewObjectLayout)() = 0;

 protected:
  ~IOleClientSite() = default;
};

struct IServiceProvider : IUnknown {
  KESTNET_INTERFACE_IID(0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA);
  STDMETHOD(QueryService)(REFGUID guidService, REFIID riid, void** ppvObject) = 0;

 protected:
  ~IServiceProvider() = default;
};

struct IObjectWithSite : IUnknown {
  KESTNET_INTERFACE_IID(0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);
  STDMETHOD(SetSite)(IUnknown* pUnkSite) = 0;
  STDMETHOD(GetSite)(REFIID riid, void** ppvSite) = 0;

 protected:
  ~IObjectWithSite() = default;
};

constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

struct IObjectSafety : IUnknown {
  KESTNET_INTERFACE_IID(0xCB5BDC81, 0x93C1, 0x11CF, 0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64);
  STDMETHOD(GetInterfaceSafetyOptions)(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) = 0;
  STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) = 0;

 protected:
  ~IObjectSafety() = default;
};

struct IProvideClassInfo : IUnknown {
  KESTNET_INTERFACE_IID(0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
  STDMETHOD(GetClassInfo)(ITypeInfo** ppTI) = 0;

 protected:
  ~IProvideClassInfo() = default;
};

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

struct IProvideClassInfo2 : IProvideClassInfo {
  KESTNET_INTERFACE_IID(0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
  STDMETHOD(GetGUID)(DWORD dwGuidKind, GUID* pGUID) = 0;

 protected:
  ~IProvideClassInfo2() = default;
};

inline constexpr IID IID_IEnumUnknown = IEnumUnknown::kIid;
inline constexpr IID IID_IParseDisplayName = IParseDisplayName::kIid;
inline constexpr IID IID_IOleContainer = IOleContainer::kIid;
inline constexpr IID IID_IOleClientSite = IOleClientSite::kIid;
inline constexpr IID IID_IServiceProvider = IServiceProvider::kIid;
inline constexpr IID IID_IObjectWithSite = IObjectWithSite::kIid;
inline constexpr IID IID_IObjectSafety = IObjectSafety::kIid;
inline constexpr IID IID_IProvideClassInfo = IProvideClassInfo::kIid;
inline constexpr IID IID_IProvideClassInfo2 = IProvideClassInfo2::kIid;
