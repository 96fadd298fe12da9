#include "platform/com/scoped_com_initializer.h"

namespace kestnet::platform {

HRESULT ScopedComInitializer::Enter(Model model) {
  if (model == kMultithreadedUnlessInitialized) {
    if (SUCCEEDED(CheckComInitialized())) return S_OK;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    entered_ = SUCCEEDED(hr);
    return hr;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (hr == RPC_E_CHANGED_MODE && model == kWorkerThread) hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  entered_ = SUCCEEDED(hr);
  return hr;
}

}  // namespace kestnet::platform
