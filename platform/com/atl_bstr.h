// CComBSTR: an owning BSTR in the manner of ATL.
//
// Ownership rules: the object owns m_str. Copy() and Detach() hand a BSTR to
// the caller (Copy makes a new one, Detach gives up this one); Attach takes one
// over. operator& frees the current string first and returns &m_str for an
// out parameter. A null m_str is the empty string.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

namespace ATL {

class CComBSTR {
 public:
  CComBSTR() = default;
  CComBSTR(LPCOLESTR text) : m_str(SysAllocString(text)) {}  // NOLINT: implicit like ATL's
  CComBSTR(int length, LPCOLESTR text) : m_str(SysAllocStringLen(text, static_cast<UINT>(length))) {}
  explicit CComBSTR(const std::wstring& text)
      : m_str(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
  CComBSTR(CComBSTR&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
  ~CComBSTR() { SysFreeString(m_str); }

  CComBSTR& operator=(const CComBSTR& other) {
    if (this != std::addressof(other)) Attach(other.Copy());
    return *this;
  }
  CComBSTR& operator=(CComBSTR&& other) noexcept {
    if (this != std::addressof(other)) Attach(std::exchange(other.m_str, nullptr));
    return *this;
  }
  CComBSTR& operator=(LPCOLESTR text) {
    Attach(SysAllocString(text));
    return *this;
  }

  operator BSTR() const { return m_str; }  // NOLINT: implicit like ATL's
  BSTR* operator&() {
    Empty();
    return &m_str;
  }
  bool operator!() const { return m_str == nullptr; }
  bool operator==(const CComBSTR& other) const { return ToWString() == other.ToWString(); }

  unsigned int Length() const { return SysStringLen(m_str); }
  void Empty() {
    SysFreeString(m_str);
    m_str = nullptr;
  }
  BSTR Copy() const { return m_str == nullptr ? nullptr : SysAllocStringLen(m_str, SysStringLen(m_str)); }
  HRESULT CopyTo(BSTR* target) const {
    if (target == nullptr) return E_POINTER;
    *target = Copy();
    return (*target == nullptr && m_str != nullptr) ? E_OUTOFMEMORY : S_OK;
  }
  void Attach(BSTR text) {
    if (text == m_str) return;
    SysFreeString(m_str);
    m_str = text;
  }
  BSTR Detach() { return std::exchange(m_str, nullptr); }
  HRESULT Append(LPCOLESTR text) {
    std::wstring joined = ToWString() + (text == nullptr ? L"" : text);
    BSTR result = SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
    if (result == nullptr) return E_OUTOFMEMORY;
    Attach(result);
    return S_OK;
  }
  std::wstring ToWString() const { return m_str == nullptr ? std::wstring() : std::wstring(m_str, Length()); }

  BSTR m_str = nullptr;
};

}  // namespace ATL
