#include "automation/pending_members.h"

#include "automation/object_error.h"
#include "runtime/log.h"

namespace KestAXLib {

HRESULT ReportPendingMember(const char* logClass, REFCLSID clsid, const char* methodName) noexcept {
  try {
    ::Log(logClass, kLogLevelWarning, "%s():  Error - Not implemented yet.", methodName);
    return SetObjectErrorInfo(clsid, L"NOT_IMPLEMENTED_ERROR", GUID_NULL, E_NOTIMPL);
  } catch (...) {
    // Neither the log nor the error information may turn the answer into another.
    return E_NOTIMPL;
  }
}

}  // namespace KestAXLib
