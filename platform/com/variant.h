// VARIANT: the tagged value automation passes for every argument and result.
//
// The layout is the Windows 64-bit one (24 bytes: vt, three reserved words, a
// 16-byte union), so a VARIANT can be passed through a vtable by value. A
// VARIANT owns what it holds (a BSTR, an interface reference, a SAFEARRAY)
// unless VT_BYREF is set, in which case it only points at storage someone
// else owns. VariantClear frees the owned value and leaves VT_EMPTY.
#pragma once

#include "platform/com/bstr.h"

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DATE = double;
using LCID = DWORD;
using FLOAT = float;
using DOUBLE = double;
using LPSAFEARRAY = SAFEARRAY*;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
};

struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    DECIMAL* pdecVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    struct {
      PVOID pvRecord;
      PVOID pRecInfo;
    } brecVal;
  };
};
static_assert(sizeof(VARIANT) == 24, "VARIANT must keep the Windows 64-bit layout");

using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;
using LPVARIANTARG = VARIANT*;
using REFVARIANT = const VARIANT&;

// The SDK's accessor macros, so code reads V_BSTR(&v) as on Windows.
#define V_VT(X) ((X)->vt)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_ISARRAY(X) (V_VT(X) & VT_ARRAY)
#define V_I2(X) ((X)->iVal)
#define V_I4(X) ((X)->lVal)
#define V_INT(X) ((X)->intVal)
#define V_UI4(X) ((X)->ulVal)
#define V_R8(X) ((X)->dblVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_BSTR(X) ((X)->bstrVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_ERROR(X) ((X)->scode)
#define V_ARRAY(X) ((X)->parray)
#define V_VARIANTREF(X) ((X)->pvarVal)
#define V_BYREF(X) ((X)->byref)

// VariantChangeType flags.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_INVARIANT = 0x007F;

void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns and leaves VT_EMPTY. Byref variants own nothing.
HRESULT VariantClear(VARIANTARG* pvarg);
// Deep copy: the destination is cleared first; BSTRs and arrays are copied,
// interfaces AddRef'd. Byref variants are copied as references.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// As VariantCopy, but a byref source is dereferenced into an owned value.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Coerces to vt. Source and destination may be the same variant. Impossible
// coercions give DISP_E_TYPEMISMATCH, out-of-range numbers DISP_E_OVERFLOW;
// the destination is unchanged on failure.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);

namespace kestnet::platform {

// True for the types a VARIANT may carry by value (VT_ARRAY and VT_BYREF aside).
bool IsValidVariantType(VARTYPE vt);

}  // namespace kestnet::platform
