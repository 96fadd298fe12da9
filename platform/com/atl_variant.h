// CComVariant: an owning VARIANT in the manner of ATL.
//
// Ownership rules: the object owns what it holds and clears it when
// destroyed. Copies are deep (VariantCopy). Detach moves the value into a
// caller's VARIANT (which is cleared first); Attach takes a VARIANT over and
// leaves the source VT_EMPTY. ChangeType coerces in place.
//
// Trap: the object is a VARIANT, so &variant is a VARIANT* that clears
// nothing; a callee that fills it over a held value drops that value. For an
// out parameter use Receive(), which frees what is held first (as CComBSTR's
// and CComPtr's operator& do).
#pragma once

#include <utility>

#include "platform/com/dispatch.h"

namespace ATL {

class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  CComVariant(const VARIANT& source) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    VariantCopy(this, &source);
  }
  CComVariant(const CComVariant& source) : CComVariant(static_cast<const VARIANT&>(source)) {}
  CComVariant(CComVariant&& source) noexcept {
    *static_cast<VARIANT*>(this) = source;
    VariantInit(&source);
  }
  CComVariant(LPCOLESTR text) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(text == nullptr ? L"" : text);
    if (bstrVal == nullptr) {
      vt = VT_ERROR;
      scode = E_OUTOFMEMORY;
    }
  }
  CComVariant(bool value) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  // VT_I4 unless type is VT_INT or VT_ERROR (an SCODE).
  CComVariant(int value, VARTYPE type = VT_I4) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = (type == VT_INT || type == VT_ERROR) ? type : static_cast<VARTYPE>(VT_I4);
    lVal = value;
  }
  CComVariant(SHORT value) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_I2;
    iVal = value;
  }
  CComVariant(double value) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_R8;
    dblVal = value;
  }
  CComVariant(ULONG value) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_UI4;
    ulVal = value;
  }
  CComVariant(IDispatch* object) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = object;
    if (object != nullptr) object->AddRef();
  }
  CComVariant(IUnknown* object) {  // NOLINT: implicit like ATL's
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = object;
    if (object != nullptr) object->AddRef();
  }
  ~CComVariant() { VariantClear(this); }

  CComVariant& operator=(const CComVariant& source) {
    if (this != &source) VariantCopy(this, &source);
    return *this;
  }
  CComVariant& operator=(CComVariant&& source) noexcept {
    if (this != &source) {
      VariantClear(this);
      *static_cast<VARIANT*>(this) = source;
      VariantInit(&source);
    }
    return *this;
  }

  HRESULT Clear() { return VariantClear(this); }
  VARIANT* Receive() {
    VariantClear(this);
    return this;
  }
  HRESULT Copy(const VARIANT* source) { return VariantCopy(this, source); }
  HRESULT ChangeType(VARTYPE type, const VARIANT* source = nullptr) {
    return VariantChangeType(this, source == nullptr ? this : source, 0, type);
  }
  HRESULT Attach(VARIANT* source) {
    if (source == nullptr) return E_INVALIDARG;
    HRESULT hr = VariantClear(this);
    if (FAILED(hr)) return hr;
    *static_cast<VARIANT*>(this) = *source;
    VariantInit(source);
    return S_OK;
  }
  HRESULT Detach(VARIANT* target) {
    if (target == nullptr) return E_POINTER;
    HRESULT hr = VariantClear(target);
    if (FAILED(hr)) return hr;
    *target = *this;
    VariantInit(this);
    return S_OK;
  }
};

}  // namespace ATL
