// A script's event sink for the tests: answers for one event interface (or
// for any, when made for IID_NULL), records every call Invoke receives and
// answers each with the result the test chose. Reference counted like any COM
// object: made with one reference, deleted with the last.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/atl_variant.h"
#include "platform/com/com.h"

namespace kestnet::testing {

// One call as the sink received it; the arguments in declaration order (the
// reverse of DISPPARAMS).
struct FiredEvent {
  DISPID dispid = 0;
  WORD flags = 0;
  LCID lcid = 0;
  UINT namedArguments = 0;
  std::vector<ATL::CComVariant> arguments;
  std::thread::id thread;
};

class RecordingSink final : public IDispatch {
 public:
  static ATL::CComPtr<RecordingSink> Create(const IID& p_events = IID_NULL, HRESULT p_answer = S_OK) {
    ATL::CComPtr<RecordingSink> sink;
    sink.Attach(new RecordingSink(p_events, p_answer));
    return sink;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_eventInterface || m_eventInterface == IID_NULL) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    FiredEvent event{dispid, flags, lcid, 0, {}, std::this_thread::get_id()};
    if (params != nullptr) {
      event.namedArguments = params->cNamedArgs;
      for (UINT i = params->cArgs; i > 0; --i) event.arguments.emplace_back(params->rgvarg[i - 1]);
    }
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_events.push_back(event);
    }
    // Outside the lock: the handler may release the object that fires.
    if (onEvent) onEvent(event);
    return m_answer;
  }

  // What the script's handler does besides recording (runs inside the event).
  // Set before the events can come.
  std::function<void(const FiredEvent&)> onEvent;

  std::vector<FiredEvent> Events() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events.size();
  }
  ULONG References() const { return m_references; }

 private:
  RecordingSink(const IID& p_events, HRESULT p_answer) : m_eventInterface(p_events), m_answer(p_answer) {}
  ~RecordingSink() = default;

  const IID m_eventInterface;
  const HRESULT m_answer;
  std::atomic<ULONG> m_references{1};
  mutable std::mutex m_lock;
  std::vector<FiredEvent> m_events;
};

}  // namespace kestnet::testing
