// What the tests that walk the type library tables (KESTNET_INTERFACES of
// automation/typelib_table.h) share: the macro a walk passes for the kind of
// interface it does not visit, a row's invoke kind, a sample value of every
// parameter type, and the type information of one member.
#pragma once

#include "automation/typelib_macros.h"
#include "platform/com/com.h"

#define KESTNET_TEST_SKIP_DUAL(interface)
#define KESTNET_TEST_SKIP_EVENTS(interface, connectionPoint)

#define KESTNET_TEST_KIND_Method INVOKE_FUNC
#define KESTNET_TEST_KIND_PropertyGet INVOKE_PROPERTYGET
#define KESTNET_TEST_KIND_PropertyPut INVOKE_PROPERTYPUT

// A value of every parameter type; `text` (a BSTR) and `empty` (a VARIANT)
// are locals of the walk.
#define KESTNET_TEST_SAMPLE_BSTR text
#define KESTNET_TEST_SAMPLE_SHORT SHORT{1}
#define KESTNET_TEST_SAMPLE_LONG LONG{2}
#define KESTNET_TEST_SAMPLE_INT INT{3}
#define KESTNET_TEST_SAMPLE_ULONG ULONG{4}
#define KESTNET_TEST_SAMPLE_VARIANT_BOOL VARIANT_TRUE
#define KESTNET_TEST_SAMPLE_LPDISPATCH static_cast<IDispatch*>(nullptr)
#define KESTNET_TEST_SAMPLE_VARIANT empty
#define KESTNET_TEST_SAMPLE(kind, type, name, ...) KESTNET_TEST_SAMPLE_##type

namespace kestnet::testing {

inline WORD FunctionCount(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (info->GetTypeAttr(&attributes) != S_OK) return 0;
  const WORD count = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  return count;
}

// The function description of member id with invoke kind kind, or null; the
// caller releases it.
inline FUNCDESC* FindFunction(ITypeInfo* info, MEMBERID id, INVOKEKIND kind) {
  const WORD count = FunctionCount(info);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* function = nullptr;
    if (info->GetFuncDesc(i, &function) != S_OK) continue;
    if (function->memid == id && function->invkind == kind) return function;
    info->ReleaseFuncDesc(function);
  }
  return nullptr;
}

}  // namespace kestnet::testing
