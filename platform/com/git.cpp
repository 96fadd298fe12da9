#include "platform/com/git.h"

#include <mutex>
#include <unordered_map>

namespace {

// The one table of the process. It lives until the process ends (never
// destroyed, so threads still running at exit can revoke safely) and ignores
// reference counting, as the Windows table does.
class GlobalInterfaceTable final : public IGlobalInterfaceTable {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IGlobalInterfaceTable) {
      *ppv = static_cast<IGlobalInterfaceTable*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
    if (pdwCookie == nullptr) return E_INVALIDARG;
    *pdwCookie = 0;
    if (pUnk == nullptr) return E_INVALIDARG;
    void* object = nullptr;
    HRESULT hr = pUnk->QueryInterface(riid, &object);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    do {
      ++lastCookie_;
    } while (lastCookie_ == 0 || entries_.count(lastCookie_) != 0);
    entries_[lastCookie_] = Entry{static_cast<IUnknown*>(object), riid};
    *pdwCookie = lastCookie_;
    return S_OK;
  }

  STDMETHODIMP RevokeInterfaceFromGlobal(DWORD dwCookie) override {
    IUnknown* object = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(dwCookie);
      if (it == entries_.end()) return E_INVALIDARG;
      object = it->second.object;
      entries_.erase(it);
    }
    // Released outside the lock: the object's destructor may use the table.
    object->Release();
    return S_OK;
  }

  STDMETHODIMP GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown* object = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(dwCookie);
      if (it == entries_.end()) return E_INVALIDARG;
      object = it->second.object;
      object->AddRef();  // keeps it alive against a concurrent revoke
    }
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }

 private:
  struct Entry {
    IUnknown* object;  // one reference owned by the table
    IID iid;
  };
  std::mutex mutex_;
  std::unordered_map<DWORD, Entry> entries_;
  DWORD lastCookie_ = 0x100;
};

}  // namespace

namespace kestnet::platform {

IGlobalInterfaceTable* GetGlobalInterfaceTable() {
  static auto* table = new GlobalInterfaceTable();
  return table;
}

}  // namespace kestnet::platform
