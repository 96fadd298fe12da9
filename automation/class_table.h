// The eleven creatable classes of the module: names, CLSIDs, descriptions and
// the ids of their registry scripts. Whether a class can be created is the
// object map's business (module.h): a class enters the map when its object is
// built, but its row here, like its entry in the type library, is fixed.
#pragma once

#include <span>
#include <string>

#include "platform/com/guid.h"

namespace KestAXLib {

struct KestNetClassInfo {
  const char* className;       // the C++ class, e.g. "CPing"
  const CLSID* clsid;
  const wchar_t* coclassName;  // e.g. L"KestNetPing"; ProgIDs are "KestNet." + this (+ ".1")
  const wchar_t* description;  // the registry's description, e.g. L"KestNetPing Class"
  UINT registryResource;       // the id of the class's registry script
};

// In the order the module registers them.
std::span<const KestNetClassInfo> KestNetClasses();

// The row of clsid, or null.
const KestNetClassInfo* FindKestNetClass(REFCLSID clsid);

std::wstring VersionedProgId(const KestNetClassInfo& info);     // "KestNet.KestNetPing.1"
std::wstring IndependentProgId(const KestNetClassInfo& info);   // "KestNet.KestNetPing"

}  // namespace KestAXLib
