// IDispatch and the structures of a late-bound call: DISPPARAMS (arguments in
// reverse order, named arguments first), EXCEPINFO (what a failing member
// tells the script), the DISPID and DISPATCH_* constants.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct ITypeInfo;

using DISPID = LONG;
using MEMBERID = DISPID;
using HREFTYPE = DWORD;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr DISPID DISPID_EVALUATE = -5;
constexpr DISPID DISPID_CONSTRUCTOR = -6;
constexpr DISPID DISPID_DESTRUCTOR = -7;
constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};
using LPEXCEPINFO = EXCEPINFO*;

struct IDispatch : IUnknown {
  KESTNET_INTERFACE_IID(0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};
using LPDISPATCH = IDispatch*;

inline constexpr IID IID_IDispatch = IDispatch::kIid;

// Frees the strings of an EXCEPINFO and zeroes it. Not a Windows call, but
// every automation client needs it after DISP_E_EXCEPTION.
namespace kestnet::platform {
void ClearExcepInfo(EXCEPINFO* excepInfo);
}  // namespace kestnet::platform
