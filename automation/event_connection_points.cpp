#include "automation/event_connection_points.h"

#include <algorithm>
#include <new>

#include "automation/connection_enumerators.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestAXLib {
namespace {

constexpr const char* kContainerLogClass = "KestConnectionPointContainerImpl";
constexpr size_t kFirstSlotCount = 4;

}  // namespace

HRESULT FireToSinks(EventSinkSource& source, DISPID dispid, DISPPARAMS* params) {
  HRESULT last = S_OK;
  for (ATL::CComPtr<IDispatch>& sink : source.SinksForFiring()) {
    VARIANT result;
    VariantInit(&result);
    last = sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, &result, nullptr, nullptr);
    VariantClear(&result);
  }
  return last;
}

HRESULT ConnectionPointBase::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionPointBase::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = eventInterface_;
  return S_OK;
}

HRESULT ConnectionPointBase::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  container_->AddRef();
  *container = container_;
  return S_OK;
}

HRESULT ConnectionPointBase::QueryEventInterface(IUnknown* sink, IUnknown** events) const {
  *events = nullptr;
  if (sink == nullptr) return E_POINTER;
  HRESULT hr = sink->QueryInterface(eventInterface_, reinterpret_cast<void**>(events));
  if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
  return hr;
}

// ---- StandardConnectionPoint

StandardConnectionPoint::~StandardConnectionPoint() {
  for (IUnknown* sink : sinks_) {
    if (sink != nullptr) sink->Release();
  }
}

HRESULT StandardConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  IUnknown* events = nullptr;
  HRESULT hr = QueryEventInterface(sink, &events);
  if (FAILED(hr)) return hr;
  auto freeSlot = std::find(sinks_.begin(), sinks_.end(), nullptr);
  if (freeSlot != sinks_.end()) {
    *freeSlot = events;
    *cookie = static_cast<DWORD>(freeSlot - sinks_.begin()) + 1;
    return S_OK;
  }
  try {
    sinks_.push_back(events);
  } catch (const std::bad_alloc&) {
    events->Release();
    return CONNECT_E_ADVISELIMIT;
  }
  *cookie = static_cast<DWORD>(sinks_.size());
  return S_OK;
}

HRESULT StandardConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
  IUnknown* sink = std::exchange(sinks_[cookie - 1], nullptr);
  sink->Release();
  return S_OK;
}

HRESULT StandardConnectionPoint::EnumConnections(IEnumConnections** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  std::vector<CONNECTDATA> connections;
  for (size_t i = 0; i < sinks_.size(); ++i) {
    if (sinks_[i] != nullptr) connections.push_back(CONNECTDATA{sinks_[i], static_cast<DWORD>(i + 1)});
  }
  auto* created = new (std::nothrow) ConnectionEnumerator(std::move(connections));
  if (created == nullptr) return E_OUTOFMEMORY;
  *enumerator = created;
  return S_OK;
}

std::vector<ATL::CComPtr<IDispatch>> StandardConnectionPoint::SinksForFiring() {
  std::vector<ATL::CComPtr<IDispatch>> sinks;
  for (IUnknown* sink : sinks_) {
    if (sink == nullptr) continue;
    ATL::CComPtr<IDispatch> dispatch;
    if (SUCCEEDED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
      sinks.push_back(std::move(dispatch));
    }
  }
  return sinks;
}

// ---- KestConnectionPointMT

KestConnectionPointMT::KestConnectionPointMT(const IID& eventInterface, IConnectionPointContainer* container)
    : ConnectionPointBase(eventInterface, container) {
  table_.Attach(kestnet::platform::GetGlobalInterfaceTable());
}

KestConnectionPointMT::~KestConnectionPointMT() {
  // Forwarded advisories end with the point: the proxies must not keep
  // calling sinks of an object that is gone.
  for (ForwardedAdvisory& advisory : forwarded_) advisory.proxyPoint->Unadvise(advisory.proxyCookie);
  if (table_ != nullptr) {
    for (DWORD tableCookie : slots_) {
      if (tableCookie != 0) table_->RevokeInterfaceFromGlobal(tableCookie);
    }
  }
}

HRESULT KestConnectionPointMT::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  ATL::CComPtr<IUnknown> events;
  HRESULT hr = QueryEventInterface(sink, &events);
  if (FAILED(hr)) return hr;
  if (table_ == nullptr) return E_UNEXPECTED;

  DWORD connectionCookie = 0;
  std::vector<ATL::CComPtr<IConnectionPoint>> hookedNow;
  DWORD tableCookie = 0;
  {
    std::lock_guard lock(mutex_);
    hr = table_->RegisterInterfaceInGlobal(events, EventInterface(), &tableCookie);
    if (FAILED(hr)) return hr;
    try {
      if (slots_.empty()) slots_.resize(kFirstSlotCount, 0);
      auto freeSlot = std::find(slots_.begin(), slots_.end(), 0u);
      if (freeSlot == slots_.end()) {
        size_t used = slots_.size();
        slots_.resize(used * 2, 0);
        freeSlot = slots_.begin() + static_cast<std::ptrdiff_t>(used);
      }
      *freeSlot = tableCookie;
      connectionCookie = static_cast<DWORD>(freeSlot - slots_.begin()) + 1;
      cookies_.push_back(connectionCookie);
      hookedNow = hooked_;
    } catch (const std::bad_alloc&) {
      // The slot may have been written before the cookie list failed to grow.
      std::replace(slots_.begin(), slots_.end(), tableCookie, 0u);
      table_->RevokeInterfaceFromGlobal(tableCookie);
      return CONNECT_E_ADVISELIMIT;
    }
  }
  *cookie = connectionCookie;
  for (ATL::CComPtr<IConnectionPoint>& proxyPoint : hookedNow) {
    ForwardAdvisory(connectionCookie, tableCookie, proxyPoint);
  }
  return S_OK;
}

HRESULT KestConnectionPointMT::Unadvise(DWORD cookie) {
  std::vector<ForwardedAdvisory> ending;
  DWORD tableCookie = 0;
  {
    std::lock_guard lock(mutex_);
    if (cookie == 0 || cookie > slots_.size() || slots_[cookie - 1] == 0) return CONNECT_E_NOCONNECTION;
    // Rebuilt rather than erased in place: CComPtr's move assignment cannot
    // be relied on inside standard algorithms (its operator& is overloaded).
    std::vector<ForwardedAdvisory> kept;
    for (const ForwardedAdvisory& advisory : forwarded_) {
      (advisory.localCookie == cookie ? ending : kept).push_back(advisory);
    }
    forwarded_.swap(kept);
    cookies_.erase(std::remove(cookies_.begin(), cookies_.end(), cookie), cookies_.end());
    tableCookie = std::exchange(slots_[cookie - 1], 0u);
  }
  for (ForwardedAdvisory& advisory : ending) advisory.proxyPoint->Unadvise(advisory.proxyCookie);
  table_->RevokeInterfaceFromGlobal(tableCookie);
  return S_OK;
}

HRESULT KestConnectionPointMT::EnumConnections(IEnumConnections** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  std::vector<std::pair<DWORD, DWORD>> connected;  // connection cookie, table cookie
  {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] != 0) connected.emplace_back(static_cast<DWORD>(i + 1), slots_[i]);
    }
  }
  std::vector<CONNECTDATA> connections;
  std::vector<ATL::CComPtr<IUnknown>> keep;
  for (auto [connectionCookie, tableCookie] : connected) {
    ATL::CComPtr<IUnknown> sink;
    if (FAILED(table_->GetInterfaceFromGlobal(tableCookie, IID_IUnknown, reinterpret_cast<void**>(&sink)))) {
      continue;
    }
    connections.push_back(CONNECTDATA{sink, connectionCookie});
    keep.push_back(std::move(sink));
  }
  auto* created = new (std::nothrow) ConnectionEnumerator(std::move(connections));
  if (created == nullptr) return E_OUTOFMEMORY;
  *enumerator = created;
  return S_OK;
}

std::vector<ATL::CComPtr<IDispatch>> KestConnectionPointMT::SinksForFiring() {
  std::vector<DWORD> tableCookies;
  {
    std::lock_guard lock(mutex_);
    for (DWORD tableCookie : slots_) {
      if (tableCookie != 0) tableCookies.push_back(tableCookie);
    }
  }
  std::vector<ATL::CComPtr<IDispatch>> sinks;
  for (DWORD tableCookie : tableCookies) {
    ATL::CComPtr<IDispatch> sink;
    // A sink unadvised since the slots were read is no longer in the table.
    if (SUCCEEDED(table_->GetInterfaceFromGlobal(tableCookie, IID_IDispatch, reinterpret_cast<void**>(&sink)))) {
      sinks.push_back(std::move(sink));
    }
  }
  return sinks;
}

size_t KestConnectionPointMT::SlotCount() const {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

void KestConnectionPointMT::HookupActiveXCallBacks(IUnknown* proxy) {
  try {
    if (proxy == nullptr) throw KestBase::NullPointerException();
    ATL::CComPtr<IConnectionPointContainer> container;
    HRESULT hr = proxy->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) throw KestBase::HRESULTException(hr, __FILE__, __LINE__);
    ATL::CComPtr<IConnectionPoint> proxyPoint;
    hr = container->FindConnectionPoint(EventInterface(), &proxyPoint);
    if (FAILED(hr)) throw KestBase::HRESULTException(hr, __FILE__, __LINE__);
    HookupProxyPoint(proxyPoint);
  } catch (const KestBase::HRESULTException& exception) {
    ::Log(kContainerLogClass, kLogLevelWarning, "%s():  Exception - HRESULT = <0x%08X>",
                  "HookupActiveXCallBacks", static_cast<unsigned>(exception.GetHRESULT()));
  } catch (const KestBase::BaseException& exception) {
    ::Log(kContainerLogClass, kLogLevelWarning, "%s():  Exception - %S.  Extended Data = <%s>",
                  "HookupActiveXCallBacks", exception.GetErrorName().c_str(), exception.GetExtendedData().c_str());
  } catch (...) {
    ::Log(kContainerLogClass, kLogLevelWarning, "%s():  Exception - Unknown.",
                  "HookupActiveXCallBacks");
  }
}

void KestConnectionPointMT::HookupProxyPoint(IConnectionPoint* proxyPoint) {
  std::vector<DWORD> cookies;
  {
    std::lock_guard lock(mutex_);
    for (const ATL::CComPtr<IConnectionPoint>& hooked : hooked_) {
      if (hooked.IsEqualObject(proxyPoint)) return;
    }
    cookies = cookies_;
  }
  for (DWORD cookie : cookies) {
    DWORD tableCookie = 0;
    {
      std::lock_guard lock(mutex_);
      if (cookie != 0 && cookie <= slots_.size()) tableCookie = slots_[cookie - 1];
    }
    if (tableCookie != 0) ForwardAdvisory(cookie, tableCookie, proxyPoint);
  }
  std::lock_guard lock(mutex_);
  hooked_.emplace_back(proxyPoint);
}

void KestConnectionPointMT::ForwardAdvisory(DWORD localCookie, DWORD tableCookie, IConnectionPoint* proxyPoint) {
  ATL::CComPtr<IUnknown> sink;
  if (FAILED(table_->GetInterfaceFromGlobal(tableCookie, IID_IUnknown, reinterpret_cast<void**>(&sink)))) return;
  DWORD proxyCookie = 0;
  if (FAILED(proxyPoint->Advise(sink, &proxyCookie))) return;
  std::lock_guard lock(mutex_);
  forwarded_.push_back(ForwardedAdvisory{localCookie, proxyCookie, ATL::CComPtr<IConnectionPoint>(proxyPoint)});
}

}  // namespace KestAXLib
