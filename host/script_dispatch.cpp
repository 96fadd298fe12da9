// Automation objects as JavaScript values. A wrapped object is a Proxy: a
// property read asks GetIDsOfNames for the name and either invokes the
// property get or, for methods and parameterised properties, hands out a
// function that invokes the member when called; a property write invokes
// the property put. Nothing is bound early: every call goes through Invoke.
#include <string>
#include <unordered_map>
#include <vector>

#include "host/script_internal.h"
#include "platform/com/ole_site.h"

namespace kestnet::host::script {
namespace {

constexpr const char* kObjectKey = DUK_HIDDEN_SYMBOL("object");
constexpr const char* kTargetKey = DUK_HIDDEN_SYMBOL("target");
constexpr const char* kDispidKey = DUK_HIDDEN_SYMBOL("dispid");
constexpr const char* kNameKey = DUK_HIDDEN_SYMBOL("name");
constexpr const char* kFlagsKey = DUK_HIDDEN_SYMBOL("flags");
constexpr const char* kHandlerKey = DUK_HIDDEN_SYMBOL("dispatchHandler");

// How a member is reached, learned once per name from the type information.
struct Member {
  DISPID dispid = DISPID_UNKNOWN;
  bool callable = false;  // a method or a property get that takes arguments
};

// What the Proxy's target holds: the object and what has been learned of it.
struct WrappedObject {
  IDispatch* object = nullptr;  // one reference
  std::unordered_map<std::wstring, Member> members;
};

WrappedObject* WrappedAt(duk_context* ctx, duk_idx_t index) {
  if (!duk_is_object(ctx, index)) return nullptr;
  duk_get_prop_string(ctx, index, kObjectKey);
  auto* wrapped = static_cast<WrappedObject*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return wrapped;
}

duk_ret_t FinalizeWrapped(duk_context* ctx) {
  duk_get_prop_string(ctx, 0, kObjectKey);
  auto* wrapped = static_cast<WrappedObject*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  if (wrapped == nullptr) return 0;
  duk_push_pointer(ctx, nullptr);
  duk_put_prop_string(ctx, 0, kObjectKey);
  if (wrapped->object != nullptr) wrapped->object->Release();
  delete wrapped;
  return 0;
}

// Whether `dispid` is a method (or a property get with parameters) by the
// object's type information. Objects without it: a property when a
// property get with no arguments succeeds, decided by the caller.
bool IsCallableByTypeInfo(IDispatch* object, DISPID dispid, bool* known) {
  *known = false;
  UINT count = 0;
  if (FAILED(object->GetTypeInfoCount(&count)) || count == 0) return false;
  ATL::CComPtr<ITypeInfo> info;
  if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info) return false;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return false;
  WORD functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  bool callable = false;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function)) || function == nullptr) continue;
    if (function->memid == dispid) {
      *known = true;
      if (function->invkind == INVOKE_FUNC) callable = true;
      if (function->invkind == INVOKE_PROPERTYGET) {
        // The return value of a property get is its last, retval parameter.
        int inputs = function->cParams;
        if (inputs > 0 &&
            (function->lprgelemdescParam[inputs - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) != 0) {
          --inputs;
        }
        if (inputs > 0) callable = true;
      }
    }
    info->ReleaseFuncDesc(function);
  }
  return callable;
}

// Invokes `dispid` with the script arguments at stack indexes
// [first, first + count) and pushes the result.
void InvokeAndPush(duk_context* ctx, IDispatch* object, const std::wstring& name, DISPID dispid, WORD flags,
                   duk_idx_t first, duk_idx_t count) {
  // DISPPARAMS holds the arguments last first.
  std::vector<ATL::CComVariant> arguments(static_cast<size_t>(count));
  for (duk_idx_t i = 0; i < count; ++i) {
    ConvertArgument(ctx, first + i, &arguments[static_cast<size_t>(count - 1 - i)],
                    Utf8(name.c_str(), name.size()) + ": argument " + std::to_string(i + 1));
  }
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = arguments.empty() ? nullptr : arguments.data();
  params.cArgs = static_cast<UINT>(arguments.size());
  if ((flags & DISPATCH_PROPERTYPUT) != 0) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  ATL::CComVariant result;
  EXCEPINFO excep{};
  UINT argError = 0;
  HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              (flags & DISPATCH_PROPERTYPUT) != 0 ? nullptr : &result, &excep, &argError);
  if (FAILED(hr)) FailInvoke(name, hr, excep);
  // An event handler that failed during the call ends the run.
  if (StateOf(ctx).ending != RunState::Ending::kNone) Fail("the script is ending", E_ABORT);
  PushVariant(ctx, result);
}

Member LookUp(WrappedObject& wrapped, const std::wstring& name, HRESULT* hr) {
  auto found = wrapped.members.find(name);
  if (found != wrapped.members.end()) {
    *hr = S_OK;
    return found->second;
  }
  Member member;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  *hr = wrapped.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member.dispid);
  if (FAILED(*hr)) return member;
  bool known = false;
  member.callable = IsCallableByTypeInfo(wrapped.object, member.dispid, &known);
  if (known) wrapped.members.emplace(name, member);
  return member;
}

// The function a method read hands out; calling it invokes the member.
duk_ret_t CallMemberBody(duk_context* ctx) {
  duk_idx_t count = duk_get_top(ctx);
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kTargetKey);
  WrappedObject* wrapped = WrappedAt(ctx, -1);
  duk_get_prop_string(ctx, -2, kDispidKey);
  auto dispid = static_cast<DISPID>(duk_get_int(ctx, -1));
  duk_get_prop_string(ctx, -3, kFlagsKey);
  auto flags = static_cast<WORD>(duk_get_uint(ctx, -1));
  duk_get_prop_string(ctx, -4, kNameKey);
  std::wstring name = Wide(duk_get_string(ctx, -1));
  duk_pop_n(ctx, 5);
  if (wrapped == nullptr || wrapped->object == nullptr) Fail("The object has been released", E_UNEXPECTED);
  ATL::CComPtr<IDispatch> keep(wrapped->object);  // an event handler may drop the wrapper during the call
  InvokeAndPush(ctx, keep, name, dispid, flags, 0, count);
  return 1;
}

void PushMemberFunction(duk_context* ctx, duk_idx_t target, const char* name, DISPID dispid, WORD flags) {
  target = duk_normalize_index(ctx, target);
  duk_push_c_function(ctx, Native<CallMemberBody>, DUK_VARARGS);
  duk_dup(ctx, target);
  duk_put_prop_string(ctx, -2, kTargetKey);
  duk_push_int(ctx, dispid);
  duk_put_prop_string(ctx, -2, kDispidKey);
  duk_push_uint(ctx, flags);
  duk_put_prop_string(ctx, -2, kFlagsKey);
  duk_push_string(ctx, name);
  duk_put_prop_string(ctx, -2, kNameKey);
}

duk_ret_t DescribeObject(duk_context* ctx) {
  duk_push_string(ctx, "[object]");
  return 1;
}

// get(target, key, receiver)
duk_ret_t ProxyGetBody(duk_context* ctx) {
  WrappedObject* wrapped = WrappedAt(ctx, 0);
  if (wrapped == nullptr || wrapped->object == nullptr || !duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
    return 0;
  }
  const char* key = duk_get_string(ctx, 1);
  std::wstring name = Wide(key);
  HRESULT hr = S_OK;
  Member member = LookUp(*wrapped, name, &hr);
  if (FAILED(hr)) {
    // Conversions ask for these; an object without such members still has a text.
    std::string text = key;
    if (text == "toString" || text == "valueOf" || text == "toJSON") {
      duk_push_c_function(ctx, DescribeObject, 0);
      return 1;
    }
    return 0;  // undefined, as for any missing property
  }
  if (member.callable) {
    PushMemberFunction(ctx, 0, key, member.dispid, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    return 1;
  }
  ATL::CComPtr<IDispatch> keep(wrapped->object);
  ATL::CComVariant result;
  EXCEPINFO excep{};
  DISPPARAMS none{};
  UINT argError = 0;
  hr = keep->Invoke(member.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, &excep,
                    &argError);
  if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL) {
    // Not a property after all (an object without type information): a method.
    kestnet::platform::ClearExcepInfo(&excep);
    PushMemberFunction(ctx, 0, key, member.dispid, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    return 1;
  }
  if (FAILED(hr)) FailInvoke(name, hr, excep);
  if (StateOf(ctx).ending != RunState::Ending::kNone) Fail("the script is ending", E_ABORT);
  PushVariant(ctx, result);
  return 1;
}

// set(target, key, value, receiver)
duk_ret_t ProxySetBody(duk_context* ctx) {
  WrappedObject* wrapped = WrappedAt(ctx, 0);
  if (wrapped == nullptr || wrapped->object == nullptr) Fail("The object has been released", E_UNEXPECTED);
  if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) Fail("Object doesn't support this property", DISP_E_UNKNOWNNAME);
  std::wstring name = Wide(duk_get_string(ctx, 1));
  HRESULT hr = S_OK;
  Member member = LookUp(*wrapped, name, &hr);
  if (FAILED(hr)) {
    EXCEPINFO none{};
    FailInvoke(name, hr, none);
  }
  ATL::CComPtr<IDispatch> keep(wrapped->object);
  InvokeAndPush(ctx, keep, name, member.dispid, DISPATCH_PROPERTYPUT, 2, 1);
  duk_push_true(ctx);
  return 1;
}

// has(target, key): `name in object` answers whether the object knows the name.
duk_ret_t ProxyHasBody(duk_context* ctx) {
  WrappedObject* wrapped = WrappedAt(ctx, 0);
  bool found = false;
  if (wrapped != nullptr && wrapped->object != nullptr && duk_is_string(ctx, 1) && !duk_is_symbol(ctx, 1)) {
    HRESULT hr = S_OK;
    LookUp(*wrapped, Wide(duk_get_string(ctx, 1)), &hr);
    found = SUCCEEDED(hr);
  }
  duk_push_boolean(ctx, found);
  return 1;
}

}  // namespace

void RegisterDispatchSupport(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_object(ctx);
  duk_push_c_function(ctx, Native<ProxyGetBody>, 3);
  duk_put_prop_string(ctx, -2, "get");
  duk_push_c_function(ctx, Native<ProxySetBody>, 4);
  duk_put_prop_string(ctx, -2, "set");
  duk_push_c_function(ctx, Native<ProxyHasBody>, 2);
  duk_put_prop_string(ctx, -2, "has");
  duk_put_prop_string(ctx, -2, kHandlerKey);
  duk_pop(ctx);
}

void PushDispatch(duk_context* ctx, IDispatch* object) {
  auto* wrapped = new WrappedObject;
  wrapped->object = object;
  object->AddRef();
  duk_push_object(ctx);  // the target: owns the reference through its finalizer
  duk_push_pointer(ctx, wrapped);
  duk_put_prop_string(ctx, -2, kObjectKey);
  duk_push_c_function(ctx, FinalizeWrapped, 2);
  duk_set_finalizer(ctx, -2);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kHandlerKey);
  duk_remove(ctx, -2);
  duk_push_proxy(ctx, 0);
}

IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index) {
  // Hidden symbols bypass a Proxy's traps and read its target.
  WrappedObject* wrapped = WrappedAt(ctx, index);
  return wrapped == nullptr ? nullptr : wrapped->object;
}

IDispatch* CreateScriptObject(duk_context* ctx, const std::string& progid) {
  std::wstring wide = Wide(progid.c_str());
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) {
    Fail("Could not create object named \"" + progid + "\": no class is registered under that name (" +
             HResultDescription(hr) + ")",
         hr);
  }
  ATL::CComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
  if (FAILED(hr)) Fail("Could not create object named \"" + progid + "\": " + HResultDescription(hr), hr);
  RunState& state = StateOf(ctx);
  if (state.site) {
    ATL::CComPtr<IObjectWithSite> withSite;
    if (SUCCEEDED(object->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)))) {
      hr = withSite->SetSite(state.site);
      if (FAILED(hr)) Fail("Could not give \"" + progid + "\" its site: " + HResultDescription(hr), hr);
    }
  }
  return object.Detach();
}

}  // namespace kestnet::host::script
