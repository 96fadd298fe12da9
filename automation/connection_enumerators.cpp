#include "automation/connection_enumerators.h"

#include <algorithm>
#include <new>

namespace KestAXLib {
namespace {

// Shared by both enumerators: hand out up to count items from position.
template <typename Item, typename Copy>
HRESULT NextItems(const std::vector<Item>& items, size_t& position, ULONG count, Item* out, ULONG* fetched,
                  Copy copy) {
  if (out == nullptr) return E_POINTER;
  // A caller asking for more than one item must be able to learn how many came.
  if (count > 1 && fetched == nullptr) return E_POINTER;
  ULONG handed = 0;
  while (handed < count && position < items.size()) {
    out[handed] = copy(items[position]);
    ++handed;
    ++position;
  }
  if (fetched != nullptr) *fetched = handed;
  return handed == count ? S_OK : S_FALSE;
}

HRESULT SkipItems(size_t size, size_t& position, ULONG count) {
  size_t left = size - position;
  position += std::min<size_t>(left, count);
  return count <= left ? S_OK : S_FALSE;
}

}  // namespace

ConnectionEnumerator::ConnectionEnumerator(std::vector<CONNECTDATA> connections)
    : connections_(std::move(connections)) {
  for (CONNECTDATA& data : connections_) {
    if (data.pUnk != nullptr) data.pUnk->AddRef();
  }
}

ConnectionEnumerator::~ConnectionEnumerator() {
  for (CONNECTDATA& data : connections_) {
    if (data.pUnk != nullptr) data.pUnk->Release();
  }
}

HRESULT ConnectionEnumerator::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumConnections) {
    *ppv = static_cast<IEnumConnections*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionEnumerator::Next(ULONG count, LPCONNECTDATA out, ULONG* fetched) {
  return NextItems(connections_, position_, count, out, fetched, [](const CONNECTDATA& data) {
    if (data.pUnk != nullptr) data.pUnk->AddRef();
    return data;
  });
}

HRESULT ConnectionEnumerator::Skip(ULONG count) { return SkipItems(connections_.size(), position_, count); }

HRESULT ConnectionEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT ConnectionEnumerator::Clone(IEnumConnections** clone) {
  if (clone == nullptr) return E_POINTER;
  auto* copy = new (std::nothrow) ConnectionEnumerator(connections_);
  if (copy == nullptr) {
    *clone = nullptr;
    return E_OUTOFMEMORY;
  }
  copy->position_ = position_;
  *clone = copy;
  return S_OK;
}

ConnectionPointEnumerator::ConnectionPointEnumerator(std::vector<IConnectionPoint*> points)
    : points_(std::move(points)) {
  for (IConnectionPoint* point : points_) point->AddRef();
}

ConnectionPointEnumerator::~ConnectionPointEnumerator() {
  for (IConnectionPoint* point : points_) point->Release();
}

HRESULT ConnectionPointEnumerator::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) {
    *ppv = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionPointEnumerator::Next(ULONG count, IConnectionPoint** out, ULONG* fetched) {
  return NextItems(points_, position_, count, out, fetched, [](IConnectionPoint* point) {
    point->AddRef();
    return point;
  });
}

HRESULT ConnectionPointEnumerator::Skip(ULONG count) { return SkipItems(points_.size(), position_, count); }

HRESULT ConnectionPointEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT ConnectionPointEnumerator::Clone(IEnumConnectionPoints** clone) {
  if (clone == nullptr) return E_POINTER;
  auto* copy = new (std::nothrow) ConnectionPointEnumerator(points_);
  if (copy == nullptr) {
    *clone = nullptr;
    return E_OUTOFMEMORY;
  }
  copy->position_ = position_;
  *clone = copy;
  return S_OK;
}

}  // namespace KestAXLib
