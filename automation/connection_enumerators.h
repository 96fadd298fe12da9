// Snapshot enumerators for connection points: IEnumConnections over the
// connections made when it was created, and IEnumConnectionPoints over a
// container's points. Each holds its own references.
#pragma once

#include <vector>

#include "platform/com/connection_points.h"
#include "platform/com/ref_count.h"

namespace KestAXLib {

class ConnectionEnumerator final : public IEnumConnections {
 public:
  // Takes a reference on every pUnk of connections.
  explicit ConnectionEnumerator(std::vector<CONNECTDATA> connections);
  ConnectionEnumerator(const ConnectionEnumerator&) = delete;
  ConnectionEnumerator& operator=(const ConnectionEnumerator&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP Next(ULONG count, LPCONNECTDATA out, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumConnections** clone) override;

 private:
  ~ConnectionEnumerator();

  kestnet::platform::RefCount refCount_;
  std::vector<CONNECTDATA> connections_;
  size_t position_ = 0;
};

class ConnectionPointEnumerator final : public IEnumConnectionPoints {
 public:
  // Takes a reference on every point.
  explicit ConnectionPointEnumerator(std::vector<IConnectionPoint*> points);
  ConnectionPointEnumerator(const ConnectionPointEnumerator&) = delete;
  ConnectionPointEnumerator& operator=(const ConnectionPointEnumerator&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumConnectionPoints** clone) override;

 private:
  ~ConnectionPointEnumerator();

  kestnet::platform::RefCount refCount_;
  std::vector<IConnectionPoint*> points_;
  size_t position_ = 0;
};

}  // namespace KestAXLib
