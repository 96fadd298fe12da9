// ITypeInfo::Invoke for described dual interfaces: argument binding, coercion
// and the vtable call.
//
// The rules are OLE Automation's:
// - The member is chosen by dispid and call kind: a property put (or putref)
//   needs a put member; DISPATCH_METHOD picks a method, DISPATCH_PROPERTYGET a
//   property get; scripts pass METHOD|PROPERTYGET and get whichever exists.
//   No match: DISP_E_MEMBERNOTFOUND.
// - rgvarg holds the arguments last-first, named arguments first. A named
//   argument's dispid is the parameter's position (from GetIDsOfNames);
//   DISPID_PROPERTYPUT names the value of a put, i.e. the last parameter.
// - More arguments than parameters: DISP_E_BADPARAMCOUNT. A required parameter
//   without an argument: DISP_E_PARAMNOTOPTIONAL. A missing optional parameter
//   (absent, or passed as VT_ERROR / DISP_E_PARAMNOTFOUND) takes its default
//   value, or VT_ERROR / DISP_E_PARAMNOTFOUND for an optional VARIANT.
// - Each argument is coerced to the declared type with VariantChangeType; a
//   failure returns its HRESULT (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW) with the
//   argument's index in rgvarg in *puArgErr.
// - The [out, retval] parameter becomes *pVarResult.
// - A failing HRESULT from the member gives DISP_E_EXCEPTION, with the
//   EXCEPINFO filled from the thread's error information and scode = the
//   member's HRESULT. The error slot is emptied before the call, so a stale
//   error left by an earlier failure is never reported for this one.
//
// The vtable call itself is made with libffi: slot 7 + member index, `this`
// first, then the arguments with their C types (a VARIANT by value is a
// 24-byte structure), returning HRESULT.
#include "platform/com/dispatch_invoke.h"

#include <ffi.h>

#include <cwctype>
#include <new>
#include <vector>

#include "platform/com/error_info.h"

namespace kestnet::platform {
namespace {

ffi_type* VariantFfiType() {
  // Built once; preparing a call interface over it fills in size and alignment.
  static ffi_type* type = [] {
    static ffi_type* elements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                   &ffi_type_uint64, &ffi_type_uint64, nullptr};
    static ffi_type variant;
    variant.size = 0;
    variant.alignment = 0;
    variant.type = FFI_TYPE_STRUCT;
    variant.elements = elements;
    ffi_cif cif;
    ffi_type* args[] = {&variant};
    ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 1, &ffi_type_void, args);
    return &variant;
  }();
  return type;
}

// The C type a by-value argument of this VARTYPE has in the vtable call.
ffi_type* FfiTypeOf(VARTYPE vt) {
  if ((vt & (VT_ARRAY | VT_BYREF)) != 0) return &ffi_type_pointer;
  switch (vt) {
    case VT_I1: return &ffi_type_sint8;
    case VT_UI1: return &ffi_type_uint8;
    case VT_I2: case VT_BOOL: return &ffi_type_sint16;
    case VT_UI2: return &ffi_type_uint16;
    case VT_I4: case VT_INT: case VT_ERROR: return &ffi_type_sint32;
    case VT_UI4: case VT_UINT: return &ffi_type_uint32;
    case VT_I8: case VT_CY: return &ffi_type_sint64;
    case VT_UI8: return &ffi_type_uint64;
    case VT_R4: return &ffi_type_float;
    case VT_R8: case VT_DATE: return &ffi_type_double;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return &ffi_type_pointer;
    case VT_VARIANT: return VariantFfiType();
    default: return nullptr;
  }
}

bool IsMissingMarker(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// Follows one VT_BYREF|VT_VARIANT indirection.
const VARIANT* Dereferenced(const VARIANT* v) {
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) return v->pvarVal;
  return v;
}

const MemberDescription* SelectMember(const InterfaceDescription& iface, MEMBERID memid, WORD flags, size_t* slot) {
  static constexpr struct {
    WORD flag;
    INVOKEKIND kind;
  } kPreference[] = {
      {DISPATCH_PROPERTYPUT, INVOKE_PROPERTYPUT},       {DISPATCH_PROPERTYPUT, INVOKE_PROPERTYPUTREF},
      {DISPATCH_PROPERTYPUTREF, INVOKE_PROPERTYPUTREF}, {DISPATCH_PROPERTYPUTREF, INVOKE_PROPERTYPUT},
      {DISPATCH_METHOD, INVOKE_FUNC},                   {DISPATCH_PROPERTYGET, INVOKE_PROPERTYGET},
  };
  for (const auto& choice : kPreference) {
    if ((flags & choice.flag) == 0) continue;
    for (size_t i = 0; i < iface.members.size(); ++i) {
      if (iface.members[i].dispid == memid && iface.members[i].kind == choice.kind) {
        *slot = i;
        return &iface.members[i];
      }
    }
  }
  return nullptr;
}

// One bound parameter: what is passed, and what must be freed afterwards.
struct BoundArgument {
  VARIANT owned{};          // coerced value or default, cleared after the call
  bool borrowed = false;    // `owned` is a bitwise view of the caller's VARIANT
  void* pointer = nullptr;  // for out parameters
  void* address = nullptr;  // what libffi reads the argument from
  ffi_type* type = nullptr;
};

class Call {
 public:
  ~Call() {
    for (BoundArgument& arg : args_) {
      if (!arg.borrowed) VariantClear(&arg.owned);
    }
    VariantClear(&retval_);
  }

  HRESULT Run(const InterfaceDescription& iface, void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
              VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

 private:
  HRESULT BindArgument(const ParamDescription& param, const VARIANT* given, UINT givenIndex, BoundArgument* arg,
                       UINT* argErr);
  HRESULT BindMissing(const ParamDescription& param, BoundArgument* arg);

  std::vector<BoundArgument> args_;
  VARIANT retval_{};
};

HRESULT Call::BindMissing(const ParamDescription& param, BoundArgument* arg) {
  if ((param.flags & PARAMFLAG_FOPT) == 0) return DISP_E_PARAMNOTOPTIONAL;
  if ((param.flags & PARAMFLAG_FOUT) != 0) {
    // An optional out parameter nobody asked for still needs somewhere to write.
    arg->owned.vt = VT_EMPTY;
    arg->pointer = param.type == VT_VARIANT ? static_cast<void*>(&arg->owned) : &arg->owned.llVal;
    arg->address = &arg->pointer;
    arg->type = &ffi_type_pointer;
    return S_OK;
  }
  if ((param.flags & PARAMFLAG_FHASDEFAULT) != 0) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = DefaultToVariant(param.defaultValue, &value);
    if (SUCCEEDED(hr)) {
      hr = param.type == VT_VARIANT ? VariantCopy(&arg->owned, &value)
                                    : VariantChangeType(&arg->owned, &value, 0, param.type);
    }
    VariantClear(&value);
    if (FAILED(hr)) return hr;
  } else if (param.type == VT_VARIANT) {
    arg->owned.vt = VT_ERROR;
    arg->owned.scode = DISP_E_PARAMNOTFOUND;
  } else {
    // An optional scalar without a default gets the type's empty value.
    VARIANT empty;
    VariantInit(&empty);
    HRESULT hr = VariantChangeType(&arg->owned, &empty, 0, param.type);
    if (FAILED(hr)) return hr;
  }
  arg->type = FfiTypeOf(param.type);
  arg->address = param.type == VT_VARIANT ? static_cast<void*>(&arg->owned) : &arg->owned.llVal;
  return S_OK;
}

HRESULT Call::BindArgument(const ParamDescription& param, const VARIANT* given, UINT givenIndex, BoundArgument* arg,
                           UINT* argErr) {
  auto mismatch = [&](HRESULT hr) {
    if (argErr != nullptr) *argErr = givenIndex;
    return hr;
  };
  if ((param.flags & PARAMFLAG_FOUT) != 0) {
    if (param.type == VT_VARIANT) {
      // The caller's own VARIANT (or the one it references) receives the value.
      arg->pointer = const_cast<VARIANT*>(Dereferenced(given));
    } else if (given->vt == (VT_BYREF | param.type) && given->byref != nullptr) {
      arg->pointer = given->byref;
    } else {
      return mismatch(DISP_E_TYPEMISMATCH);
    }
    arg->address = &arg->pointer;
    arg->type = &ffi_type_pointer;
    return S_OK;
  }
  if (param.type == VT_VARIANT) {
    // Passed as the caller gave it (one byref level removed); the member must not free it.
    arg->owned = *Dereferenced(given);
    arg->address = &arg->owned;
    arg->type = VariantFfiType();
    arg->borrowed = true;
    return S_OK;
  }
  if (param.type == VT_BSTR && given->vt == VT_BSTR) {
    // An [in] string stays the caller's (the member copies what it keeps), so
    // a body of megabytes is handed over as it is instead of copied first.
    arg->owned = *given;
    arg->borrowed = true;
    arg->address = &arg->owned.bstrVal;
    arg->type = FfiTypeOf(param.type);
    return S_OK;
  }
  HRESULT hr = VariantChangeType(&arg->owned, given, 0, param.type);
  if (FAILED(hr)) return mismatch(hr);
  arg->address = &arg->owned.llVal;
  arg->type = FfiTypeOf(param.type);
  return S_OK;
}

HRESULT Call::Run(const InterfaceDescription& iface, void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                  VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (params == nullptr) return E_INVALIDARG;
  if ((flags & ~(DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 ||
      flags == 0) {
    return E_INVALIDARG;
  }
  if (params->cNamedArgs > params->cArgs || (params->cArgs > 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  size_t slot = 0;
  const MemberDescription* member = SelectMember(iface, memid, flags, &slot);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;

  std::span<const ParamDescription> declared = CallerParams(*member);
  if (params->cArgs > declared.size()) return DISP_E_BADPARAMCOUNT;

  // Which rgvarg entry feeds each declared parameter (-1: none).
  std::vector<long> source(declared.size(), -1);
  for (UINT n = 0; n < params->cNamedArgs; ++n) {
    DISPID id = params->rgdispidNamedArgs[n];
    long position = -1;
    if (id == DISPID_PROPERTYPUT) {
      bool isPut = member->kind == INVOKE_PROPERTYPUT || member->kind == INVOKE_PROPERTYPUTREF;
      if (isPut && !declared.empty()) position = static_cast<long>(declared.size()) - 1;
    } else if (id >= 0 && static_cast<size_t>(id) < declared.size()) {
      position = id;
    }
    if (position < 0 || source[static_cast<size_t>(position)] >= 0) {
      if (argErr != nullptr) *argErr = n;
      return DISP_E_PARAMNOTFOUND;
    }
    source[static_cast<size_t>(position)] = static_cast<long>(n);
  }
  UINT positional = params->cArgs - params->cNamedArgs;
  for (UINT k = 0; k < positional; ++k) {
    UINT index = params->cArgs - 1 - k;
    if (source[k] >= 0) {
      if (argErr != nullptr) *argErr = index;
      return DISP_E_PARAMNOTFOUND;
    }
    source[k] = static_cast<long>(index);
  }

  args_.resize(declared.size());
  for (size_t p = 0; p < declared.size(); ++p) {
    HRESULT hr;
    const VARIANT* given = source[p] >= 0 ? &params->rgvarg[source[p]] : nullptr;
    bool missing = given == nullptr || ((declared[p].flags & PARAMFLAG_FOUT) == 0 && IsMissingMarker(*Dereferenced(given)));
    if (missing && given != nullptr && (declared[p].flags & PARAMFLAG_FOPT) == 0) {
      if (argErr != nullptr) *argErr = static_cast<UINT>(source[p]);
      return DISP_E_PARAMNOTOPTIONAL;
    }
    if (missing) {
      hr = BindMissing(declared[p], &args_[p]);
    } else {
      hr = BindArgument(declared[p], given, static_cast<UINT>(source[p]), &args_[p], argErr);
    }
    if (FAILED(hr)) return hr;
  }

  const ParamDescription* retvalParam = RetValParam(*member);
  VariantInit(&retval_);
  void* retvalPointer = nullptr;
  if (retvalParam != nullptr) {
    retvalPointer = retvalParam->type == VT_VARIANT ? static_cast<void*>(&retval_) : &retval_.llVal;
  }

  std::vector<ffi_type*> types;
  std::vector<void*> values;
  types.push_back(&ffi_type_pointer);
  values.push_back(&instance);
  for (BoundArgument& arg : args_) {
    if (arg.type == nullptr) return DISP_E_BADVARTYPE;
    types.push_back(arg.type);
    values.push_back(arg.address);
  }
  if (retvalParam != nullptr) {
    types.push_back(&ffi_type_pointer);
    values.push_back(&retvalPointer);
  }
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), &ffi_type_sint32, types.data()) !=
      FFI_OK) {
    return DISP_E_BADCALLEE;
  }
  void** vtable = *static_cast<void***>(instance);
  void* function = vtable[7 + slot];

  SetErrorInfo(0, nullptr);
  ffi_sarg returned = 0;
  ffi_call(&cif, FFI_FN(function), &returned, values.data());
  auto hr = static_cast<HRESULT>(returned);

  if (FAILED(hr)) {
    VariantClear(&retval_);
    IErrorInfo* error = nullptr;
    if (GetErrorInfo(0, &error) == S_OK && error != nullptr && excepInfo != nullptr) {
      *excepInfo = EXCEPINFO{};
      error->GetSource(&excepInfo->bstrSource);
      error->GetDescription(&excepInfo->bstrDescription);
      error->GetHelpFile(&excepInfo->bstrHelpFile);
      error->GetHelpContext(&excepInfo->dwHelpContext);
    } else if (excepInfo != nullptr) {
      *excepInfo = EXCEPINFO{};
    }
    if (error != nullptr) error->Release();
    if (excepInfo != nullptr) excepInfo->scode = hr;
    return DISP_E_EXCEPTION;
  }

  if (retvalParam != nullptr && retvalParam->type != VT_VARIANT) retval_.vt = retvalParam->type;
  if (result != nullptr) {
    *result = retval_;  // ownership moves to the caller
    VariantInit(&retval_);
  }
  return S_OK;
}

}  // namespace

HRESULT InvokeDescribedMember(const InterfaceDescription& iface, void* instance, MEMBERID memid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (instance == nullptr) return E_INVALIDARG;
  if (result != nullptr) VariantInit(result);
  try {
    Call call;
    return call.Run(iface, instance, memid, flags, params, result, excepInfo, argErr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::span<const ParamDescription> CallerParams(const MemberDescription& member) {
  if (!member.params.empty() && (member.params.back().flags & PARAMFLAG_FRETVAL) != 0) {
    return member.params.first(member.params.size() - 1);
  }
  return member.params;
}

const ParamDescription* RetValParam(const MemberDescription& member) {
  if (!member.params.empty() && (member.params.back().flags & PARAMFLAG_FRETVAL) != 0) return &member.params.back();
  return nullptr;
}

bool NamesEqual(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) return false;
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (std::towlower(*a) != std::towlower(*b)) return false;
  }
  return *a == *b;
}

HRESULT DefaultToVariant(const DefaultValue& value, VARIANT* out) {
  VariantInit(out);
  switch (value.vt) {
    case VT_EMPTY: return S_OK;
    case VT_I2: out->vt = VT_I2; out->iVal = static_cast<SHORT>(value.integer); return S_OK;
    case VT_I4: out->vt = VT_I4; out->lVal = static_cast<LONG>(value.integer); return S_OK;
    case VT_BOOL: out->vt = VT_BOOL; out->boolVal = static_cast<VARIANT_BOOL>(value.integer); return S_OK;
    case VT_R8: out->vt = VT_R8; out->dblVal = value.real; return S_OK;
    case VT_BSTR:
      out->bstrVal = SysAllocString(value.text == nullptr ? L"" : value.text);
      if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    default: return DISP_E_BADVARTYPE;
  }
}

}  // namespace kestnet::platform
