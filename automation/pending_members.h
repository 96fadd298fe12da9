// Members of a dual interface whose work is not built yet on this platform.
//
// An interface is published whole (typelib_table.h fixes every member's
// dispid and vtable slot), while its object gains the work behind the
// members one piece at a time. PendingMembers_<interface><&CLSID> implements
// every member of the interface as "not implemented": it logs
// "%s():  Error - Not implemented yet." at level 1 under the interface's
// category ("KestNetX::<interface>"), sets the caller's error information
// (description "NOT_IMPLEMENTED_ERROR") and returns E_NOTIMPL. The object
// derives from it (through TolLock, in place of the interface) and overrides
// the members it does implement; the rest keep answering E_NOTIMPL until
// their work arrives.
//
//   class CWindowsNetwork
//       : public TolLock<CWindowsNetwork,
//                        PendingMembers_IKestNetWindowsNetwork<&CLSID_KestNetWindowsNetwork>, ...>
//
// The class adds no data and no virtual functions, so its vtable is the
// interface's.
#pragma once

#include "automation/interfaces.h"
#include "automation/typelib_macros.h"
#include "automation/typelib_table.h"

namespace KestAXLib {

// Logs and reports a member that is not implemented yet; returns E_NOTIMPL.
HRESULT ReportPendingMember(const char* logClass, REFCLSID clsid, const char* methodName) noexcept;

}  // namespace KestAXLib

#define KESTNET_TL_PENDING_STRING(text) KESTNET_TL_PENDING_STRING_(text)
#define KESTNET_TL_PENDING_STRING_(text) #text
// A parameter without a name: the pending body uses none of them.
#define KESTNET_TL_PENDING_PARAM(kind, type, name, ...) KESTNET_TL_CPP_##type KESTNET_TL_POINTER_##kind
#define KESTNET_TL_PENDING_MEMBER(kind, dispid, name, ...)                                                 \
  STDMETHODIMP KESTNET_TL_VTABLE_NAME(kind, name)(                                                         \
      KESTNET_TL_FOR_EACH_COMMA(KESTNET_TL_PENDING_PARAM, __VA_ARGS__)) override {                         \
    return ::KestAXLib::ReportPendingMember(kLogClass, *pclsid,                                           \
                                            KESTNET_TL_PENDING_STRING(KESTNET_TL_VTABLE_NAME(kind, name))); \
  }
#define KESTNET_TL_DECLARE_PENDING_MEMBERS(interface)                         \
  namespace KestAXLib {                                                       \
  template <const CLSID* pclsid>                                              \
  class PendingMembers_##interface : public interface {                       \
   public:                                                                    \
    static constexpr const char* kLogClass = "KestNetX::" #interface;         \
    KESTNET_MEMBERS_##interface(KESTNET_TL_PENDING_MEMBER)                    \
                                                                              \
   protected:                                                                 \
    ~PendingMembers_##interface() = default;                                  \
  };                                                                          \
  }

// The interfaces whose objects are still being built.
KESTNET_TL_DECLARE_PENDING_MEMBERS(IKestNetWindowsNetwork)
