// The seam between the dispatch base (TolLock, tol_lock.h) and the trust gate
// that decides whether a script's call may run.
//
// TolLock::Invoke passes dispids below 0 and 5979294 straight to the type
// information. For every other call it asks its object's gate first, and runs
// the member only when the gate answers S_OK; any other answer is returned to
// the script as it is (E_ACCESSDENIED, DISP_E_EXCEPTION with the caller's
// EXCEPINFO filled by the gate). An exception thrown by the gate or by the
// dispatch becomes E_UNEXPECTED in TolLock.
//
// Each object owns one gate, made when the object is constructed by the
// factory installed with SetInvokeGateFactory. The trust gate installs its
// own when the module loads, from its source file:
//
//   const bool kTrustGateInstalled =
//       (KestAXLib::SetInvokeGateFactory([] { return std::unique_ptr<InvokeGate>(new KestTrustGate); }), true);
//
// (the module links the whole automation library, so such an initializer is
// kept). Without an installed factory every gated call is refused with
// E_ACCESSDENIED: a module that has no way to decide trust must not run
// members for an unknown page.
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"

namespace KestAXLib {

// What the gate knows of the call and of the object it guards. Pointers are
// borrowed for the duration of the call.
struct InvokeGateCall {
  DISPID dispid;
  const CLSID* clsid;             // the object's class (its ProgID names the source of an exception)
  IUnknown* site;                 // the object's site, null when none was set
  BSTR trustedSiteDataFileUrl;    // the object's TrustedSiteDataFileURL, may be null
  EXCEPINFO* excepInfo;           // the caller's, may be null
};

class InvokeGate {
 public:
  virtual ~InvokeGate() = default;

  // S_OK lets the call through; anything else is the call's result.
  virtual HRESULT Admit(const InvokeGateCall& call) = 0;

  // The vendor id the gate holds (empty until it is known).
  virtual std::string VendorId() const = 0;
};

using InvokeGateFactory = std::unique_ptr<InvokeGate> (*)();

// Process-wide; pass nullptr to go back to refusing every call.
void SetInvokeGateFactory(InvokeGateFactory factory);

// A new gate from the installed factory, or the refusing gate. Never null.
std::unique_ptr<InvokeGate> CreateInvokeGate();

}  // namespace KestAXLib
