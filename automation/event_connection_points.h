// The event sources of the scriptable objects: the standard connection point
// (one apartment, sink pointers in a dynamic array) and
// KestConnectionPointImplMT (sinks kept in the Global Interface Table, so an
// event may be fired from any apartment, with advisories forwarded to proxy
// controls).
//
// A connection point is a sub-object of its scriptable object: it answers
// QueryInterface for IUnknown and IConnectionPoint only, and counts its
// references on the object (through the container interface it was given).
// Each object's event proxy (event_proxies.h) holds one as a member.
//
// Firing never holds a lock while a sink runs: the sinks are collected first
// (each with its own reference), then called one after the other; a sink that
// fails or has gone does not stop the others.
#pragma once

#include <mutex>
#include <vector>

#include "platform/com/atl_ptr.h"
#include "platform/com/connection_points.h"
#include "platform/com/dispatch.h"
#include "platform/com/git.h"

namespace KestAXLib {

// What the Fire_ operations need from a connection point.
class EventSinkSource {
 public:
  // The sinks connected now, each as IDispatch with a reference.
  virtual std::vector<ATL::CComPtr<IDispatch>> SinksForFiring() = 0;

 protected:
  ~EventSinkSource() = default;
};

// Calls Invoke(dispid, IID_NULL, 0x0400, DISPATCH_METHOD, params) on every
// sink of source; returns the HRESULT of the last call (S_OK when there was
// no sink). Sink results are cleared and otherwise ignored.
HRESULT FireToSinks(EventSinkSource& source, DISPID dispid, DISPPARAMS* params);

class ConnectionPointBase : public IConnectionPoint, public EventSinkSource {
 public:
  ConnectionPointBase(const IID& eventInterface, IConnectionPointContainer* container)
      : eventInterface_(eventInterface), container_(container) {}
  ConnectionPointBase(const ConnectionPointBase&) = delete;
  ConnectionPointBase& operator=(const ConnectionPointBase&) = delete;
  virtual ~ConnectionPointBase() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;

  const IID& EventInterface() const { return eventInterface_; }

 protected:
  // The sink's event interface, or CONNECT_E_CANNOTCONNECT when it has none.
  HRESULT QueryEventInterface(IUnknown* sink, IUnknown** events) const;

 private:
  IID eventInterface_;
  IConnectionPointContainer* container_;  // not owned: the object this point belongs to
};

// The ordinary connection point of one apartment. Cookies are slot index + 1;
// freed slots are reused.
class StandardConnectionPoint : public ConnectionPointBase {
 public:
  using ConnectionPointBase::ConnectionPointBase;
  ~StandardConnectionPoint() override;

  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** enumerator) override;

  std::vector<ATL::CComPtr<IDispatch>> SinksForFiring() override;

 private:
  std::vector<IUnknown*> sinks_;  // one reference each; null = free slot
};

// The connection point whose sinks live in the Global Interface Table.
//
// Its slot array holds table cookies; it starts with 4 slots when the first
// sink advises and doubles when full. The connection cookie is slot index + 1.
// One mutex guards the slots and the lists below; it is held only while they
// are read or written, never while a sink, a proxy or the table is called
// back into (the table's own lock is taken after it, never before).
class KestConnectionPointMT : public ConnectionPointBase {
 public:
  KestConnectionPointMT(const IID& eventInterface, IConnectionPointContainer* container);
  ~KestConnectionPointMT() override;

  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** enumerator) override;

  std::vector<ATL::CComPtr<IDispatch>> SinksForFiring() override;

  // Advises every connected sink, and every later one, on the same event
  // interface of proxy (another instance of the class, made by the
  // elevation and control-host proxies). A proxy hooked before is skipped.
  // Failures are logged under "KestConnectionPointContainerImpl" and not
  // passed on.
  void HookupActiveXCallBacks(IUnknown* proxy);

  // How many slots the array has now (0 before the first advisory).
  size_t SlotCount() const;

 private:
  struct ForwardedAdvisory {
    DWORD localCookie;
    DWORD proxyCookie;
    ATL::CComPtr<IConnectionPoint> proxyPoint;
  };

  void HookupProxyPoint(IConnectionPoint* proxyPoint);
  // Advises the sink behind tableCookie on proxyPoint and records it.
  void ForwardAdvisory(DWORD localCookie, DWORD tableCookie, IConnectionPoint* proxyPoint);

  ATL::CComPtr<IGlobalInterfaceTable> table_;
  mutable std::mutex mutex_;
  std::vector<DWORD> slots_;                             // table cookies; 0 = free
  std::vector<DWORD> cookies_;                           // connection cookies handed out
  std::vector<ForwardedAdvisory> forwarded_;             // advisories made on proxies
  std::vector<ATL::CComPtr<IConnectionPoint>> hooked_;   // proxy points already hooked
};

}  // namespace KestAXLib

namespace ATL {

// The class names the object framework uses, bound to an object and its event interface.
template <class T, const IID* piid>
class IConnectionPointImpl : public KestAXLib::StandardConnectionPoint {
 public:
  explicit IConnectionPointImpl(IConnectionPointContainer* container)
      : KestAXLib::StandardConnectionPoint(*piid, container) {}
};

}  // namespace ATL

namespace KestAXLib {

template <class T, const IID* piid, class I = IDispatch>
class KestConnectionPointImplMT : public KestConnectionPointMT {
 public:
  explicit KestConnectionPointImplMT(IConnectionPointContainer* container) : KestConnectionPointMT(*piid, container) {}
};

}  // namespace KestAXLib
