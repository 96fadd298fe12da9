#include "automation/tol_lock.h"

#include <string>

#include "platform/os/debug_output.h"

namespace KestAXLib {

void TolLockDebugOutput(const char* message) {
  std::string line = " ** TolLock : ";
  line += message;
  line += "\n";
  OutputDebugStringA(line.c_str());
}

void TolLockDebugOutputWithResult(const char* message) {
  std::string line = "\n ** TolLock : ";
  line += message;
  line += "\n";
  OutputDebugStringA(line.c_str());
}

HRESULT TolLockUnexpected() noexcept {
  try {
    TolLockDebugOutput(
        "Invoke Override: Unhandled exception detected while calling Invoke. Returning HRESULT E_UNEXPECTED.");
  } catch (...) {
    // The log line is lost; the result is still E_UNEXPECTED.
  }
  return E_UNEXPECTED;
}

}  // namespace KestAXLib
