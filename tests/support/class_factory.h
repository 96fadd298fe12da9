// The class factory of a test's own COM class (a test module's or one a test
// registers for its process): each request without an outer object goes to
// the creator; aggregation is refused, after the observer (if any) has seen
// the outer object; LockServer is counted. Whoever made the factory owns it (a
// module's static object, a fixture's member) and keeps it beyond every
// registration: references are counted, never delete it.
#pragma once

#include <atomic>
#include <functional>
#include <new>
#include <utility>

#include "automation/class_factory.h"
#include "platform/com/com.h"

namespace kestnet::testing {

// A new T (reference counted, born with one reference), handed out as riid.
template <class T, class... Arguments>
HRESULT CreateObject(REFIID riid, void** ppv, Arguments&&... arguments) {
  auto* object = new (std::nothrow) T(std::forward<Arguments>(arguments)...);
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

class ClassFactory final : public ATL::StaticClassFactory {
 public:
  using Creator = std::function<HRESULT(REFIID riid, void** ppv)>;
  using OuterObserver = std::function<void(IUnknown* outer)>;
  explicit ClassFactory(Creator p_create, OuterObserver p_onOuter = {})
      : m_create(std::move(p_create)), m_onOuter(std::move(p_onOuter)) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) {
      if (m_onOuter) m_onOuter(outer);
      return CLASS_E_NOAGGREGATION;
    }
    return m_create(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    m_locks += lock ? 1 : -1;
    return S_OK;
  }

  long Locks() const { return m_locks; }

 private:
  const Creator m_create;
  const OuterObserver m_onOuter;
  std::atomic<long> m_locks{0};
};

}  // namespace kestnet::testing
