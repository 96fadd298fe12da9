#include "automation/method_guard.h"

#include <exception>

#include "automation/object_error.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace ATL {

void AtlThrow(HRESULT hr) { throw CAtlException(hr); }

}  // namespace ATL

namespace KestAXLib {
namespace {

constexpr const char* kUnhandledLine = "Unhandled unknown exception detected. File: %s Line: %d.";

void ReportToCaller(const ObjectIdentity& who, GuardKind kind, const wchar_t* description, HRESULT hr) {
  if (kind != GuardKind::Method || who.clsid == nullptr) return;
  SetObjectErrorInfo(*who.clsid, description, GUID_NULL, hr);
}

struct LifecycleText {
  LifecycleStep step;
  const char* format;
};

// The words each step logs its failure with.
constexpr LifecycleText kLifecycleTexts[] = {
    {LifecycleStep::Constructor, "%s():  Constructor exception."},
    {LifecycleStep::Destructor, "%s():  Destructor exception."},
    {LifecycleStep::FinalConstruct, "%s():  FinalConstruct exception."},
    {LifecycleStep::FinalRelease, "%s():  FinalRelease exception."},
};

}  // namespace

HRESULT HandleGuardedException(const ObjectIdentity& who, const char* methodName, GuardKind kind,
                               const std::source_location& where) noexcept {
  try {
    throw;
  } catch (const ATL::CAtlException& exception) {
    if (kind == GuardKind::Method) {
      ::Log(who.className, kLogLevelWarning, "%s():  Exception - Unknown.", methodName);
    } else {
      ::Log(who.className, kLogLevelWarning, "%s():  Exception - HRESULT = <0x%08.8X>",
                    methodName, static_cast<unsigned>(exception.m_hr));
    }
    ReportToCaller(who, kind, L"ATL_ERROR", exception.m_hr);
  } catch (const KestBase::BaseException& exception) {
    ::Log(who.className, kLogLevelWarning, "%s():  Exception - %S.  Extended Data = <%s>",
                  methodName, exception.GetErrorName().c_str(), exception.GetExtendedData().c_str());
    ReportToCaller(who, kind, exception.GetErrorName().c_str(), E_FAIL);
  } catch (...) {
    ::Log(who.className, kLogLevelTrace, "%s():  Exception - Unknown.", methodName);
    ::Log(who.className, kLogLevelError, kUnhandledLine, who.sourceFile,
                  static_cast<int>(where.line()));
    ReportToCaller(who, kind, L"UNKNOWN_EXCEPTION_ERROR", E_FAIL);
  }
  return E_FAIL;
}

void CheckOutputPointer(const ObjectIdentity& who, const char* methodName, const void* pointer) {
  // Linux has no cheap and reliable test for a readable address (the
  // platform's IsBadReadPtr is unsafe even on Windows); a null pointer is the
  // bad pointer scripts and clients actually pass.
  if (pointer != nullptr) return;
  ::Log(who.className, kLogLevelWarning, "%s():  Error - Invalid Return Parameter.", methodName);
  throw KestBase::NullPointerException();
}

void RejectArgument(const ObjectIdentity& who, const char* message) {
  ::Log(who.className, kLogLevelWarning, "%s", message);
  throw KestBase::InvalidParameterException();
}

void RejectParameter(const ObjectIdentity& who, const char* methodName, const char* parameterName) {
  ::Log(who.className, kLogLevelWarning, "%s - Invalid argument detected for parameter %s.",
                methodName, parameterName);
  throw KestBase::InvalidParameterException();
}

bool HandleLifecycleException(const ObjectIdentity& who, const char* methodName, LifecycleStep step,
                              const std::source_location& where) noexcept {
  const char* format = kLifecycleTexts[0].format;
  for (const LifecycleText& text : kLifecycleTexts) {
    if (text.step == step) format = text.format;
  }
  ::Log(who.className, kLogLevelTrace, format, methodName);
  ::Log(who.className, kLogLevelError, kUnhandledLine, who.sourceFile,
                static_cast<int>(where.line()));
  return false;
}

}  // namespace KestAXLib
