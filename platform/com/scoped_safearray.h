// ScopedSafeArray: owns one SAFEARRAY, in the manner of Chromium's
// base/win/scoped_safearray.h.
//
// Ownership traps:
// - Construction and Reset take the array over; the old one is destroyed.
// - Release hands the array to the caller, who then owns it (a VARIANT it is
//   put into, say); the wrapper is empty afterwards.
// - Not copyable; moves transfer ownership.
#pragma once

#include <span>
#include <string>
#include <utility>

#include "platform/com/safearray.h"

namespace kestnet::platform {

class ScopedSafeArray {
 public:
  ScopedSafeArray() = default;
  explicit ScopedSafeArray(SAFEARRAY* array) : array_(array) {}
  ScopedSafeArray(ScopedSafeArray&& other) noexcept : array_(other.Release()) {}
  ScopedSafeArray& operator=(ScopedSafeArray&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ScopedSafeArray(const ScopedSafeArray&) = delete;
  ScopedSafeArray& operator=(const ScopedSafeArray&) = delete;
  ~ScopedSafeArray() { Reset(); }

  void Reset(SAFEARRAY* array = nullptr) {
    if (array == array_) return;
    SafeArrayDestroy(array_);
    array_ = array;
  }
  [[nodiscard]] SAFEARRAY* Release() { return std::exchange(array_, nullptr); }
  SAFEARRAY* Get() const { return array_; }

 private:
  SAFEARRAY* array_ = nullptr;
};

// Fills *array (cleared first) with the form the objects hand to scripts: a
// VT_ARRAY | VT_VARIANT with lower bound 0 whose elements are VT_BSTR, one
// per text. E_OUTOFMEMORY or the element's error leaves *array VT_EMPTY.
HRESULT CreateTextArray(std::span<const std::wstring> texts, VARIANT* array);

}  // namespace kestnet::platform
