// QISearch and its QITAB table, in the shape of shlwapi's: an object lists the
// interfaces it answers to, with the offset of each inside the object, and
// QueryInterface becomes one call instead of a ladder of comparisons.
//
//   static const QITAB kInterfaces[] = {
//       QITABENT(Widget, IWidget),
//       QITABENTMULTI2(Widget, IID_IDispatch, IWidget),  // answered by IWidget
//       {},
//   };
//   return QISearch(this, kInterfaces, riid, ppv);
//
// IID_IUnknown is answered by the first entry, so every QueryInterface for
// IUnknown of one object gives the same pointer (COM's identity rule).
#pragma once

#include <cstddef>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

struct QITAB {
  const IID* piid;
  DWORD dwOffset;  // of the interface inside the object
};
using LPCQITAB = const QITAB*;

// The offset of base inside derived, computed on a made-up address that is not
// null (a cast of null stays null).
#define OFFSETOFCLASS(base, derived) \
  (static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(static_cast<base*>(reinterpret_cast<derived*>(8))) - 8))
#define QITABENTMULTI2(Cthis, riid, Iimpl) {&(riid), OFFSETOFCLASS(Iimpl, Cthis)}
#define QITABENTMULTI(Cthis, Ifoo, Iimpl) QITABENTMULTI2(Cthis, __uuidof(Ifoo), Iimpl)
#define QITABENT(Cthis, Ifoo) QITABENTMULTI(Cthis, Ifoo, Ifoo)

inline HRESULT QISearch(void* that, LPCQITAB table, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (that == nullptr || table == nullptr || table->piid == nullptr) return E_NOINTERFACE;
  const QITAB* match = riid == IID_IUnknown ? table : nullptr;
  for (const QITAB* entry = table; match == nullptr && entry->piid != nullptr; ++entry) {
    if (*entry->piid == riid) match = entry;
  }
  if (match == nullptr) return E_NOINTERFACE;
  auto* found = reinterpret_cast<IUnknown*>(static_cast<char*>(that) + match->dwOffset);
  found->AddRef();
  *ppv = found;
  return S_OK;
}
