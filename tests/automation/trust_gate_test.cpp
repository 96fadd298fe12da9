// The trust gate in front of Invoke, on a real object of the module
// (KestNetMessageData) with a site-trust companion whose answers each test
// chooses: who is asked, how often, what a refused or failed question leaves
// behind, the ungated calls, the old-platform switch and the gate's lines on
// the debugger output.
#include <mutex>
#include <string_view>

#include "platform/os/debug_output.h"
#include "platform/registry/registry.h"
#include "tests/automation/trust_support.h"

namespace trust_test {
namespace {

DWORD OldPlatform() { return KestAXLib::kVerPlatformWin32Windows; }

// Every line the gate writes to the debugger output while it lives.
class DebugLines {
 public:
  DebugLines() {
    kestnet::platform::SetDebugOutputHook([this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~DebugLines() { kestnet::platform::SetDebugOutputHook({}); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

void WriteDisableOSVersionCheck(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tolvar\\Pelwick\\Config\\KestLock\\Control", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"DisableOSVersionCheck", 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

using TrustGateTest = TrustTest;

TEST_F(TrustGateTest, UntrustedContainerAndSiteRefuseEveryMemberWithoutRunningIt) {
  OfferCompanion();
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);

  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  EXPECT_EQ(CallByName(message, L"AddHeader", DISPATCH_METHOD, {Text(L"X: y")}), E_ACCESSDENIED);
  EXPECT_EQ(CallByName(message, L"SetDateToNow", DISPATCH_METHOD, {}), E_ACCESSDENIED);
  EXPECT_EQ(CallByName(message, L"TextMessage", DISPATCH_PROPERTYPUT, {Text(L"body")}), E_ACCESSDENIED);
  VARIANT count;
  VariantInit(&count);
  EXPECT_EQ(CallByName(message, L"NumHeaders", DISPATCH_PROPERTYGET, {}, &count), E_ACCESSDENIED);
  EXPECT_EQ(count.vt, VT_EMPTY);

  EXPECT_TRUE(object->HeaderLines().empty());
  EXPECT_TRUE(object->TextMessage().empty());
  EXPECT_EQ(TakeErrorDescription(), L"<none>");  // a refusal sets no error information
  // One decision, kept: asked once, both questions.
  EXPECT_EQ(script_.created.load(), 1);
  EXPECT_EQ(script_.containerQuestions.load(), 1);
  EXPECT_EQ(script_.siteQuestions.load(), 1);
}

TEST_F(TrustGateTest, TrustedContainerIsNotAskedAboutTheSite) {
  script_.containerTrusted = true;
  OfferCompanion();
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  EXPECT_EQ(GetText(message, L"Subject"), L"s");
  EXPECT_EQ(script_.containerQuestions.load(), 1);
  EXPECT_EQ(script_.siteQuestions.load(), 0);
}

TEST_F(TrustGateTest, TrustedSiteLetsAnUntrustedContainersCallsThrough) {
  script_.siteTrusted = true;
  OfferCompanion();
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  EXPECT_EQ(PutText(message, L"To", L"t"), S_OK);
  EXPECT_EQ(script_.containerQuestions.load(), 1);
  EXPECT_EQ(script_.siteQuestions.load(), 1);
}

TEST_F(TrustGateTest, FailedContainerQuestionIsAskedAgainAtTheNextCall) {
  script_.containerTrusted = true;
  script_.failContainerQuestions = 1;
  OfferCompanion();
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  EXPECT_EQ(PutText(message, L"Subject", L"refused"), E_ACCESSDENIED);
  EXPECT_TRUE(object->HeaderLines().empty());
  EXPECT_EQ(PutText(message, L"Subject", L"admitted"), S_OK);
  EXPECT_EQ(PutText(message, L"To", L"kept"), S_OK);
  EXPECT_EQ(script_.containerQuestions.load(), 2);
  EXPECT_EQ(script_.siteQuestions.load(), 0);
  EXPECT_EQ(script_.created.load(), 2);  // the companion is released after each load
  EXPECT_EQ(object->HeaderLines().size(), 2u);
}

TEST_F(TrustGateTest, MissingCompanionRefusesAndIsLookedForAgain) {
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  script_.containerTrusted = true;
  OfferCompanion();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  EXPECT_EQ(script_.created.load(), 1);
}

TEST_F(TrustGateTest, CompanionRefusingItsSiteLeavesTheQuestionOpen) {
  script_.containerTrusted = true;
  script_.setSiteResult = E_FAIL;
  OfferCompanion();
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  EXPECT_EQ(script_.containerQuestions.load(), 0);
  script_.setSiteResult = S_OK;
  EXPECT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  EXPECT_EQ(script_.sitesSet.load(), 2);
}

TEST_F(TrustGateTest, CreatedCompanionLearnsTheDataFileAndGivesItsVendorId) {
  script_.containerTrusted = true;
  OfferCompanion();
  KestAXLib::CMessageData* object = nullptr;
  ATL::CComPtr<IDispatch> message = MakeMessageData(&object);
  BSTR url = SysAllocString(L"https://example.org/trusted.xml");
  ASSERT_EQ(object->put_TrustedSiteDataFileURL(url), S_OK);
  SysFreeString(url);
  EXPECT_EQ(object->TrustVendorId(), "");
  EXPECT_EQ(PutText(message, L"Subject", L"s"), S_OK);
  EXPECT_EQ(script_.lastDataFileUrl, L"https://example.org/trusted.xml");
  EXPECT_EQ(script_.lastVendorWritten, L"");  // the object had none to give
  EXPECT_EQ(script_.vendorReads.load(), 1);
  EXPECT_EQ(object->TrustVendorId(), "kestnet-test-vendor");
}

TEST_F(TrustGateTest, TwoObjectsOnOnePageEachAskThePagesCompanionOnce) {
  script_.containerTrusted = true;
  OfferCompanion();
  auto* page = new TestPage;
  ATL::CComPtr<IDispatch> placed;
  ASSERT_EQ(CoCreateInstance(CLSID_TestKestSM, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&placed)),
            S_OK);
  page->Place(placed);

  ATL::CComPtr<IDispatch> first = MakeMessageData();
  ATL::CComPtr<IDispatch> second = MakeMessageData();
  for (IDispatch* message : {first.p, second.p}) {
    ATL::CComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(message->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
    ASSERT_EQ(withSite->SetSite(static_cast<IOleClientSite*>(page)), S_OK);
  }
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(PutText(first, L"Subject", L"a"), S_OK);
    EXPECT_EQ(PutText(second, L"Subject", L"b"), S_OK);
  }
  EXPECT_EQ(script_.containerQuestions.load(), 2);
  EXPECT_EQ(script_.created.load(), 1);   // only the one placed on the page
  EXPECT_EQ(script_.sitesSet.load(), 0);  // a found companion keeps its own site
  EXPECT_EQ(page->LastEnumerationFlags(), 7u);

  for (IDispatch* message : {first.p, second.p}) {
    ATL::CComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(message->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
    withSite->SetSite(nullptr);
  }
  page->Release();
}

TEST_F(TrustGateTest, NamesTypeInformationAndUngatedDispidsNeverAskTheCompanion) {
  OfferCompanion();
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(IdOf(message, L"SetDateToNow"), 15);
  ATL::CComPtr<ITypeInfo> info;
  EXPECT_EQ(message->GetTypeInfo(0, 0, &info), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  for (DISPID ungated : {DISPID{-4}, DISPID{0x5B3C9E}}) {
    HRESULT hr = message->Invoke(ungated, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                 &none, &result, nullptr, nullptr);
    EXPECT_NE(hr, E_ACCESSDENIED) << ungated;  // the type information answers (no such member)
    VariantClear(&result);
  }
  EXPECT_EQ(script_.created.load(), 0);
  EXPECT_EQ(script_.containerQuestions.load(), 0);
}

TEST_F(TrustGateTest, OldPlatformRefusesEveryCallUntilTheSwitchIsSet) {
  script_.containerTrusted = true;
  OfferCompanion();
  KestAXLib::KestTrustGate::SetPlatformIdSource(&OldPlatform);

  ATL::CComPtr<IDispatch> refused = MakeMessageData();
  EXCEPINFO exception{};
  EXPECT_EQ(CallByName(refused, L"Subject", DISPATCH_PROPERTYPUT, {Text(L"s")}, nullptr, &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(std::wstring(exception.bstrDescription), L"UNSUPPORTED_OS_ERROR");
  EXPECT_EQ(exception.scode, DISP_E_EXCEPTION);
  kestnet::platform::ClearExcepInfo(&exception);
  EXPECT_EQ(script_.created.load(), 0);

  // A value of the wrong type does not count as the switch.
  const wchar_t text[] = L"1";
  WriteDisableOSVersionCheck(REG_SZ, text, sizeof text);
  EXPECT_EQ(PutText(MakeMessageData(), L"Subject", L"s"), DISP_E_EXCEPTION);
  DWORD zero = 0;
  WriteDisableOSVersionCheck(REG_DWORD, &zero, sizeof zero);
  EXPECT_EQ(PutText(MakeMessageData(), L"Subject", L"s"), DISP_E_EXCEPTION);

  DWORD one = 1;
  WriteDisableOSVersionCheck(REG_DWORD, &one, sizeof one);
  EXPECT_EQ(PutText(MakeMessageData(), L"Subject", L"s"), S_OK);
  // The platform and the switch are read when the object is made.
  EXPECT_EQ(PutText(refused, L"Subject", L"s"), DISP_E_EXCEPTION);
}

TEST_F(TrustGateTest, WritesEachStepToTheDebuggerOutput) {
  OfferCompanion();
  DebugLines lines;
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  std::vector<std::string> expected = {
      " ** TolLock : FindKestSM: enumerating OLE objects, searching this document for instances of KestSM",
      " ** TolLock : FindKestSM: Failed to obtain the client site.",
      " ** TolLock : GetKestSM: Failed to find existing instance from our site. Must attempt to create.",
      " ** TolLock : LoadTrustState: Container is not trusted.",
      " ** TolLock : LoadTrustState: Site is not trusted.",
      " ** TolLock : Invoke Override: Container and Site are NOT TRUSTED. Returning HRESULT E_ACCESSDENIED.",
  };
  EXPECT_EQ(lines.Lines(), expected);
}

TEST_F(TrustGateTest, FailedQuestionLineCarriesTheResultInHex) {
  script_.failContainerQuestions = 1;
  OfferCompanion();
  DebugLines lines;
  ATL::CComPtr<IDispatch> message = MakeMessageData();
  EXPECT_EQ(PutText(message, L"Subject", L"s"), E_ACCESSDENIED);
  std::vector<std::string> seen = lines.Lines();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[seen.size() - 2],
            "\n ** TolLock : IsContainerTrustedViaKestSM: Failure calling IsContainerTrusted function. HRESULT: "
            "80004005.");
}

}  // namespace
}  // namespace trust_test
