// What the DNS and Ping object tests share: a private network namespace and
// KESTNET_HOME per test, an apartment whose messages the test pumps, an open
// trust gate (the gate has tests of its own), objects made as their factory
// makes them, late-bound calls as a script makes them, and an event sink that
// keeps a copy of every event's arguments.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "automation/async_event_window.h"
#include "automation/invoke_gate.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "platform/com/atl_variant.h"
#include "platform/com/com.h"
#include "platform/com/safearray.h"
#include "tests/automation/apartment_support.h"
#include "tests/automation/trust_support.h"
#include "tests/companions/sys_net_module.h"
#include "tests/support/dnsmasq_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/private_network_test.h"
#include "tests/support/recording_sink.h"
#include "tests/support/scripted_udp_peer.h"

namespace net_object_test {

using namespace std::chrono_literals;

using kestnet::testing::DnsmasqOptions;
using kestnet::testing::DnsmasqServer;
using kestnet::testing::MakeOpenGate;
using kestnet::testing::Outer;
using kestnet::testing::Short;
using kestnet::testing::TextOf;

using kestnet::testing::FiredEvent;
using kestnet::testing::RecordingSink;

// Advises a new RecordingSink on object's connection point for events. Every
// event must be a plain method call with positional arguments.
inline ATL::CComPtr<RecordingSink> Connect(IUnknown* object, const IID& events) {
  ATL::CComPtr<RecordingSink> sink = RecordingSink::Create(events);
  sink->onEvent = [](const FiredEvent& p_event) {
    EXPECT_EQ(p_event.flags, DISPATCH_METHOD);
    EXPECT_EQ(p_event.namedArguments, 0u);
  };
  ATL::CComQIPtr<IConnectionPointContainer> container(object);
  EXPECT_NE(container, nullptr);
  if (container == nullptr) return sink;
  ATL::CComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(events, &point), S_OK);
  DWORD cookie = 0;
  if (point != nullptr) {
    EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
  }
  return sink;
}

// Takes over one reference to object and releases it in sink's next event,
// as a script that lets go of the object in its event handler.
inline void ReleaseOnEvent(RecordingSink* sink, IUnknown* object) {
  auto held = std::make_shared<ATL::CComPtr<IUnknown>>();
  held->Attach(object);
  sink->onEvent = [held, previous = sink->onEvent](const FiredEvent& p_event) {
    if (previous) previous(p_event);
    held->Release();
  };
}

// The texts of a list as the objects hand lists to scripts, checking its
// shape on the way: VT_ARRAY | VT_VARIANT of one dimension from 0, also when
// empty, each element a VT_BSTR.
inline std::vector<std::wstring> TextsOfArray(const VARIANT& list) {
  std::vector<std::wstring> texts;
  EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT) << "a list is an array even when it is empty";
  if (list.vt != (VT_ARRAY | VT_VARIANT) || list.parray == nullptr) return texts;
  EXPECT_EQ(SafeArrayGetDim(list.parray), 1u);
  LONG lower = -1;
  LONG upper = -2;
  EXPECT_EQ(SafeArrayGetLBound(list.parray, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(list.parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  for (LONG i = lower; i <= upper; ++i) {
    ATL::CComVariant element;
    EXPECT_EQ(SafeArrayGetElement(list.parray, &i, &element), S_OK);
    EXPECT_EQ(element.vt, VT_BSTR);
    texts.push_back(TextOf(element));
  }
  return texts;
}

// An event record of a class no object expects.
class ForeignRecord final : public KestBase::CAsyncEventData {};

// A private namespace and home (PrivateNetworkTest), an apartment, and the
// open gate. At the end every object must be gone, and with them every
// socket event thread.
class NetObjectTest : public kestnet::testing::PrivateNetworkTest {
 public:
  // A new object of class T, made as its class factory makes it, as IDispatch.
  template <class T>
  static ATL::CComPtr<IDispatch> Make(T** object = nullptr) {
    ATL::CComObject<T>* created = nullptr;
    EXPECT_EQ(ATL::CComObject<T>::CreateInstance(&created), S_OK);
    ATL::CComPtr<IDispatch> dispatch;
    if (created == nullptr) return dispatch;
    EXPECT_EQ(created->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    if (object != nullptr) *object = created;
    return dispatch;
  }

 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    m_bComInitialized = true;
    KestAXLib::SetInvokeGateFactory(&MakeOpenGate);
  }
  void TearDown() override {
    if (m_bComInitialized) {
      KestAXLib::SetInvokeGateFactory(nullptr);
      IErrorInfo* stale = nullptr;
      if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
      CoFreeUnusedLibraries();
      CoUninitialize();
      EXPECT_TRUE(KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    PrivateNetworkTest::TearDown();
  }

  template <typename Condition>
  static bool PumpUntil(Condition condition, std::chrono::milliseconds limit = 30s) {
    return kestnet::testing::PumpUntil(condition, limit);
  }
  static void PumpFor(std::chrono::milliseconds span) { kestnet::testing::PumpFor(span); }

  bool m_bComInitialized = false;
};

// NetObjectTest with what names need: dnsmasq, a server that takes every
// query and never answers, and the companion that reports the machine's
// servers. Each stops at the end.
class NetObjectWithServersTest : public NetObjectTest {
 protected:
  void TearDown() override {
    m_server.Stop();
    m_silentServer.Stop();
    m_companion.Unload();
    NetObjectTest::TearDown();
  }

  // dnsmasq on 127.0.0.53 answering hosts; skips when it is not installed.
  void StartDnsmasq(std::vector<std::pair<std::string, std::string>> hosts, unsigned ttl = 0,
                    std::vector<std::string> extraArguments = {}, std::string address = "127.0.0.53") {
    if (DnsmasqServer::FindBinary().empty()) GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base).";
    DnsmasqOptions options;
    options.listenAddress = std::move(address);
    options.hosts = std::move(hosts);
    options.localTtl = ttl;
    options.extraArguments = std::move(extraArguments);
    std::string error;
    ASSERT_TRUE(m_server.Start(options, error)) << error;
  }

  // A new object of class T with sink advised on its events.
  template <class T>
  ATL::CComPtr<IDispatch> MakeConnected(ATL::CComPtr<RecordingSink>& sink, const IID& events) {
    ATL::CComPtr<IDispatch> object = Make<T>();
    if (object != nullptr) sink = Connect(object, events);
    return object;
  }

  // Pumps until sink has count events; then every event read by read.
  template <typename Read>
  static auto AwaitEvents(RecordingSink* sink, size_t count, Read read) {
    EXPECT_TRUE(PumpUntil([&] { return sink->Count() >= count; }));
    std::vector<decltype(read(FiredEvent{}))> heard;
    for (const FiredEvent& event : sink->Events()) heard.push_back(read(event));
    return heard;
  }

  DnsmasqServer m_server;
  kestnet::testing::ScriptedUdpPeer m_silentServer;
  kestnet::companions::testing::SysNetModule m_companion;
};

// What a script sees of a failed call: DISP_E_EXCEPTION carrying E_FAIL and
// the error name. Returns the name.
inline std::wstring FailureOf(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments) {
  EXCEPINFO exception{};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(trust_test::CallByName(object, name, flags, std::move(arguments), &result, &exception),
            DISP_E_EXCEPTION);
  VariantClear(&result);
  EXPECT_EQ(exception.scode, E_FAIL);
  std::wstring description = exception.bstrDescription == nullptr ? L"<none>" : exception.bstrDescription;
  kestnet::platform::ClearExcepInfo(&exception);
  return description;
}

// A property get or method call by dispid, as a script's late binding makes it.
inline HRESULT InvokeByDispid(IDispatch* object, DISPID dispid, WORD flags, VARIANT* result) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, nullptr, nullptr);
}

// Each constant as a script reads it by its dispid: of type (VT_I2 or VT_I4)
// and with its value.
inline void ExpectConstants(IDispatch* object, VARTYPE type, std::vector<std::pair<DISPID, LONG>> constants) {
  for (auto [dispid, value] : constants) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(InvokeByDispid(object, dispid, DISPATCH_PROPERTYGET, &result), S_OK) << dispid;
    EXPECT_EQ(result.vt, type) << dispid;
    EXPECT_EQ(type == VT_I2 ? result.iVal : result.lVal, value) << dispid;
  }
}


}  // namespace net_object_test
