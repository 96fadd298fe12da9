// KestMT::Event: a manual-reset event, named or unnamed, created on first use.
//
// A named event is shared by every process of the same object scope; the
// logger uses named events to tell readers that new entries arrived. Wait can
// be bound to a KestMT::Thread, so that an abort of that thread ends the wait
// with KestMT::ThreadAbortException. Every operation on an event whose OS
// object cannot be created throws KestBase::InvalidObjectException.
#pragma once

#include <string>

#include "platform/os/win_types.h"
#include "runtime/critical_section.h"
#include "runtime/mutex.h"

namespace KestMT {

class Thread;

class Event {
 public:
  Event();
  virtual ~Event();

  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Sets the name (empty: unnamed) and security attributes used when the OS
  // event is created. False once the OS event exists.
  virtual bool Config(const std::string& p_strName, const SECURITY_ATTRIBUTES* p_pSecurityAttributes);
  // Each returns false (and logs) when the OS call fails.
  virtual bool Reset();
  virtual bool Set();
  // Releases the threads waiting at this moment and leaves the event reset.
  virtual bool Pulse();
  // Waits up to p_dwTimeout ms (INFINITE for no limit): true when signalled,
  // false on time-out; an abort of p_pBoundThread throws ThreadAbortException.
  virtual bool Wait(DWORD p_dwTimeout, Thread* p_pBoundThread);
  virtual bool Wait(DWORD p_dwTimeout);

  // The OS event, created if needed; null when it cannot be created.
  HANDLE GetHandle();
  // True when creating the OS event opened a named event that already existed.
  bool AlreadyExisted();

 private:
  // Creates the OS event once; m_lock held.
  HANDLE CreateLocked();
  // GetHandle, or InvalidObjectException when there is none.
  HANDLE RequireHandle();

  CriticalSection m_lock;  // guards the fields below
  bool m_bAlreadyExisted = false;
  std::string m_strName;
  SecurityAttributesCopy m_security;
  HANDLE m_hEvent = nullptr;
};

}  // namespace KestMT
