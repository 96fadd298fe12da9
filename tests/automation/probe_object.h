// A scriptable object built from the framework's parts the way every object
// of the system is built (co-class, TolLock, site, safety, error information,
// class information, event proxy, async event window), over a small type
// library of its own. The tests drive the framework through it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "automation/async_event_window.h"
#include "automation/class_factory.h"
#include "automation/event_proxies.h"
#include "automation/invoke_gate.h"
#include "automation/kest_coclass.h"
#include "automation/method_guard.h"
#include "automation/module_lock.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/type_info_holder.h"
#include "platform/com/com.h"
#include "runtime/exceptions.h"
#include "tests/automation/apartment_support.h"
#include "tests/automation/script_values.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temporary_directory.h"

namespace probe {

inline constexpr GUID LIBID_Probe = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x01}};
inline constexpr IID IID_IProbe = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x02}};
inline constexpr IID IID_IProbeEvents = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x03}};
inline constexpr CLSID CLSID_Probe = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x04}};
inline constexpr CLSID CLSID_ProbeMT = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x05}};
inline constexpr CLSID CLSID_ProbeSolo = {0x5C0FFEE1, 0x0A11, 0x4B7D, {0x9E, 0x21, 0x61, 0x7A, 0x3C, 0x44, 0x10, 0x06}};

inline constexpr DISPID kDispName = 1;
inline constexpr DISPID kDispCount = 2;
inline constexpr DISPID kDispFire = 3;
inline constexpr DISPID kDispThrow = 4;
inline constexpr DISPID kDispOnTick = 1;

// What Throw(kind) throws inside the method guard.
enum ThrowKind : LONG { kThrowNothing = 0, kThrowAtl = 1, kThrowBase = 2, kThrowOther = 3 };

struct IProbe : IDispatch {
  static constexpr IID kIid = IID_IProbe;
  STDMETHOD(get_Name)(BSTR* pVal) = 0;
  STDMETHOD(put_Name)(BSTR newVal) = 0;
  STDMETHOD(get_Count)(LONG* pVal) = 0;
  STDMETHOD(put_Count)(LONG newVal) = 0;
  STDMETHOD(Fire)(LONG Times) = 0;
  STDMETHOD(Throw)(LONG Kind) = 0;

 protected:
  ~IProbe() = default;
};

const kestnet::platform::TypeLibDescription* ProbeLibrary();

// Counts of what the bodies did, for "no member body ran" assertions.
struct ProbeCounters {
  std::atomic<int> bodiesRun{0};
  std::atomic<int> liveObjects{0};
  std::atomic<int> recordsHandled{0};
  std::atomic<int> recordsDestroyed{0};
};
ProbeCounters& Counters();

// The event record the probe posts from other threads.
class TickRecord : public KestBase::CAsyncEventData {
 public:
  explicit TickRecord(LONG index) : index_(index) {}
  ~TickRecord() override { Counters().recordsDestroyed++; }
  LONG Index() const { return index_; }

 private:
  LONG index_;
};

class ForeignRecord : public KestBase::CAsyncEventData {
 public:
  ~ForeignRecord() override { Counters().recordsDestroyed++; }
};

template <class Proxy>
class ProbeBase : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
                  public KestAXLib::TolLock<ProbeBase<Proxy>, IProbe, &IID_IProbe, &LIBID_Probe, 1, 0>,
                  public ATL::IObjectWithSiteImpl<ProbeBase<Proxy>>,
                  public ATL::IObjectSafetyImpl<ProbeBase<Proxy>, 3>,
                  public ATL::IConnectionPointContainerImpl<ProbeBase<Proxy>>,
                  public Proxy,
                  public ATL::ISupportErrorInfoImpl<&IID_IProbe>,
                  public ATL::IProvideClassInfo2Impl<&CLSID_Probe, &IID_IProbeEvents, &LIBID_Probe, 1, 0>,
                  public KestBase::CAsyncEventMgrWnd {
 public:
  static inline const KestAXLib::ObjectIdentity kIdentity{"KestNetX::IProbe", "ProbeObject", &CLSID_Probe};

  ProbeBase() : Proxy(static_cast<IConnectionPointContainer*>(this)) { Counters().liveObjects++; }
  ~ProbeBase() { Counters().liveObjects--; }

  static const CLSID& GetObjectCLSID() { return CLSID_Probe; }

  BEGIN_COM_MAP(ProbeBase)
  COM_INTERFACE_ENTRY(IProbe)
  COM_INTERFACE_ENTRY2(IDispatch, IProbe)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  void FinalRelease() { this->DestroyAsyncEventWindow(); }

  STDMETHODIMP get_Name(BSTR* pVal) override {
    return KestAXLib::GuardedMethod(kIdentity, "get_Name", [&] {
      KestAXLib::CheckOutputPointer(kIdentity, "get_Name", pVal);
      Counters().bodiesRun++;
      *pVal = SysAllocString(name_.c_str());
    });
  }
  STDMETHODIMP put_Name(BSTR newVal) override {
    return KestAXLib::GuardedMethod(kIdentity, "put_Name", [&] {
      Counters().bodiesRun++;
      name_ = newVal == nullptr ? L"" : newVal;
    });
  }
  STDMETHODIMP get_Count(LONG* pVal) override {
    return KestAXLib::GuardedMethod(kIdentity, "get_Count", [&] {
      KestAXLib::CheckOutputPointer(kIdentity, "get_Count", pVal);
      Counters().bodiesRun++;
      *pVal = count_;
    });
  }
  STDMETHODIMP put_Count(LONG newVal) override {
    return KestAXLib::GuardedMethod(kIdentity, "put_Count", [&] {
      Counters().bodiesRun++;
      if (newVal < 0) KestAXLib::RejectArgument(kIdentity, "put_Count():  Error - Count must not be negative.");
      count_ = newVal;
    });
  }
  STDMETHODIMP Fire(LONG times) override {
    return KestAXLib::GuardedMethod(kIdentity, "Fire", [&] {
      Counters().bodiesRun++;
      for (LONG i = 0; i < times; ++i) this->Fire_OnTick(i, name_);
    });
  }
  STDMETHODIMP Throw(LONG kind) override {
    return KestAXLib::GuardedMethod(kIdentity, "Throw", [&] {
      Counters().bodiesRun++;
      if (kind == kThrowAtl) ATL::AtlThrow(E_NOTIMPL);
      if (kind == kThrowBase) throw KestBase::InvalidOperationException();
      if (kind == kThrowOther) throw 42;
    });
  }

  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override {
    KestAXLib::GuardedCallback(kIdentity, "HandleAsyncEventMessage", [&] {
      Counters().recordsHandled++;
      auto* tick = KestBase::AsEventRecord<TickRecord>(kIdentity.className, eventId, record);
      if (eventId == 0 && tick != nullptr) this->Fire_OnTick(tick->Index(), name_);
      delete record;
    });
  }

  // As a listener callback on a worker thread would.
  bool PostTick(LONG index) { return this->PostAsyncEvent(0, new TickRecord(index)); }
  // A record of a class the handler does not expect for event 0.
  bool PostForeignRecord() { return this->PostAsyncEvent(0, new ForeignRecord()); }

  const std::wstring& Name() const { return name_; }

 private:
  std::wstring name_;
  LONG count_ = 0;
};

// The probe's event proxy, over either kind of connection point.
template <class ConnectionPoint>
class ProbeEventsProxy {
 public:
  explicit ProbeEventsProxy(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnTick(LONG index, const std::wstring& name) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(index);
    arguments.AddText(name);
    return KestAXLib::FireToSinks(m_connectionPoint, kDispOnTick, arguments.Params());
  }
  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

class CProbe;
class CProbeMT;
using StandardProxy = ProbeEventsProxy<ATL::IConnectionPointImpl<CProbe, &IID_IProbeEvents>>;
using MultiThreadedProxy = ProbeEventsProxy<KestAXLib::KestConnectionPointImplMT<CProbeMT, &IID_IProbeEvents>>;

// Aggregatable, standard connection point.
class CProbe : public ProbeBase<StandardProxy>, public ATL::CComCoClass<CProbe, &CLSID_Probe> {
 public:
  using ATL::CComCoClass<CProbe, &CLSID_Probe>::GetObjectCLSID;
};

// KestConnectionPointImplMT.
class CProbeMT : public ProbeBase<MultiThreadedProxy>, public ATL::CComCoClass<CProbeMT, &CLSID_ProbeMT> {
 public:
  using ATL::CComCoClass<CProbeMT, &CLSID_ProbeMT>::GetObjectCLSID;
};

// Refuses aggregation.
class CProbeSolo : public ProbeBase<StandardProxy>, public ATL::CComCoClass<CProbeSolo, &CLSID_ProbeSolo> {
  DECLARE_NOT_AGGREGATABLE(CProbeSolo)
 public:
  using ATL::CComCoClass<CProbeSolo, &CLSID_ProbeSolo>::GetObjectCLSID;
};

using kestnet::testing::FiredEvent;
using kestnet::testing::RecordingSink;

// What a probe's event sink heard: the OnTick(index, name) calls, in order.
inline std::vector<FiredEvent> TicksHeard(const RecordingSink& sink) {
  std::vector<FiredEvent> ticks;
  for (FiredEvent& event : sink.Events()) {
    if (event.dispid == kDispOnTick && event.flags == DISPATCH_METHOD && event.arguments.size() == 2 &&
        event.arguments[0].vt == VT_I4 && event.arguments[1].vt == VT_BSTR) {
      ticks.push_back(std::move(event));
    }
  }
  return ticks;
}
inline int Ticks(const RecordingSink& sink) { return static_cast<int>(TicksHeard(sink).size()); }
inline LONG LastIndex(const RecordingSink& sink) {
  const auto ticks = TicksHeard(sink);
  return ticks.empty() ? -1 : ticks.back().arguments[0].lVal;
}
inline std::wstring LastName(const RecordingSink& sink) {
  const auto ticks = TicksHeard(sink);
  return ticks.empty() ? std::wstring() : std::wstring(ticks.back().arguments[1].bstrVal);
}
inline std::thread::id Thread(const RecordingSink& sink) {
  const auto ticks = TicksHeard(sink);
  return ticks.empty() ? std::thread::id() : ticks.back().thread;
}

using kestnet::testing::MakeOpenGate;
using kestnet::testing::TakeErrorDescription;
using kestnet::testing::OpenGate;

// A fresh KESTNET_HOME, an apartment, the probe library, and an open gate
// unless a test says otherwise. Checks that every probe is gone at the end.
class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    KestAXLib::AddTypeLibDescription(ProbeLibrary());
    KestAXLib::SetInvokeGateFactory(&MakeOpenGate);
    OpenGate::admitted = 0;
    Counters().bodiesRun = 0;
    Counters().recordsHandled = 0;
    Counters().recordsDestroyed = 0;
    locksAtStart_ = KestAXLib::ModuleLockCount();
  }
  void TearDown() override {
    EXPECT_EQ(Counters().liveObjects.load(), 0);
    EXPECT_EQ(KestAXLib::ModuleLockCount(), locksAtStart_);
    KestAXLib::SetInvokeGateFactory(nullptr);
    IErrorInfo* stale = nullptr;
    if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
    CoUninitialize();
  }

  // A new object of class T with one reference, as its factory makes it.
  template <class T>
  ATL::CComPtr<IProbe> Make() {
    ATL::CComPtr<IProbe> probe;
    EXPECT_EQ(T::_CreatorClass::CreateInstance(nullptr, IID_IProbe, reinterpret_cast<void**>(&probe)), S_OK);
    return probe;
  }

  // Pumps the thread's messages until condition holds or a second passes.
  template <typename Condition>
  static bool PumpUntil(Condition condition) {
    return kestnet::testing::PumpUntil(condition, std::chrono::seconds(1));
  }

  static void PumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }

  kestnet::testing::TemporaryHome temporaryHome_;
  const std::string home_ = temporaryHome_.Path().string();
  LONG locksAtStart_ = 0;
};

}  // namespace probe
