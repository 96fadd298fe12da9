// KestNet::WindowsNetwork: host information lookups by NetBIOS name.
//
// GetHostInfo checks its arguments, starts one GetHostInfoThread for the
// host name (with its leading backslashes, exactly as given, so "\\Host" and
// "\\host" are two lookups) and returns at once; the worker finds the host's
// address and MAC by a NetBIOS name query on each adapter, asks its server
// service for version, platform and comment, and reports through
// GetHostInfoResponse, which frees the name and calls the caller's
// GetHostInfoListener exactly once. One lookup per name runs at a time.
//
// Destroying the object aborts every lookup still running and waits for each
// worker to end; their listeners are not called, except by a worker that was
// already inside its report.
#pragma once

#include <string>

#include "netsys/get_host_info_listener.h"
#include "netsys/get_host_info_result.h"
#include "platform/os/win_types.h"
#include "runtime/thread_manager.h"

namespace KestMT {
class Thread;
}

namespace KestNet {

class GetHostInfoThread;

class WindowsNetwork {
 public:
  WindowsNetwork();
  virtual ~WindowsNetwork();

  WindowsNetwork(const WindowsNetwork&) = delete;
  WindowsNetwork& operator=(const WindowsNetwork&) = delete;

  // Throws InvalidParameterException for an empty name or a null listener,
  // InvalidOperationException while a lookup of p_cstrwHostName runs and
  // InvalidObjectException when the worker cannot be made or started. The
  // listener is not owned and must outlive the lookup.
  virtual void GetHostInfo(const std::wstring& p_cstrwHostName, GetHostInfoListener* p_pListener);
  // Stops the lookup of p_cstrwHostName; its listener then hears
  // GETHOSTINFO_ABORTED (or the outcome already reached). An unknown name is
  // ignored; an empty one throws InvalidParameterException.
  virtual void AbortGetHostInfo(const std::wstring& p_cstrwHostName);
  // Called by a worker at its end, on the worker's thread.
  virtual void GetHostInfoResponse(KestMT::Thread* p_pThread);

 private:
  KestThreadManager<GetHostInfoThread> m_threads;
};

}  // namespace KestNet
