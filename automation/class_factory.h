// Class factories and the co-class base in the manner of ATL.
//
// CComCoClass<T, &CLSID> gives a class its creator (plain or aggregated,
// chosen by whether an outer object is passed), its CLSID, and the error
// information helper every method guard uses. A class that may not be
// aggregated says DECLARE_NOT_AGGREGATABLE(T) in its body; its factory then
// answers CLASS_E_NOAGGREGATION to an outer object.
//
// CComClassFactory is the one IClassFactory of a class in the module's object
// map. Factories do not hold the module lock themselves (as in ATL); a client
// keeps the module loaded with LockServer.
#pragma once

#include <atomic>

#include "automation/com_object.h"
#include "automation/object_error.h"

namespace ATL {

// Creates the plain form; refuses an outer object.
template <class Object>
class CComCreator {
 public:
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = nullptr;
    HRESULT hr = Object::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    HRESULT queried = object->QueryInterface(riid, ppv);
    object->Release();
    return FAILED(queried) ? queried : hr;
  }
};

// Creates the aggregated form for an outer object. COM requires an outer
// object to ask for IUnknown, the only interface that does not delegate.
template <class Aggregate>
class CComAggCreator {
 public:
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer == nullptr) return E_INVALIDARG;
    if (riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    Aggregate* object = nullptr;
    HRESULT hr = Aggregate::CreateInstance(outer, &object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    *ppv = static_cast<IUnknown*>(object);
    return hr;
  }
};

// The plain creator without an outer object, the aggregated one with it.
template <class Plain, class Aggregated>
class CComCreator2 {
 public:
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return outer == nullptr ? Plain::CreateInstance(nullptr, riid, ppv)
                            : Aggregated::CreateInstance(outer, riid, ppv);
  }
};

using CreatorFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// The IUnknown of a class factory that lives as long as its owner (a
// module's static object, a test fixture's member): references are counted,
// the factory is never deleted through Release.
class StaticClassFactory : public IClassFactory {
 public:
  StaticClassFactory() = default;
  StaticClassFactory(const StaticClassFactory&) = delete;
  StaticClassFactory& operator=(const StaticClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return references_.fetch_add(1) + 1; }
  STDMETHODIMP_(ULONG) Release() override { return references_.fetch_sub(1) - 1; }

 protected:
  ~StaticClassFactory() = default;

 private:
  std::atomic<ULONG> references_{1};
};

class CComClassFactory final : public StaticClassFactory {
 public:
  explicit CComClassFactory(CreatorFunction creator) : creator_(creator) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return creator_(outer, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      KestAXLib::ModuleLock();
    } else {
      KestAXLib::ModuleUnlock();
    }
    return S_OK;
  }

 private:
  CreatorFunction creator_;
};

template <class T, const CLSID* pclsid>
class CComCoClass {
 public:
  using _CreatorClass = CComCreator2<CComCreator<CComObject<T>>, CComAggCreator<CComAggObject<T>>>;

  static const CLSID& GetObjectCLSID() { return *pclsid; }

  // Sets the thread's error information for a failure of this class (the
  // class's ProgID as source) and returns hr.
  static HRESULT Error(LPCOLESTR description, const IID& iid = GUID_NULL, HRESULT hr = E_FAIL) {
    return KestAXLib::SetObjectErrorInfo(*pclsid, description, iid, hr);
  }
};

}  // namespace ATL

// In the body of a class whose factory refuses an outer object.
#define DECLARE_NOT_AGGREGATABLE(ClassName) \
 public:                                    \
  using _CreatorClass = ::ATL::CComCreator2<::ATL::CComCreator<::ATL::CComObject<ClassName>>, ::ATL::CComCreator<::ATL::CComObject<ClassName>>>;
