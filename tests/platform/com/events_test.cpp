// Events: sinks advised on the test server's connection point, and a sink
// handed to another thread through the Global Interface Table.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/platform/com/test_server_fixture.h"
#include "tests/support/recording_sink.h"

namespace kestnet::platform::testing {
namespace {

using kestnet::testing::FiredEvent;
using kestnet::testing::RecordingSink;

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
  ATL::CComPtr<RecordingSink> sink = RecordingSink::Create(IID_ITestWidgetEvents);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
  ASSERT_EQ(Fire(widget, 2), S_OK);
  std::vector<FiredEvent> events = sink->Events();
  ASSERT_EQ(events.size(), 3u);
  for (LONG i = 0; i < 2; ++i) {
    const FiredEvent& tick = events[static_cast<size_t>(i)];
    EXPECT_EQ(tick.dispid, kDispOnTick);
    EXPECT_EQ(tick.flags, DISPATCH_METHOD);
    ASSERT_EQ(tick.arguments.size(), 2u);
    // OnTick(Index, Text).
    EXPECT_EQ(tick.arguments[0].vt, VT_I4);
    EXPECT_EQ(tick.arguments[0].lVal, i);
    EXPECT_EQ(tick.arguments[1].vt, VT_BSTR);
    EXPECT_EQ(Text(tick.arguments[1].bstrVal), L"tick " + std::to_wstring(i));
  }
  EXPECT_EQ(events[2].dispid, kDispOnDone);
  EXPECT_TRUE(events[2].arguments.empty());
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(sink->References(), 1u);
}

TEST_F(Events, TwoAdvisoriesGetCookiesOneAndTwoAndUnadviseStopsDelivery) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<IConnectionPoint> point = EventPoint(widget);
  ATL::CComPtr<RecordingSink> first = RecordingSink::Create(IID_ITestWidgetEvents);
  ATL::CComPtr<RecordingSink> second = RecordingSink::Create(IID_ITestWidgetEvents);
  DWORD firstCookie = 0;
  DWORD secondCookie = 0;
  ASSERT_EQ(point->Advise(first, &firstCookie), S_OK);
  ASSERT_EQ(point->Advise(second, &secondCookie), S_OK);
  EXPECT_EQ(firstCookie, 1u);
  EXPECT_EQ(secondCookie, 2u);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(first->Count(), 2u);
  EXPECT_EQ(second->Count(), 2u);

  ASSERT_EQ(point->Unadvise(firstCookie), S_OK);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(first->Count(), 2u);
  EXPECT_EQ(second->Count(), 4u);
  EXPECT_EQ(point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(point->Unadvise(secondCookie), S_OK);
  ASSERT_EQ(Fire(widget, 1), S_OK);
  EXPECT_EQ(second->Count(), 4u);
  EXPECT_EQ(first->References(), 1u);
  EXPECT_EQ(second->References(), 1u);
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
  ATL::CComPtr<RecordingSink> sink = RecordingSink::Create(IID_ITestWidgetEvents);
  DWORD cookie = 0;
  ASSERT_EQ(table->RegisterInterfaceInGlobal(sink, IID_IDispatch, &cookie), S_OK);

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

  std::vector<FiredEvent> events = sink->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].thread, firingId);
  EXPECT_EQ(events[1].thread, firingId);
  ASSERT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(sink->References(), 1u);
}

}  // namespace
}  // namespace kestnet::platform::testing
