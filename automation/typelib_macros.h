// The machinery that turns the tables of typelib_table.h into C++: interface
// declarations (interfaces.h), the library description (typelib.cpp) and the
// event-firing code (event_proxies.h). Nothing here names a member; see
// typelib_table.h for the tables themselves.
//
// A parameter is a tuple (Kind, Type, Name[, Default]): Kind is In, RetVal or
// Optional (then Default is a DefaultValue expression); Type is one of the
// type tokens below. Every token maps to its C++ type (as a dual interface
// and as an event proxy take it), its VARTYPE and the EventArguments adder
// that carries it to a sink.
#pragma once

// KESTNET_TL_FOR_EACH(M, t1, t2, ...) applies M to each parenthesised tuple:
// M t1 M t2 ...; KESTNET_TL_FOR_EACH_COMMA separates the results with commas.
// Deferred recursion bounded by KESTNET_TL_EXPAND: 3^4 = 81 rescans, more than
// any member's parameters.
#define KESTNET_TL_PARENS ()
#define KESTNET_TL_EXPAND(...) KESTNET_TL_EXPAND3(KESTNET_TL_EXPAND3(KESTNET_TL_EXPAND3(__VA_ARGS__)))
#define KESTNET_TL_EXPAND3(...) KESTNET_TL_EXPAND2(KESTNET_TL_EXPAND2(KESTNET_TL_EXPAND2(__VA_ARGS__)))
#define KESTNET_TL_EXPAND2(...) KESTNET_TL_EXPAND1(KESTNET_TL_EXPAND1(KESTNET_TL_EXPAND1(__VA_ARGS__)))
#define KESTNET_TL_EXPAND1(...) __VA_ARGS__

#define KESTNET_TL_FOR_EACH(macro, ...) \
  __VA_OPT__(KESTNET_TL_EXPAND(KESTNET_TL_FOR_EACH_STEP(macro, __VA_ARGS__)))
#define KESTNET_TL_FOR_EACH_STEP(macro, first, ...) \
  macro first __VA_OPT__(KESTNET_TL_FOR_EACH_AGAIN KESTNET_TL_PARENS(macro, __VA_ARGS__))
#define KESTNET_TL_FOR_EACH_AGAIN() KESTNET_TL_FOR_EACH_STEP

#define KESTNET_TL_FOR_EACH_COMMA(macro, ...) \
  __VA_OPT__(KESTNET_TL_EXPAND(KESTNET_TL_FOR_EACH_COMMA_STEP(macro, __VA_ARGS__)))
#define KESTNET_TL_FOR_EACH_COMMA_STEP(macro, first, ...) \
  macro first __VA_OPT__(, KESTNET_TL_FOR_EACH_COMMA_AGAIN KESTNET_TL_PARENS(macro, __VA_ARGS__))
#define KESTNET_TL_FOR_EACH_COMMA_AGAIN() KESTNET_TL_FOR_EACH_COMMA_STEP

#define KESTNET_TL_WIDE(text) KESTNET_TL_WIDE_(text)
#define KESTNET_TL_WIDE_(text) L##text
#define KESTNET_TL_NAME(name) KESTNET_TL_WIDE(#name)

// Type tokens.
#define KESTNET_TL_CPP_BSTR BSTR
#define KESTNET_TL_CPP_SHORT SHORT
#define KESTNET_TL_CPP_LONG LONG
#define KESTNET_TL_CPP_INT INT
#define KESTNET_TL_CPP_ULONG ULONG
#define KESTNET_TL_CPP_VARIANT_BOOL VARIANT_BOOL
#define KESTNET_TL_CPP_LPDISPATCH IDispatch*
#define KESTNET_TL_CPP_VARIANT VARIANT

#define KESTNET_TL_EVENT_CPP_BSTR BSTR
#define KESTNET_TL_EVENT_CPP_SHORT SHORT
#define KESTNET_TL_EVENT_CPP_LONG LONG
#define KESTNET_TL_EVENT_CPP_INT INT
#define KESTNET_TL_EVENT_CPP_ULONG ULONG
#define KESTNET_TL_EVENT_CPP_VARIANT_BOOL VARIANT_BOOL
#define KESTNET_TL_EVENT_CPP_LPDISPATCH IDispatch*
#define KESTNET_TL_EVENT_CPP_VARIANT const VARIANT&

#define KESTNET_TL_VT_BSTR VT_BSTR
#define KESTNET_TL_VT_SHORT VT_I2
#define KESTNET_TL_VT_LONG VT_I4
#define KESTNET_TL_VT_INT VT_INT
#define KESTNET_TL_VT_ULONG VT_UI4
#define KESTNET_TL_VT_VARIANT_BOOL VT_BOOL
#define KESTNET_TL_VT_LPDISPATCH VT_DISPATCH
#define KESTNET_TL_VT_VARIANT VT_VARIANT

#define KESTNET_TL_ADD_BSTR AddBstr
#define KESTNET_TL_ADD_SHORT AddShort
#define KESTNET_TL_ADD_LONG AddLong
#define KESTNET_TL_ADD_INT AddInt
#define KESTNET_TL_ADD_ULONG AddULong
#define KESTNET_TL_ADD_VARIANT_BOOL AddBool
#define KESTNET_TL_ADD_LPDISPATCH AddDispatch
#define KESTNET_TL_ADD_VARIANT AddVariant

// The rows of a property: get (its value as pVal) and, unless read-only,
// put (the new value as newVal).
#define KESTNET_TL_READ_ONLY(X, dispid, name, type) X(PropertyGet, dispid, name, (RetVal, type, pVal))
#define KESTNET_TL_PROPERTY(X, dispid, name, type) \
  KESTNET_TL_READ_ONLY(X, dispid, name, type) X(PropertyPut, dispid, name, (In, type, newVal))

// A member's C++ name by its kind.
#define KESTNET_TL_VTABLE_NAME_Method(name) name
#define KESTNET_TL_VTABLE_NAME_PropertyGet(name) get_##name
#define KESTNET_TL_VTABLE_NAME_PropertyPut(name) put_##name
#define KESTNET_TL_VTABLE_NAME(kind, name) KESTNET_TL_VTABLE_NAME_##kind(name)

// A parameter as a dual interface declares it: an out value is a pointer.
#define KESTNET_TL_POINTER_In
#define KESTNET_TL_POINTER_Optional
#define KESTNET_TL_POINTER_RetVal *
#define KESTNET_TL_DECLARE_PARAM(kind, type, name, ...) KESTNET_TL_CPP_##type KESTNET_TL_POINTER_##kind name

// A parameter as the library describes it: In(L"Target", VT_BSTR), ...
#define KESTNET_TL_DESCRIBE_PARAM(kind, type, name, ...) \
  kind(KESTNET_TL_NAME(name), KESTNET_TL_VT_##type __VA_OPT__(, __VA_ARGS__))

// An event parameter as its Fire_ operation takes it, and the statement that
// adds it to the sinks' arguments.
#define KESTNET_TL_DECLARE_EVENT_PARAM(kind, type, name, ...) KESTNET_TL_EVENT_CPP_##type name
#define KESTNET_TL_ADD_EVENT_ARGUMENT(kind, type, name, ...) arguments.KESTNET_TL_ADD_##type(name);
