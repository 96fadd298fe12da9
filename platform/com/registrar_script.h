// The registrar script language: the text of a module's registry scripts.
//
//   HKCR
//   {
//     KestNet.KestNetPing.1 = s 'KestNetPing Class'
//     {
//       CLSID = s '{2E13BB93-7F91-4dfb-B754-5135B0453D22}'
//     }
//     NoRemove CLSID
//     {
//       ForceRemove {2E13BB93-7F91-4dfb-B754-5135B0453D22} = s 'KestNetPing Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//         val AppID = s '%APPID%'
//       }
//     }
//   }
//
// A script is a list of root keys (HKCR, HKCU, HKLM, HKU or their long
// names), each with a braced list of keys. A key is a name (bare, or quoted
// with single quotes, '' standing for a quote), optionally preceded by
// NoRemove (never deleted at removal), ForceRemove (deleted with everything
// below it before registration and at removal) or Delete (deleted at
// registration, ignored at removal), optionally followed by "= type 'value'"
// (its default value) and by a braced list of subkeys and named values
// ("val name = type 'value'"). Types: s (REG_SZ), e (REG_EXPAND_SZ),
// d (REG_DWORD: decimal, 0x hex, quoted or not), b (REG_BINARY: hex digits),
// m (REG_MULTI_SZ: items separated by \0).
//
// Replacement variables are written %NAME% anywhere in the text (names
// compare without regard to case); %% stands for one percent sign. An
// unknown variable is an error, so a script never registers a literal
// "%MODULE%".
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/registry/registry.h"

namespace kestnet::platform {

struct RegistrarValue {
  DWORD type = REG_SZ;
  std::vector<BYTE> data;  // as RegSetValueExW takes it (wide text with its null)
};

enum class RegistrarKeyFlag { Normal, NoRemove, ForceRemove, Delete };

struct RegistrarKey {
  std::wstring name;
  RegistrarKeyFlag flag = RegistrarKeyFlag::Normal;
  std::optional<RegistrarValue> defaultValue;
  std::vector<std::pair<std::wstring, RegistrarValue>> namedValues;
  std::vector<RegistrarKey> subkeys;
};

struct RegistrarRoot {
  HKEY root = nullptr;
  std::vector<RegistrarKey> keys;
};

// Variable name (any case) -> replacement text.
struct CaseInsensitiveLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};
using RegistrarReplacements = std::map<std::wstring, std::wstring, CaseInsensitiveLess>;

struct RegistrarParseError {
  size_t offset = 0;  // in the script text, after replacement
  std::wstring message;
};

// Parses the whole script before anything is written. Syntax errors and
// unknown variables give DISP_E_EXCEPTION with *error (optional) saying where.
HRESULT ParseRegistrarScript(const std::wstring& script, const RegistrarReplacements& replacements,
                             std::vector<RegistrarRoot>* roots, RegistrarParseError* error = nullptr);

}  // namespace kestnet::platform
