// The object framework seen from a client: dispatch through the type
// information behind the invoke gate, the method guard's results and error
// information, creation in plain and aggregated form, the module lock, and
// the site, safety and class-information bases.
#include <gtest/gtest.h>

#include "automation/module.h"
#include "automation/pop3_ex_object.h"
#include "automation/smtp_ex_object.h"
#include "tests/automation/probe_object.h"

namespace probe {
namespace {

using ATL::CComPtr;
using ATL::CComQIPtr;

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  return id;
}

HRESULT PutLong(IDispatch* object, DISPID id, LONG value, EXCEPINFO* excepInfo = nullptr) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_I4;
  argument.lVal = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&argument, &named, 1, 1};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, excepInfo,
                        nullptr);
}

HRESULT GetValue(IDispatch* object, DISPID id, VARIANT* result) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
}

using DispatchTest = ProbeTest;

TEST_F(DispatchTest, NamesAndCallsGoThroughTheTypeInformation) {
  CComPtr<IProbe> probe = Make<CProbe>();
  EXPECT_EQ(IdOf(probe, L"Count"), kDispCount);
  EXPECT_EQ(IdOf(probe, L"name"), kDispName);  // names compare without regard to case

  ASSERT_EQ(PutLong(probe, kDispCount, 41), S_OK);
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(GetValue(probe, kDispCount, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 41);
  EXPECT_EQ(OpenGate::admitted.load(), 2);

  UINT count = 0;
  EXPECT_EQ(probe->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  CComPtr<ITypeInfo> info;
  EXPECT_EQ(probe->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  ASSERT_EQ(probe->GetTypeInfo(0, 0, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, IID_IProbe);
  info->ReleaseTypeAttr(attributes);
}

// A caller passing 1 for true through the secure mail interfaces themselves
// gets the plain protocol: only VARIANT_TRUE asks for TLS from the first byte.
template <class Object, class Interface>
void ExpectTlsOnlyForVariantTrue(const IID& iid) {
  CComPtr<Interface> object;
  ASSERT_EQ(Object::_CreatorClass::CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
  VARIANT_BOOL useSsl = VARIANT_TRUE;
  ASSERT_EQ(object->put_UseSSL(1), S_OK);
  ASSERT_EQ(object->get_UseSSL(&useSsl), S_OK);
  EXPECT_EQ(useSsl, VARIANT_FALSE);
  ASSERT_EQ(object->put_UseSSL(VARIANT_TRUE), S_OK);
  ASSERT_EQ(object->get_UseSSL(&useSsl), S_OK);
  EXPECT_EQ(useSsl, VARIANT_TRUE);
}

TEST_F(DispatchTest, SecureMailObjectsUseTlsOnlyForVariantTrue) {
  ExpectTlsOnlyForVariantTrue<KestAXLib::CPOP3Ex, IKestNetPOP3Ex>(IID_IKestNetPOP3Ex);
  ExpectTlsOnlyForVariantTrue<KestAXLib::CSMTPEx, IKestNetSMTPEx>(IID_IKestNetSMTPEx);
}

TEST_F(DispatchTest, ACallForAnotherInterfaceIdIsRefused) {
  CComPtr<IProbe> probe = Make<CProbe>();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(probe->Invoke(kDispCount, IID_IProbe, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

class GateTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    KestAXLib::SetInvokeGateFactory(nullptr);  // the refusing gate
  }
};

TEST_F(GateTest, WithoutATrustGateEveryMemberIsRefusedAndNoBodyRuns) {
  CComPtr<IProbe> probe = Make<CProbe>();
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(GetValue(probe, kDispCount, &result), E_ACCESSDENIED);
  EXPECT_EQ(PutLong(probe, kDispCount, 3), E_ACCESSDENIED);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(Counters().bodiesRun.load(), 0);
  // Names and type information are never gated.
  EXPECT_EQ(IdOf(probe, L"Fire"), kDispFire);
}

TEST_F(GateTest, NegativeDispidsAndTheReservedOneBypassTheGate) {
  CComPtr<IProbe> probe = Make<CProbe>();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  // The probe has neither member: the type information answers, not the gate.
  EXPECT_EQ(probe->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(probe->Invoke(KestAXLib::kUngatedDispid, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

class ThrowingGate final : public KestAXLib::InvokeGate {
 public:
  HRESULT Admit(const KestAXLib::InvokeGateCall&) override { throw KestBase::SecurityException(__FILE__, __LINE__); }
  std::string VendorId() const override { return {}; }
};

TEST_F(GateTest, AGateThatThrowsGivesUnexpected) {
  KestAXLib::SetInvokeGateFactory([]() -> std::unique_ptr<KestAXLib::InvokeGate> {
    return std::make_unique<ThrowingGate>();
  });
  CComPtr<IProbe> probe = Make<CProbe>();
  EXPECT_EQ(PutLong(probe, kDispCount, 1), E_UNEXPECTED);
  EXPECT_EQ(Counters().bodiesRun.load(), 0);
}

// Records what the gate is shown, and answers as told.
class RecordingGate final : public KestAXLib::InvokeGate {
 public:
  HRESULT Admit(const KestAXLib::InvokeGateCall& call) override {
    lastDispid = call.dispid;
    lastSite = call.site;
    lastClass = call.clsid == nullptr ? GUID_NULL : *call.clsid;
    lastUrl = call.trustedSiteDataFileUrl == nullptr ? L"<null>" : call.trustedSiteDataFileUrl;
    return answer;
  }
  std::string VendorId() const override { return "vendor-7"; }
  static inline HRESULT answer = S_OK;
  static inline DISPID lastDispid = 0;
  static inline IUnknown* lastSite = nullptr;
  static inline GUID lastClass = GUID_NULL;
  static inline std::wstring lastUrl;
};

TEST_F(GateTest, TheGateSeesTheCallTheSiteTheClassAndTheDataFileUrl) {
  KestAXLib::SetInvokeGateFactory([]() -> std::unique_ptr<KestAXLib::InvokeGate> {
    return std::make_unique<RecordingGate>();
  });
  RecordingGate::answer = DISP_E_EXCEPTION;
  CComPtr<IProbe> probe = Make<CProbe>();
  CComQIPtr<IObjectWithSite> withSite(probe);
  CComPtr<IProbe> site = Make<CProbe>();  // any object will do as a site
  ASSERT_EQ(withSite->SetSite(site), S_OK);

  auto* object = static_cast<CProbe*>(probe.p);
  ATL::CComBSTR url(L"https://trust.example/list.xml");
  ASSERT_EQ(object->put_TrustedSiteDataFileURL(url), S_OK);
  BSTR readBack = nullptr;
  ASSERT_EQ(object->get_TrustedSiteDataFileURL(&readBack), S_OK);
  EXPECT_STREQ(readBack, L"https://trust.example/list.xml");
  SysFreeString(readBack);
  EXPECT_EQ(object->get_TrustedSiteDataFileURL(nullptr), S_OK);  // ignored, as the gate's host expects
  EXPECT_EQ(object->TrustVendorId(), "vendor-7");

  EXPECT_EQ(PutLong(probe, kDispCount, 5), DISP_E_EXCEPTION);
  EXPECT_EQ(Counters().bodiesRun.load(), 0);
  EXPECT_EQ(RecordingGate::lastDispid, kDispCount);
  EXPECT_TRUE(CComPtr<IUnknown>(RecordingGate::lastSite).IsEqualObject(site));
  EXPECT_EQ(RecordingGate::lastClass, CLSID_Probe);
  EXPECT_EQ(RecordingGate::lastUrl, L"https://trust.example/list.xml");
  withSite->SetSite(nullptr);
  RecordingGate::answer = S_OK;
}

using GuardTest = ProbeTest;

TEST_F(GuardTest, ANullOutputPointerFailsWithNullPointerError) {
  CComPtr<IProbe> probe = Make<CProbe>();
  EXPECT_EQ(probe->get_Count(nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");
  EXPECT_EQ(probe->get_Name(nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"NULL_POINTER_ERROR");
}

TEST_F(GuardTest, ARejectedArgumentFailsWithInvalidArgErrorNotInvalidArg) {
  CComPtr<IProbe> probe = Make<CProbe>();
  ASSERT_EQ(probe->put_Count(7), S_OK);
  EXPECT_EQ(probe->put_Count(-1), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), L"INVALID_ARG_ERROR");
  LONG count = 0;
  ASSERT_EQ(probe->get_Count(&count), S_OK);
  EXPECT_EQ(count, 7);  // the stored value is unchanged

  // A script sees the same failure as an exception with that description.
  EXCEPINFO excepInfo{};
  EXPECT_EQ(PutLong(probe, kDispCount, -5, &excepInfo), DISP_E_EXCEPTION);
  EXPECT_EQ(excepInfo.scode, E_FAIL);
  ASSERT_NE(excepInfo.bstrDescription, nullptr);
  EXPECT_STREQ(excepInfo.bstrDescription, L"INVALID_ARG_ERROR");
  kestnet::platform::ClearExcepInfo(&excepInfo);
}

TEST_F(GuardTest, EachKindOfExceptionBecomesEFailWithItsDescription) {
  CComPtr<IProbe> probe = Make<CProbe>();
  struct Case {
    ThrowKind kind;
    const wchar_t* description;
  };
  const Case cases[] = {
      {kThrowAtl, L"ATL_ERROR"},
      {kThrowBase, L"INVALID_OPERATION_ERROR"},
      {kThrowOther, L"UNKNOWN_EXCEPTION_ERROR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind);
    EXPECT_EQ(probe->Throw(c.kind), E_FAIL);
    EXPECT_EQ(TakeErrorDescription(), c.description);
  }
  EXPECT_EQ(probe->Throw(kThrowNothing), S_OK);
  EXPECT_EQ(TakeErrorDescription(), L"<none>");
}

TEST_F(GuardTest, CallbacksAndLifecycleGuardsLogOnlyAndLetNothingOut) {
  const KestAXLib::ObjectIdentity who{"KestNetX::IProbe", "ProbeObject", &CLSID_Probe};
  KestAXLib::GuardedCallback(who, "OnSomething", [] { throw KestBase::InvalidParameterException(); });
  EXPECT_EQ(TakeErrorDescription(), L"<none>");
  EXPECT_FALSE(KestAXLib::GuardedLifecycle(who, "CProbe", KestAXLib::LifecycleStep::Destructor, [] { throw 1; }));
  EXPECT_TRUE(KestAXLib::GuardedLifecycle(who, "CProbe", KestAXLib::LifecycleStep::Constructor, [] {}));
}

TEST_F(GuardTest, ErrorInformationNamesTheClassProgIdWhenRegistered) {
  // Register the probe's ProgID the way a class script does.
  kestnet::platform::Registrar registrar;
  ASSERT_EQ(registrar.StringRegister(LR"(HKCR
{
  Probe.Probe.1 = s 'Probe Class'
  {
    CLSID = s '{5C0FFEE1-0A11-4b7d-9E21-617A3C441004}'
  }
  NoRemove CLSID
  {
    ForceRemove {5C0FFEE1-0A11-4b7d-9E21-617A3C441004} = s 'Probe Class'
    {
      ProgID = s 'Probe.Probe.1'
    }
  }
})"),
            S_OK);
  CComPtr<IProbe> probe = Make<CProbe>();
  EXPECT_EQ(probe->put_Count(-1), E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR source = nullptr;
  info->GetSource(&source);
  EXPECT_STREQ(source, L"Probe.Probe.1");
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_EQ(guid, GUID_NULL);
  SysFreeString(source);
  info->Release();
}

using CreationTest = ProbeTest;

using kestnet::testing::Outer;

TEST_F(CreationTest, AnAggregatedObjectAnswersThroughItsOuterObject) {
  Outer* outer = new Outer();
  ASSERT_EQ(CProbe::_CreatorClass::CreateInstance(outer, IID_IUnknown, outer->InnerSlot()), S_OK);
  CComPtr<IProbe> probe;
  ASSERT_EQ(outer->QueryInterface(IID_IProbe, reinterpret_cast<void**>(&probe)), S_OK);
  ASSERT_EQ(probe->put_Count(3), S_OK);
  // Identity is the outer object's.
  CComPtr<IUnknown> identity;
  ASSERT_EQ(probe->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity.p, static_cast<IUnknown*>(outer));
  identity.Release();
  probe.Release();
  EXPECT_EQ(Counters().liveObjects.load(), 1);
  outer->Release();
  EXPECT_EQ(Counters().liveObjects.load(), 0);
}

TEST_F(CreationTest, AggregationMustAskForIUnknownAndIsRefusedWhereTheClassSaysSo) {
  Outer* outer = new Outer();
  void* object = nullptr;
  EXPECT_EQ(CProbe::_CreatorClass::CreateInstance(outer, IID_IProbe, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CProbeSolo::_CreatorClass::CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  outer->Release();
  ASSERT_EQ(CProbeSolo::_CreatorClass::CreateInstance(nullptr, IID_IProbe, &object), S_OK);
  static_cast<IProbe*>(object)->Release();
}

TEST_F(CreationTest, LiveObjectsAndServerLocksHoldTheModule) {
  auto& module = KestAXLib::CKestNetXModule::Instance();
  EXPECT_EQ(module.CanUnloadNow(), locksAtStart_ == 0 ? S_OK : S_FALSE);
  CComPtr<IProbe> probe = Make<CProbe>();
  EXPECT_EQ(KestAXLib::ModuleLockCount(), locksAtStart_ + 1);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  probe.Release();
  EXPECT_EQ(KestAXLib::ModuleLockCount(), locksAtStart_);

  ATL::CComClassFactory factory(&CProbe::_CreatorClass::CreateInstance);
  ASSERT_EQ(factory.LockServer(TRUE), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), locksAtStart_ == 0 ? S_OK : S_FALSE);
}

TEST_F(CreationTest, TheObjectMapHandsOutFactoriesOnlyForItsClasses) {
  auto& module = KestAXLib::CKestNetXModule::Instance();
  module.AddObjectMapEntry({&CLSID_ProbeSolo, &CProbeSolo::_CreatorClass::CreateInstance});
  CComPtr<IClassFactory> factory;
  ASSERT_EQ(module.GetClassObject(CLSID_ProbeSolo, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  CComPtr<IProbe> probe;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IProbe, reinterpret_cast<void**>(&probe)), S_OK);
  void* none = nullptr;
  EXPECT_EQ(module.GetClassObject(CLSID_ProbeMT, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
}

using ContainerInterfacesTest = ProbeTest;

TEST_F(ContainerInterfacesTest, SafetyOptionsAreMaskThree) {
  CComPtr<IProbe> probe = Make<CProbe>();
  CComQIPtr<IObjectSafety> safety(probe);
  ASSERT_NE(safety, nullptr);
  DWORD supported = 0;
  DWORD enabled = 0;
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 3u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IStream, &supported, &enabled), E_NOINTERFACE);
}

TEST_F(ContainerInterfacesTest, TheSiteIsKeptAndAskedThrough) {
  CComPtr<IProbe> probe = Make<CProbe>();
  CComQIPtr<IObjectWithSite> withSite(probe);
  void* site = reinterpret_cast<void*>(1);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, &site), E_FAIL);
  EXPECT_EQ(site, nullptr);

  CComPtr<IProbe> container = Make<CProbe>();
  ASSERT_EQ(withSite->SetSite(container), S_OK);
  CComPtr<IObjectSafety> siteSafety;
  ASSERT_EQ(withSite->GetSite(IID_IObjectSafety, reinterpret_cast<void**>(&siteSafety)), S_OK);
  EXPECT_TRUE(siteSafety.IsEqualObject(container));
  siteSafety.Release();
  ASSERT_EQ(withSite->SetSite(nullptr), S_OK);  // releases the old site
  container.Release();
  EXPECT_EQ(Counters().liveObjects.load(), 1);
}

TEST_F(ContainerInterfacesTest, ErrorSupportAndClassInformationNameTheObjectsOwnInterfaces) {
  CComPtr<IProbe> probe = Make<CProbe>();
  CComQIPtr<ISupportErrorInfo> support(probe);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IProbe), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

  CComQIPtr<IProvideClassInfo2> classInfo(probe);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_EQ(source, IID_IProbeEvents);
  EXPECT_EQ(classInfo->GetGUID(7, &source), E_INVALIDARG);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  EXPECT_EQ(attributes->guid, CLSID_Probe);
  coclass->ReleaseTypeAttr(attributes);
}

}  // namespace
}  // namespace probe
