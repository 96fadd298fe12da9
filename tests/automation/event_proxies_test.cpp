// The Fire_ operations hand sinks the dispid and the argument types of the
// type library.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "automation/event_proxies.h"
#include "automation/typelib.h"
#include "tests/automation/probe_object.h"
#include "tests/automation/typelib_walk.h"

namespace probe {
namespace {

// The argument types of an event, in declaration order.
std::vector<VARTYPE> TypesOf(const FiredEvent& p_event) {
  std::vector<VARTYPE> types;
  for (const auto& argument : p_event.arguments) types.push_back(argument.vt);
  return types;
}

class EventProxyTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ATL::CComPtr<IProbe> made = Make<CProbe>();
    owner_ = made.p;
    ATL::CComQIPtr<IConnectionPointContainer> queried(owner_);
    container_ = queried.p;
  }
  void TearDown() override {
    container_.Release();
    owner_.Release();
    ProbeTest::TearDown();
  }

  ATL::CComPtr<IProbe> owner_;  // stands in for the object the proxy belongs to
  ATL::CComPtr<IConnectionPointContainer> container_;
};

TEST_F(EventProxyTest, ResolveNameCompleteCarriesAnIntTextAndAVariantArray) {
  CProxy_IKestNetDNSEvents<int> proxy(container_);
  auto sink = RecordingSink::Create();
  DWORD cookie = 0;
  ASSERT_EQ(proxy.EventConnectionPoint().Advise(sink, &cookie), S_OK);

  SAFEARRAY* addresses = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT ips;
  VariantInit(&ips);
  ips.vt = VT_ARRAY | VT_VARIANT;
  ips.parray = addresses;
  ATL::CComBSTR name(L"example.com");
  ASSERT_EQ(proxy.Fire_OnResolveNameComplete(3, name, ips), S_OK);
  ASSERT_EQ(sink->Count(), 1u);
  const FiredEvent event = sink->Events()[0];
  EXPECT_EQ(event.dispid, 1);
  EXPECT_EQ(event.flags, DISPATCH_METHOD);
  EXPECT_EQ(event.lcid, 0x0400u);
  EXPECT_EQ(event.namedArguments, 0u);
  ASSERT_EQ(TypesOf(event), (std::vector<VARTYPE>{VT_INT, VT_BSTR, VT_ARRAY | VT_VARIANT}));
  EXPECT_EQ(event.arguments[0].intVal, 3);
  LONG upper = -1;
  SafeArrayGetUBound(event.arguments[2].parray, 1, &upper);
  EXPECT_EQ(upper + 1, 2);
  VariantClear(&ips);
  proxy.EventConnectionPoint().Unadvise(cookie);
}

#define KESTNET_TEST_FIRE(dispid, name, ...)                                                       \
  ASSERT_EQ(proxy.Fire_##name(KESTNET_TL_FOR_EACH_COMMA(KESTNET_TEST_SAMPLE, __VA_ARGS__)), S_OK); \
  fired.push_back(LastFired(KESTNET_TL_NAME(name), *sink));
#define KESTNET_TEST_WALK_EVENTS(interface, connectionPoint)                  \
  {                                                                           \
    CProxy_##interface<int> proxy(container_);                                \
    DWORD cookie = 0;                                                         \
    ASSERT_EQ(proxy.EventConnectionPoint().Advise(sink, &cookie), S_OK);      \
    std::vector<Fired> fired;                                                 \
    KESTNET_EVENTS_##interface(KESTNET_TEST_FIRE)                             \
    proxy.EventConnectionPoint().Unadvise(cookie);                            \
    CheckAgainstTypeInfo(library, IID_##interface, #interface, fired);        \
  }

struct Fired {
  const wchar_t* name;
  DISPID dispid;
  std::vector<VARTYPE> types;  // in declaration order
};

Fired LastFired(const wchar_t* p_name, const RecordingSink& p_sink) {
  const auto events = p_sink.Events();
  return events.empty() ? Fired{p_name, DISPID_UNKNOWN, {}} : Fired{p_name, events.back().dispid, TypesOf(events.back())};
}

// Each fired event must carry the dispid and, parameter by parameter, the
// types that the type information tells the sinks to expect.
void CheckAgainstTypeInfo(ITypeLib* p_library, REFIID p_iid, const char* p_interface,
                          const std::vector<Fired>& p_fired) {
  ATL::CComPtr<ITypeInfo> info;
  ASSERT_EQ(p_library->GetTypeInfoOfGuid(p_iid, &info), S_OK) << p_interface;
  EXPECT_EQ(kestnet::testing::FunctionCount(info), p_fired.size()) << p_interface;
  for (const Fired& event : p_fired) {
    const std::string name(event.name, event.name + wcslen(event.name));
    LPOLESTR names[] = {const_cast<LPOLESTR>(event.name)};
    MEMBERID id = MEMBERID_NIL;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << p_interface << "::" << name;
    EXPECT_EQ(event.dispid, id) << p_interface << "::" << name;
    FUNCDESC* function = kestnet::testing::FindFunction(info, id, INVOKE_FUNC);
    ASSERT_NE(function, nullptr) << p_interface << "::" << name;
    std::vector<VARTYPE> declared;
    for (SHORT i = 0; i < function->cParams; ++i) declared.push_back(function->lprgelemdescParam[i].tdesc.vt);
    info->ReleaseFuncDesc(function);
    ASSERT_EQ(event.types.size(), declared.size()) << p_interface << "::" << name;
    for (std::size_t i = 0; i < declared.size(); ++i) {
      if (declared[i] == VT_VARIANT) continue;  // any value may travel in a VARIANT
      EXPECT_EQ(event.types[i], declared[i]) << p_interface << "::" << name << " argument " << i;
    }
  }
}

TEST_F(EventProxyTest, EveryEventFiresWithTheDispidAndTypesOfTheTypeLibrary) {
  ATL::CComPtr<ITypeLib> library;
  library.Attach(KestAXLib::KestNetTypeLib());
  ASSERT_NE(library, nullptr);
  auto sink = RecordingSink::Create();
  ATL::CComBSTR text(L"x");
  VARIANT empty;
  VariantInit(&empty);
  KESTNET_INTERFACES(KESTNET_TEST_SKIP_DUAL, KESTNET_TEST_WALK_EVENTS)
}

}  // namespace
}  // namespace probe
