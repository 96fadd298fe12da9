// The generated Fire_ operations hand sinks the dispid and the argument types
// of the type library, last parameter first.
#include <gtest/gtest.h>

#include <vector>

#include "automation/event_proxies.h"
#include "tests/automation/probe_object.h"

namespace probe {
namespace {

// Accepts any event interface and keeps what the last call carried.
class RecordingSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    lastDispid = dispid;
    lastLcid = lcid;
    lastFlags = flags;
    lastNamedCount = params->cNamedArgs;
    types.clear();
    for (UINT i = 0; i < params->cArgs; ++i) types.push_back(params->rgvarg[i].vt);
    if (params->cArgs > 0 && params->rgvarg[params->cArgs - 1].vt == VT_INT) firstInt = params->rgvarg[params->cArgs - 1].intVal;
    if (params->cArgs > 0 && params->rgvarg[0].vt == (VT_ARRAY | VT_VARIANT)) {
      LONG upper = -1;
      SafeArrayGetUBound(params->rgvarg[0].parray, 1, &upper);
      lastArrayLength = upper + 1;
    }
    return S_OK;
  }

  DISPID lastDispid = 0;
  LCID lastLcid = 0;
  WORD lastFlags = 0;
  UINT lastNamedCount = 99;
  INT firstInt = 0;
  LONG lastArrayLength = -1;
  std::vector<VARTYPE> types;  // DISPPARAMS order: last parameter first

 private:
  ~RecordingSink() = default;
  ULONG references_ = 1;
};

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
  auto* sink = new RecordingSink();
  DWORD cookie = 0;
  ASSERT_EQ(proxy.EventConnectionPoint().Advise(sink, &cookie), S_OK);

  SAFEARRAY* addresses = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT ips;
  VariantInit(&ips);
  ips.vt = VT_ARRAY | VT_VARIANT;
  ips.parray = addresses;
  ATL::CComBSTR name(L"example.com");
  ASSERT_EQ(proxy.Fire_OnResolveNameComplete(3, name, ips), S_OK);
  EXPECT_EQ(sink->lastDispid, 1);
  EXPECT_EQ(sink->lastFlags, DISPATCH_METHOD);
  EXPECT_EQ(sink->lastLcid, 0x0400u);
  EXPECT_EQ(sink->lastNamedCount, 0u);
  EXPECT_EQ(sink->types, (std::vector<VARTYPE>{VT_ARRAY | VT_VARIANT, VT_BSTR, VT_INT}));
  EXPECT_EQ(sink->firstInt, 3);
  EXPECT_EQ(sink->lastArrayLength, 2);
  VariantClear(&ips);
  proxy.EventConnectionPoint().Unadvise(cookie);
  sink->Release();
}

TEST_F(EventProxyTest, PingAndMailEventsUseTheirDeclaredTypes) {
  auto* sink = new RecordingSink();
  ATL::CComBSTR text(L"x");
  {
    CProxy_IKestNetPingEvents<int> ping(container_);
    DWORD cookie = 0;
    ASSERT_EQ(ping.EventConnectionPoint().Advise(sink, &cookie), S_OK);
    ASSERT_EQ(ping.Fire_OnPingComplete(0, text, text, text, 12), S_OK);
    EXPECT_EQ(sink->types, (std::vector<VARTYPE>{VT_I4, VT_BSTR, VT_BSTR, VT_BSTR, VT_I2}));
    ping.EventConnectionPoint().Unadvise(cookie);
  }
  {
    CProxy_IKestNetPOP3Events<int> pop3(container_);
    DWORD cookie = 0;
    ASSERT_EQ(pop3.EventConnectionPoint().Advise(sink, &cookie), S_OK);
    ASSERT_EQ(pop3.Fire_OnPOP3DeleteMessage(0, text, 4), S_OK);
    EXPECT_EQ(sink->lastDispid, 10);
    EXPECT_EQ(sink->types, (std::vector<VARTYPE>{VT_UI4, VT_BSTR, VT_I4}));
    ASSERT_EQ(pop3.Fire_OnPOP3Ready(), S_OK);
    EXPECT_EQ(sink->lastDispid, 5);
    EXPECT_TRUE(sink->types.empty());
    pop3.EventConnectionPoint().Unadvise(cookie);
  }
  sink->Release();
}

}  // namespace
}  // namespace probe
