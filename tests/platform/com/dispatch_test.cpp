// The test server driven as an automation client drives a module: registered
// through DllRegisterServer, created by ProgID, called only through IDispatch.
#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/com/registry_snapshot.h"
#include "tests/platform/com/test_server_fixture.h"

namespace kestnet::platform::testing {
namespace {

class Dispatch : public TestServerTest {};

TEST_F(Dispatch, CreatesByVersionIndependentProgIdInAnotherThreadsApartment) {
  std::thread worker([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(kTestWidgetProgId, &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestWidget);
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(clsid, &progId), S_OK);
    EXPECT_STREQ(progId, kTestWidgetVersionedProgId);
    CoTaskMemFree(progId);
    {
      ATL::CComPtr<IDispatch> widget = CreateWidget();
      ASSERT_TRUE(widget);
      Arguments put;
      put.Str(L"made elsewhere").AsPropertyPut();
      EXPECT_EQ(Call(widget, L"Name", DISPATCH_PROPERTYPUT, put), S_OK);
      Arguments none;
      EXPECT_EQ(CallForText(widget, L"Name", none), L"made elsewhere");
    }
    CoUninitialize();
  });
  worker.join();
}

TEST_F(Dispatch, PropertiesAreReadAndWrittenWithCoercion) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  Arguments putText;
  putText.Str(L"42").AsPropertyPut();
  ASSERT_EQ(Call(widget, L"Count", DISPATCH_PROPERTYPUT, putText), S_OK);
  Arguments none;
  ATL::CComVariant count;
  ASSERT_EQ(Call(widget, L"Count", DISPATCH_PROPERTYGET, none, &count), S_OK);
  EXPECT_EQ(count.vt, VT_I4);
  EXPECT_EQ(count.lVal, 42);

  Arguments putLong;
  putLong.Long(1234).AsPropertyPut();
  ASSERT_EQ(Call(widget, L"ShortValue", DISPATCH_PROPERTYPUT, putLong), S_OK);
  ATL::CComVariant shortValue;
  ASSERT_EQ(Call(widget, L"ShortValue", DISPATCH_PROPERTYGET, none, &shortValue), S_OK);
  EXPECT_EQ(shortValue.vt, VT_I2);
  EXPECT_EQ(shortValue.iVal, 1234);

  Arguments tooBig;
  tooBig.Long(40000).AsPropertyPut();
  UINT argErr = 99;
  EXPECT_EQ(Call(widget, L"ShortValue", DISPATCH_PROPERTYPUT, tooBig, nullptr, nullptr, &argErr), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr, 0u);
}

TEST_F(Dispatch, MethodReceivesEachArgumentTypeCoercedToItsDeclaration) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  Arguments exact;
  exact.Str(L"a").Long(7).Short(3).Bool(true);
  EXPECT_EQ(CallForText(widget, L"Concat", exact), L"a|7|3|true");
  Arguments coerced;
  coerced.Long(5).Str(L"42").Long(2).Long(0);
  EXPECT_EQ(CallForText(widget, L"Concat", coerced), L"5|42|2|false");
  Arguments real;
  real.Str(L"4");
  ATL::CComVariant scaled;
  ASSERT_EQ(Call(widget, L"Scale", DISPATCH_METHOD, real, &scaled), S_OK);
  EXPECT_EQ(scaled.vt, VT_R8);
  EXPECT_DOUBLE_EQ(scaled.dblVal, 10.0);
}

TEST_F(Dispatch, MissingOptionalArgumentsTakeTheirDefaults) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComVariant sum;
  Arguments one;
  one.Long(5);
  ASSERT_EQ(Call(widget, L"AddNumbers", DISPATCH_METHOD, one, &sum), S_OK);
  EXPECT_EQ(sum.lVal, 15);
  Arguments marked;
  marked.Long(5).Missing();
  ASSERT_EQ(Call(widget, L"AddNumbers", DISPATCH_METHOD, marked, &sum), S_OK);
  EXPECT_EQ(sum.lVal, 15);
  Arguments both;
  both.Long(5).Long(1);
  ASSERT_EQ(Call(widget, L"AddNumbers", DISPATCH_METHOD, both, &sum), S_OK);
  EXPECT_EQ(sum.lVal, 6);

  Arguments who;
  who.Str(L"Ann");
  EXPECT_EQ(CallForText(widget, L"Greeting", who), L"Hello, Ann");

  ATL::CComVariant missing;
  Arguments none;
  ASSERT_EQ(Call(widget, L"IsMissing", DISPATCH_METHOD, none, &missing), S_OK);
  EXPECT_EQ(missing.boolVal, VARIANT_TRUE);
  Arguments given;
  given.Long(3);
  ASSERT_EQ(Call(widget, L"IsMissing", DISPATCH_METHOD, given, &missing), S_OK);
  EXPECT_EQ(missing.boolVal, VARIANT_FALSE);
}

TEST_F(Dispatch, NamedArgumentsBindByParameterName) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"addnumbers"), const_cast<LPOLESTR>(L"SECOND")};
  DISPID ids[2] = {};
  ASSERT_EQ(widget->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], kDispAddNumbers);
  EXPECT_EQ(ids[1], 1);
  Arguments args;
  args.Long(1).Long(2).Named({ids[1]});
  ATL::CComVariant sum;
  ASSERT_EQ(widget->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, args.Params(), &sum, nullptr, nullptr), S_OK);
  EXPECT_EQ(sum.lVal, 3);
}

TEST_F(Dispatch, VariantArgumentArrivesAsGiven) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  Arguments number;
  number.Long(42);
  EXPECT_EQ(CallForText(widget, L"Describe", number), L"3:42");
  Arguments text;
  text.Str(L"x");
  EXPECT_EQ(CallForText(widget, L"Describe", text), L"8:x");
  ATL::CComVariant inner(2.5);
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &inner;
  Arguments byRef;
  byRef.Add(reference);
  EXPECT_EQ(CallForText(widget, L"Describe", byRef), L"5:2.5");
}

TEST_F(Dispatch, DispatchArgumentIsCalledBackLateBound) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<IDispatch> other = CreateWidget();
  Arguments name;
  name.Str(L"the other one").AsPropertyPut();
  ASSERT_EQ(Call(other, L"Name", DISPATCH_PROPERTYPUT, name), S_OK);
  Arguments args;
  args.Add(ATL::CComVariant(static_cast<IDispatch*>(other)));
  EXPECT_EQ(CallForText(widget, L"NameOf", args), L"the other one");
  Arguments notAnObject;
  notAnObject.Str(L"text");
  UINT argErr = 99;
  EXPECT_EQ(Call(widget, L"NameOf", DISPATCH_METHOD, notAnObject, nullptr, nullptr, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
}

TEST_F(Dispatch, FailingMemberReportsItsErrorInformationThroughExcepInfo) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  EXCEPINFO excepInfo{};
  {
    Arguments message;
    message.Str(L"INVALID_ARG_ERROR");
    EXPECT_EQ(Call(widget, L"Fail", DISPATCH_METHOD, message, nullptr, &excepInfo), DISP_E_EXCEPTION);
  }
  EXPECT_EQ(excepInfo.scode, E_FAIL);
  EXPECT_EQ(Text(excepInfo.bstrDescription), L"INVALID_ARG_ERROR");
  EXPECT_EQ(Text(excepInfo.bstrSource), kTestWidgetVersionedProgId);
  ClearExcepInfo(&excepInfo);

  Arguments negative;
  negative.Long(-1).AsPropertyPut();
  EXPECT_EQ(Call(widget, L"Count", DISPATCH_PROPERTYPUT, negative, nullptr, &excepInfo), DISP_E_EXCEPTION);
  EXPECT_EQ(excepInfo.bstrHelpFile, nullptr);
  EXPECT_EQ(excepInfo.scode, E_INVALIDARG);
  EXPECT_EQ(Text(excepInfo.bstrDescription), L"Count must not be negative");
  ClearExcepInfo(&excepInfo);
  EXPECT_EQ(LeakedBstrs(), 0);
}

// An object with no names: late-bound calls on it fail without error information.
class NamelessObject final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

TEST_F(Dispatch, FailureWithoutErrorInformationNeverReportsAStaleOne) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  // An error left in the slot by an earlier failure...
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(L"stale"));
  IErrorInfo* stale = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&stale));
  create->Release();
  SetErrorInfo(0, stale);
  stale->Release();
  // ...is not what a member that fails without setting one reports.
  NamelessObject nameless;
  Arguments args;
  args.Add(ATL::CComVariant(static_cast<IDispatch*>(&nameless)));
  EXCEPINFO excepInfo{};
  EXPECT_EQ(Call(widget, L"NameOf", DISPATCH_METHOD, args, nullptr, &excepInfo), DISP_E_EXCEPTION);
  EXPECT_EQ(excepInfo.scode, E_NOTIMPL);
  EXPECT_EQ(excepInfo.bstrDescription, nullptr);
  ClearExcepInfo(&excepInfo);
}

struct DispatchErrorCase {
  const char* name;
  DISPID member;
  WORD flags;
  void (*fill)(Arguments&);
  HRESULT expected;
  UINT argErr;  // checked when not ~0u
};

class DispatchErrors : public TestServerTest, public ::testing::WithParamInterface<DispatchErrorCase> {};

TEST_P(DispatchErrors, AreReportedAsOleAutomationReportsThem) {
  const DispatchErrorCase& c = GetParam();
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  Arguments args;
  c.fill(args);
  ATL::CComVariant result;
  UINT argErr = ~0u;
  EXPECT_EQ(widget->Invoke(c.member, IID_NULL, 0, c.flags, args.Params(), &result, nullptr, &argErr), c.expected);
  if (c.argErr != ~0u) {
    EXPECT_EQ(argErr, c.argErr);
  }
  EXPECT_EQ(result.vt, VT_EMPTY);
}

const DispatchErrorCase kDispatchErrors[] = {
    {"UnknownDispid", 999, DISPATCH_METHOD, [](Arguments&) {}, DISP_E_MEMBERNOTFOUND, ~0u},
    {"PutOnAMethod", kDispConcat, DISPATCH_PROPERTYPUT, [](Arguments& a) { a.Long(1).AsPropertyPut(); },
     DISP_E_MEMBERNOTFOUND, ~0u},
    {"MethodCallOfAProperty", kDispName, DISPATCH_METHOD, [](Arguments&) {}, DISP_E_MEMBERNOTFOUND, ~0u},
    {"TooManyArguments", kDispAddNumbers, DISPATCH_METHOD, [](Arguments& a) { a.Long(1).Long(2).Long(3); },
     DISP_E_BADPARAMCOUNT, ~0u},
    {"ArgumentsToAGetter", kDispCount, DISPATCH_PROPERTYGET, [](Arguments& a) { a.Long(1); }, DISP_E_BADPARAMCOUNT,
     ~0u},
    {"RequiredArgumentMissing", kDispAddNumbers, DISPATCH_METHOD, [](Arguments&) {}, DISP_E_PARAMNOTOPTIONAL, ~0u},
    {"RequiredArgumentsMissing", kDispConcat, DISPATCH_METHOD, [](Arguments& a) { a.Str(L"a"); },
     DISP_E_PARAMNOTOPTIONAL, ~0u},
    {"RequiredArgumentMarkedMissing", kDispAddNumbers, DISPATCH_METHOD, [](Arguments& a) { a.Missing(); },
     DISP_E_PARAMNOTOPTIONAL, 0},
    {"TextThatIsNoNumber", kDispAddNumbers, DISPATCH_METHOD, [](Arguments& a) { a.Str(L"abc"); }, DISP_E_TYPEMISMATCH,
     0},
    {"MismatchIndexCountsFromTheLastArgument", kDispConcat, DISPATCH_METHOD,
     [](Arguments& a) { a.Str(L"a").Str(L"x").Long(1).Bool(true); }, DISP_E_TYPEMISMATCH, 2},
    {"NullToLong", kDispAddNumbers, DISPATCH_METHOD,
     [](Arguments& a) {
       VARIANT v;
       VariantInit(&v);
       v.vt = VT_NULL;
       a.Add(v);
     },
     DISP_E_TYPEMISMATCH, 0},
    {"UnknownNamedArgument", kDispAddNumbers, DISPATCH_METHOD, [](Arguments& a) { a.Long(1).Long(2).Named({7}); },
     DISP_E_PARAMNOTFOUND, 0},
    {"PropertyPutNameOnAMethod", kDispAddNumbers, DISPATCH_METHOD,
     [](Arguments& a) { a.Long(1).Long(2).AsPropertyPut(); }, DISP_E_PARAMNOTFOUND, 0},
    {"NoCallKind", kDispConcat, 0, [](Arguments&) {}, E_INVALIDARG, ~0u},
};

INSTANTIATE_TEST_SUITE_P(Table, DispatchErrors, ::testing::ValuesIn(kDispatchErrors),
                         [](const ::testing::TestParamInfo<DispatchErrorCase>& param) { return std::string(param.param.name);
                         });

TEST_F(Dispatch, UnknownNamesAreReportedPerName) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Concat"), const_cast<LPOLESTR>(L"Nope"), const_cast<LPOLESTR>(L"Flag")};
  DISPID ids[3] = {};
  EXPECT_EQ(widget->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], kDispConcat);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(ids[2], 3);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Missing")};
  EXPECT_EQ(widget->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST_F(Dispatch, ResultNobodyAsksForIsFreed) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  {
    Arguments args;
    args.Str(L"a").Long(1).Short(1).Bool(false);
    EXPECT_EQ(Call(widget, L"Concat", DISPATCH_METHOD, args, nullptr), S_OK);
  }
  widget.Release();
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(Dispatch, TypeInformationDescribesMembersDefaultsAndTheEventSource) {
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  ATL::CComPtr<ITypeInfo> info;
  ASSERT_EQ(widget->GetTypeInfo(0, 0, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_ITestWidget);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
  EXPECT_EQ(attr->cFuncs, 15);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* add = nullptr;
  ASSERT_EQ(info->GetFuncDesc(7, &add), S_OK);
  EXPECT_EQ(add->memid, kDispAddNumbers);
  EXPECT_EQ(add->invkind, INVOKE_FUNC);
  EXPECT_EQ(add->cParams, 2);
  EXPECT_EQ(add->cParamsOpt, 1);
  EXPECT_EQ(add->elemdescFunc.tdesc.vt, VT_I4);
  const PARAMDESC& second = add->lprgelemdescParam[1].paramdesc;
  EXPECT_NE(second.wParamFlags & PARAMFLAG_FHASDEFAULT, 0);
  ASSERT_NE(second.pparamdescex, nullptr);
  EXPECT_EQ(second.pparamdescex->varDefaultValue.vt, VT_I4);
  EXPECT_EQ(second.pparamdescex->varDefaultValue.lVal, 10);
  info->ReleaseFuncDesc(add);

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(kDispConcat, names, 4, &count), S_OK);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(Text(names[0]), L"Concat");
  EXPECT_EQ(Text(names[3]), L"Small");
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);

  ATL::CComQIPtr<IProvideClassInfo2> classInfo(static_cast<IUnknown*>(widget.p));
  ASSERT_TRUE(classInfo);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_EQ(source, IID_ITestWidgetEvents);
  ATL::CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  ASSERT_EQ(attr->cImplTypes, 2);
  coclass->ReleaseTypeAttr(attr);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  HREFTYPE reference = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &reference), S_OK);
  ATL::CComPtr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(reference, &events), S_OK);
  ATL::CComBSTR eventsName;
  ASSERT_EQ(events->GetDocumentation(MEMBERID_NIL, &eventsName, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(eventsName.ToWString(), L"ITestWidgetEvents");
  FUNCDESC* tick = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &tick), S_OK);
  EXPECT_EQ(tick->memid, kDispOnTick);
  EXPECT_EQ(tick->cParams, 2);
  events->ReleaseFuncDesc(tick);
  ATL::CComPtr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(events->GetContainingTypeLib(&library, &index), S_OK);
  EXPECT_EQ(index, 1u);
}

TEST_F(Dispatch, RegisteredTypeLibraryLoadsByItsId) {
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Interface\\" + GuidToString(IID_ITestWidget), nullptr), L"ITestWidget");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Interface\\" + GuidToString(IID_ITestWidget) + L"\\TypeLib", L"Version"),
            L"1.0");
  ATL::CComPtr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(LIBID_TestServer, 1, 0, 0, &library), S_OK);
  EXPECT_EQ(library->GetTypeInfoCount(), 3u);
  ATL::CComBSTR help;
  ASSERT_EQ(library->GetDocumentation(-1, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(help.ToWString(), L"KestTest 1.0 Type Library");
  ATL::CComPtr<ITypeLib> absent;
  EXPECT_EQ(LoadRegTypeLib(LIBID_TestServer, 2, 0, 0, &absent), TYPE_E_LIBNOTREGISTERED);
}

class Registration : public ComTest {};

TEST_F(Registration, UnregisterRemovesExactlyWhatRegisterWrote) {
  void* module = dlopen(Narrow(TestServerPath()).c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr);
  auto registerServer = reinterpret_cast<DllRegisterServerFunction>(dlsym(module, "DllRegisterServer"));
  auto unregisterServer = reinterpret_cast<DllRegisterServerFunction>(dlsym(module, "DllUnregisterServer"));
  std::set<std::wstring> before = Snapshot(HKEY_CLASSES_ROOT);
  ASSERT_EQ(registerServer(), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"KestTest.Widget\\CurVer"));
  ASSERT_EQ(unregisterServer(), S_OK);
  std::set<std::wstring> after = Snapshot(HKEY_CLASSES_ROOT);
  // Left behind on purpose: the NoRemove parents, and the TypeLib and
  // Interface parents that Windows' type library registration leaves too.
  std::set<std::wstring> expected = before;
  for (const wchar_t* parent : {L"\\AppID", L"\\CLSID", L"\\Interface", L"\\TypeLib"}) expected.insert(parent);
  EXPECT_EQ(after, expected);
  // A second removal finds nothing to do.
  EXPECT_EQ(unregisterServer(), S_OK);
  dlclose(module);
}

class Activation : public TestServerTest {};

TEST_F(Activation, ModuleStaysLoadedWhileItsLockCountIsNotZero) {
  auto canUnloadNow = Export<DllCanUnloadNowFunction>("DllCanUnloadNow");
  EXPECT_EQ(canUnloadNow(), S_OK);
  ATL::CComPtr<IDispatch> widget = CreateWidget();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedServerModuleCount(), 1u);
  widget.Release();
  EXPECT_EQ(canUnloadNow(), S_OK);

  ATL::CComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedServerModuleCount(), 1u);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(LoadedServerModuleCount(), 0u);
}

TEST_F(Activation, OuterUnknownReachesTheFactory) {
  ATL::CComPtr<IDispatch> outer = CreateWidget();
  IUnknown* inner = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&inner)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);
  auto lastOuter = Export<TestServerLastOuterFunction>("TestServerLastOuter");
  EXPECT_EQ(lastOuter(), static_cast<void*>(static_cast<IDispatch*>(outer)));
}

TEST_F(Activation, BadRequestsGiveHresultsNotCrashes) {
  void* object = nullptr;
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_ACTIVATE_64_BIT_SERVER,
                             IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IStream, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"KestTest.NoSuchThing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  LPOLESTR progId = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(unknown, &progId), REGDB_E_CLASSNOTREG);

  // A class whose module is missing, and one whose module is no server.
  Registrar registrar;
  ASSERT_EQ(registrar.StringRegister(
                L"HKCR { NoRemove CLSID { {12345678-1234-1234-0102-030405060708} { InprocServer32 = s "
                L"'no-such-module.so' } {12345678-1234-1234-0102-030405060709} { InprocServer32 = s 'libm.so.6' } } }"),
            S_OK);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  CLSID notAServer = unknown;
  notAServer.Data4[7] = 9;
  EXPECT_EQ(CoCreateInstance(notAServer, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
}

TEST_F(Activation, ThreadOutsideAnyApartmentIsRefused) {
  std::thread outsider([] {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
  });
  outsider.join();
}

}  // namespace
}  // namespace kestnet::platform::testing
