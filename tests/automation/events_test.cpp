// Events: advising, firing to every sink, sinks in other apartments through
// the interface table, advisories forwarded to a proxy control, and results
// carried from worker threads by the hidden window.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/automation/probe_object.h"

namespace probe {
namespace {

using ATL::CComPtr;
using ATL::CComQIPtr;

CComPtr<IConnectionPoint> EventPoint(IUnknown* object) {
  CComQIPtr<IConnectionPointContainer> container(object);
  CComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IProbeEvents, &point), S_OK);
  return point;
}

template <class T>
class ConnectionPointTest : public ProbeTest {};
using BothKinds = ::testing::Types<CProbe, CProbeMT>;
TYPED_TEST_SUITE(ConnectionPointTest, BothKinds);

TYPED_TEST(ConnectionPointTest, TwoAdvisoriesOfOneSinkGetCookiesOneAndTwo) {
  CComPtr<IProbe> probe = this->template Make<TypeParam>();
  CComPtr<IConnectionPoint> point = EventPoint(probe);
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  DWORD first = 0;
  DWORD second = 0;
  ASSERT_EQ(point->Advise(sink, &first), S_OK);
  ASSERT_EQ(point->Advise(sink, &second), S_OK);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);

  ASSERT_EQ(probe->put_Name(ATL::CComBSTR(L"ping")), S_OK);
  ASSERT_EQ(probe->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*sink), 2);  // once per connection
  EXPECT_EQ(LastIndex(*sink), 0);
  EXPECT_EQ(LastName(*sink), L"ping");

  EXPECT_EQ(point->Unadvise(first), S_OK);
  EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(99), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(probe->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*sink), 3);
  // A freed slot is reused.
  DWORD third = 0;
  ASSERT_EQ(point->Advise(sink, &third), S_OK);
  EXPECT_EQ(third, 1u);
  point->Unadvise(third);
  point->Unadvise(second);
}

TYPED_TEST(ConnectionPointTest, AdviseRefusesSinksWithoutTheEventInterfaceAndMissingCookies) {
  CComPtr<IProbe> probe = this->template Make<TypeParam>();
  CComPtr<IConnectionPoint> point = EventPoint(probe);
  CComPtr<IProbe> notASink = this->template Make<CProbe>();
  DWORD cookie = 7;
  EXPECT_EQ(point->Advise(notASink, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  EXPECT_EQ(point->Advise(sink, nullptr), E_POINTER);
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);

  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IProbeEvents);
  CComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(point->GetConnectionPointContainer(&container), S_OK);
  EXPECT_TRUE(container.IsEqualObject(probe));
  CComQIPtr<IConnectionPointContainer> asContainer(probe);
  CComPtr<IConnectionPoint> none;
  EXPECT_EQ(asContainer->FindConnectionPoint(IID_IProbe, &none), CONNECT_E_NOCONNECTION);
}

TYPED_TEST(ConnectionPointTest, AFailingSinkDoesNotStopTheOthers) {
  CComPtr<IProbe> probe = this->template Make<TypeParam>();
  CComPtr<IConnectionPoint> point = EventPoint(probe);
  auto before = RecordingSink::Create(IID_IProbeEvents);
  auto failing = RecordingSink::Create(IID_IProbeEvents, E_FAIL);
  auto after = RecordingSink::Create(IID_IProbeEvents);
  DWORD cookies[3] = {};
  ASSERT_EQ(point->Advise(before, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(failing, &cookies[1]), S_OK);
  ASSERT_EQ(point->Advise(after, &cookies[2]), S_OK);
  EXPECT_EQ(probe->Fire(2), S_OK);
  EXPECT_EQ(Ticks(*before), 2);
  EXPECT_EQ(Ticks(*failing), 2);
  EXPECT_EQ(Ticks(*after), 2);
  for (DWORD cookie : cookies) point->Unadvise(cookie);
}

TYPED_TEST(ConnectionPointTest, EnumConnectionsListsTheConnectedSinks) {
  CComPtr<IProbe> probe = this->template Make<TypeParam>();
  CComPtr<IConnectionPoint> point = EventPoint(probe);
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  DWORD first = 0;
  DWORD second = 0;
  point->Advise(sink, &first);
  point->Advise(sink, &second);
  point->Unadvise(first);
  CComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(&connections), S_OK);
  CONNECTDATA data[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(2, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(data[0].dwCookie, second);
  EXPECT_TRUE(CComPtr<IUnknown>(data[0].pUnk).IsEqualObject(sink));
  data[0].pUnk->Release();
  connections.Release();
  point->Unadvise(second);
}

using MultiThreadedPointTest = ProbeTest;

KestAXLib::KestConnectionPointMT& MtPoint(IProbe* probe) {
  return static_cast<CProbeMT*>(probe)->EventConnectionPoint();
}

TEST_F(MultiThreadedPointTest, TheSlotArrayStartsAtFourAndDoubles) {
  CComPtr<IProbe> probe = Make<CProbeMT>();
  KestAXLib::KestConnectionPointMT& point = MtPoint(probe);
  EXPECT_EQ(point.SlotCount(), 0u);
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  std::vector<DWORD> cookies;
  for (int i = 0; i < 5; ++i) {
    DWORD cookie = 0;
    ASSERT_EQ(point.Advise(sink, &cookie), S_OK);
    cookies.push_back(cookie);
    EXPECT_EQ(point.SlotCount(), i < 4 ? 4u : 8u) << "after advisory " << i + 1;
  }
  EXPECT_EQ(cookies, (std::vector<DWORD>{1, 2, 3, 4, 5}));
  EXPECT_EQ(probe->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*sink), 5);
  for (DWORD cookie : cookies) EXPECT_EQ(point.Unadvise(cookie), S_OK);
}

TEST_F(MultiThreadedPointTest, ASinkAdvisedFromAnotherApartmentReceivesEvents) {
  CComPtr<IProbe> probe = Make<CProbeMT>();
  // The other apartment gets the point through the interface table, as COM
  // code hands interfaces across apartments.
  CComPtr<IGlobalInterfaceTable> table;
  table.Attach(kestnet::platform::GetGlobalInterfaceTable());
  DWORD pointCookie = 0;
  ASSERT_EQ(table->RegisterInterfaceInGlobal(EventPoint(probe), IID_IConnectionPoint, &pointCookie), S_OK);

  auto sink = RecordingSink::Create(IID_IProbeEvents);
  DWORD connection = 0;
  std::thread other([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(table->GetInterfaceFromGlobal(pointCookie, IID_IConnectionPoint, reinterpret_cast<void**>(&point)),
              S_OK);
    EXPECT_EQ(point->Advise(sink, &connection), S_OK);
    point.Release();
    CoUninitialize();
  });
  other.join();
  ASSERT_EQ(connection, 1u);
  ASSERT_EQ(probe->put_Name(ATL::CComBSTR(L"across")), S_OK);
  ASSERT_EQ(probe->Fire(3), S_OK);
  EXPECT_EQ(Ticks(*sink), 3);
  EXPECT_EQ(LastName(*sink), L"across");
  EXPECT_EQ(MtPoint(probe).Unadvise(connection), S_OK);
  table->RevokeInterfaceFromGlobal(pointCookie);
}

TEST_F(MultiThreadedPointTest, FiringFromAWorkerWhileSinksComeAndGoIsSafe) {
  CComPtr<IProbe> probe = Make<CProbeMT>();
  KestAXLib::KestConnectionPointMT& point = MtPoint(probe);
  auto steady = RecordingSink::Create(IID_IProbeEvents);
  DWORD steadyCookie = 0;
  ASSERT_EQ(point.Advise(steady, &steadyCookie), S_OK);
  auto transient = RecordingSink::Create(IID_IProbeEvents);
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) {
      DWORD cookie = 0;
      if (SUCCEEDED(point.Advise(transient, &cookie))) point.Unadvise(cookie);
    }
  });
  constexpr int kEvents = 200;
  for (int i = 0; i < kEvents; ++i) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    KestAXLib::FireToSinks(point, kDispOnTick, &none);  // no arguments: counted only by dispid
  }
  stop = true;
  churn.join();
  EXPECT_EQ(point.Unadvise(steadyCookie), S_OK);
}

TEST_F(MultiThreadedPointTest, AdvisoriesAreForwardedToAHookedProxyAndEndWithTheirCookie) {
  CComPtr<IProbe> probe = Make<CProbeMT>();
  CComPtr<IProbe> proxy = Make<CProbeMT>();  // another instance of the class stands in for the proxy control
  KestAXLib::KestConnectionPointMT& point = MtPoint(probe);
  auto early = RecordingSink::Create(IID_IProbeEvents);
  auto late = RecordingSink::Create(IID_IProbeEvents);
  DWORD earlyCookie = 0;
  ASSERT_EQ(point.Advise(early, &earlyCookie), S_OK);

  static_cast<CProbeMT*>(probe.p)->HookupActiveXCallBacks(proxy);  // as the container does
  point.HookupActiveXCallBacks(proxy);  // a second hook of the same proxy changes nothing
  DWORD lateCookie = 0;
  ASSERT_EQ(point.Advise(late, &lateCookie), S_OK);

  ASSERT_EQ(proxy->Fire(1), S_OK);  // the proxy's events reach the object's sinks
  EXPECT_EQ(Ticks(*early), 1);
  EXPECT_EQ(Ticks(*late), 1);

  ASSERT_EQ(point.Unadvise(earlyCookie), S_OK);
  ASSERT_EQ(proxy->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*early), 1);  // unadvised on the proxy too
  EXPECT_EQ(Ticks(*late), 2);

  point.HookupActiveXCallBacks(nullptr);  // logged, not passed on
  ASSERT_EQ(point.Unadvise(lateCookie), S_OK);
  ASSERT_EQ(proxy->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*late), 2);
}

TEST_F(MultiThreadedPointTest, ReleasingTheObjectEndsItsForwardedAdvisories) {
  CComPtr<IProbe> proxy = Make<CProbeMT>();
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  {
    CComPtr<IProbe> probe = Make<CProbeMT>();
    DWORD cookie = 0;
    ASSERT_EQ(MtPoint(probe).Advise(sink, &cookie), S_OK);
    MtPoint(probe).HookupActiveXCallBacks(proxy);
  }
  ASSERT_EQ(proxy->Fire(1), S_OK);
  EXPECT_EQ(Ticks(*sink), 0);
}

// A plain probe with a sink advised on its events.
class AsyncEventTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    if (HasFatalFailure()) return;
    probe_ = Make<CProbe>();
    point_ = EventPoint(probe_);
    ASSERT_EQ(point_->Advise(sink_, &cookie_), S_OK);
    object_ = static_cast<CProbe*>(probe_.p);
  }
  void TearDown() override {
    if (point_ != nullptr) point_->Unadvise(cookie_);
    point_.Release();
    probe_.Release();
    ProbeTest::TearDown();
  }

  CComPtr<IProbe> probe_;
  CComPtr<IConnectionPoint> point_;
  CComPtr<RecordingSink> sink_ = RecordingSink::Create(IID_IProbeEvents);
  DWORD cookie_ = 0;
  CProbe* object_ = nullptr;
};

TEST_F(AsyncEventTest, ResultsPostedFromWorkersFireOnTheObjectsThreadInOrder) {
  std::thread worker([object = object_] {
    for (LONG i = 0; i < 5; ++i) EXPECT_TRUE(object->PostTick(i));
  });
  worker.join();
  EXPECT_EQ(Ticks(*sink_), 0);  // nothing runs until the apartment pumps
  ASSERT_TRUE(PumpUntil([&] { return Ticks(*sink_) == 5; }));
  EXPECT_EQ(LastIndex(*sink_), 4);
  EXPECT_EQ(Thread(*sink_), std::this_thread::get_id());
  EXPECT_EQ(Counters().recordsHandled.load(), 5);
  EXPECT_EQ(Counters().recordsDestroyed.load(), 5);
}

TEST_F(AsyncEventTest, ARecordOfTheWrongClassIsIgnoredAndStillDeleted) {
  ASSERT_TRUE(object_->PostForeignRecord());
  ASSERT_TRUE(object_->PostTick(9));
  ASSERT_TRUE(PumpUntil([&] { return Counters().recordsHandled.load() == 2; }));
  EXPECT_EQ(Ticks(*sink_), 1);
  EXPECT_EQ(LastIndex(*sink_), 9);
  EXPECT_EQ(Counters().recordsDestroyed.load(), 2);
}

TEST_F(AsyncEventTest, AnEventPostedAfterTheWindowIsDestroyedNeverFires) {
  ASSERT_TRUE(object_->PostTick(1));  // queued before: dropped with the window
  object_->DestroyAsyncEventWindow();
  EXPECT_FALSE(object_->AsyncEventWindowExists());
  std::thread worker([object = object_] { EXPECT_FALSE(object->PostTick(2)); });
  worker.join();
  PumpPending();
  EXPECT_EQ(Ticks(*sink_), 0);
  EXPECT_EQ(Counters().recordsHandled.load(), 0);
  EXPECT_EQ(Counters().recordsDestroyed.load(), 2);  // nothing lost, nothing delivered
}

// The hidden window alone, without a sink.
using AsyncEventWindowTest = ProbeTest;

TEST_F(AsyncEventWindowTest, RecordsStillQueuedWhenTheObjectGoesAreDeletedUndelivered) {
  CComPtr<IProbe> probe = Make<CProbe>();
  auto* object = static_cast<CProbe*>(probe.p);
  ASSERT_TRUE(object->PostTick(1));
  ASSERT_TRUE(object->PostTick(2));
  probe.Release();
  PumpPending();
  EXPECT_EQ(Counters().recordsHandled.load(), 0);
  EXPECT_EQ(Counters().recordsDestroyed.load(), 2);
}

// A window whose handler counts; checks the message shape directly.
class CountingWindow final : public KestBase::CAsyncEventMgrWnd {
 public:
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override {
    lastEventId = eventId;
    handled++;
    delete record;
  }
  DWORD lastEventId = 0;
  int handled = 0;
};

TEST_F(AsyncEventWindowTest, TheMessageIsWmUserPlusOneWithTheEventIdAndOnlyOurRecordsAreHandled) {
  CountingWindow window;
  ASSERT_NE(window.m_hWnd, nullptr);
  ASSERT_TRUE(window.PostAsyncEvent(7, new TickRecord(0)));
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, 0x0401u);
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_EQ(message.hwnd, window.m_hWnd);
  DispatchMessageW(&message);
  EXPECT_EQ(window.handled, 1);
  EXPECT_EQ(window.lastEventId, 7u);

  // A message of the same number that this window did not post carries no record of ours.
  TickRecord foreign(3);
  ASSERT_TRUE(PostMessageW(window.m_hWnd, KestBase::kAsyncEventMessage, 1, reinterpret_cast<LPARAM>(&foreign)));
  PumpPending();
  EXPECT_EQ(window.handled, 1);
  EXPECT_FALSE(window.PostAsyncEvent(1, nullptr));
}

}  // namespace
}  // namespace probe
