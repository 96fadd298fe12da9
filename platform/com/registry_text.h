// Reading and writing text values of HKEY_CLASSES_ROOT.
// Internal to platform/com.
#pragma once

#include <string>

#include "platform/registry/registry.h"

namespace kestnet::platform {

// The REG_SZ / REG_EXPAND_SZ value `name` ("" = default) of HKCR\subkey.
bool ReadClassesRootText(const std::wstring& subkey, const std::wstring& name, std::wstring* value);
// Creates HKCR\subkey and sets its text value; a Win32 error number.
LSTATUS WriteClassesRootText(const std::wstring& subkey, const std::wstring& name, const std::wstring& value);

}  // namespace kestnet::platform
