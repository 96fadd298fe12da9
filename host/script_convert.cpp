// Values crossing between JavaScript and automation, and the errors a script
// sees when a call fails.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "host/script_internal.h"
#include "platform/com/bstr.h"
#include "platform/os/utf8.h"

namespace kestnet::host::script {
namespace {

// Texts for failures that come without a description, as a script user
// would read them.
struct HResultText {
  HRESULT hr;
  const char* text;
};
constexpr HResultText kHResultTexts[] = {
    {DISP_E_UNKNOWNNAME, "Object doesn't support this property or method"},
    {DISP_E_MEMBERNOTFOUND, "Object doesn't support this property or method"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_BADPARAMCOUNT, "Wrong number of arguments or invalid property assignment"},
    {DISP_E_PARAMNOTOPTIONAL, "Argument not optional"},
    {DISP_E_OVERFLOW, "Overflow"},
    {DISP_E_BADINDEX, "Subscript out of range"},
    {DISP_E_NONAMEDARGS, "Object doesn't support named arguments"},
    {E_ACCESSDENIED, "Permission denied"},
    {E_NOTIMPL, "Not implemented"},
    {E_OUTOFMEMORY, "Out of memory"},
    {E_INVALIDARG, "Invalid procedure call or argument"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_CLASSSTRING, "Invalid class string"},
};

}  // namespace

std::string HResultDescription(HRESULT hr) {
  for (const HResultText& entry : kHResultTexts) {
    if (entry.hr == hr) return entry.text;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Automation error 0x%08X (%s)", static_cast<unsigned>(hr), platform::HResultName(hr));
  return text;
}

namespace {

// A line of the script for an error raised by native code: the innermost
// script function on the call stack.
int CallerLine(duk_context* ctx) {
  for (duk_int_t level = -1; level >= -8; --level) {
    duk_inspect_callstack_entry(ctx, level);
    if (duk_is_undefined(ctx, -1)) {
      duk_pop(ctx);
      return 0;
    }
    duk_get_prop_string(ctx, -1, "lineNumber");
    int line = duk_get_int(ctx, -1);
    duk_pop_2(ctx);
    if (line > 0) return line;
  }
  return 0;
}

void PushValue(duk_context* ctx, const VARIANT& value, int depth);

void PushSafeArray(duk_context* ctx, SAFEARRAY* array, VARTYPE elementType, int depth) {
  if (array == nullptr) {
    duk_push_null(ctx);
    return;
  }
  if (SafeArrayGetDim(array) != 1) Fail("Arrays of more than one dimension are not supported", DISP_E_TYPEMISMATCH);
  if (depth >= kMaxArrayNesting) {
    Fail("An array nested more than " + std::to_string(kMaxArrayNesting) + " deep was returned", DISP_E_TYPEMISMATCH);
  }
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  duk_idx_t result = duk_push_array(ctx);
  for (LONG index = lower; index <= upper; ++index) {
    ATL::CComVariant element;
    HRESULT hr;
    if (elementType == VT_VARIANT) {
      hr = SafeArrayGetElement(array, &index, &element);
    } else {
      // Scalars, texts and interfaces all start at the union's first byte.
      hr = SafeArrayGetElement(array, &index, &element.llVal);
      if (SUCCEEDED(hr)) element.vt = elementType;
    }
    if (FAILED(hr)) Fail("Cannot read an element of an array: " + HResultDescription(hr), hr);
    PushValue(ctx, element, depth + 1);
    duk_put_prop_index(ctx, result, static_cast<duk_uarridx_t>(index - lower));
  }
}

void PushValue(duk_context* ctx, const VARIANT& value, int depth) {
  // A push beyond the reserved value stack would be raised by longjmp
  // through the C++ frames above; asking first turns it into a failure.
  if (!duk_check_stack(ctx, 2)) Fail("Out of memory", E_OUTOFMEMORY);
  if ((value.vt & VT_BYREF) != 0) {
    ATL::CComVariant owned;
    HRESULT hr = VariantCopyInd(&owned, &value);
    if (FAILED(hr)) Fail("Cannot read a value passed by reference: " + HResultDescription(hr), hr);
    PushValue(ctx, owned, depth);
    return;
  }
  if ((value.vt & VT_ARRAY) != 0) {
    PushSafeArray(ctx, value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK), depth);
    return;
  }
  switch (value.vt) {
    case VT_EMPTY: duk_push_undefined(ctx); return;
    case VT_NULL: duk_push_null(ctx); return;
    case VT_I1: duk_push_int(ctx, value.cVal); return;
    case VT_UI1: duk_push_uint(ctx, value.bVal); return;
    case VT_I2: duk_push_int(ctx, value.iVal); return;
    case VT_UI2: duk_push_uint(ctx, value.uiVal); return;
    case VT_I4: duk_push_int(ctx, value.lVal); return;
    case VT_UI4: duk_push_uint(ctx, value.ulVal); return;
    case VT_INT: duk_push_int(ctx, value.intVal); return;
    case VT_UINT: duk_push_uint(ctx, value.uintVal); return;
    case VT_I8: duk_push_number(ctx, static_cast<double>(value.llVal)); return;
    case VT_UI8: duk_push_number(ctx, static_cast<double>(value.ullVal)); return;
    case VT_R4: duk_push_number(ctx, value.fltVal); return;
    case VT_R8: duk_push_number(ctx, value.dblVal); return;
    case VT_BOOL: duk_push_boolean(ctx, value.boolVal != VARIANT_FALSE); return;
    case VT_ERROR:
      if (value.scode == DISP_E_PARAMNOTFOUND) {
        duk_push_undefined(ctx);
      } else {
        duk_push_number(ctx, static_cast<double>(value.scode));
      }
      return;
    case VT_BSTR:
      PushText(ctx, std::wstring_view(value.bstrVal == nullptr ? L"" : value.bstrVal, SysStringLen(value.bstrVal)));
      return;
    case VT_DISPATCH:
      if (value.pdispVal == nullptr) {
        duk_push_null(ctx);
      } else {
        PushDispatch(ctx, value.pdispVal);
      }
      return;
    case VT_UNKNOWN: {
      ATL::CComPtr<IDispatch> dispatch;
      if (value.punkVal != nullptr &&
          SUCCEEDED(value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        PushDispatch(ctx, dispatch);
      } else {
        duk_push_null(ctx);
      }
      return;
    }
    default: break;
  }
  // Dates, currency, decimals: their text, as a script prints them.
  ATL::CComVariant text;
  HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
  if (FAILED(hr)) Fail("A value of an unsupported type was returned", DISP_E_BADVARTYPE);
  PushText(ctx, std::wstring_view(text.bstrVal == nullptr ? L"" : text.bstrVal, SysStringLen(text.bstrVal)));
}

// Converting a script value runs inside duk_safe_call: reading an element
// may run script code (a getter) or grow the value stack, and either may
// raise a duktape error, which leaves by longjmp. So the frames of the
// conversion hold nothing with a destructor while they call duktape, and
// everything they allocate hangs off the caller's VARIANT at once: a
// SAFEARRAY is attached to its VARIANT before its elements are converted
// in place, and the caller's VariantClear frees whatever was built.
struct Conversion {
  VARIANT* out;
  HRESULT hr = S_OK;
  const char* reason = nullptr;  // why a value has no automation form
  // The arrays being converted, outermost first: one met again holds itself.
  void* openArrays[kMaxArrayNesting] = {};
  int depth = 0;
};

HRESULT ConvertValue(duk_context* ctx, duk_idx_t index, VARIANT* out, Conversion& conversion);

HRESULT ConvertArray(duk_context* ctx, duk_idx_t index, VARIANT* out, Conversion& conversion) {
  void* identity = duk_get_heapptr(ctx, index);
  for (int level = 0; level < conversion.depth; ++level) {
    if (conversion.openArrays[level] == identity) {
      conversion.reason = "an array that contains itself has no automation form";
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (conversion.depth == kMaxArrayNesting) {
    conversion.reason = "arrays nested this deep have no automation form";
    return DISP_E_TYPEMISMATCH;
  }
  auto length = static_cast<ULONG>(duk_get_length(ctx, index));
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, length);
  if (array == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array;
  conversion.openArrays[conversion.depth++] = identity;
  for (ULONG i = 0; i < length; ++i) {
    LONG position = static_cast<LONG>(i);
    void* element = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(array, &position, &element);
    if (FAILED(hr)) return hr;
    duk_require_stack(ctx, 1);
    duk_get_prop_index(ctx, index, static_cast<duk_uarridx_t>(i));
    hr = ConvertValue(ctx, -1, static_cast<VARIANT*>(element), conversion);
    duk_pop(ctx);
    if (FAILED(hr)) return hr;
  }
  --conversion.depth;
  return S_OK;
}

HRESULT ConvertValue(duk_context* ctx, duk_idx_t index, VARIANT* out, Conversion& conversion) {
  index = duk_normalize_index(ctx, index);
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE: out->vt = VT_EMPTY; return S_OK;
    case DUK_TYPE_NULL: out->vt = VT_NULL; return S_OK;
    case DUK_TYPE_BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case DUK_TYPE_NUMBER: {
      double number = duk_get_number(ctx, index);
      if (std::nearbyint(number) == number && number >= -2147483648.0 && number <= 2147483647.0 &&
          !(number == 0 && std::signbit(number))) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(number);
      } else {
        out->vt = VT_R8;
        out->dblVal = number;
      }
      return S_OK;
    }
    case DUK_TYPE_STRING: {
      // No duktape call while the text lives.
      duk_size_t length = 0;
      const char* text = duk_get_lstring(ctx, index, &length);
      const std::string_view cesu8(text == nullptr ? "" : text, length);
      BSTR bstr = platform::AllocateBstrFromText(cesu8, platform::WideFromCesu8);
      if (bstr == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      out->bstrVal = bstr;
      return S_OK;
    }
    case DUK_TYPE_OBJECT: {
      if (IDispatch* object = DispatchOf(ctx, index)) {
        object->AddRef();
        out->vt = VT_DISPATCH;
        out->pdispVal = object;
        return S_OK;
      }
      // A JavaScript array goes as a SAFEARRAY of VARIANTs.
      if (duk_is_array(ctx, index)) return ConvertArray(ctx, index, out, conversion);
      return DISP_E_TYPEMISMATCH;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

duk_ret_t ConvertProtected(duk_context* ctx, void* data) {
  auto& conversion = *static_cast<Conversion*>(data);
  try {
    // The value is the top one: a safe call's function sees its caller's stack too.
    conversion.hr = ConvertValue(ctx, -1, conversion.out, conversion);
  } catch (const std::bad_alloc&) {
    conversion.hr = E_OUTOFMEMORY;
  }
  return 0;
}

}  // namespace

RunState& StateOf(duk_context* ctx) {
  duk_memory_functions functions{};
  duk_get_memory_functions(ctx, &functions);
  return *static_cast<RunState*>(functions.udata);
}

void Fail(std::string message, HRESULT hr) {
  std::string description = message;
  throw ScriptFailure{std::move(message), std::move(description), hr};
}

void RaiseScriptError(duk_context* ctx, const char* message, const char* description, HRESULT hr) {
  int line = CallerLine(ctx);
  duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", message);
  duk_push_int(ctx, line);
  duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("line"));
  duk_push_number(ctx, static_cast<double>(hr));
  duk_put_prop_string(ctx, -2, "number");
  duk_push_string(ctx, description);
  duk_put_prop_string(ctx, -2, "description");
  duk_throw(ctx);
  __builtin_unreachable();  // duk_throw leaves by longjmp
}

void FailInvoke(const std::wstring& member, HRESULT hr, EXCEPINFO& excep) {
  HRESULT reported = hr;
  std::string description;
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    if (excep.scode != 0) reported = excep.scode;
    if (excep.bstrDescription != nullptr) {
      description = Utf8(excep.bstrDescription, SysStringLen(excep.bstrDescription));
    }
  }
  kestnet::platform::ClearExcepInfo(&excep);
  if (description.empty()) description = HResultDescription(reported);
  // The member is named where the error is reported, not in the object's text.
  std::string message = Utf8(member.c_str(), member.size()) + ": " + description;
  throw ScriptFailure{std::move(message), std::move(description), reported};
}

std::string DescribeError(duk_context* ctx, duk_idx_t index, const std::string& scriptName) {
  index = duk_normalize_index(ctx, index);
  if (!duk_is_error(ctx, index)) return scriptName + ": uncaught exception: " + ScriptTextUtf8(ctx, index);
  int line = 0;
  if (duk_get_prop_string(ctx, index, DUK_HIDDEN_SYMBOL("line"))) line = duk_get_int(ctx, -1);
  duk_pop(ctx);
  if (line == 0) {
    duk_get_prop_string(ctx, index, "lineNumber");
    line = duk_get_int(ctx, -1);
    duk_pop(ctx);
  }
  duk_get_prop_string(ctx, index, "name");
  std::string name = ScriptTextUtf8(ctx, -1);
  duk_pop(ctx);
  duk_get_prop_string(ctx, index, "message");
  std::string message = ScriptTextUtf8(ctx, -1);
  duk_pop(ctx);
  return scriptName + "(" + std::to_string(line) + "): " + name + ": " + message;
}

std::string Utf8(const wchar_t* text, size_t length) {
  return platform::Utf8FromWide(std::wstring_view(text == nullptr ? L"" : text, text == nullptr ? 0 : length));
}

std::wstring Wide(const char* text) { return platform::WideFromCesu8(text == nullptr ? "" : text); }

std::string ScriptTextUtf8(duk_context* ctx, duk_idx_t index) {
  duk_size_t length = 0;
  const char* text = duk_safe_to_lstring(ctx, index, &length);
  std::string_view cesu8(text, length);
  if (platform::IsAsciiText(cesu8)) return std::string(cesu8);
  return platform::Utf8FromWide(platform::WideFromCesu8(cesu8));
}

void PushText(duk_context* ctx, std::wstring_view text) {
  std::string cesu8 = platform::Cesu8FromWide(text);
  duk_push_lstring(ctx, cesu8.data(), cesu8.size());
}

void PushUtf8Text(duk_context* ctx, std::string_view text) {
  if (platform::IsAsciiText(text)) {
    duk_push_lstring(ctx, text.data(), text.size());
    return;
  }
  std::string cesu8 = ScriptForm(text);
  duk_push_lstring(ctx, cesu8.data(), cesu8.size());
}

std::string ScriptForm(std::string_view utf8) { return platform::Cesu8FromWide(platform::WideFromUtf8(utf8)); }

void PushVariant(duk_context* ctx, const VARIANT& value) { PushValue(ctx, value, 0); }

void ConvertArgument(duk_context* ctx, duk_idx_t index, VARIANT* out, const std::string& what) {
  Conversion conversion{out};
  if (!duk_check_stack(ctx, 1)) Fail("Out of memory", E_OUTOFMEMORY);
  duk_dup(ctx, index);
  if (duk_safe_call(ctx, ConvertProtected, &conversion, 1, 1) != DUK_EXEC_SUCCESS) {
    // A getter threw, or the value stack could not grow.
    std::string error = ScriptTextUtf8(ctx, -1);
    duk_pop(ctx);
    Fail(what + " cannot be passed to an automation object: " + error, DISP_E_TYPEMISMATCH);
  }
  duk_pop(ctx);
  if (conversion.hr == E_OUTOFMEMORY) Fail("Out of memory", E_OUTOFMEMORY);
  if (FAILED(conversion.hr)) {
    std::string message = what + " cannot be passed to an automation object";
    if (conversion.reason != nullptr) message += std::string(": ") + conversion.reason;
    Fail(message, conversion.hr);
  }
}

}  // namespace kestnet::host::script
