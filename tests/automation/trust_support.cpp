#include "tests/automation/trust_support.h"

#include <algorithm>
#include <cstdio>

#include "platform/registry/registry.h"

namespace trust_test {
namespace {

class ObjectEnumerator final : public IEnumUnknown {
 public:
  explicit ObjectEnumerator(std::vector<IUnknown*> objects) : objects_(std::move(objects)) {
    for (IUnknown* object : objects_) object->AddRef();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumUnknown) {
      *ppv = static_cast<IEnumUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, IUnknown** objects, ULONG* fetched) override {
    ULONG given = 0;
    while (given < count && next_ < objects_.size()) {
      objects[given] = objects_[next_++];
      objects[given]->AddRef();
      ++given;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    next_ = std::min(objects_.size(), next_ + count);
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumUnknown**) override { return E_NOTIMPL; }

 private:
  ~ObjectEnumerator() {
    for (IUnknown* object : objects_) object->Release();
  }
  std::vector<IUnknown*> objects_;
  size_t next_ = 0;
  std::atomic<ULONG> references_{1};
};

}  // namespace

STDMETHODIMP ScriptedKestSM::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == KestAXLib::IID_IKestSM) {
    *ppv = static_cast<IDispatch*>(this);
  } else if (riid == IID_IObjectWithSite) {
    *ppv = static_cast<IObjectWithSite*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ScriptedKestSM::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP ScriptedKestSM::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

STDMETHODIMP ScriptedKestSM::SetSite(IUnknown*) {
  script_.sitesSet++;
  return script_.setSiteResult;
}

STDMETHODIMP ScriptedKestSM::Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO*, UINT*) {
  if (riid != IID_NULL || lcid != LOCALE_USER_DEFAULT || params == nullptr) return E_INVALIDARG;
  bool isPut = flags == DISPATCH_PROPERTYPUT && params->cArgs == 1 && params->cNamedArgs == 1 &&
               params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT && params->rgvarg[0].vt == VT_BSTR;
  switch (dispid) {
    case KestAXLib::kKestSMTrustedSiteDataFileUrl:
      if (!isPut) return DISP_E_MEMBERNOTFOUND;
      script_.lastDataFileUrl = TextOf(params->rgvarg[0]);
      return S_OK;
    case KestAXLib::kKestSMVendorId:
      if (isPut) {
        script_.lastVendorWritten = TextOf(params->rgvarg[0]);
        return S_OK;
      }
      if (flags != DISPATCH_PROPERTYGET || result == nullptr) return DISP_E_MEMBERNOTFOUND;
      script_.vendorReads++;
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(script_.vendorId.c_str());
      return S_OK;
    case KestAXLib::kKestSMIsContainerTrusted:
      if (flags != DISPATCH_METHOD || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR || result == nullptr) {
        return DISP_E_BADPARAMCOUNT;
      }
      script_.containerQuestions++;
      if (script_.failContainerQuestions > 0) {
        script_.failContainerQuestions--;
        return E_FAIL;
      }
      result->vt = VT_BOOL;
      result->boolVal = script_.containerTrusted ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case KestAXLib::kKestSMIsCurrentSiteTrusted:
      if (flags != DISPATCH_METHOD || params->cArgs != 0 || result == nullptr) return DISP_E_BADPARAMCOUNT;
      script_.siteQuestions++;
      result->vt = VT_BOOL;
      result->boolVal = script_.siteTrusted ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

void TestPage::Place(IUnknown* object) {
  object->AddRef();
  objects_.push_back(object);
}

TestPage::~TestPage() {
  for (IUnknown* object : objects_) object->Release();
}

STDMETHODIMP TestPage::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
    *ppv = static_cast<IOleClientSite*>(this);
  } else if (riid == IID_IOleContainer || riid == IID_IParseDisplayName) {
    *ppv = static_cast<IOleContainer*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TestPage::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP TestPage::GetContainer(IOleContainer** container) {
  *container = static_cast<IOleContainer*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP TestPage::EnumObjects(DWORD flags, IEnumUnknown** objects) {
  lastFlags_ = flags;
  *objects = new ObjectEnumerator(objects_);
  return S_OK;
}

void TrustTest::SetUp() {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  KestAXLib::KestTrustGate::SetPlatformIdSource(nullptr);
}

void TrustTest::TearDown() {
  if (classCookie_ != 0) {
    EXPECT_EQ(CoRevokeClassObject(classCookie_), S_OK);
  }
  KestAXLib::KestTrustGate::SetPlatformIdSource(nullptr);
  IErrorInfo* stale = nullptr;
  if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
  CoUninitialize();
}

void TrustTest::OfferCompanion() {
  wchar_t clsidText[64];
  ASSERT_GT(StringFromGUID2(CLSID_TestKestSM, clsidText, 64), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"KestSM.KestSM\\CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  std::wstring value = clsidText;
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestKestSM, &companionFactory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &classCookie_),
            S_OK);
}

ATL::CComPtr<IDispatch> TrustTest::MakeMessageData(KestAXLib::CMessageData** object) {
  ATL::CComObject<KestAXLib::CMessageData>* created = nullptr;
  EXPECT_EQ(ATL::CComObject<KestAXLib::CMessageData>::CreateInstance(&created), S_OK);
  ATL::CComPtr<IDispatch> dispatch;
  if (created == nullptr) return dispatch;
  EXPECT_EQ(created->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  if (object != nullptr) *object = created;
  return dispatch;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << "no member named";
  return id;
}

HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments,
                   VARIANT* result, EXCEPINFO* excepInfo) {
  std::reverse(arguments.begin(), arguments.end());  // DISPPARAMS holds the last argument first
  DISPID propertyPut = DISPID_PROPERTYPUT;
  DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &propertyPut;
    params.cNamedArgs = 1;
  }
  HRESULT hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, excepInfo,
                              nullptr);
  for (VARIANT& argument : arguments) VariantClear(&argument);
  return hr;
}

HRESULT PutText(IDispatch* object, const wchar_t* name, const wchar_t* value) {
  return CallByName(object, name, DISPATCH_PROPERTYPUT, {Text(value)});
}

std::wstring GetText(IDispatch* object, const wchar_t* name, std::vector<VARIANT> arguments) {
  VARIANT result;
  VariantInit(&result);
  WORD flags = arguments.empty() ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
  HRESULT hr = CallByName(object, name, flags, std::move(arguments), &result);
  if (FAILED(hr)) {
    char text[32];
    std::snprintf(text, sizeof text, "<failed 0x%08X>", static_cast<unsigned>(hr));
    return std::wstring(text, text + std::char_traits<char>::length(text));
  }
  std::wstring value = result.vt == VT_BSTR ? TextOf(result) : L"<not text>";
  VariantClear(&result);
  return value;
}

LONG GetLong(IDispatch* object, const wchar_t* name) {
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(CallByName(object, name, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  return result.lVal;
}

}  // namespace trust_test
