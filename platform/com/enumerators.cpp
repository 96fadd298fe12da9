#include "platform/com/enumerators.h"

#include <memory>
#include <new>
#include <vector>

#include "platform/com/ref_count.h"

namespace kestnet::platform {
namespace {

// How one kind of item is referenced and copied out.
struct ConnectionTraits {
  using Item = CONNECTDATA;
  static void Hold(const Item& item) {
    if (item.pUnk != nullptr) item.pUnk->AddRef();
  }
  static void Drop(const Item& item) {
    if (item.pUnk != nullptr) item.pUnk->Release();
  }
};

template <typename Interface>
struct InterfaceTraits {
  using Item = Interface*;
  static void Hold(Item item) {
    if (item != nullptr) item->AddRef();
  }
  static void Drop(Item item) {
    if (item != nullptr) item->Release();
  }
};

// The items of one snapshot, with one reference each, shared by clones.
template <typename Traits>
struct Snapshot {
  std::vector<typename Traits::Item> items;
  ~Snapshot() {
    for (const auto& item : items) Traits::Drop(item);
  }
};

template <typename Interface, typename Traits>
class SnapshotEnumerator final : public Interface {
 public:
  using Item = typename Traits::Item;

  SnapshotEnumerator(std::shared_ptr<const Snapshot<Traits>> snapshot, size_t position)
      : snapshot_(std::move(snapshot)), position_(position) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == uuidof<Interface>()) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override {
    if (rgelt == nullptr || (pceltFetched == nullptr && celt != 1)) return E_POINTER;
    ULONG fetched = 0;
    const auto& items = snapshot_->items;
    while (fetched < celt && position_ < items.size()) {
      Traits::Hold(items[position_]);
      rgelt[fetched++] = items[position_++];
    }
    if (pceltFetched != nullptr) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG celt) override {
    size_t remaining = snapshot_->items.size() - position_;
    if (celt > remaining) {
      position_ = snapshot_->items.size();
      return S_FALSE;
    }
    position_ += celt;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** ppEnum) override {
    if (ppEnum == nullptr) return E_POINTER;
    auto* clone = new (std::nothrow) SnapshotEnumerator(snapshot_, position_);
    *ppEnum = clone;
    return clone == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  RefCount refCount_;
  std::shared_ptr<const Snapshot<Traits>> snapshot_;
  size_t position_;
};

template <typename Interface, typename Traits>
HRESULT Create(const typename Traits::Item* items, ULONG count, Interface** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  if (items == nullptr && count > 0) return E_INVALIDARG;
  try {
    auto snapshot = std::make_shared<Snapshot<Traits>>();
    snapshot->items.reserve(count);
    for (ULONG i = 0; i < count; ++i) {
      Traits::Hold(items[i]);
      snapshot->items.push_back(items[i]);
    }
    *enumerator = new SnapshotEnumerator<Interface, Traits>(std::move(snapshot), 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

HRESULT CreateEnumConnections(const CONNECTDATA* items, ULONG count, IEnumConnections** enumerator) {
  return Create<IEnumConnections, ConnectionTraits>(items, count, enumerator);
}

HRESULT CreateEnumConnectionPoints(IConnectionPoint* const* items, ULONG count, IEnumConnectionPoints** enumerator) {
  return Create<IEnumConnectionPoints, InterfaceTraits<IConnectionPoint>>(items, count, enumerator);
}

HRESULT CreateEnumUnknown(IUnknown* const* items, ULONG count, IEnumUnknown** enumerator) {
  return Create<IEnumUnknown, InterfaceTraits<IUnknown>>(items, count, enumerator);
}

}  // namespace kestnet::platform
