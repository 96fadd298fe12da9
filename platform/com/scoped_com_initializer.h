// ScopedComInitializer: enters COM for a scope and leaves it when the scope
// ends, in the manner of Chromium's base/win/scoped_com_initializer.h.
//
// The model says which apartment the thread enters; whether a failure is
// thrown or reported through Succeeded() is the caller's choice:
//
//   // A worker thread: apartment-threaded, or the MTA it is already in;
//   // a failure throws.
//   ScopedComInitializer com(ScopedComInitializer::kWorkerThread,
//                            ThrowOnFailure<KestBase::HRESULTException>{});
//
//   // The host's apartment: a failure is reported.
//   ScopedComInitializer com(ScopedComInitializer::kApartmentThreaded);
//   if (!com.Succeeded()) ...
//
// CoUninitialize runs in the destructor only when this scope's
// CoInitializeEx succeeded, so a thread that could not enter stays as it was.
// Not copyable or movable: it belongs to the thread and scope that made it.
#pragma once

#include <source_location>

#include "platform/com/apartment.h"
#include "platform/com/hresult.h"

namespace kestnet::platform {

// Tag for the throwing constructor: Exception(hr, file, line) is thrown.
template <typename Exception>
struct ThrowOnFailure {};

class ScopedComInitializer {
 public:
  enum Model {
    // A single-threaded apartment; a thread already in the MTA fails with
    // RPC_E_CHANGED_MODE.
    kApartmentThreaded,
    // A single-threaded apartment, or the MTA again when the thread is
    // already in it: the rule for worker threads.
    kWorkerThread,
    // The MTA, entered only by a thread that cannot use COM yet; a thread in
    // an apartment, or covered by the implicit MTA, is left as it is.
    kMultithreadedUnlessInitialized,
  };

  explicit ScopedComInitializer(Model model) { hr_ = Enter(model); }

  template <typename Exception>
  ScopedComInitializer(Model model, ThrowOnFailure<Exception>,
                       const std::source_location& where = std::source_location::current())
      : ScopedComInitializer(model) {
    if (!Succeeded()) throw Exception(hr_, where.file_name(), where.line());
  }

  ~ScopedComInitializer() {
    if (entered_) CoUninitialize();
  }

  ScopedComInitializer(const ScopedComInitializer&) = delete;
  ScopedComInitializer& operator=(const ScopedComInitializer&) = delete;

  bool Succeeded() const { return SUCCEEDED(hr_); }
  HRESULT Result() const { return hr_; }

 private:
  HRESULT Enter(Model model);

  bool entered_ = false;
  HRESULT hr_ = E_FAIL;
};

}  // namespace kestnet::platform
