#include "platform/com/apartment.h"

#include <atomic>

#include "platform/com/error_info.h"
#include "platform/msg/message.h"

namespace {

// Threads currently in the multithreaded apartment; while it is non-zero the
// implicit MTA exists for threads that never initialised.
std::atomic<int> g_mtaThreads{0};

struct ApartmentState {
  unsigned count = 0;
  bool singleThreaded = false;
  // A thread that ends without its last CoUninitialize leaves the MTA all the same.
  ~ApartmentState() {
    if (count > 0 && !singleThreaded) g_mtaThreads.fetch_sub(1, std::memory_order_acq_rel);
  }
};

thread_local ApartmentState t_apartment;

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved != nullptr || (dwCoInit & ~kKnownFlags) != 0) return E_INVALIDARG;
  bool singleThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
  ApartmentState& state = t_apartment;
  if (state.count > 0) {
    if (state.singleThreaded != singleThreaded) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  if (singleThreaded) {
    // Peeking creates the thread's message queue, as on Windows.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  } else {
    g_mtaThreads.fetch_add(1, std::memory_order_acq_rel);
  }
  state.singleThreaded = singleThreaded;
  state.count = 1;
  return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  ApartmentState& state = t_apartment;
  if (state.count == 0) return;
  if (--state.count > 0) return;
  SetErrorInfo(0, nullptr);
  if (!state.singleThreaded) g_mtaThreads.fetch_sub(1, std::memory_order_acq_rel);
  state.singleThreaded = false;
}

HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier) {
  if (pAptType == nullptr || pAptQualifier == nullptr) return E_INVALIDARG;
  *pAptQualifier = APTTYPEQUALIFIER_NONE;
  const ApartmentState& state = t_apartment;
  if (state.count > 0) {
    *pAptType = state.singleThreaded ? APTTYPE_STA : APTTYPE_MTA;
    return S_OK;
  }
  if (g_mtaThreads.load(std::memory_order_acquire) > 0) {
    *pAptType = APTTYPE_MTA;
    *pAptQualifier = APTTYPEQUALIFIER_IMPLICIT_MTA;
    return S_OK;
  }
  *pAptType = APTTYPE_CURRENT;
  return CO_E_NOTINITIALIZED;
}

namespace kestnet::platform {

HRESULT CheckComInitialized() {
  if (t_apartment.count > 0 || g_mtaThreads.load(std::memory_order_acquire) > 0) return S_OK;
  return CO_E_NOTINITIALIZED;
}

}  // namespace kestnet::platform
