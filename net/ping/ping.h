// KestNet::Ping: the ICMP echo engine.
//
// EchoRequestAsync checks its arguments, starts one PingThread for the target
// and returns at once; the worker resolves a name if needed, sends one echo
// through the system's echo service and reports through PingResponse, which
// frees the target and calls the caller's PingListener exactly once. One
// request per target text (exactly as given, so "Host" and "host" are two
// targets) may run at a time.
//
// Destroying the engine aborts every worker still running and waits for each
// (an echo in flight returns within its ICMP time-out); their listeners are
// not called, except by a worker that was already inside its report.
#pragma once

#include <string>

#include "net/ping/ping_listener.h"
#include "net/ping/ping_result.h"
#include "platform/os/win_types.h"
#include "runtime/thread_manager.h"

namespace KestNet {

class PingThread;

class Ping {
 public:
  Ping();
  virtual ~Ping();

  Ping(const Ping&) = delete;
  Ping& operator=(const Ping&) = delete;

  // Throws InvalidParameterException for a bad argument,
  // InvalidOperationException while a request for p_cstrwTarget runs and
  // InvalidObjectException when the worker cannot be made or started. The
  // listener is not owned and must outlive the request.
  virtual void EchoRequestAsync(const std::wstring& p_cstrwTarget, PingListener* p_pListener,
                                DWORD p_dwDNSTimeout, DWORD p_dwICMPTimeout, DWORD p_dwTTL,
                                DWORD p_dwDataSize);
  // Stops the request for p_cstrwTarget and waits for its worker to end; the
  // listener then receives PING_ABORTED (or the outcome already reached). An
  // unknown target is ignored; an empty one throws InvalidParameterException.
  virtual void Abort(const std::wstring& p_cstrwTarget);
  // Called by a worker at its end, on the worker's thread.
  virtual void PingResponse(PingThread* p_pThread);

 private:
  KestThreadManager<PingThread> m_threads;
};

}  // namespace KestNet
