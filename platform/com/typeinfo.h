// ITypeInfo and ITypeLib with the structures clients read from them, in the
// Windows layouts and vtable order.
//
// This runtime builds type information from descriptions written in code
// (typelib_description.h), not from binary type library files. It answers the
// calls automation clients make: attributes, function descriptions, names,
// documentation, implemented interfaces of a coclass with their flags (to
// find the default source interface), GetIDsOfNames and Invoke. Calls that
// only type-library tools make (ITypeComp, DLL entries, instance creation)
// return E_NOTIMPL.
#pragma once

#include "platform/com/dispatch.h"

struct ITypeLib;
struct ITypeComp;

enum TYPEKIND {
  TKIND_ENUM = 0,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION,
  TKIND_MAX
};

enum INVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8
};

enum FUNCKIND { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum CALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };
enum VARKIND { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };
enum DESCKIND { DESCKIND_NONE = 0, DESCKIND_FUNCDESC, DESCKIND_VARDESC, DESCKIND_TYPECOMP, DESCKIND_IMPLICITAPPOBJ };

constexpr USHORT PARAMFLAG_NONE = 0x00;
constexpr USHORT PARAMFLAG_FIN = 0x01;
constexpr USHORT PARAMFLAG_FOUT = 0x02;
constexpr USHORT PARAMFLAG_FLCID = 0x04;
constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
constexpr USHORT PARAMFLAG_FOPT = 0x10;
constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;

constexpr WORD TYPEFLAG_FAPPOBJECT = 0x01;
constexpr WORD TYPEFLAG_FCANCREATE = 0x02;
constexpr WORD TYPEFLAG_FLICENSED = 0x04;
constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
constexpr WORD TYPEFLAG_FCONTROL = 0x20;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FNONEXTENSIBLE = 0x80;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;
constexpr INT IMPLTYPEFLAG_FRESTRICTED = 0x4;

constexpr WORD LIBFLAG_FRESTRICTED = 0x1;
constexpr WORD LIBFLAG_FCONTROL = 0x2;
constexpr WORD LIBFLAG_FHIDDEN = 0x4;
constexpr WORD LIBFLAG_FHASDISKIMAGE = 0x8;

struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;
    struct ARRAYDESC* lpadesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
};

struct IDLDESC {
  ULONG_PTR dwReserved;
  USHORT wIDLFlags;
};

struct PARAMDESCEX {
  ULONG cBytes;
  VARIANTARG varDefaultValue;
};
using LPPARAMDESCEX = PARAMDESCEX*;

struct PARAMDESC {
  LPPARAMDESCEX pparamdescex;
  USHORT wParamFlags;
};

struct ELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
};
using LPELEMDESC = ELEMDESC*;

struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};
using LPFUNCDESC = FUNCDESC*;

struct VARDESC {
  MEMBERID memid;
  LPOLESTR lpstrSchema;
  union {
    ULONG oInst;
    VARIANT* lpvarValue;
  };
  ELEMDESC elemdescVar;
  WORD wVarFlags;
  VARKIND varkind;
};
using LPVARDESC = VARDESC*;

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
};
using LPTYPEATTR = TYPEATTR*;

struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
};
using LPTLIBATTR = TLIBATTR*;

struct ITypeInfo : IUnknown {
  KESTNET_INTERFACE_IID(0x00020401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) = 0;
  STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;
  STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) = 0;
  STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) = 0;
  STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
  STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) = 0;
  STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) = 0;
  STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
  STDMETHOD(Invoke)(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                    EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
  STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                              BSTR* pBstrHelpFile) = 0;
  STDMETHOD(GetDllEntry)(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                         WORD* pwOrdinal) = 0;
  STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
  STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) = 0;
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) = 0;
  STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) = 0;
  STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) = 0;
  STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) = 0;
  STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) = 0;
  STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) = 0;

 protected:
  ~ITypeInfo() = default;
};
using LPTYPEINFO = ITypeInfo*;

struct ITypeLib : IUnknown {
  KESTNET_INTERFACE_IID(0x00020402, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
  STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) = 0;
  STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) = 0;
  STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) = 0;
  STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) = 0;
  STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;
  STDMETHOD(GetDocumentation)(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                              BSTR* pBstrHelpFile) = 0;
  STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
  STDMETHOD(FindName)(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                      USHORT* pcFound) = 0;
  STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) = 0;

 protected:
  ~ITypeLib() = default;
};
using LPTYPELIB = ITypeLib*;

inline constexpr IID IID_ITypeInfo = ITypeInfo::kIid;
inline constexpr IID IID_ITypeLib = ITypeLib::kIid;

// Dispatch helpers of OLE Automation over type information: they are what an
// IDispatch implementation forwards to.
HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid);
HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                   VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr);
// Reads argument `position` (0 = first declared) of a DISPPARAMS, coerced to
// vt; DISP_E_PARAMNOTFOUND when absent, with *puArgErr set on a coercion error.
HRESULT DispGetParam(DISPPARAMS* pdispparams, UINT position, VARTYPE vtTarg, VARIANT* pvarResult, UINT* puArgErr);
