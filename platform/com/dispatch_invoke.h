// Late-bound calls through a described dual interface. Internal to platform/com:
// ITypeInfo::Invoke of a described interface forwards here.
#pragma once

#include "platform/com/typelib_description.h"

namespace kestnet::platform {

// Calls member `memid` of `instance` (a pointer to the dual interface) through
// its vtable, with arguments coerced as OLE Automation does. See
// dispatch_invoke.cpp for the exact rules.
HRESULT InvokeDescribedMember(const InterfaceDescription& iface, void* instance, MEMBERID memid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

// The parameters a caller supplies (every parameter but the RetVal).
std::span<const ParamDescription> CallerParams(const MemberDescription& member);
// The RetVal parameter, or nullptr.
const ParamDescription* RetValParam(const MemberDescription& member);
// Case-insensitive equality of two names, as GetIDsOfNames compares them.
bool NamesEqual(const wchar_t* a, const wchar_t* b);
// The default value as a VARIANT (the caller clears it).
HRESULT DefaultToVariant(const DefaultValue& value, VARIANT* out);

}  // namespace kestnet::platform
