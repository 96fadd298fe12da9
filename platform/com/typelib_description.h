// Type libraries described in C++: one constexpr description per library is
// the single source of truth for dispids, names, parameters and events. The
// runtime builds ITypeLib / ITypeInfo from it (CreateTypeLibFromDescription),
// dispatches dual interfaces through it (ITypeInfo::Invoke) and registers it
// (RegisterTypeLib). A module exports its description through
// `DllGetTypeLibDescription` so LoadTypeLib / LoadRegTypeLib can find it by
// path, the way Windows finds the TYPELIB resource inside a DLL.
//
// How to describe an interface:
//
//   constexpr ParamDescription kPingParams[] = {
//       In(L"Target", VT_BSTR), In(L"TTL", VT_I2), In(L"DataSize", VT_I2), In(L"Timeout", VT_I4)};
//   constexpr ParamDescription kTimeoutOut[] = {RetVal(L"pVal", VT_I4)};
//   constexpr ParamDescription kTimeoutIn[] = {In(L"newVal", VT_I4)};
//   constexpr ParamDescription kServers[] = {In(L"DNSServers", VT_BSTR),
//                                            Optional(L"Delimiter", VT_BSTR, DefaultText(L","))};
//   constexpr MemberDescription kMembers[] = {
//       Method(1, L"Ping", kPingParams),
//       PropertyGet(3, L"DNSTimeout", kTimeoutOut),
//       PropertyPut(3, L"DNSTimeout", kTimeoutIn),
//       ...};
//   constexpr InterfaceDescription kIPing = Dual(L"IKestNetPing", IID_IKestNetPing, kMembers,
//                                                L"IKestNetPing Interface");
//
// Rules:
// - For a dual interface the members are listed in vtable order: member i is
//   vtable slot 7 + i (after IUnknown's 3 and IDispatch's 4 slots). A property
//   with get and put is two members, in the order of the C++ declaration.
// - Every dual method returns HRESULT. Parameter types are the VARTYPE passed
//   through the vtable: VT_BSTR, VT_I4, VT_I2, VT_BOOL, VT_R8, VT_DISPATCH,
//   VT_UNKNOWN, VT_VARIANT (a VARIANT by value), VT_UI4, VT_INT... An out
//   parameter is the pointed-to type marked Out or RetVal (the runtime passes a
//   pointer). RetVal, when present, is the last parameter.
// - Optional parameters come after the required ones. Optional(name, type,
//   default) fills a missing argument with the default; OptionalVariant(name)
//   passes a missing VARIANT argument as VT_ERROR / DISP_E_PARAMNOTFOUND, as
//   OLE Automation does.
// - Event interfaces are Events(...) (pure dispinterfaces): sinks implement
//   IDispatch::Invoke and receive the dispids and argument order written here.
// - A coclass names its default interface and its default source interface
//   (nullptr when it fires no events).
#pragma once

#include <span>

#include "platform/com/typeinfo.h"

namespace kestnet::platform {

struct DefaultValue {
  VARTYPE vt = VT_EMPTY;
  LONGLONG integer = 0;
  double real = 0;
  const wchar_t* text = nullptr;
};

constexpr DefaultValue DefaultLong(LONG value) { return DefaultValue{VT_I4, value, 0, nullptr}; }
constexpr DefaultValue DefaultShort(SHORT value) { return DefaultValue{VT_I2, value, 0, nullptr}; }
constexpr DefaultValue DefaultBool(bool value) {
  return DefaultValue{VT_BOOL, value ? VARIANT_TRUE : VARIANT_FALSE, 0, nullptr};
}
constexpr DefaultValue DefaultReal(double value) { return DefaultValue{VT_R8, 0, value, nullptr}; }
constexpr DefaultValue DefaultText(const wchar_t* value) { return DefaultValue{VT_BSTR, 0, 0, value}; }

struct ParamDescription {
  const wchar_t* name;
  VARTYPE type;  // the value type; Out and RetVal parameters are passed as pointers to it
  USHORT flags;  // PARAMFLAG_*
  DefaultValue defaultValue;
};

constexpr ParamDescription In(const wchar_t* name, VARTYPE type) {
  return ParamDescription{name, type, PARAMFLAG_FIN, {}};
}
constexpr ParamDescription Optional(const wchar_t* name, VARTYPE type, DefaultValue value) {
  return ParamDescription{name, type, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, value};
}
constexpr ParamDescription OptionalVariant(const wchar_t* name) {
  return ParamDescription{name, VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT, {}};
}
constexpr ParamDescription Out(const wchar_t* name, VARTYPE type) {
  return ParamDescription{name, type, PARAMFLAG_FOUT, {}};
}
constexpr ParamDescription InOut(const wchar_t* name, VARTYPE type) {
  return ParamDescription{name, type, PARAMFLAG_FIN | PARAMFLAG_FOUT, {}};
}
constexpr ParamDescription RetVal(const wchar_t* name, VARTYPE type) {
  return ParamDescription{name, type, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, {}};
}

struct MemberDescription {
  DISPID dispid;
  const wchar_t* name;
  INVOKEKIND kind;
  std::span<const ParamDescription> params;
  const wchar_t* helpString;
};

constexpr MemberDescription Method(DISPID dispid, const wchar_t* name, std::span<const ParamDescription> params = {},
                                   const wchar_t* help = nullptr) {
  return MemberDescription{dispid, name, INVOKE_FUNC, params, help};
}
constexpr MemberDescription PropertyGet(DISPID dispid, const wchar_t* name, std::span<const ParamDescription> params,
                                        const wchar_t* help = nullptr) {
  return MemberDescription{dispid, name, INVOKE_PROPERTYGET, params, help};
}
constexpr MemberDescription PropertyPut(DISPID dispid, const wchar_t* name, std::span<const ParamDescription> params,
                                        const wchar_t* help = nullptr) {
  return MemberDescription{dispid, name, INVOKE_PROPERTYPUT, params, help};
}
constexpr MemberDescription PropertyPutRef(DISPID dispid, const wchar_t* name,
                                           std::span<const ParamDescription> params, const wchar_t* help = nullptr) {
  return MemberDescription{dispid, name, INVOKE_PROPERTYPUTREF, params, help};
}

enum class InterfaceKind {
  Dual,    // IDispatch-derived, callable through its vtable and through Invoke
  Events,  // pure dispinterface, implemented by sinks
};

struct InterfaceDescription {
  const wchar_t* name;
  IID iid;
  InterfaceKind kind;
  std::span<const MemberDescription> members;
  const wchar_t* helpString;
};

constexpr InterfaceDescription Dual(const wchar_t* name, const IID& iid, std::span<const MemberDescription> members,
                                    const wchar_t* help = nullptr) {
  return InterfaceDescription{name, iid, InterfaceKind::Dual, members, help};
}
constexpr InterfaceDescription Events(const wchar_t* name, const IID& iid, std::span<const MemberDescription> members,
                                      const wchar_t* help = nullptr) {
  return InterfaceDescription{name, iid, InterfaceKind::Events, members, help};
}

struct CoclassDescription {
  const wchar_t* name;
  CLSID clsid;
  const InterfaceDescription* defaultInterface;
  const InterfaceDescription* defaultSource;  // nullptr: the class fires no events
  const wchar_t* helpString;
};

struct TypeLibDescription {
  const wchar_t* name;
  GUID libid;
  WORD majorVersion;
  WORD minorVersion;
  const wchar_t* helpString;
  std::span<const InterfaceDescription* const> interfaces;
  std::span<const CoclassDescription> coclasses;
};

// Builds the library. The description must outlive the library (it is
// normally a constexpr object of the module that owns it). Duplicate
// dispids of the same kind in one interface, a RetVal that is not last, or a
// required parameter after an optional one give TYPE_E_INVALIDSTATE.
HRESULT CreateTypeLibFromDescription(const TypeLibDescription* description, ITypeLib** typeLib);

}  // namespace kestnet::platform

// Exported by a module that carries a type library:
//   extern "C" const kestnet::platform::TypeLibDescription* DllGetTypeLibDescription();
using DllGetTypeLibDescriptionFunction = const kestnet::platform::TypeLibDescription* (*)();
