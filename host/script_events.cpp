// Events: a sink advised on an object's default source interface (found
// through IProvideClassInfo2, named through the coclass's type information)
// whose Invoke calls the script's global function prefix + event name.
#include <string>

#include "host/script_internal.h"
#include "platform/com/ole_site.h"
#include "platform/com/ref_count.h"

namespace kestnet::host::script {

class EventSink final : public IDispatch {
 public:
  EventSink(RunState* state, IID source, ATL::CComPtr<ITypeInfo> sourceInfo, std::string prefix)
      : state_(state), source_(source), sourceInfo_(std::move(sourceInfo)), prefix_(std::move(prefix)) {}

  // After this the sink answers every call with S_OK and touches nothing of
  // the run: an object may still hold it after it was unadvised.
  void Detach() { state_ = nullptr; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == source_) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (result != nullptr) VariantInit(result);
    if (state_ == nullptr || state_->ending != RunState::Ending::kNone) return S_OK;
    std::string handler = prefix_ + EventName(dispid);
    duk_context* ctx = state_->ctx;
    // A handler the script does not define is an event it does not want.
    if (!duk_get_global_string(ctx, handler.c_str()) || !duk_is_callable(ctx, -1)) {
      duk_pop(ctx);
      return S_OK;
    }
    UINT count = params == nullptr ? 0 : params->cArgs;
    duk_idx_t pushed = 0;
    try {
      for (UINT i = 0; i < count; ++i) {
        PushVariant(ctx, params->rgvarg[count - 1 - i]);
        ++pushed;
      }
    } catch (const ScriptFailure& failure) {
      duk_pop_n(ctx, pushed + 1);
      state_->ending = RunState::Ending::kError;
      state_->endingMessage = state_->scriptName + ": event " + handler + ": " + failure.message;
      return S_OK;
    }
    if (duk_pcall(ctx, static_cast<duk_idx_t>(count)) != DUK_EXEC_SUCCESS &&
        state_->ending == RunState::Ending::kNone) {
      // Nothing called the handler from the script, so the error ends the run
      // where the script waits (WScript.Sleep or the call that fired it).
      state_->ending = RunState::Ending::kError;
      state_->endingMessage = DescribeError(ctx, -1, state_->scriptName);
    }
    duk_pop(ctx);
    return S_OK;
  }

 private:
  ~EventSink() = default;

  std::string EventName(DISPID dispid) const {
    if (sourceInfo_) {
      BSTR name = nullptr;
      UINT found = 0;
      if (SUCCEEDED(sourceInfo_->GetNames(dispid, &name, 1, &found)) && found == 1 && name != nullptr) {
        std::string text = Utf8(name, SysStringLen(name));
        SysFreeString(name);
        return text;
      }
    }
    return std::to_string(dispid);
  }

  RunState* state_;
  IID source_;
  ATL::CComPtr<ITypeInfo> sourceInfo_;
  std::string prefix_;
  kestnet::platform::RefCount refCount_;
};

namespace {

// The type information of the coclass's default source interface, for the
// names of its events; null when the object does not describe it.
ATL::CComPtr<ITypeInfo> DefaultSourceInfo(IProvideClassInfo* classInfo) {
  ATL::CComPtr<ITypeInfo> coclass;
  if (FAILED(classInfo->GetClassInfo(&coclass)) || !coclass) return {};
  TYPEATTR* attributes = nullptr;
  if (FAILED(coclass->GetTypeAttr(&attributes)) || attributes == nullptr) return {};
  WORD implemented = attributes->cImplTypes;
  coclass->ReleaseTypeAttr(attributes);
  for (UINT i = 0; i < implemented; ++i) {
    INT flags = 0;
    if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
    if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) {
      continue;
    }
    HREFTYPE reference = 0;
    ATL::CComPtr<ITypeInfo> source;
    if (SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference)) &&
        SUCCEEDED(coclass->GetRefTypeInfo(reference, &source))) {
      return source;
    }
  }
  return {};
}

}  // namespace

void ConnectEvents(duk_context* ctx, IDispatch* object, const std::string& prefix) {
  ATL::CComPtr<IProvideClassInfo2> classInfo;
  HRESULT hr = object->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo));
  if (FAILED(hr)) Fail("The object does not describe its events (no IProvideClassInfo2), so none can be connected", hr);
  IID source{};
  hr = classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
  if (FAILED(hr)) Fail("The object has no default event interface: " + HResultDescription(hr), hr);
  ATL::CComPtr<IConnectionPointContainer> container;
  hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (FAILED(hr)) Fail("The object has no connection points: " + HResultDescription(hr), hr);
  ATL::CComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(source, &point);
  if (FAILED(hr)) Fail("The object has no connection point for its events: " + HResultDescription(hr), hr);

  RunState& state = StateOf(ctx);
  Connection connection;
  hr = object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&connection.objectIdentity));
  if (FAILED(hr)) Fail("The object does not answer IUnknown", hr);
  auto* sink = new EventSink(&state, source, DefaultSourceInfo(classInfo), prefix);
  hr = point->Advise(sink, &connection.cookie);
  if (FAILED(hr)) {
    sink->Detach();
    sink->Release();
    Fail("Could not connect to the object's events: " + HResultDescription(hr), hr);
  }
  connection.point = point;
  connection.sink = sink;
  state.connections.push_back(std::move(connection));
}

namespace {

void Undo(Connection& connection) {
  connection.point->Unadvise(connection.cookie);
  connection.sink->Detach();
  connection.sink->Release();
  connection.sink = nullptr;
}

}  // namespace

size_t DisconnectEvents(RunState& state, IDispatch* object) {
  ATL::CComPtr<IUnknown> identity;
  if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) return 0;
  size_t undone = 0;
  for (auto it = state.connections.begin(); it != state.connections.end();) {
    if (it->objectIdentity == identity) {
      Undo(*it);
      it = state.connections.erase(it);
      ++undone;
    } else {
      ++it;
    }
  }
  return undone;
}

void DisconnectAll(RunState& state) {
  // Taken out first: an object's Unadvise may release things that call back.
  std::vector<Connection> connections = std::move(state.connections);
  state.connections.clear();
  for (Connection& connection : connections) Undo(connection);
}

}  // namespace kestnet::host::script
