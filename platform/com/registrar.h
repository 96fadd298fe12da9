// The registrar: runs registry scripts (registrar_script.h) to register a
// module's classes and to remove them again.
//
// Registration creates every key and value of the script; a ForceRemove key
// is deleted with everything below it first, a Delete key is deleted. When a
// registration fails halfway, what it wrote is removed again before the
// failure is returned.
//
// Removal deletes exactly what the script created:
// - NoRemove keys stay (with their own values); their subkeys are processed;
// - ForceRemove keys go with everything below them;
// - any other key loses the named values and the default value the script
//   gave it, and is deleted only when nothing else is left in it (no subkeys,
//   no values), so entries written by someone else are never lost;
// - keys that are already missing are skipped.
//
// Registry failures return HRESULT_FROM_WIN32 of the registry error; syntax
// errors return DISP_E_EXCEPTION before anything is written.
#pragma once

#include "platform/com/registrar_script.h"

namespace kestnet::platform {

class Registrar {
 public:
  // %key% in scripts becomes item. Adding a key again replaces its item.
  HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item);
  HRESULT ClearReplacements();

  HRESULT StringRegister(LPCOLESTR script);
  HRESULT StringUnregister(LPCOLESTR script);

  // Where the last syntax error was (empty message when there was none).
  const RegistrarParseError& LastParseError() const { return lastError_; }

 private:
  HRESULT Run(LPCOLESTR script, bool registering);

  RegistrarReplacements replacements_;
  RegistrarParseError lastError_;
};

}  // namespace kestnet::platform

// ATL's names, so a module's registration code reads as it would on Windows:
// the replacement table a module passes with its script, and the registrar.
struct _ATL_REGMAP_ENTRY {
  LPCOLESTR szKey;   // nullptr ends the table
  LPCOLESTR szData;
};

namespace ATL {
using CRegObject = kestnet::platform::Registrar;
}  // namespace ATL

namespace kestnet::platform {

// Registers (bRegister TRUE) or removes the script with the replacements of a
// table ended by a {nullptr, nullptr} entry (entries may be nullptr).
HRESULT UpdateRegistryFromScript(LPCOLESTR script, BOOL bRegister, const _ATL_REGMAP_ENTRY* entries);

}  // namespace kestnet::platform
