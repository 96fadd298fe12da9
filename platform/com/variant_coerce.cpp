// VariantChangeType: the coercions OLE Automation applies to arguments.
//
// Every by-value source is first read into a neutral Scalar (signed, unsigned,
// real, boolean, text, object), then written out as the target type with a
// range check. Reals go to integers with banker's rounding, as OLE does
// ("2.5" -> 2, "3.5" -> 4). Text is parsed after trimming blanks; OLE's hex
// form "&H1F" and the words True/False are accepted. An object (VT_DISPATCH)
// turned into a scalar yields its default value (DISPID_VALUE), unless
// VARIANT_NOVALUEPROP is given. Dates and currency convert as the numbers
// they hold; text is never parsed as a date. The locale is not consulted:
// numbers are written and read with '.' as the decimal point.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace {

enum class ScalarKind { Empty, Signed, Unsigned, Real, Boolean, Text };

struct Scalar {
  ScalarKind kind = ScalarKind::Empty;
  long long signedValue = 0;
  unsigned long long unsignedValue = 0;
  double realValue = 0;
  bool boolValue = false;
  BSTR text = nullptr;  // borrowed from the source
};

std::wstring Trimmed(BSTR text) {
  std::wstring s(text == nullptr ? L"" : text, SysStringLen(text));
  size_t first = 0;
  while (first < s.size() && std::iswspace(s[first])) ++first;
  size_t last = s.size();
  while (last > first && std::iswspace(s[last - 1])) --last;
  return s.substr(first, last - first);
}

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
  size_t n = std::wcslen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// Parses text as a number: a decimal real (with optional sign, point and
// exponent) or "&H" followed by hex digits. Returns DISP_E_TYPEMISMATCH for
// anything else, including an empty string.
HRESULT ParseNumber(BSTR text, Scalar* out) {
  std::wstring s = Trimmed(text);
  if (s.empty()) return DISP_E_TYPEMISMATCH;
  if (s.size() > 2 && s[0] == L'&' && (s[1] == L'H' || s[1] == L'h')) {
    unsigned long long value = 0;
    for (size_t i = 2; i < s.size(); ++i) {
      wchar_t c = s[i];
      int digit = (c >= L'0' && c <= L'9')   ? c - L'0'
                  : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                  : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                             : -1;
      if (digit < 0 || value > (std::numeric_limits<unsigned long long>::max() >> 4)) return DISP_E_TYPEMISMATCH;
      value = (value << 4) | static_cast<unsigned>(digit);
    }
    out->kind = ScalarKind::Unsigned;
    out->unsignedValue = value;
    return S_OK;
  }
  // Only digits, sign, point and exponent; wcstod would also take "inf", "nan" and hex floats.
  for (wchar_t c : s) {
    if (!std::iswdigit(c) && c != L'+' && c != L'-' && c != L'.' && c != L'e' && c != L'E') {
      return DISP_E_TYPEMISMATCH;
    }
  }
  errno = 0;
  wchar_t* end = nullptr;
  double value = std::wcstod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return DISP_E_TYPEMISMATCH;
  if (errno == ERANGE && std::isinf(value)) return DISP_E_OVERFLOW;
  bool integral = s.find_first_of(L".eE") == std::wstring::npos;
  if (integral) {
    errno = 0;
    long long asSigned = std::wcstoll(s.c_str(), &end, 10);
    if (errno == 0) {
      out->kind = ScalarKind::Signed;
      out->signedValue = asSigned;
      return S_OK;
    }
  }
  out->kind = ScalarKind::Real;
  out->realValue = value;
  return S_OK;
}

HRESULT ReadScalar(const VARIANT& v, Scalar* out);

// The default value of an object: property get of DISPID_VALUE.
HRESULT ReadObjectValue(IDispatch* object, USHORT flags, VARIANT* holder, Scalar* out) {
  if (object == nullptr || (flags & VARIANT_NOVALUEPROP) != 0) return DISP_E_TYPEMISMATCH;
  DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &noArgs, holder,
                              nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  if (holder->vt == VT_DISPATCH || holder->vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  return ReadScalar(*holder, out);
}

HRESULT ReadScalar(const VARIANT& v, Scalar* out) {
  switch (v.vt) {
    case VT_EMPTY: out->kind = ScalarKind::Empty; return S_OK;
    case VT_I1: out->kind = ScalarKind::Signed; out->signedValue = v.cVal; return S_OK;
    case VT_I2: out->kind = ScalarKind::Signed; out->signedValue = v.iVal; return S_OK;
    case VT_I4: case VT_INT: out->kind = ScalarKind::Signed; out->signedValue = v.lVal; return S_OK;
    case VT_I8: out->kind = ScalarKind::Signed; out->signedValue = v.llVal; return S_OK;
    case VT_UI1: out->kind = ScalarKind::Unsigned; out->unsignedValue = v.bVal; return S_OK;
    case VT_UI2: out->kind = ScalarKind::Unsigned; out->unsignedValue = v.uiVal; return S_OK;
    case VT_UI4: case VT_UINT: out->kind = ScalarKind::Unsigned; out->unsignedValue = v.ulVal; return S_OK;
    case VT_UI8: out->kind = ScalarKind::Unsigned; out->unsignedValue = v.ullVal; return S_OK;
    case VT_R4: out->kind = ScalarKind::Real; out->realValue = v.fltVal; return S_OK;
    case VT_R8: case VT_DATE: out->kind = ScalarKind::Real; out->realValue = v.dblVal; return S_OK;
    case VT_CY: out->kind = ScalarKind::Real; out->realValue = static_cast<double>(v.cyVal.int64) / 10000.0; return S_OK;
    case VT_BOOL: out->kind = ScalarKind::Boolean; out->boolValue = v.boolVal != VARIANT_FALSE; return S_OK;
    case VT_BSTR: out->kind = ScalarKind::Text; out->text = v.bstrVal; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

// Rounds half to even, as OLE does when a real becomes an integer.
// nearbyint under the default rounding mode (to nearest, ties to even).
double BankersRound(double value) { return std::nearbyint(value); }

// Resolves text to a number or boolean, for a numeric or boolean target.
HRESULT ResolveText(Scalar* s) {
  if (s->kind != ScalarKind::Text) return S_OK;
  std::wstring t = Trimmed(s->text);
  if (EqualsIgnoringCase(t, L"True") || EqualsIgnoringCase(t, L"#TRUE#")) {
    s->kind = ScalarKind::Boolean;
    s->boolValue = true;
    return S_OK;
  }
  if (EqualsIgnoringCase(t, L"False") || EqualsIgnoringCase(t, L"#FALSE#")) {
    s->kind = ScalarKind::Boolean;
    s->boolValue = false;
    return S_OK;
  }
  return ParseNumber(s->text, s);
}

// The scalar as a signed integer in [lo, hi], or an unsigned one in [0, uhi].
HRESULT ToSigned(Scalar s, long long lo, long long hi, long long* out) {
  HRESULT hr = ResolveText(&s);
  if (FAILED(hr)) return hr;
  switch (s.kind) {
    case ScalarKind::Empty: *out = 0; return S_OK;
    case ScalarKind::Boolean: *out = s.boolValue ? -1 : 0; break;
    case ScalarKind::Signed: *out = s.signedValue; break;
    case ScalarKind::Unsigned:
      if (s.unsignedValue > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return DISP_E_OVERFLOW;
      *out = static_cast<long long>(s.unsignedValue);
      break;
    case ScalarKind::Real: {
      double r = BankersRound(s.realValue);
      if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
      *out = static_cast<long long>(r);
      break;
    }
    case ScalarKind::Text: return DISP_E_TYPEMISMATCH;
  }
  if (*out < lo || *out > hi) return DISP_E_OVERFLOW;
  return S_OK;
}

HRESULT ToUnsigned(Scalar s, unsigned long long hi, unsigned long long* out) {
  HRESULT hr = ResolveText(&s);
  if (FAILED(hr)) return hr;
  switch (s.kind) {
    case ScalarKind::Empty: *out = 0; return S_OK;
    case ScalarKind::Boolean:
      // True is -1; as an unsigned value it is all bits set of the target width.
      *out = s.boolValue ? hi : 0;
      return S_OK;
    case ScalarKind::Signed:
      if (s.signedValue < 0) return DISP_E_OVERFLOW;
      *out = static_cast<unsigned long long>(s.signedValue);
      break;
    case ScalarKind::Unsigned: *out = s.unsignedValue; break;
    case ScalarKind::Real: {
      double r = BankersRound(s.realValue);
      if (!(r >= 0 && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
      *out = static_cast<unsigned long long>(r);
      break;
    }
    case ScalarKind::Text: return DISP_E_TYPEMISMATCH;
  }
  if (*out > hi) return DISP_E_OVERFLOW;
  return S_OK;
}

HRESULT ToReal(Scalar s, double* out) {
  HRESULT hr = ResolveText(&s);
  if (FAILED(hr)) return hr;
  switch (s.kind) {
    case ScalarKind::Empty: *out = 0; return S_OK;
    case ScalarKind::Boolean: *out = s.boolValue ? -1.0 : 0.0; return S_OK;
    case ScalarKind::Signed: *out = static_cast<double>(s.signedValue); return S_OK;
    case ScalarKind::Unsigned: *out = static_cast<double>(s.unsignedValue); return S_OK;
    case ScalarKind::Real: *out = s.realValue; return S_OK;
    case ScalarKind::Text: return DISP_E_TYPEMISMATCH;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToBoolean(Scalar s, bool* out) {
  HRESULT hr = ResolveText(&s);
  if (FAILED(hr)) return hr;
  switch (s.kind) {
    case ScalarKind::Empty: *out = false; return S_OK;
    case ScalarKind::Boolean: *out = s.boolValue; return S_OK;
    case ScalarKind::Signed: *out = s.signedValue != 0; return S_OK;
    case ScalarKind::Unsigned: *out = s.unsignedValue != 0; return S_OK;
    case ScalarKind::Real: *out = s.realValue != 0; return S_OK;
    case ScalarKind::Text: return DISP_E_TYPEMISMATCH;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToText(const Scalar& s, USHORT flags, BSTR* out) {
  wchar_t buffer[64];
  const wchar_t* text = buffer;
  switch (s.kind) {
    case ScalarKind::Empty: text = L""; break;
    case ScalarKind::Text:
      *out = SysAllocStringLen(s.text, SysStringLen(s.text));
      return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    case ScalarKind::Boolean:
      if ((flags & VARIANT_ALPHABOOL) != 0) text = s.boolValue ? L"True" : L"False";
      else text = s.boolValue ? L"-1" : L"0";
      break;
    case ScalarKind::Signed: std::swprintf(buffer, 64, L"%lld", s.signedValue); break;
    case ScalarKind::Unsigned: std::swprintf(buffer, 64, L"%llu", s.unsignedValue); break;
    case ScalarKind::Real:
      // Fifteen significant digits, the precision OLE formats a double with.
      std::swprintf(buffer, 64, L"%.15G", s.realValue);
      break;
  }
  *out = SysAllocString(text);
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Writes scalar s as type vt into result (which is empty).
HRESULT WriteScalar(const Scalar& s, VARTYPE vt, USHORT flags, VARIANT* result) {
  long long i = 0;
  unsigned long long u = 0;
  double r = 0;
  bool b = false;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1: hr = ToSigned(s, -128, 127, &i); result->cVal = static_cast<CHAR>(i); break;
    case VT_I2: hr = ToSigned(s, -32768, 32767, &i); result->iVal = static_cast<SHORT>(i); break;
    case VT_I4:
    case VT_INT:
      hr = ToSigned(s, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), &i);
      result->lVal = static_cast<LONG>(i);
      break;
    case VT_I8:
      hr = ToSigned(s, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), &i);
      result->llVal = i;
      break;
    case VT_UI1: hr = ToUnsigned(s, 0xFF, &u); result->bVal = static_cast<BYTE>(u); break;
    case VT_UI2: hr = ToUnsigned(s, 0xFFFF, &u); result->uiVal = static_cast<USHORT>(u); break;
    case VT_UI4:
    case VT_UINT: hr = ToUnsigned(s, 0xFFFFFFFFu, &u); result->ulVal = static_cast<ULONG>(u); break;
    case VT_UI8: hr = ToUnsigned(s, std::numeric_limits<unsigned long long>::max(), &u); result->ullVal = u; break;
    case VT_R4:
      hr = ToReal(s, &r);
      if (SUCCEEDED(hr) && std::fabs(r) > std::numeric_limits<float>::max()) hr = DISP_E_OVERFLOW;
      result->fltVal = static_cast<float>(r);
      break;
    case VT_R8:
    case VT_DATE: hr = ToReal(s, &r); result->dblVal = r; break;
    case VT_CY:
      hr = ToReal(s, &r);
      if (SUCCEEDED(hr) && std::fabs(r) > 9.2e14) hr = DISP_E_OVERFLOW;
      result->cyVal.int64 = static_cast<LONGLONG>(BankersRound(r * 10000.0));
      break;
    case VT_BOOL: hr = ToBoolean(s, &b); result->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_BSTR: hr = ToText(s, flags, &result->bstrVal); break;
    default: return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  result->vt = vt;
  return S_OK;
}

// Coerces a by-value source into an empty result.
HRESULT Coerce(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* result) {
  if (src.vt == vt) return VariantCopy(result, &src);
  if ((src.vt & VT_ARRAY) != 0 || (vt & VT_ARRAY) != 0) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL || vt == VT_NULL || vt == VT_ERROR || src.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;

  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    if (src.vt == VT_EMPTY) {
      result->vt = vt;
      result->punkVal = nullptr;
      return S_OK;
    }
    if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    if (src.punkVal == nullptr) {
      result->vt = vt;
      result->punkVal = nullptr;
      return S_OK;
    }
    void* object = nullptr;
    HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    result->vt = vt;
    result->punkVal = static_cast<IUnknown*>(object);
    return S_OK;
  }

  Scalar scalar;
  VARIANT holder;
  VariantInit(&holder);
  HRESULT hr;
  if (src.vt == VT_DISPATCH) {
    hr = ReadObjectValue(src.pdispVal, flags, &holder, &scalar);
  } else {
    hr = ReadScalar(src, &scalar);
  }
  if (SUCCEEDED(hr)) hr = WriteScalar(scalar, vt, flags, result);
  VariantClear(&holder);
  return hr;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID /*lcid*/, USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!kestnet::platform::IsValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) != 0 || vt == VT_VARIANT) return DISP_E_BADVARTYPE;

  VARIANT source;
  VariantInit(&source);
  HRESULT hr = VariantCopyInd(&source, pvarSrc);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  hr = Coerce(source, wFlags, vt, &result);
  VariantClear(&source);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // Only now touch the destination: it may be the source itself.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
