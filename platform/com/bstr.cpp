#include "platform/com/bstr.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

namespace {

std::atomic<long> g_liveBstrs{0};

// The allocation holds the header, then the characters, then one null
// character; the BSTR points just past the header. As on Windows, the byte
// count sits in the four bytes right before the first character; the padding
// keeps the characters 8-byte aligned.
struct BstrHeader {
  DWORD padding;
  DWORD byteLength;
};
static_assert(sizeof(BstrHeader) % alignof(wchar_t) == 0);

BstrHeader* HeaderOf(BSTR bstr) {
  return reinterpret_cast<BstrHeader*>(reinterpret_cast<char*>(bstr) - sizeof(BstrHeader));
}

BSTR AllocateBytes(const void* source, size_t byteLength) {
  if (byteLength > std::numeric_limits<DWORD>::max() - 2 * sizeof(wchar_t)) return nullptr;
  size_t characters = (byteLength + sizeof(wchar_t) - 1) / sizeof(wchar_t);
  size_t total = sizeof(BstrHeader) + (characters + 1) * sizeof(wchar_t);
  auto* header = static_cast<BstrHeader*>(std::calloc(1, total));
  if (header == nullptr) return nullptr;
  header->byteLength = static_cast<DWORD>(byteLength);
  auto* text = reinterpret_cast<BSTR>(header + 1);
  if (source != nullptr) std::memcpy(text, source, byteLength);
  g_liveBstrs.fetch_add(1, std::memory_order_relaxed);
  return text;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  return AllocateBytes(psz, std::wcslen(psz) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return AllocateBytes(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return AllocateBytes(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  return SysReAllocStringLen(pbstr, psz, psz == nullptr ? 0 : static_cast<UINT>(std::wcslen(psz)));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (pbstr == nullptr) return FALSE;
  // Allocate before freeing: psz may point into *pbstr.
  BSTR copy = SysAllocStringLen(psz, len);
  if (copy == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = copy;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  g_liveBstrs.fetch_sub(1, std::memory_order_relaxed);
  std::free(HeaderOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) {
  if (pbstr == nullptr) return 0;
  return HeaderOf(pbstr)->byteLength / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  return HeaderOf(bstr)->byteLength;
}

namespace kestnet::platform {

long LiveBstrCount() { return g_liveBstrs.load(std::memory_order_relaxed); }

bool IsAsciiText(std::string_view text) {
  // A body may be megabytes: whole blocks are tested with no exit inside,
  // which the compiler vectorises.
  constexpr size_t kBlock = 64;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t blocks = text.size() / kBlock;
  for (size_t block = 0; block < blocks; ++block) {
    const unsigned char* first = bytes + block * kBlock;
    unsigned char seen = 0;
    for (size_t i = 0; i < kBlock; ++i) seen |= first[i];
    if (seen >= 0x80) return false;
  }
  for (size_t index = blocks * kBlock; index < text.size(); ++index) {
    if (bytes[index] >= 0x80) return false;
  }
  return true;
}

BSTR AllocateAsciiBstr(std::string_view text) {
  if (text.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (wide == nullptr) return nullptr;
  std::transform(text.begin(), text.end(), wide, [](char c) { return static_cast<OLECHAR>(c); });
  return wide;
}

}  // namespace kestnet::platform
