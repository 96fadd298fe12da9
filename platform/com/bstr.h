// BSTR: the automation string. A pointer to wide characters preceded by a
// 32-bit byte count and followed by a null, allocated by this runtime only.
//
// A null BSTR is a valid empty string everywhere (SysStringLen gives 0). The
// length prefix, not the null, ends the string, so a BSTR may hold embedded
// nulls. On Linux wchar_t is 32 bits, so the prefix counts 4 bytes per character.
#pragma once

#include "platform/com/guid.h"

using BSTR = OLECHAR*;
using LPBSTR = BSTR*;

// A copy of the null-terminated text; nullptr in gives nullptr out.
BSTR SysAllocString(const OLECHAR* psz);
// `ui` characters copied from `strIn`, or left zeroed when strIn is null.
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// A string of `len` bytes (rounded up to whole characters) copied from `psz`.
BSTR SysAllocStringByteLen(const char* psz, UINT len);
// Replaces *pbstr with a copy of psz; FALSE (and *pbstr unchanged) on failure.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

#include <string>
#include <string_view>

#include "platform/os/utf8.h"

namespace kestnet::platform {

// A new BSTR of `text`, which must be ASCII, each byte widened straight into
// it: a body of megabytes needs no wide copy on its way. Null when memory is
// short.
BSTR AllocateAsciiBstr(std::string_view text);

// A new BSTR of narrow text: ASCII is widened straight into it, anything else
// is first decoded by `decode` (std::string_view to std::wstring), which
// says what the bytes are. Null when memory is short.
template <typename Decode>
BSTR AllocateBstrFromText(std::string_view text, Decode&& decode) {
  if (IsAsciiText(text)) return AllocateAsciiBstr(text);
  const std::wstring wide = decode(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// Number of BSTRs currently allocated by this process; lets tests prove that an
// operation frees every string it made.
long LiveBstrCount();

}  // namespace kestnet::platform
