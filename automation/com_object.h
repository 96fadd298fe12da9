// The object bases of the automation layer in the manner of ATL: the
// reference count of the single-threaded (apartment) model, the interface map,
// and the final classes that give an object its IUnknown in its plain form
// (CComObject), inside an aggregate (CComAggObject with its
// CComContainedObject) and for the contained form.
//
// An object class derives from CComObjectRootEx<CComSingleThreadModel> and its
// interfaces, declares its interface map, and is created only through one of
// the final classes below (never with new T): they supply IUnknown, run
// FinalConstruct / FinalRelease, and hold one module lock per live object.
//
//   class CThing : public CComObjectRootEx<CComSingleThreadModel>, public IThing {
//     BEGIN_COM_MAP(CThing)
//       COM_INTERFACE_ENTRY(IThing)
//       COM_INTERFACE_ENTRY2(IDispatch, IThing)
//     END_COM_MAP()
//   };
//
// The first entry of the map is the object's identity (its IUnknown).
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "automation/module_lock.h"
#include "platform/com/unknown.h"

namespace ATL {

// Apartment objects are called on their own thread only: plain counters.
class CComSingleThreadModel {
 public:
  static ULONG Increment(LONG* count) { return static_cast<ULONG>(++*count); }
  static ULONG Decrement(LONG* count) { return static_cast<ULONG>(--*count); }
};

// For objects shared between threads (connection points' helpers, factories).
class CComMultiThreadModel {
 public:
  static ULONG Increment(LONG* count) {
    return static_cast<ULONG>(std::atomic_ref<LONG>(*count).fetch_add(1, std::memory_order_relaxed) + 1);
  }
  static ULONG Decrement(LONG* count) {
    return static_cast<ULONG>(std::atomic_ref<LONG>(*count).fetch_sub(1, std::memory_order_acq_rel) - 1);
  }
};

// One interface of a class's map: its IID and how to reach it from the object.
template <typename T>
struct ComMapEntry {
  const IID* iid;
  IUnknown* (*cast)(T* object);
};

template <class ThreadModel>
class CComObjectRootEx {
 public:
  CComObjectRootEx() = default;
  CComObjectRootEx(const CComObjectRootEx&) = delete;
  CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;

  ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }

  // Run by the final class once the object is fully built; a failure
  // destroys the object and is returned by its creation.
  HRESULT FinalConstruct() { return S_OK; }
  // Run by the final class before the object is destroyed.
  void FinalRelease() {}

  // The controlling unknown of an aggregated object (null when not aggregated).
  IUnknown* OuterUnknown() const { return m_pOuterUnknown; }
  void SetOuterUnknown(IUnknown* outer) { m_pOuterUnknown = outer; }

  // Looks riid up in T's map; on success adds a reference through the found
  // interface, so an aggregated object counts on its outer object.
  template <typename T>
  static HRESULT InternalQueryInterface(T* object, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    // The map may be declared by a base of T; its entries take that base.
    const auto* entries = T::_GetComMapEntries();
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown) {
      found = entries[0].cast(object);
    } else {
      for (const auto* entry = entries; entry->iid != nullptr; ++entry) {
        if (*entry->iid == riid) {
          found = entry->cast(object);
          break;
        }
      }
    }
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
  }

 protected:
  ~CComObjectRootEx() = default;

  LONG m_dwRef = 0;
  IUnknown* m_pOuterUnknown = nullptr;
};

using CComObjectRoot = CComObjectRootEx<CComSingleThreadModel>;

// The plain, creatable form of Base.
template <class Base>
class CComObject final : public Base {
 public:
  template <typename... Args>
  explicit CComObject(Args&&... args) : Base(std::forward<Args>(args)...) {
    KestAXLib::ModuleLock();
  }
  ~CComObject() {
    // The count is set high so that references taken and dropped during
    // FinalRelease do not destroy the object a second time.
    this->m_dwRef = -0x3FFFFFFF;
    this->FinalRelease();
    KestAXLib::ModuleUnlock();
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Base::InternalQueryInterface(static_cast<Base*>(this), riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return this->InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG remaining = this->InternalRelease();
    if (remaining == 0) delete this;
    return remaining;
  }

  // A new object with no reference yet, FinalConstruct already run; on
  // failure *pp is null and nothing is left behind.
  static HRESULT CreateInstance(CComObject** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    CComObject* object = new (std::nothrow) CComObject();
    if (object == nullptr) return E_OUTOFMEMORY;
    // One reference during FinalConstruct, so that a QueryInterface/Release
    // pair inside it does not destroy the object.
    object->InternalAddRef();
    HRESULT hr = object->FinalConstruct();
    object->InternalRelease();
    if (FAILED(hr)) {
      delete object;
      return hr;
    }
    *pp = object;
    return hr;
  }
};

// Base living inside an aggregate: its IUnknown is the outer object's.
template <class Base>
class CComContainedObject final : public Base {
 public:
  explicit CComContainedObject(IUnknown* outer) { this->SetOuterUnknown(outer); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return this->m_pOuterUnknown->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return this->m_pOuterUnknown->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return this->m_pOuterUnknown->Release(); }

  // The inner (non-delegating) lookup the aggregate uses.
  HRESULT QueryInner(REFIID riid, void** ppv) {
    return Base::InternalQueryInterface(static_cast<Base*>(this), riid, ppv);
  }
  using Base::FinalConstruct;
  using Base::FinalRelease;
};

// The aggregated form of Contained: its own IUnknown is the non-delegating
// one the outer object holds; every other interface delegates to the outer.
template <class Contained>
class CComAggObject final : public IUnknown {
 public:
  explicit CComAggObject(IUnknown* outer) : m_contained(outer) { KestAXLib::ModuleLock(); }
  ~CComAggObject() {
    m_dwRef = -0x3FFFFFFF;
    m_contained.FinalRelease();
    KestAXLib::ModuleUnlock();
  }
  CComAggObject(const CComAggObject&) = delete;
  CComAggObject& operator=(const CComAggObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_contained.QueryInner(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return CComMultiThreadModel::Increment(&m_dwRef); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG remaining = CComMultiThreadModel::Decrement(&m_dwRef);
    if (remaining == 0) delete this;
    return remaining;
  }

  // outer must not be null. On success *pp has no reference yet.
  static HRESULT CreateInstance(IUnknown* outer, CComAggObject** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    if (outer == nullptr) return E_INVALIDARG;
    CComAggObject* object = new (std::nothrow) CComAggObject(outer);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->m_contained.FinalConstruct();
    CComMultiThreadModel::Decrement(&object->m_dwRef);
    if (FAILED(hr)) {
      delete object;
      return hr;
    }
    *pp = object;
    return hr;
  }

  Contained& Inner() { return m_contained; }

 private:
  LONG m_dwRef = 0;
  CComContainedObject<Contained> m_contained;
};

}  // namespace ATL

// The interface map. Entries are looked up in order; the first is the identity.
#define BEGIN_COM_MAP(ClassName)                                                   \
 public:                                                                           \
  using _ComMapClass = ClassName;                                                  \
  static const ::ATL::ComMapEntry<ClassName>* _GetComMapEntries() {                \
    static const ::ATL::ComMapEntry<ClassName> entries[] = {
#define COM_INTERFACE_ENTRY(Interface)                                             \
  {&uuidof<Interface>(), [](_ComMapClass* object) -> IUnknown* { return static_cast<Interface*>(object); }},
// Interface reached through Via, for interfaces the class inherits more than once (IDispatch).
#define COM_INTERFACE_ENTRY2(Interface, Via)                                                          \
  {&uuidof<Interface>(), [](_ComMapClass* object) -> IUnknown* {                                      \
     return static_cast<Interface*>(static_cast<Via*>(object));                                       \
   }},
// An IID that names an interface the class implements under another type (event dispinterfaces).
#define COM_INTERFACE_ENTRY_IID(iidValue, Interface)                                                  \
  {&(iidValue), [](_ComMapClass* object) -> IUnknown* { return static_cast<Interface*>(object); }},
#define END_COM_MAP()    \
  {nullptr, nullptr}     \
  }                      \
  ;                      \
  return entries;        \
  }
