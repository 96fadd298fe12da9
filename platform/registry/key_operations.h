// The registry operations on handle targets, in UTF-8; registry.cpp adds the
// Win32 argument and buffer rules and the wide and narrow text forms on top.
// Every function returns a Win32 error number and never throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/key_table.h"

namespace kestnet::platform::registry_store {

// Splits "A\B\C" into components. Trailing separators are ignored, a leading one
// gives ERROR_BAD_PATHNAME (unless allowLeading: the classes root accepts it, as
// Windows does), an empty component in the middle gives ERROR_BAD_PATHNAME and
// a component longer than 255 characters ERROR_INVALID_PARAMETER.
LONG SplitKeyPath(std::string_view path, bool allowLeading, std::vector<std::string>* components);

LONG OpenKey(const KeyTarget& base, std::string_view subkey, REGSAM access, KeyTargetPtr* opened);
LONG CreateKey(const KeyTarget& base, std::string_view subkey, std::string_view className,
               const std::optional<std::string>& security, REGSAM access, KeyTargetPtr* opened, DWORD* disposition);
LONG DeleteKey(const KeyTarget& base, std::string_view subkey, bool wholeTree);

LONG QueryValue(const KeyTarget& key, std::string_view name, ValueRecord* value);
LONG SetValue(const KeyTarget& key, std::string_view name, DWORD type, std::string_view data);
LONG DeleteValue(const KeyTarget& key, std::string_view name);
LONG AddToQword(const KeyTarget& key, std::string_view name, LONGLONG addend, ULONGLONG* result);

LONG ListSubkeys(const KeyTarget& key, SubkeyList* subkeys);
LONG ListValues(const KeyTarget& key, ValueList* values);
LONG QueryInfo(const KeyTarget& key, KeyInfo* info);
LONG SetSecurity(const KeyTarget& key, std::string_view descriptor);

bool Allows(const KeyTarget& key, REGSAM needed);

}  // namespace kestnet::platform::registry_store
