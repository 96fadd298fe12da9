// The method guard: the one way every automation method, listener callback
// and event handler turns what it throws into a result, a log line and the
// caller's error information.
//
//   STDMETHODIMP CDNS::put_Timeout(LONG value) {
//     return KestAXLib::GuardedMethod(kIdentity, "put_Timeout", [&] { ... });
//   }
//
// What is caught, logged and returned:
// - ATL::CAtlException (an HRESULT): level 1 "%s():  Exception - Unknown." for
//   methods, "%s():  Exception - HRESULT = <0x%08.8X>" for callbacks; error
//   description "ATL_ERROR" with the exception's HRESULT; E_FAIL.
// - KestBase::BaseException: level 1 "%s():  Exception - %S.  Extended Data =
//   <%s>"; the error name as description; E_FAIL.
// - anything else: level 4 "%s():  Exception - Unknown.", level 0 "Unhandled
//   unknown exception detected. File: %s Line: %d."; "UNKNOWN_EXCEPTION_ERROR";
//   E_FAIL.
// Methods set the error information (the class's CLSID gives the source);
// callbacks and handlers run on threads that have no caller to tell, so they
// only log.
#pragma once

#include <source_location>
#include <utility>

#include "platform/com/guid.h"

namespace ATL {

// An HRESULT thrown inside a method body (ATL's AtlThrow).
class CAtlException {
 public:
  explicit CAtlException(HRESULT hr) : m_hr(hr) {}
  operator HRESULT() const { return m_hr; }  // NOLINT: implicit like ATL's

  HRESULT m_hr;
};

[[noreturn]] void AtlThrow(HRESULT hr);

}  // namespace ATL

namespace KestAXLib {

// Who is logging: the object's log class name, its source file name and its CLSID.
struct ObjectIdentity {
  const char* className;
  const char* sourceFile;
  const CLSID* clsid;
};

enum class GuardKind {
  Method,    // a COM method or property body: error information is set
  Callback,  // a listener callback, handler or framework helper: logged only
};

// Classifies the exception in flight (call only inside a catch block), logs
// and reports it as the table above says, and returns E_FAIL.
HRESULT HandleGuardedException(const ObjectIdentity& who, const char* methodName, GuardKind kind,
                               const std::source_location& where) noexcept;

template <typename Body>
HRESULT GuardedMethod(const ObjectIdentity& who, const char* methodName, Body&& body,
                      const std::source_location where = std::source_location::current()) noexcept {
  try {
    std::forward<Body>(body)();
    return S_OK;
  } catch (...) {
    return HandleGuardedException(who, methodName, GuardKind::Method, where);
  }
}

template <typename Body>
void GuardedCallback(const ObjectIdentity& who, const char* methodName, Body&& body,
                     const std::source_location where = std::source_location::current()) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    HandleGuardedException(who, methodName, GuardKind::Callback, where);
  }
}

// The output-pointer check of getters and methods with a result: a null
// pointer logs "%s():  Error - Invalid Return Parameter." at level 1 and
// throws KestBase::NullPointerException.
void CheckOutputPointer(const ObjectIdentity& who, const char* methodName, const void* pointer);

// An argument the method refuses: logs the method's own message at level 1
// and throws KestBase::InvalidParameterException.
[[noreturn]] void RejectArgument(const ObjectIdentity& who, const char* message);

// The same, with the standard text "%s - Invalid argument detected for parameter %s.".
[[noreturn]] void RejectParameter(const ObjectIdentity& who, const char* methodName, const char* parameterName);

// Which part of an object's life a construction guard protects.
enum class LifecycleStep { Constructor, Destructor, FinalConstruct, FinalRelease };

// Runs body and lets nothing out: an exception is logged at level 4
// "%s():  Constructor exception." (or Destructor, FinalConstruct,
// FinalRelease) and at level 0 with the unhandled-exception line. Returns
// false when the body threw.
bool HandleLifecycleException(const ObjectIdentity& who, const char* methodName, LifecycleStep step,
                              const std::source_location& where) noexcept;

template <typename Body>
bool GuardedLifecycle(const ObjectIdentity& who, const char* methodName, LifecycleStep step, Body&& body,
                      const std::source_location where = std::source_location::current()) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    return HandleLifecycleException(who, methodName, step, where);
  }
}

}  // namespace KestAXLib
