// IUnknown and IClassFactory, in the Windows vtable order.
//
// Interfaces are structs of pure virtual functions with no virtual destructor,
// so their vtables hold exactly the COM slots; the destructor is protected so
// nobody deletes an object through an interface pointer. Objects end through
// Release. STDMETHODCALLTYPE is empty: on Linux x86-64 there is one calling
// convention.
#pragma once

#include <type_traits>

#include "platform/com/guid.h"

#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDAPI extern "C" HRESULT STDMETHODCALLTYPE
#define STDAPI_(type) extern "C" type STDMETHODCALLTYPE

// The __uuidof of the SDK: every interface declares its IID as a static
// member, so templates (CComPtr, IID_PPV_ARGS) find it from the type.
#define KESTNET_INTERFACE_IID(d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
  static constexpr IID kIid = {d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}}

template <typename T>
constexpr REFIID uuidof() {
  return T::kIid;
}
#define __uuidof(T) (uuidof<T>())
#define IID_PPV_ARGS(pp) uuidof<std::remove_reference_t<decltype(**(pp))>>(), reinterpret_cast<void**>(pp)

struct IUnknown {
  KESTNET_INTERFACE_IID(0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  KESTNET_INTERFACE_IID(0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  STDMETHOD(LockServer)(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};
using LPCLASSFACTORY = IClassFactory*;

inline constexpr IID IID_IUnknown = IUnknown::kIid;
inline constexpr IID IID_IClassFactory = IClassFactory::kIid;

// Signatures of the four exports of an in-process server module.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
