#include "platform/com/variant.h"

#include "platform/com/dispatch.h"
#include "platform/com/safearray.h"

namespace {

// Element types a VARIANT may hold by value; also valid under VT_BYREF and,
// apart from VT_EMPTY/VT_NULL, as array element types.
constexpr VARTYPE kValueTypes[] = {VT_EMPTY, VT_NULL, VT_I2,      VT_I4,   VT_R4,  VT_R8,  VT_CY,
                                   VT_DATE,  VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT,
                                   VT_UNKNOWN, VT_I1, VT_UI1,     VT_UI2,  VT_UI4, VT_I8,  VT_UI8,
                                   VT_INT,   VT_UINT};

bool IsKnownBaseType(VARTYPE base) {
  for (VARTYPE known : kValueTypes) {
    if (known == base) return true;
  }
  return false;
}

}  // namespace

namespace kestnet::platform {

bool IsValidVariantType(VARTYPE vt) {
  VARTYPE base = vt & VT_TYPEMASK;
  if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0) return false;
  if (!IsKnownBaseType(base)) return false;
  // A VARIANT never holds another VARIANT by value.
  if (base == VT_VARIANT && (vt & (VT_BYREF | VT_ARRAY)) == 0) return false;
  if ((vt & (VT_BYREF | VT_ARRAY)) != 0 && (base == VT_EMPTY || base == VT_NULL)) return false;
  return true;
}

}  // namespace kestnet::platform

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->llVal = 0;
  pvarg->brecVal.pRecInfo = nullptr;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!kestnet::platform::IsValidVariantType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if ((pvarg->vt & VT_BYREF) == 0) {
    if ((pvarg->vt & VT_ARRAY) != 0) {
      HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else {
      switch (pvarg->vt) {
        case VT_BSTR:
          SysFreeString(pvarg->bstrVal);
          break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
          if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
          break;
        default:
          break;
      }
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

namespace {

// Copies the owned part of a by-value source into dest (dest already empty).
HRESULT CopyOwnedValue(VARIANT* dest, const VARIANT* src) {
  VARIANT result = *src;
  if ((src->vt & VT_ARRAY) != 0) {
    result.parray = nullptr;
    if (src->parray != nullptr) {
      HRESULT hr = SafeArrayCopy(src->parray, &result.parray);
      if (FAILED(hr)) return hr;
    }
  } else if (src->vt == VT_BSTR) {
    if (src->bstrVal != nullptr) {
      result.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (result.bstrVal == nullptr) return E_OUTOFMEMORY;
    }
  } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
    if (src->punkVal != nullptr) src->punkVal->AddRef();
  }
  *dest = result;
  return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!kestnet::platform::IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  // Copy first, then clear: a failed copy leaves the destination as it was.
  VARIANT copy;
  VariantInit(&copy);
  if ((pvargSrc->vt & VT_BYREF) != 0) {
    copy = *pvargSrc;
  } else {
    HRESULT hr = CopyOwnedValue(&copy, pvargSrc);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!kestnet::platform::IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if ((pvargSrc->vt & VT_BYREF) == 0) return VariantCopy(pvarDest, pvargSrc);
  if (pvargSrc->byref == nullptr) return E_INVALIDARG;

  VARTYPE target = pvargSrc->vt & ~VT_BYREF;
  VARIANT value;
  VariantInit(&value);
  if (target == VT_VARIANT) {
    // One level of indirection only, as on Windows: a byref to a byref stays a reference.
    const VARIANT* inner = pvargSrc->pvarVal;
    HRESULT hr = VariantCopy(&value, inner);
    if (FAILED(hr)) return hr;
  } else {
    VARIANT shallow;
    VariantInit(&shallow);
    shallow.vt = target;
    if ((target & VT_ARRAY) != 0) {
      shallow.parray = *pvargSrc->pparray;
    } else {
      switch (target) {
        case VT_I1: case VT_UI1: shallow.bVal = *pvargSrc->pbVal; break;
        case VT_I2: case VT_UI2: case VT_BOOL: shallow.iVal = *pvargSrc->piVal; break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: shallow.lVal = *pvargSrc->plVal; break;
        case VT_R4: shallow.fltVal = *pvargSrc->pfltVal; break;
        case VT_R8: case VT_DATE: shallow.dblVal = *pvargSrc->pdblVal; break;
        case VT_I8: case VT_UI8: case VT_CY: shallow.llVal = *pvargSrc->pllVal; break;
        case VT_BSTR: shallow.bstrVal = *pvargSrc->pbstrVal; break;
        case VT_DISPATCH: case VT_UNKNOWN: shallow.punkVal = *pvargSrc->ppunkVal; break;
        default: return DISP_E_BADVARTYPE;
      }
    }
    HRESULT hr = CopyOwnedValue(&value, &shallow);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  *pvarDest = value;
  return S_OK;
}
