#include "platform/com/guid.h"

#include <cwchar>
#include <random>

#include "platform/com/memory.h"

namespace {

constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hex characters at text[pos]; false if any is not hex.
bool ReadHex(const wchar_t* text, int pos, int digits, unsigned long long* value) {
  unsigned long long result = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    result = (result << 4) | static_cast<unsigned>(v);
  }
  *value = result;
  return true;
}

void WriteHex(wchar_t* out, unsigned long long value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
}

bool ParseBraced(const wchar_t* text, GUID* out) {
  if (text == nullptr || std::wcslen(text) != kGuidStringLength - 1) return false;
  if (text[0] != L'{' || text[37] != L'}') return false;
  if (text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-') return false;
  unsigned long long v = 0;
  GUID g{};
  if (!ReadHex(text, 1, 8, &v)) return false;
  g.Data1 = static_cast<DWORD>(v);
  if (!ReadHex(text, 10, 4, &v)) return false;
  g.Data2 = static_cast<WORD>(v);
  if (!ReadHex(text, 15, 4, &v)) return false;
  g.Data3 = static_cast<WORD>(v);
  static constexpr int kData4Positions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kData4Positions[i], 2, &v)) return false;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  *out = g;
  return true;
}

HRESULT AllocateString(REFGUID guid, LPOLESTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  auto* buffer = static_cast<LPOLESTR>(CoTaskMemAlloc(kGuidStringLength * sizeof(OLECHAR)));
  if (buffer == nullptr) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  StringFromGUID2(guid, buffer, kGuidStringLength);
  *out = buffer;
  return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < kGuidStringLength) return 0;
  wchar_t* p = lpsz;
  *p++ = L'{';
  WriteHex(p, rguid.Data1, 8);
  p += 8;
  *p++ = L'-';
  WriteHex(p, rguid.Data2, 4);
  p += 4;
  *p++ = L'-';
  WriteHex(p, rguid.Data3, 4);
  p += 4;
  *p++ = L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *p++ = L'-';
    WriteHex(p, rguid.Data4[i], 2);
    p += 2;
  }
  *p++ = L'}';
  *p = L'\0';
  return kGuidStringLength;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  if (!ParseBraced(lpsz, pclsid)) {
    *pclsid = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  if (!ParseBraced(lpsz, lpiid)) {
    *lpiid = GUID_NULL;
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) { return AllocateString(rclsid, lplpsz); }

HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) { return AllocateString(rclsid, lplpsz); }

HRESULT CoCreateGuid(GUID* pguid) {
  if (pguid == nullptr) return E_INVALIDARG;
  thread_local std::mt19937_64 engine{std::random_device{}()};
  unsigned long long high = engine();
  unsigned long long low = engine();
  GUID g{};
  g.Data1 = static_cast<DWORD>(high >> 32);
  g.Data2 = static_cast<WORD>(high >> 16);
  // Version 4 (random) in the top nibble of Data3, RFC 4122 variant in Data4[0].
  g.Data3 = static_cast<WORD>((high & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(low >> (8 * i));
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);
  *pguid = g;
  return S_OK;
}

namespace kestnet::platform {

std::wstring GuidToString(REFGUID guid) {
  wchar_t buffer[kGuidStringLength];
  StringFromGUID2(guid, buffer, kGuidStringLength);
  return std::wstring(buffer);
}

bool GuidFromString(const std::wstring& text, GUID* out) { return ParseBraced(text.c_str(), out); }

std::size_t GuidHash::operator()(REFGUID guid) const noexcept {
  std::size_t h = guid.Data1;
  h = h * 31 + guid.Data2;
  h = h * 31 + guid.Data3;
  for (BYTE b : guid.Data4) h = h * 31 + b;
  return h;
}

}  // namespace kestnet::platform
