#include "platform/com/error_info.h"

#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/ref_count.h"

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  STDMETHODIMP GetSource(BSTR* out) override { return CopyOut(source_, out); }
  STDMETHODIMP GetDescription(BSTR* out) override { return CopyOut(description_, out); }
  STDMETHODIMP GetHelpFile(BSTR* out) override { return CopyOut(helpFile_, out); }
  STDMETHODIMP GetHelpContext(DWORD* out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = helpContext_;
    return S_OK;
  }

  STDMETHODIMP SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  STDMETHODIMP SetSource(LPOLESTR text) override { return Store(text, &source_); }
  STDMETHODIMP SetDescription(LPOLESTR text) override { return Store(text, &description_); }
  STDMETHODIMP SetHelpFile(LPOLESTR text) override { return Store(text, &helpFile_); }
  STDMETHODIMP SetHelpContext(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

 private:
  // An unset field reads as a null BSTR, which callers treat as empty.
  static HRESULT CopyOut(const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    if (text.empty()) {
      *out = nullptr;
      return S_OK;
    }
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  static HRESULT Store(LPOLESTR text, std::wstring* field) {
    *field = text == nullptr ? L"" : text;
    return S_OK;
  }

  kestnet::platform::RefCount refCount_;
  GUID guid_ = GUID_NULL;
  std::wstring source_;
  std::wstring description_;
  std::wstring helpFile_;
  DWORD helpContext_ = 0;
};

// The thread's slot. The holder releases what is left when the thread ends,
// so an error nobody collected does not leak.
struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() {
    if (info != nullptr) info->Release();
  }
};
thread_local ErrorSlot t_errorSlot;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo* old = t_errorSlot.info;
  t_errorSlot.info = perrinfo;
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_errorSlot.info;
  t_errorSlot.info = nullptr;
  return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  auto* info = new (std::nothrow) ErrorInfo();
  if (info == nullptr) {
    *pperrinfo = nullptr;
    return E_OUTOFMEMORY;
  }
  *pperrinfo = static_cast<ICreateErrorInfo*>(info);
  return S_OK;
}

namespace kestnet::platform {

void ClearExcepInfo(EXCEPINFO* excepInfo) {
  if (excepInfo == nullptr) return;
  SysFreeString(excepInfo->bstrSource);
  SysFreeString(excepInfo->bstrDescription);
  SysFreeString(excepInfo->bstrHelpFile);
  *excepInfo = EXCEPINFO{};
}

}  // namespace kestnet::platform
