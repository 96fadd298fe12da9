// The module's registry scripts, in the registrar's script language
// (platform/com/registrar_script.h): resource 101 for the application id and
// one per class. Replacement variables: %MODULE% (the module's path) and
// %APPID% (the application id).
#pragma once

#include <string>

#include "automation/class_table.h"

namespace KestAXLib {

inline constexpr UINT kAppIdRegistryResource = 101;

// The text of the script with the given resource id; empty for an unknown id.
std::wstring RegistryScript(UINT resourceId);

// Script 101: HKCR\AppID\{appid} = "KestNetX" and HKCR\AppID\KestNetX.DLL with
// value AppID; AppID itself is never removed.
std::wstring AppIdRegistryScript();

// A class's script: its two ProgIDs, and its CLSID key with ProgID,
// VersionIndependentProgID, Programmable, InprocServer32 (apartment
// threaded), TypeLib and the AppID value. CLSID itself is never removed; the
// class's own key goes with everything below it.
std::wstring ClassRegistryScript(const KestNetClassInfo& info);

// A GUID as the scripts write it: braced, upper case except the third group,
// which is lower case ("{2E13BB93-7F91-4dfb-B754-5135B0453D22}"). Keys compare
// without regard to case, so this is how the text reads, not what it matches.
std::wstring ScriptGuidText(REFGUID guid);

}  // namespace KestAXLib
