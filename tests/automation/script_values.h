// The values a script hands an object and reads back: arguments made as a
// script engine makes them, results and event arguments read as text, and
// the error description a failed call leaves on the thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/atl_variant.h"
#include "platform/com/com.h"

namespace kestnet::testing {

// The caller owns the VARIANT (VariantClear, or an ATL::CComVariant).
inline VARIANT Text(std::wstring_view value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_BSTR;
  variant.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return variant;
}

// The value as a plain VARIANT the caller owns.
inline VARIANT Plain(ATL::CComVariant value) {
  VARIANT plain;
  VariantInit(&plain);
  value.Detach(&plain);
  return plain;
}
inline VARIANT Long(LONG value) { return Plain(ATL::CComVariant(value)); }   // VT_I4
inline VARIANT Short(SHORT value) { return Plain(ATL::CComVariant(value)); }  // VT_I2

// A null BSTR is the empty string, as for every BSTR.
inline std::wstring TextOf(BSTR text) { return text == nullptr ? L"" : std::wstring(text, SysStringLen(text)); }

// "<not text>" for a value that is not a string, so that a wrong type shows.
inline std::wstring TextOf(const VARIANT& value) {
  return value.vt == VT_BSTR ? TextOf(value.bstrVal) : std::wstring(L"<not text>");
}

// The thread's error information description (and clears it); "<none>"
// when the failing call left none.
inline std::wstring TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return L"<none>";
  BSTR description = nullptr;
  info->GetDescription(&description);
  std::wstring text = TextOf(description);
  SysFreeString(description);
  info->Release();
  return text;
}

}  // namespace kestnet::testing
