// What the trust gate and message data tests share: a private KESTNET_HOME
// and apartment per test, late-bound calls by name, a site-trust companion
// whose answers a test chooses (registered by ProgID for the test process
// only), and a page (client site and container) that may hold one.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "automation/message_data.h"
#include "automation/trust_gate.h"
#include "platform/com/com.h"
#include "platform/com/ole_site.h"
#include "tests/automation/script_values.h"
#include "tests/support/class_factory.h"
#include "tests/support/temporary_directory.h"

namespace trust_test {

using kestnet::testing::Long;
using kestnet::testing::TakeErrorDescription;
using kestnet::testing::Text;
using kestnet::testing::TextOf;

inline constexpr CLSID CLSID_TestKestSM = {0x7E57C0DE, 0x5E17, 0x4A1B, {0x8C, 0x11, 0x2D, 0x3E, 0x4F, 0x50, 0x61, 0x72}};

// How the companion answers; counts what it was asked.
struct CompanionScript {
  bool containerTrusted = false;
  bool siteTrusted = false;
  int failContainerQuestions = 0;  // this many IsContainerTrusted calls fail first
  HRESULT setSiteResult = S_OK;
  std::wstring vendorId = L"kestnet-test-vendor";

  std::atomic<int> created{0};
  std::atomic<int> containerQuestions{0};
  std::atomic<int> siteQuestions{0};
  std::atomic<int> vendorReads{0};
  std::atomic<int> sitesSet{0};
  std::wstring lastDataFileUrl;
  std::wstring lastVendorWritten;
};

// The companion: answers dispids 1, 2, 12 and 16 from the script.
class ScriptedKestSM final : public IDispatch, public IObjectWithSite {
 public:
  explicit ScriptedKestSM(CompanionScript& script) : script_(script) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override;
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID, void**) override { return E_NOTIMPL; }

 private:
  ~ScriptedKestSM() = default;
  CompanionScript& script_;
  std::atomic<ULONG> references_{1};
};

// A page: a client site whose container lists the objects placed on it.
class TestPage final : public IOleClientSite, public IOleContainer {
 public:
  void Place(IUnknown* object);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override;
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override;
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleContainer
  STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP EnumObjects(DWORD flags, IEnumUnknown** objects) override;
  STDMETHODIMP LockContainer(BOOL) override { return S_OK; }

  DWORD LastEnumerationFlags() const { return lastFlags_; }

 private:
  ~TestPage();
  std::vector<IUnknown*> objects_;
  std::atomic<ULONG> references_{1};
  DWORD lastFlags_ = 0;
};

// Fresh home and apartment; the companion's ProgID registered in the fresh
// store, and its class factory registered for this process when a test asks.
class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes the scripted companion creatable by "KestSM.KestSM".
  void OfferCompanion();
  // A new message data object with the gate the module installs.
  ATL::CComPtr<IDispatch> MakeMessageData(KestAXLib::CMessageData** object = nullptr);

  CompanionScript script_;

 private:
  kestnet::testing::TemporaryHome home_;
  DWORD classCookie_ = 0;
  // Makes a ScriptedKestSM for every request.
  kestnet::testing::ClassFactory companionFactory_{[this](REFIID riid, void** ppv) {
    script_.created++;
    return kestnet::testing::CreateObject<ScriptedKestSM>(riid, ppv, script_);
  }};
};

// Late-bound calls, as a script makes them.
DISPID IdOf(IDispatch* object, const wchar_t* name);
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments,
                   VARIANT* result = nullptr, EXCEPINFO* excepInfo = nullptr);
HRESULT PutText(IDispatch* object, const wchar_t* name, const wchar_t* value);
// The text a property or one-argument method returns; "<failed 0x...>" on failure.
std::wstring GetText(IDispatch* object, const wchar_t* name, std::vector<VARIANT> arguments = {});
LONG GetLong(IDispatch* object, const wchar_t* name);

}  // namespace trust_test
