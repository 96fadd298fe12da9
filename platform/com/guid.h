// GUID (CLSID, IID, LIBID) with the registry string form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// The layout is the Windows one (Data1..Data4), so tables written as
// {0x2E13BB93, 0x7F91, 0x4DFB, {0xB7, 0x54, ...}} read the same as in the SDK.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/com/hresult.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using LPIID = IID*;
using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// Length of the braced string form including the terminating null.
constexpr int kGuidStringLength = 39;

// Writes "{...}" with upper-case hex digits; returns the characters written
// including the null, or 0 when cchMax is too small (Windows semantics).
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// Parses the braced form (any letter case). Unbraced or malformed text gives
// CO_E_CLASSSTRING (CLSIDFromString) or E_INVALIDARG (IIDFromString).
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);

// Allocates the braced form with CoTaskMemAlloc; the caller frees it with CoTaskMemFree.
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);

// A new random (version 4) GUID.
HRESULT CoCreateGuid(GUID* pguid);

namespace kestnet::platform {

// The braced upper-case form as a std::wstring.
std::wstring GuidToString(REFGUID guid);
// Parses the braced form; false on malformed text.
bool GuidFromString(const std::wstring& text, GUID* out);

struct GuidHash {
  std::size_t operator()(REFGUID guid) const noexcept;
};

}  // namespace kestnet::platform
