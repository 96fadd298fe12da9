// KestNetTcpClientSocket through IDispatch, as a script uses it: Connect and
// Close with their events against real loopback listeners, BlockingSocketTest
// against listeners, refused ports and a silent network, names resolved by
// dnsmasq in a private network namespace, and the object's own log lines.
#include <arpa/inet.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "automation/invoke_gate.h"
#include "automation/module.h"
#include "automation/tcp_client_socket_object.h"
#include "net/sockets/socket_event_thread.h"
#include "net/sockets/socket_result.h"
#include "platform/com/com.h"
#include "tests/automation/apartment_support.h"
#include "tests/automation/script_values.h"
#include "tests/companions/sys_net_module.h"
#include "tests/net/sockets/socket_test_support.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/private_network_test.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::companions::testing {
// The companion module registers itself through the test's registrar.
HRESULT (kestnet::platform::Registrar::*g_hostRegistrar)(LPCOLESTR) = &kestnet::platform::Registrar::StringRegister;
}  // namespace kestnet::companions::testing

namespace tcp_object_test {
namespace {

using namespace std::chrono_literals;
using ATL::CComPtr;
using KestAXLib::CTcpClientSocket;
using KestNet::testing::ClosedLoopbackPort;
using KestNet::testing::Descriptor;
using KestNet::testing::LoopbackServer;

constexpr DISPID kDispOnConnect = 1;
constexpr DISPID kDispOnClose = 2;

using kestnet::testing::MakeOpenGate;
using kestnet::testing::PumpFor;
using kestnet::testing::PumpUntil;
using kestnet::testing::Long;
using kestnet::testing::TakeErrorDescription;
using kestnet::testing::Text;
using kestnet::testing::TextOf;

// An event's dispid and result.
using Outcome = std::pair<DISPID, LONG>;

// One event as the script heard it.
struct HeardEvent {
  DISPID dispid = 0;
  LONG result = -1;
  std::wstring targetHost;
  std::wstring targetAddress;
  std::thread::id thread;
};

// The script's event handler: the shared recording sink, read as OnConnect
// (result, host, address) and OnClose (result). Every event must be a plain
// method call of one of those two shapes.
class TcpEventSink {
 public:
  TcpEventSink() {
    sink_->onEvent = [this](const kestnet::testing::FiredEvent& p_event) {
      EXPECT_TRUE(HasItsShape(p_event)) << "event " << p_event.dispid;
      if (onEvent) onEvent(Read(p_event));
    };
  }
  // The object may outlive this view; its events then go unheard.
  ~TcpEventSink() { sink_->onEvent = nullptr; }
  TcpEventSink(const TcpEventSink&) = delete;
  TcpEventSink& operator=(const TcpEventSink&) = delete;

  // What the script's handler does besides recording (runs inside the event).
  std::function<void(const HeardEvent&)> onEvent;

  IDispatch* Dispatch() { return sink_; }
  // The recording itself, which may outlive this view.
  ATL::CComPtr<kestnet::testing::RecordingSink> Recorder() const { return sink_; }
  size_t Count(DISPID dispid) const {
    size_t count = 0;
    for (const HeardEvent& event : Events()) count += event.dispid == dispid ? 1 : 0;
    return count;
  }
  std::vector<HeardEvent> Events() const {
    std::vector<HeardEvent> events;
    for (const auto& fired : sink_->Events()) events.push_back(Read(fired));
    return events;
  }

 private:
  static bool HasItsShape(const kestnet::testing::FiredEvent& p_event) {
    const auto& arguments = p_event.arguments;
    if (p_event.flags != DISPATCH_METHOD || p_event.namedArguments != 0) return false;
    if (p_event.dispid == kDispOnConnect) {
      return arguments.size() == 3 && arguments[0].vt == VT_I4 && arguments[1].vt == VT_BSTR &&
             arguments[2].vt == VT_BSTR;
    }
    return p_event.dispid == kDispOnClose && arguments.size() == 1 && arguments[0].vt == VT_I4;
  }
  static HeardEvent Read(const kestnet::testing::FiredEvent& p_event) {
    HeardEvent heard{p_event.dispid, -1, {}, {}, p_event.thread};
    if (!HasItsShape(p_event)) return heard;
    heard.result = p_event.arguments[0].lVal;
    if (p_event.dispid == kDispOnConnect) {
      heard.targetHost = TextOf(p_event.arguments[1].bstrVal);
      heard.targetAddress = TextOf(p_event.arguments[2].bstrVal);
    }
    return heard;
  }

  ATL::CComPtr<kestnet::testing::RecordingSink> sink_ =
      kestnet::testing::RecordingSink::Create(IID_IKestNetTcpClientSocketEvents);
};

// What a late-bound call gave the script: its HRESULT, the error name of a
// failure (DISP_E_EXCEPTION carries the member's error information) and the result.
struct CallOutcome {
  HRESULT hr = E_UNEXPECTED;
  HRESULT memberResult = S_OK;
  std::wstring errorName;
  VARIANT result{};
};

// A TCP client socket object as its factory makes it, with the test's sink advised.
class TcpObject {
 public:
  TcpObject() {
    EXPECT_EQ(CTcpClientSocket::_CreatorClass::CreateInstance(nullptr, IID_IDispatch,
                                                                reinterpret_cast<void**>(&dispatch_)),
              S_OK);
    ATL::CComQIPtr<IConnectionPointContainer> container(dispatch_);
    EXPECT_EQ(container->FindConnectionPoint(IID_IKestNetTcpClientSocketEvents, &point_), S_OK);
    EXPECT_EQ(point_->Advise(sink_.Dispatch(), &cookie_), S_OK);
  }
  ~TcpObject() {
    if (point_ != nullptr) point_->Unadvise(cookie_);
    point_.Release();
    dispatch_.Release();
  }
  TcpObject(const TcpObject&) = delete;
  TcpObject& operator=(const TcpObject&) = delete;

  IDispatch* Dispatch() { return dispatch_; }
  TcpEventSink& Sink() { return sink_; }
  // The object behind the interface, for its state.
  CTcpClientSocket& Object() {
    ATL::CComQIPtr<IKestNetTcpClientSocket> typed(dispatch_);
    return *static_cast<CTcpClientSocket*>(static_cast<IKestNetTcpClientSocket*>(typed));
  }
  LONG State() { return Object().GetState(); }

  CallOutcome Call(const wchar_t* name, std::vector<VARIANT> arguments, WORD flags = DISPATCH_METHOD) {
    CallOutcome outcome;
    VariantInit(&outcome.result);
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid), S_OK) << "no member";
    std::reverse(arguments.begin(), arguments.end());
    DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    EXCEPINFO exception{};
    outcome.hr = dispatch_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &outcome.result,
                                   &exception, nullptr);
    if (outcome.hr == DISP_E_EXCEPTION) {
      outcome.memberResult = exception.scode;
      outcome.errorName = exception.bstrDescription == nullptr ? L"" : exception.bstrDescription;
    }
    kestnet::platform::ClearExcepInfo(&exception);
    for (VARIANT& argument : arguments) VariantClear(&argument);
    return outcome;
  }

  CallOutcome Connect(const std::wstring& target, LONG port) { return Call(L"Connect", {Text(target), Long(port)}); }
  CallOutcome Close() { return Call(L"Close", {}); }
  CallOutcome BlockingSocketTest(const std::wstring& target, LONG port, LONG timeout) {
    return Call(L"BlockingSocketTest", {Text(target), Long(port), Long(timeout)});
  }

  bool WaitForEvents(size_t count, std::chrono::milliseconds limit = 10s) {
    return PumpUntil([&] { return sink_.Events().size() >= count; }, limit);
  }
  // count events came, and no other within linger after them.
  ::testing::AssertionResult HeardExactly(size_t count, std::chrono::milliseconds linger = 100ms) {
    const bool came = WaitForEvents(count);
    PumpFor(linger);
    const size_t heard = sink_.Events().size();
    if (came && heard == count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << heard << " events heard, " << count << " expected";
  }
  // The dispid and result of event i.
  Outcome Heard(size_t i) {
    const std::vector<HeardEvent> events = sink_.Events();
    return i < events.size() ? Outcome(events[i].dispid, events[i].result) : Outcome(DISPID_UNKNOWN, -1);
  }

 private:
  CComPtr<IDispatch> dispatch_;
  CComPtr<IConnectionPoint> point_;
  TcpEventSink sink_;
  DWORD cookie_ = 0;
};

// Whether the peer of an accepted connection sees it end (an orderly close
// or a reset) within p_limit, rather than merely nothing arriving.
bool PeerSeesTheEnd(const Descriptor& p_accepted, std::chrono::milliseconds p_limit = 5s) {
  pollfd probe{p_accepted.Get(), POLLIN, 0};
  if (poll(&probe, 1, static_cast<int>(p_limit.count())) != 1) return false;
  char byte = 0;
  return recv(p_accepted.Get(), &byte, 1, 0) <= 0;
}

// A BlockingSocketTest's answer: whether the call succeeded and what it returned.
bool Answered(const CallOutcome& outcome, bool expected) {
  return outcome.hr == S_OK && outcome.result.vt == VT_BOOL &&
         outcome.result.boolVal == (expected ? VARIANT_TRUE : VARIANT_FALSE);
}

// The thread's apartment, an open gate and, at the end, no socket event
// thread left behind by the object.
class ApartmentScope {
 public:
  ::testing::AssertionResult Enter() {
    if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) {
      return ::testing::AssertionFailure() << "no apartment";
    }
    entered_ = true;
    KestAXLib::SetInvokeGateFactory(&MakeOpenGate);
    return ::testing::AssertionSuccess();
  }
  void Leave() {
    if (!entered_) return;
    IErrorInfo* stale = nullptr;
    if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
    CoUninitialize();
    entered_ = false;
  }

 private:
  bool entered_ = false;
};

class TcpClientSocketObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(apartment_.Enter()); }
  void TearDown() override {
    apartment_.Leave();
    // The last object's release stops the socket layer and its threads.
    EXPECT_TRUE(KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000));
  }

  kestnet::testing::TemporaryHome home_;
  ApartmentScope apartment_;
};

// ---------------------------------------------------------------------------
// Constants and argument checks.

TEST_F(TcpClientSocketObjectTest, ResultCodeConstantsAreTheSocketResultCodes) {
  TcpObject tcp;
  const wchar_t* names[] = {L"SOCKET_NO_ERROR",        L"SOCKET_GENERIC_ERROR", L"SOCKET_OS_LAYER_NOT_INITIALIZED",
                            L"SOCKET_OS_FAILURE",      L"SOCKET_ADDR_IN_USE",   L"SOCKET_INVALID_STATE",
                            L"SOCKET_INVALID_ARG",     L"SOCKET_CONNECT_REFUSED", L"SOCKET_DEST_UNREACHABLE",
                            L"SOCKET_TIMEOUT"};
  for (LONG value = 0; value < 10; ++value) {
    CallOutcome outcome = tcp.Call(names[value], {}, DISPATCH_PROPERTYGET);
    ASSERT_EQ(outcome.hr, S_OK) << "constant " << value;
    EXPECT_EQ(outcome.result.vt, VT_I4);
    EXPECT_EQ(outcome.result.lVal, value);
  }
}

TEST_F(TcpClientSocketObjectTest, ConstantGetterWithoutAPointerIsInvalidArgumentWithoutErrorInformation) {
  TcpObject tcp;
  ATL::CComQIPtr<IKestNetTcpClientSocket> typed(tcp.Dispatch());
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(typed->get_SOCKET_NO_ERROR(nullptr), E_INVALIDARG);
  EXPECT_EQ(typed->get_SOCKET_TIMEOUT(nullptr), E_INVALIDARG);
  EXPECT_EQ(TakeErrorDescription(), L"<none>");
}

TEST_F(TcpClientSocketObjectTest, ConnectRefusesPortsOutsideTheRangeAndAnEmptyTarget) {
  TcpObject tcp;
  for (LONG port : {65536L, -1L, 0x7FFFFFFFL}) {
    CallOutcome outcome = tcp.Connect(L"127.0.0.1", port);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << port;
    EXPECT_EQ(outcome.memberResult, E_FAIL) << port;
    EXPECT_EQ(outcome.errorName, L"INVALID_ARG_ERROR") << port;
  }
  CallOutcome empty = tcp.Connect(L"", 80);
  EXPECT_EQ(empty.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(empty.errorName, L"INVALID_ARG_ERROR");
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
  PumpFor(50ms);
  EXPECT_TRUE(tcp.Sink().Events().empty());
}

TEST_F(TcpClientSocketObjectTest, BlockingTestChecksItsResultPointerPortTimeoutAndTarget) {
  TcpObject tcp;
  ATL::CComQIPtr<IKestNetTcpClientSocket> typed(tcp.Dispatch());
  ATL::CComBSTR target(L"127.0.0.1");
  EXPECT_EQ(typed->BlockingSocketTest(target, 80, 1000, nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");

  EXPECT_EQ(tcp.BlockingSocketTest(L"127.0.0.1", 65536, 1000).errorName, L"INVALID_ARG_ERROR");
  EXPECT_EQ(tcp.BlockingSocketTest(L"127.0.0.1", -1, 1000).errorName, L"INVALID_ARG_ERROR");
  EXPECT_EQ(tcp.BlockingSocketTest(L"127.0.0.1", 80, -1).errorName, L"INVALID_ARG_ERROR");
  EXPECT_EQ(tcp.BlockingSocketTest(L"", 80, 1000).errorName, L"INVALID_ARG_ERROR");
}

TEST_F(TcpClientSocketObjectTest, ClassRefusesAggregation) {
  CComPtr<IClassFactory> factory;
  ASSERT_EQ(KestAXLib::CKestNetXModule::Instance().GetClassObject(CLSID_KestNetTcpClientSocket, IID_IClassFactory,
                                                                  reinterpret_cast<void**>(&factory)),
            S_OK);
  TcpObject outer;
  IUnknown* inner = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer.Dispatch(), IID_IUnknown, reinterpret_cast<void**>(&inner)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);
  CComPtr<IDispatch> plain;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&plain)), S_OK);
}

TEST_F(TcpClientSocketObjectTest, DefaultSourceInterfaceIsTheEventInterface) {
  TcpObject tcp;
  ATL::CComQIPtr<IProvideClassInfo2> classInfo(tcp.Dispatch());
  ASSERT_NE(classInfo, nullptr);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_EQ(source, IID_IKestNetTcpClientSocketEvents);
}

// ---------------------------------------------------------------------------
// Connect and Close with their events.

TEST_F(TcpClientSocketObjectTest, CloseOfAFreshObjectFiresOnCloseZero) {
  TcpObject tcp;
  EXPECT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(1, 50ms));
  EXPECT_EQ(tcp.Heard(0), Outcome(kDispOnClose, 0));
  EXPECT_EQ(tcp.Sink().Events()[0].thread, std::this_thread::get_id());
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectTest, ConnectToAListenerFiresOnConnectThenCloseFiresExactlyOneOnClose) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  const HeardEvent connected = tcp.Sink().Events()[0];
  EXPECT_EQ(connected.dispid, kDispOnConnect);
  EXPECT_EQ(connected.result, 0);
  EXPECT_EQ(connected.targetHost, L"127.0.0.1");
  EXPECT_EQ(connected.targetAddress, L"127.0.0.1");
  EXPECT_EQ(connected.thread, std::this_thread::get_id());
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnected);
  Descriptor accepted = server.Accept();
  EXPECT_TRUE(accepted.Valid());

  ASSERT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(2));
  EXPECT_EQ(tcp.Heard(1), Outcome(kDispOnClose, 0));
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectTest, SecondConnectWhileConnectedIsRefusedAndChangesNothing) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  CallOutcome second = tcp.Connect(L"127.0.0.1", server.Port());
  EXPECT_EQ(second.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(second.errorName, L"INVALID_OPERATION_ERROR");
  ASSERT_TRUE(tcp.WaitForEvents(1));
  EXPECT_EQ(tcp.Sink().Events()[0].result, 0);
  EXPECT_TRUE(server.Accept().Valid());
  EXPECT_FALSE(server.Accept(100ms).Valid()) << "the refused call made no connection";
  PumpFor(50ms);
  EXPECT_EQ(tcp.Sink().Count(kDispOnConnect), 1u);
}

TEST_F(TcpClientSocketObjectTest, RefusedConnectionFiresOneFailedOnConnectAndTheObjectCanConnectAgain) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", ClosedLoopbackPort()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  const HeardEvent refused = tcp.Sink().Events()[0];
  EXPECT_EQ(refused.dispid, kDispOnConnect);
  // The socket layer reports a refusal as a generic failure.
  EXPECT_EQ(refused.result, static_cast<LONG>(KestNet::SOCKET_GENERIC_ERROR));
  EXPECT_EQ(refused.targetHost, L"127.0.0.1");
  EXPECT_EQ(refused.targetAddress, L"");
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);

  // The failed attempt's socket is not reused and its end is not reported.
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(2));
  EXPECT_EQ(tcp.Heard(1), Outcome(kDispOnConnect, 0));
  EXPECT_EQ(tcp.Sink().Events()[1].targetAddress, L"127.0.0.1");
  EXPECT_EQ(tcp.Sink().Count(kDispOnClose), 0u);
  EXPECT_TRUE(server.Accept().Valid());
}

// A script that retries from its failed OnConnect handler finds the object
// idle: the state moves before the event is posted.
TEST_F(TcpClientSocketObjectTest, ConnectFromInsideTheFailedOnConnectHandlerIsAccepted) {
  LoopbackServer server;
  TcpObject tcp;
  HRESULT retried = E_UNEXPECTED;
  tcp.Sink().onEvent = [&](const HeardEvent& heard) {
    if (heard.dispid == kDispOnConnect && heard.result != 0) {
      retried = tcp.Connect(L"127.0.0.1", server.Port()).hr;
    }
  };
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", ClosedLoopbackPort()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(2));
  EXPECT_EQ(retried, S_OK);
  EXPECT_NE(tcp.Sink().Events()[0].result, 0);
  EXPECT_EQ(tcp.Sink().Events()[1].result, 0);
  tcp.Sink().onEvent = nullptr;
}

TEST_F(TcpClientSocketObjectTest, PeerThatClosesFiresOnCloseAndLeavesTheObjectIdle) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  Descriptor accepted = server.Accept();
  ASSERT_TRUE(accepted.Valid());
  accepted.Reset();
  ASSERT_TRUE(tcp.HeardExactly(2));
  EXPECT_EQ(tcp.Heard(1), Outcome(kDispOnClose, 0));
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
  // And Close of the idle object answers once more with OnClose(0).
  EXPECT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(3));
  EXPECT_EQ(tcp.Sink().Events()[2].dispid, kDispOnClose);
}

TEST_F(TcpClientSocketObjectTest, CloseJustAsThePeerClosesSucceedsAndTheEndIsReportedFirst) {
  // Close() meets the peer's close at every point of its way: before it
  // arrives, while its notification runs, or after.
  LoopbackServer server;
  TcpObject tcp;
  for (int round = 0; round < 20; ++round) {
    const size_t before = tcp.Sink().Events().size();
    ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK) << "round " << round;
    ASSERT_TRUE(tcp.WaitForEvents(before + 1));
    ASSERT_EQ(tcp.Sink().Events()[before].result, 0);
    Descriptor accepted = server.Accept();
    ASSERT_TRUE(accepted.Valid());
    accepted.Reset();
    if (round % 2 == 1) std::this_thread::sleep_for(std::chrono::microseconds(50 * round));
    EXPECT_EQ(tcp.Close().hr, S_OK) << "round " << round;
    ASSERT_TRUE(tcp.WaitForEvents(before + 2));
    PumpUntil([&] { return tcp.State() == KestAXLib::kTcpStateIdle; });
    PumpFor(20ms);
    EXPECT_EQ(tcp.Sink().Events()[before + 1].dispid, kDispOnClose) << "round " << round;
  }
  EXPECT_EQ(tcp.Sink().Count(kDispOnConnect), 20u);
}

TEST_F(TcpClientSocketObjectTest, WhatAPeerSendsIsDroppedAndTheConnectionLastsUntilClose) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  Descriptor accepted = server.Accept();
  ASSERT_TRUE(accepted.Valid());
  const std::string chatter(4 * 1024 * 1024, '\n');  // also four million line feeds
  ASSERT_TRUE(KestNet::testing::SendAll(accepted.Get(), chatter));
  // Everything sent has left the server's side once the client has read it all.
  ASSERT_TRUE(KestNet::testing::Eventually([&] {
    int unsent = 0;
    return ioctl(accepted.Get(), TIOCOUTQ, &unsent) == 0 && unsent == 0;
  }));
  EXPECT_LE(tcp.Object().BytesHeldFromPeer(), KestNet::TcpNonBlockingLineSocket::kChunkSize);
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnected);
  ASSERT_EQ(tcp.Close().hr, S_OK);
  EXPECT_TRUE(tcp.HeardExactly(2, 50ms));
}

TEST_F(TcpClientSocketObjectTest, PeerThatResetsFiresOnCloseWithTheTimeoutCode) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  Descriptor accepted = server.Accept();
  ASSERT_TRUE(accepted.Valid());
  KestNet::testing::ResetConnection(accepted);
  ASSERT_TRUE(tcp.HeardExactly(2, 50ms));
  EXPECT_EQ(tcp.Heard(1), Outcome(kDispOnClose, static_cast<LONG>(KestNet::SOCKET_TIMEOUT)));
}

TEST_F(TcpClientSocketObjectTest, ReleasingAConnectedObjectFiresNothingAndStopsItsThreads) {
  LoopbackServer server;
  auto tcp = std::make_unique<TcpObject>();
  ASSERT_EQ(tcp->Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp->WaitForEvents(1));
  Descriptor accepted = server.Accept();
  ASSERT_TRUE(accepted.Valid());
  // The peer hears the connection end once the object is gone.
  ATL::CComPtr<kestnet::testing::RecordingSink> sink = tcp->Sink().Recorder();
  tcp.reset();
  PumpFor(50ms);
  EXPECT_EQ(sink->Count(), 1u);
  EXPECT_TRUE(PeerSeesTheEnd(accepted));
}

// ---------------------------------------------------------------------------
// BlockingSocketTest on loopback.

TEST_F(TcpClientSocketObjectTest, BlockingTestAnswersTrueForAListenerAndFalseForARefusedPort) {
  LoopbackServer server;
  TcpObject tcp;
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", server.Port(), 5000), true));
  EXPECT_TRUE(server.Accept().Valid());
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", ClosedLoopbackPort(), 5000), false));
  // The test socket is fresh for every test: a refusal does not spoil the next one.
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", server.Port(), 5000), true));
  EXPECT_TRUE(server.Accept().Valid());
  PumpFor(50ms);
  EXPECT_TRUE(tcp.Sink().Events().empty()) << "a blocking test fires no event";
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectTest, BlockingTestLeavesAConnectedMainSocketAsItWas) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1));
  Descriptor mainPeer = server.Accept();
  ASSERT_TRUE(mainPeer.Valid());

  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", server.Port(), 5000), true));
  Descriptor testPeer = server.Accept();
  EXPECT_TRUE(testPeer.Valid());
  // The test connection is closed when the call returns; the main one is not.
  EXPECT_TRUE(PeerSeesTheEnd(testPeer));
  EXPECT_FALSE(PeerSeesTheEnd(mainPeer, 50ms));
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnected);
  PumpFor(50ms);
  EXPECT_EQ(tcp.Sink().Events().size(), 1u);

  ASSERT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(2));
  PumpFor(50ms);
  EXPECT_EQ(tcp.Sink().Count(kDispOnClose), 1u);
  EXPECT_EQ(tcp.Sink().Count(kDispOnConnect), 1u);
}

// ---------------------------------------------------------------------------
// A private network namespace: a network that never answers, and one with
// no route at all.

// Sends p_network/24 into the loopback interface, where packets for an
// address that nobody holds are dropped without an answer: a connection
// attempt there stays pending until the caller gives up.
bool AddSilentNetwork(const char* p_network, std::string& p_error) {
  Descriptor control(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  rtentry route{};
  auto* destination = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  destination->sin_family = AF_INET;
  inet_pton(AF_INET, p_network, &destination->sin_addr);
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  mask->sin_family = AF_INET;
  inet_pton(AF_INET, "255.255.255.0", &mask->sin_addr);
  route.rt_flags = RTF_UP;
  char device[] = "lo";
  route.rt_dev = device;
  if (!control.Valid() || ioctl(control.Get(), SIOCADDRT, &route) != 0) {
    p_error = std::string("adding the route failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

constexpr const wchar_t* kSilentAddress = L"10.77.0.2";
constexpr const wchar_t* kUnroutedAddress = L"10.78.0.2";

class TcpClientSocketObjectNetworkTest : public kestnet::testing::PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    std::string error;
    ASSERT_TRUE(AddSilentNetwork("10.77.0.0", error)) << error;
    ASSERT_TRUE(apartment_.Enter());
  }
  void TearDown() override {
    apartment_.Leave();
    EXPECT_TRUE(KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000));
    PrivateNetworkTest::TearDown();
  }

  ApartmentScope apartment_;
};

TEST_F(TcpClientSocketObjectNetworkTest, BlockingTestOfASilentTargetAnswersFalseAfterItsTimeout) {
  TcpObject tcp;
  constexpr LONG kTimeout = 600;
  const auto started = std::chrono::steady_clock::now();
  CallOutcome outcome = tcp.BlockingSocketTest(kSilentAddress, 80, kTimeout);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(Answered(outcome, false));
  EXPECT_GE(waited, std::chrono::milliseconds(kTimeout)) << "the test waited for its time-out";
  PumpFor(50ms);
  EXPECT_TRUE(tcp.Sink().Events().empty());
}

TEST_F(TcpClientSocketObjectNetworkTest, SecondConnectWhilePendingIsRefusedAndCloseEndsTheAttemptWithOnClose) {
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(kSilentAddress, 80).hr, S_OK);
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnectPending);
  CallOutcome second = tcp.Connect(L"127.0.0.1", 80);
  EXPECT_EQ(second.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(second.errorName, L"INVALID_OPERATION_ERROR");
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnectPending);

  ASSERT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(1));
  EXPECT_EQ(tcp.Sink().Events()[0].dispid, kDispOnClose);
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectNetworkTest, BlockingTestDuringAPendingConnectLeavesItPending) {
  LoopbackServer server;
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(kSilentAddress, 80).hr, S_OK);
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", server.Port(), 5000), true));
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnectPending);
  PumpFor(50ms);
  EXPECT_TRUE(tcp.Sink().Events().empty());
}

TEST_F(TcpClientSocketObjectNetworkTest, ConnectOrBlockingTestThatCannotStartFailsAtOnceAndTheNextOneWorks) {
  LoopbackServer server;
  TcpObject tcp;
  // No route: the connection cannot even be attempted, so no event could
  // ever end it; the caller hears of it at once instead.
  CallOutcome unrouted = tcp.Connect(kUnroutedAddress, 80);
  EXPECT_EQ(unrouted.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(unrouted.errorName, L"INVALID_OBJECT_ERROR");
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
  EXPECT_EQ(tcp.BlockingSocketTest(kUnroutedAddress, 80, 1000).errorName, L"INVALID_OBJECT_ERROR");

  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"127.0.0.1", server.Port(), 5000), true));
  EXPECT_TRUE(server.Accept().Valid());
  ASSERT_EQ(tcp.Connect(L"127.0.0.1", server.Port()).hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(1));
  EXPECT_EQ(tcp.Heard(0), Outcome(kDispOnConnect, 0));
}

TEST_F(TcpClientSocketObjectNetworkTest, ReleasingAnObjectWithAPendingConnectFiresNothing) {
  auto tcp = std::make_unique<TcpObject>();
  ASSERT_EQ(tcp->Connect(kSilentAddress, 80).hr, S_OK);
  ATL::CComPtr<kestnet::testing::RecordingSink> sink = tcp->Sink().Recorder();
  tcp.reset();
  PumpFor(100ms);
  EXPECT_EQ(sink->Count(), 0u);
}

// ---------------------------------------------------------------------------
// Names, resolved by dnsmasq through the KestSysNet companion.

class TcpClientSocketObjectDnsTest : public TcpClientSocketObjectNetworkTest {
 protected:
  void SetUp() override {
    TcpClientSocketObjectNetworkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (kestnet::testing::DnsmasqServer::FindBinary().empty()) {
      GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    }
    kestnet::testing::DnsmasqOptions options;
    options.listenAddress = "127.0.0.53";
    options.hosts = {{"127.0.0.1", "loop.test"}, {"10.77.0.2", "silent.test"}};
    std::string error;
    ASSERT_TRUE(server_.Start(options, error)) << error;
    ASSERT_TRUE(module_.Load("nameserver 127.0.0.53\n", ""));
  }
  void TearDown() override {
    module_.Unload();
    CoFreeUnusedLibraries();
    server_.Stop();
    TcpClientSocketObjectNetworkTest::TearDown();
  }

  kestnet::testing::DnsmasqServer server_;
  kestnet::companions::testing::SysNetModule module_;
};

TEST_F(TcpClientSocketObjectDnsTest, ConnectToANameThatDoesNotResolveFiresOneFailedOnConnect) {
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"nowhere.test", 80).hr, S_OK);
  ASSERT_TRUE(tcp.WaitForEvents(1, 20s));
  PumpFor(100ms);
  ASSERT_EQ(tcp.Sink().Events().size(), 1u);
  const HeardEvent failed = tcp.Sink().Events()[0];
  EXPECT_EQ(failed.dispid, kDispOnConnect);
  EXPECT_EQ(failed.result, static_cast<LONG>(KestNet::SOCKET_GENERIC_ERROR));
  EXPECT_EQ(failed.targetHost, L"nowhere.test");
  EXPECT_EQ(failed.targetAddress, L"");
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectDnsTest, CloseWhileTheNameResolvesEndsTheAttemptWithOneOnClose) {
  // The companion now names a server that never answers, so the name is
  // still being resolved when Close comes.
  module_.Unload();
  ASSERT_TRUE(module_.Load("nameserver 127.0.0.2\n", ""));
  TcpObject tcp;
  ASSERT_EQ(tcp.Connect(L"slow.test", 80).hr, S_OK);
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateConnectPending);
  ASSERT_EQ(tcp.Close().hr, S_OK);
  ASSERT_TRUE(tcp.HeardExactly(1));
  EXPECT_EQ(tcp.Sink().Events()[0].dispid, kDispOnClose);
  EXPECT_EQ(tcp.State(), KestAXLib::kTcpStateIdle);
}

TEST_F(TcpClientSocketObjectDnsTest, BlockingTestGivesASilentServerTheClampedDnsTimeout) {
  module_.Unload();
  ASSERT_TRUE(module_.Load("nameserver 127.0.0.2\n", ""));
  TcpObject tcp;
  // A Timeout of 100 would be refused by the resolver; it asks for 500 instead.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"slow.test", 80, 100), false));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
}

TEST_F(TcpClientSocketObjectDnsTest, BlockingTestResolvesNamesWithItsOwnResolver) {
  LoopbackServer listener;
  TcpObject tcp;
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"loop.test", listener.Port(), 5000), true));
  EXPECT_TRUE(listener.Accept().Valid());
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"nowhere.test", listener.Port(), 1000), false));
  EXPECT_TRUE(Answered(tcp.BlockingSocketTest(L"silent.test", 80, 500), false));
  PumpFor(50ms);
  EXPECT_TRUE(tcp.Sink().Events().empty());
}

// ---------------------------------------------------------------------------
// The object's own log lines, as the process's logger writes them.

class TcpClientSocketObjectLogTest : public TcpClientSocketObjectTest {
 protected:
  void SetUp() override {
    TcpClientSocketObjectTest::SetUp();
    ASSERT_EQ(ATL::CComObject<CTcpClientSocket>::CreateInstance(&object_), S_OK);
    object_->AddRef();
  }
  void TearDown() override {
    ReleaseObject();
    TcpClientSocketObjectTest::TearDown();
  }
  void ReleaseObject() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }
  // The object's lines, once it is gone.
  std::vector<kestnet::testing::LoggedLine> Lines() {
    ReleaseObject();
    return capture_.TakeLines();
  }
  static kestnet::testing::LoggedLine Line(unsigned p_level, std::string p_message) {
    return {kClass, p_level, std::move(p_message)};
  }

  static constexpr const char* kClass = "KestNet::TcpClientSocket";
  kestnet::testing::LogCapture capture_{kClass};
  ATL::CComObject<CTcpClientSocket>* object_ = nullptr;
};

std::string GuardLine(const char* method, const char* errorName) {
  return std::string(method) + "():  Exception - " + errorName + ".  Extended Data = <>";
}

TEST_F(TcpClientSocketObjectLogTest, ConnectNamesTheRejectedParameter) {
  // The constant getters refuse a missing pointer without a word.
  object_->get_SOCKET_NO_ERROR(nullptr);
  object_->Connect(ATL::CComBSTR(L"127.0.0.1"), 65536);
  object_->Connect(ATL::CComBSTR(L"127.0.0.1"), -1);
  object_->Connect(ATL::CComBSTR(L""), 80);
  EXPECT_EQ(Lines(), (std::vector<kestnet::testing::LoggedLine>{
                         Line(1, "Connect - Invalid argument detected for parameter p_nPort."),
                         Line(1, GuardLine("Connect", "INVALID_ARG_ERROR")),
                         Line(1, "Connect - Invalid argument detected for parameter p_nPort."),
                         Line(1, GuardLine("Connect", "INVALID_ARG_ERROR")),
                         Line(1, "Connect - Invalid argument detected for parameter p_strAddress."),
                         Line(1, GuardLine("Connect", "INVALID_ARG_ERROR"))}));
}

TEST_F(TcpClientSocketObjectLogTest, SecondConnectLogsThatAnAttemptIsUnderway) {
  LoopbackServer server;
  object_->Connect(ATL::CComBSTR(L"127.0.0.1"), server.Port());
  object_->Connect(ATL::CComBSTR(L"127.0.0.1"), server.Port());
  EXPECT_EQ(Lines(), (std::vector<kestnet::testing::LoggedLine>{
                         Line(1, "Connect() - Error: Attempting to connect while connected or while a connection "
                                 "attempt is pending."),
                         Line(1, GuardLine("Connect", "INVALID_OPERATION_ERROR"))}));
}

TEST_F(TcpClientSocketObjectLogTest, BlockingTestClampsTheDnsTimeoutIntoTheResolversRange) {
  // Without a DNS server the resolution fails at once, after the clamped
  // time-out has been logged (and accepted: the resolver refuses values
  // outside 500 to 30000).
  std::vector<kestnet::testing::LoggedLine> expected;
  for (LONG timeout : {100L, 60000L, 700L}) {
    SCOPED_TRACE(timeout);
    VARIANT_BOOL answer = VARIANT_TRUE;
    EXPECT_EQ(object_->BlockingSocketTest(ATL::CComBSTR(L"nowhere.test"), 80, timeout, &answer), S_OK);
    EXPECT_EQ(answer, VARIANT_FALSE);
  }
  for (const char* clamped : {"500", "30000", "700"}) {
    expected.push_back(Line(3, std::string("BlockingSocketTest():  Attempting to resolve host name <nowhere.test> "
                                           "using a DNS timeout value of <") +
                                   clamped + ">."));
    expected.push_back(Line(1, "BlockingSocketTest():  DNS name resulution failed with error code <5>."));
  }
  EXPECT_EQ(Lines(), expected);
}

TEST_F(TcpClientSocketObjectLogTest, BlockingTestLogsWhereItConnectsAndWhyItFailed) {
  const USHORT refusedPort = ClosedLoopbackPort();
  VARIANT_BOOL answer = VARIANT_TRUE;
  object_->BlockingSocketTest(ATL::CComBSTR(L"127.0.0.1"), refusedPort, 5000, &answer);
  object_->BlockingSocketTest(ATL::CComBSTR(L"127.0.0.1"), refusedPort, 5000, nullptr);
  EXPECT_EQ(Lines(), (std::vector<kestnet::testing::LoggedLine>{
                         Line(3, "BlockingSocketTest():  Connecting to <127.0.0.1:" + std::to_string(refusedPort) + ">."),
                         Line(3, "BlockingSocketTest():  The internal connect operation failed with error code <1>."),
                         Line(1, "BlockingSocketTest():  Error - Invalid Return Parameter."),
                         Line(1, GuardLine("BlockingSocketTest", "NULL_POINTER_ERROR"))}));
}

TEST_F(TcpClientSocketObjectLogTest, UnknownEventIdsAndMismatchedRecordsAreLoggedAndIgnored) {
  object_->PostAsyncEvent(7, new KestAXLib::COnCloseData(0));
  object_->PostAsyncEvent(KestAXLib::kTcpOnConnectEventId, new KestAXLib::COnCloseData(0));
  object_->PostAsyncEvent(KestAXLib::kTcpOnCloseEventId, new KestAXLib::COnConnectData(0, L"host", L"address"));
  PumpFor(50ms);
  EXPECT_EQ(Lines(), (std::vector<kestnet::testing::LoggedLine>{
                         Line(1, "HandleAsyncEventMessage() - Received an invalid async event ID [7], ignoring."),
                         Line(1, "HandleAsyncEventMessage() - Received an invalid CAsyncEventData pointer for async "
                                 "event ID [1], ignoring."),
                         Line(1, "HandleAsyncEventMessage() - Received an invalid CAsyncEventData pointer for async "
                                 "event ID [2], ignoring.")}));
}

}  // namespace
}  // namespace tcp_object_test
