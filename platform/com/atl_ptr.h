// CComPtr and CComQIPtr: owning interface pointers in the manner of ATL, so
// the automation code reads as ATL code.
//
// Ownership rules (the traps are ATL's):
// - Construction from a raw pointer adds a reference; Attach takes one over.
// - operator& hands out the address of the raw pointer for an out parameter;
//   it releases the current interface first, so nothing leaks when the
//   pointer is reused.
// - Copies add a reference, moves do not; Release() drops it and nulls.
#pragma once

#include <memory>
#include <utility>

#include "platform/com/activation.h"

namespace ATL {

template <typename T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* pointer) : p(pointer) {  // NOLINT: implicit like ATL's
    if (p != nullptr) p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p) {}
  CComPtr(CComPtr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* pointer) {
    if (pointer != nullptr) pointer->AddRef();
    Release();
    p = pointer;
    return *this;
  }
  CComPtr& operator=(const CComPtr& other) { return *this = other.p; }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      Release();
      p = std::exchange(other.p, nullptr);
    }
    return *this;
  }

  operator T*() const { return p; }  // NOLINT: implicit like ATL's
  T* operator->() const { return p; }
  T& operator*() const { return *p; }
  T** operator&() {
    Release();
    return &p;
  }
  bool operator!() const { return p == nullptr; }

  void Release() {
    T* old = std::exchange(p, nullptr);
    if (old != nullptr) old->Release();
  }
  void Attach(T* pointer) {
    Release();
    p = pointer;
  }
  T* Detach() { return std::exchange(p, nullptr); }
  HRESULT CopyTo(T** target) const {
    if (target == nullptr) return E_POINTER;
    *target = p;
    if (p != nullptr) p->AddRef();
    return S_OK;
  }
  template <typename Q>
  HRESULT QueryInterface(Q** target) const {
    if (target == nullptr) return E_POINTER;
    *target = nullptr;
    if (p == nullptr) return E_POINTER;
    return p->QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(target));
  }
  HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) {
    Release();
    return ::CoCreateInstance(clsid, outer, context, uuidof<T>(), reinterpret_cast<void**>(&p));
  }
  HRESULT CoCreateInstance(LPCOLESTR progId, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) {
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, outer, context);
  }
  // True when both point at the same object (compared through IUnknown).
  bool IsEqualObject(IUnknown* other) const {
    if (p == nullptr || other == nullptr) return p == nullptr && other == nullptr;
    IUnknown* mine = nullptr;
    IUnknown* theirs = nullptr;
    p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&mine));
    other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&theirs));
    bool same = mine != nullptr && mine == theirs;
    if (mine != nullptr) mine->Release();
    if (theirs != nullptr) theirs->Release();
    return same;
  }

  T* p = nullptr;
};

// A CComPtr that queries for T when assigned any interface.
template <typename T>
class CComQIPtr : public CComPtr<T> {
 public:
  CComQIPtr() = default;
  CComQIPtr(T* pointer) : CComPtr<T>(pointer) {}  // NOLINT: implicit like ATL's
  CComQIPtr(IUnknown* unknown) {                   // NOLINT: implicit like ATL's
    if (unknown != nullptr) unknown->QueryInterface(uuidof<T>(), reinterpret_cast<void**>(&this->p));
  }
  CComQIPtr& operator=(IUnknown* unknown) {
    T* queried = nullptr;
    if (unknown != nullptr) unknown->QueryInterface(uuidof<T>(), reinterpret_cast<void**>(&queried));
    this->Attach(queried);
    return *this;
  }
};

}  // namespace ATL
