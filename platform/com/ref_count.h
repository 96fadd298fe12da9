// Reference counting for the objects this runtime itself creates (error info,
// streams, type information, the interface table) and for the small objects
// of modules (enumerators, connection points) that need nothing more.
//
// The most derived class is final, starts at one reference (the creator's) and
// deletes itself when the count reaches zero.
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

namespace kestnet::platform {

class RefCount {
 public:
  ULONG Increment() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Acquire-release so the deleting thread sees every write made under other references.
  ULONG Decrement() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<ULONG> count_{1};
};

}  // namespace kestnet::platform

// Inside a final class with a member `kestnet::platform::RefCount refCount_`.
#define KESTNET_IMPLEMENT_ADDREF_RELEASE                                   \
  STDMETHODIMP_(ULONG) AddRef() override { return refCount_.Increment(); } \
  STDMETHODIMP_(ULONG) Release() override {                                \
    ULONG remaining = refCount_.Decrement();                               \
    if (remaining == 0) delete this;                                       \
    return remaining;                                                      \
  }
