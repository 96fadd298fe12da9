// Events: sinks advised on the test server's connection point, and a sink
// handed to another thread through the Global Interface Table.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "tests/platform/com/test_server_fixture.h"

namespace kestnet::platform::testing {
namespace {

struct ReceivedEvent {
  DISPID dispid;
  std::vector<ATL::CComVariant> args;  // as received: last parameter first
  std::thread::id thread;
};

// A sink as a script host makes one: it answers for the event interface and
// takes every call through Invoke.
class RecordingSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITestWidgetEvents) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    EXPECT_EQ(flags, DISPATCH_METHOD);
    ReceivedEvent event{dispid, {}, std::this_thread::get_id()};
    for (UINT i = 0; i < params->cArgs; ++i) event.args.emplace_back(params->rgvarg[i]);
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    return S_OK;
  }

  std::vector<ReceivedEvent> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  ULONG References() const { return references_; }

 private:
  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  std::vector<ReceivedEvent> events_;
};

// A sink that does not implement the event interface.
class WrongSink final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = this;
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

class Events : public TestServerTest {
 protected:
  // Finds the default source interface the way a script host does.
  static ATL::CComPtr<IConnectionPoint> EventPoint(IDispatch* widget) {
    ATL::CComQIPtr<IProvideClassInfo2> classInfo(static_cast<IUnknown*>(widget));
    GUID source{};
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    ATL::CComQIPtr<IConnectionPointContainer> container(static_cast<IUnknown*>(widget));
    ATL::CComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(source, &point), S_OK);
    return point;
  }
  static HRESULT Fire(IDispatch* widget, LONG count) {
    Arguments args;
    args.Long(count);
    return Call(widget, L"FireEvents", DISPATCH_METHOD, args);
  }
};

TEST_F(Events, SinkReceivesDeclaredDispidsAndArgumentOrder) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<IConnectionPoint> point = EventPoint(widget);
  RecordingSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  ASSERT_EQ(Fire(widget, 2), S_OK);
  std::vector<ReceivedEvent> events = sink.Events();
  ASSERT_EQ(events.size(), 3u);
  for (LONG i = 0; i < 2; ++i) {
    const ReceivedEvent& tick = events[static_cast<size_t>(i)];
    EXPECT_EQ(tick.dispid, kDispOnTick);
    ASSERT_EQ(tick.args.size(), 2u);
    // OnTick(Index, Text): rgvarg holds Text first.
    EXPECT_EQ(tick.args[0].vt, VT_BSTR);
    EXPECT_EQ(Text(tick.args[0].bstrVal), L"tick " + std::to_wstring(i));
    EXPECT_EQ(tick.args[1].vt, VT_I4);
    EXPECT_EQ(tick.args[1].lVal, i);
  }
  EXPECT_EQ(events[2].dispid, kDispOnDone);
  EXPECT_TRUE(events[2].args.empty());
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(sink.References(), 1u);
}

TEST_F(Events, TwoAdvisoriesGetCookiesOneAndTwoAndUnadviseStopsDelivery) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<IConnectionPoint> point = EventPoint(widget);
  RecordingSink first;
  RecordingSink second;
  DWORD firstCookie = 0;
  DWORD secondCookie = 0;
  ASSERT_EQ(point->Advise(&first, &firstCookie), S_OK);
  ASSERT_EQ(point->Advise(&second, &secondCookie), S_OK);
  EXPECT_EQ(firstCookie, 1u);
  EXPECT_EQ(secondCookie, 2u);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(first.Events().size(), 2u);
  EXPECT_EQ(second.Events().size(), 2u);

  ASSERT_EQ(point->Unadvise(firstCookie), S_OK);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(first.Events().size(), 2u);
  EXPECT_EQ(second.Events().size(), 4u);
  EXPECT_EQ(point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(point->Unadvise(secondCookie), S_OK);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(second.Events().size(), 4u);
  EXPECT_EQ(first.References(), 1u);
  EXPECT_EQ(second.References(), 1u);
}

TEST_F(Events, SinkWithoutTheEventInterfaceCannotConnect) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<IConnectionPoint> point = EventPoint(widget);
  WrongSink wrong;
  DWORD cookie = 77;
  EXPECT_EQ(point->Advise(&wrong, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Advise(&wrong, nullptr), E_POINTER);
  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_ITestWidgetEvents);
}

TEST_F(Events, SinkRegisteredInTheInterfaceTableIsCalledFromAnotherThread) {
  ATL::CComPtr<IGlobalInterfaceTable> table;
  ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                             reinterpret_cast<void**>(&table)),
            S_OK);
  RecordingSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(table->RegisterInterfaceInGlobal(&sink, IID_IDispatch, &cookie), S_OK);

  std::thread firing([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      ATL::CComPtr<IDispatch> fromTable;
      ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&fromTable)), S_OK);
      ATL::CComPtr<IDispatch> widget = CreateWidget();
      ATL::CComPtr<IConnectionPoint> point = EventPoint(widget);
      DWORD advise = 0;
      ASSERT_EQ(point->Advise(fromTable, &advise), S_OK);
      ASSERT_EQ(Fire(widget, 1), S_OK);
      ASSERT_EQ(point->Unadvise(advise), S_OK);
    }
    CoUninitialize();
  });
  std::thread::id firingId = firing.get_id();
  firing.join();

  std::vector<ReceivedEvent> events = sink.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].thread, firingId);
  EXPECT_EQ(events[1].thread, firingId);
  ASSERT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(sink.References(), 1u);
}

}  // namespace
}  // namespace kestnet::platform::testing
