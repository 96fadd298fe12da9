// What the automation tests share about the apartment their objects live in:
// a gate that lets every call through (the trust gate has tests of its own),
// the pump that fires the objects' events, and an outer object that
// aggregates one of them.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "automation/invoke_gate.h"
#include "platform/com/com.h"

namespace kestnet::testing {

// Lets every call through, counting them.
class OpenGate final : public KestAXLib::InvokeGate {
 public:
  HRESULT Admit(const KestAXLib::InvokeGateCall&) override {
    admitted++;
    return S_OK;
  }
  std::string VendorId() const override { return {}; }
  static inline std::atomic<int> admitted{0};
};

inline std::unique_ptr<KestAXLib::InvokeGate> MakeOpenGate() { return std::make_unique<OpenGate>(); }

// Pumps the thread's messages (firing the objects' events) until condition
// holds or p_limit passes; returns the condition.
template <typename Condition>
bool PumpUntil(Condition condition, std::chrono::milliseconds p_limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + p_limit;
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (condition()) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
  return condition();
}

// Delivers whatever arrives within p_span, so that an event that should not
// come has had its chance.
inline void PumpFor(std::chrono::milliseconds p_span) {
  PumpUntil([] { return false; }, p_span);
}

// A minimal outer object that aggregates one inner object.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner_ != nullptr ? inner_->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) {
      IUnknown* inner = std::exchange(inner_, nullptr);
      if (inner != nullptr) inner->Release();
      delete this;
    }
    return left;
  }
  // Where the class factory puts the inner object's own IUnknown.
  void** InnerSlot() { return reinterpret_cast<void**>(&inner_); }

 private:
  ~Outer() = default;
  ULONG references_ = 1;
  IUnknown* inner_ = nullptr;
};

}  // namespace kestnet::testing
