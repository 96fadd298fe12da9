// KestMT::Mutex, its scoped owner AutoLockMutex, and the security-attribute
// copy that Mutex and Event keep for their lazily created OS objects.
//
// A Mutex is a recursive OS mutex, named (shared with every process of the same
// object scope) or unnamed, created on first use. Acquire can be bound to a
// KestMT::Thread: if that thread is aborted while waiting, the wait throws
// KestMT::ThreadAbortException instead of going on. A mutex left by a thread or
// process that ended while owning it is acquired normally (the state it guards
// may be half-written; the owner of that state decides what to do about it).
//
// Once the OS mutex exists it never changes, so Acquire and Release read it
// without the object's lock and go to it through its resolved object: taking
// a free mutex, or one the caller already holds, costs no lock besides the
// mutex itself. A wait that must sleep, or that is bound to a thread, is an
// ordinary wait on the handles.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os/win_types.h"
#include "platform/sync/mutex.h"
#include "runtime/critical_section.h"

namespace KestMT {

class Thread;

// An owned copy of SECURITY_ATTRIBUTES: the descriptor is kept as one
// self-relative block, so the caller's attributes may go away after Config.
class SecurityAttributesCopy {
 public:
  SecurityAttributesCopy() = default;
  SecurityAttributesCopy(const SecurityAttributesCopy&) = delete;
  SecurityAttributesCopy& operator=(const SecurityAttributesCopy&) = delete;

  // Replaces the copy; null clears it. False (copy cleared) when the
  // descriptor is invalid or cannot be copied.
  bool Assign(const SECURITY_ATTRIBUTES* p_pAttributes);
  // The attributes to create the object with, or null when none were given.
  LPSECURITY_ATTRIBUTES Get();

 private:
  bool m_bPresent = false;
  SECURITY_ATTRIBUTES m_attributes{};
  // 8-byte units keep the descriptor's pointer fields aligned.
  std::vector<std::uint64_t> m_descriptor;
};

class Mutex {
 public:
  Mutex();
  virtual ~Mutex();

  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Sets the name (empty: unnamed) and security attributes used when the OS
  // mutex is created. False once the OS mutex exists.
  virtual bool Config(const std::string& p_strName, const SECURITY_ATTRIBUTES* p_pSecurityAttributes);
  // Waits up to p_dwTimeout ms (INFINITE for no limit). True when obtained
  // (also when abandoned by its previous owner), false on time-out. Throws
  // ThreadAbortException when p_pBoundThread is aborted during the wait, and
  // InvalidObjectException when the OS mutex cannot be created.
  virtual bool Acquire(DWORD p_dwTimeout, Thread* p_pBoundThread);
  virtual bool Acquire(DWORD p_dwTimeout);
  virtual void Release();

  // The OS mutex, created if needed; null when it cannot be created.
  HANDLE GetHandle();

  // Declares that every take of this mutex is released by the thread that
  // took it, before that thread ends, and that this object outlives every
  // release: the scoped locks of an owner that lives as long as the process
  // (the logger's ring mutex). Takes then leave out the bookkeeping a thread
  // keeps of the mutexes it owns. Call before the first Acquire.
  void DeclareScopedTakesOnly() { m_bScopedTakesOnly = true; }

 private:
  // Creates the OS mutex once; m_lock held.
  HANDLE CreateLocked();
  // The OS mutex once created, else null; without m_lock.
  HANDLE CreatedHandle() const { return m_bCreated.load(std::memory_order_acquire) ? m_hMutex : nullptr; }

  CriticalSection m_lock;  // guards the fields below until m_bCreated is set
  std::string m_strName;
  SecurityAttributesCopy m_security;
  // Written once, under m_lock, before m_bCreated is set; fixed from then on.
  HANDLE m_hMutex = nullptr;
  kestnet::platform::ResolvedMutex m_resolved;
  std::atomic<bool> m_bCreated{false};
  bool m_bScopedTakesOnly = false;  // set before the first Acquire, then fixed
};

// How a wait on one object, optionally bound to a thread, ended.
enum class BoundWaitResult {
  kObtained,  // the object was signalled (or, for a mutex, abandoned)
  kTimeout,
  kThreadAborted,  // the bound thread ended or its yield event was signalled
  kFailed,         // the wait itself failed or returned something unexpected
};

// Waits for p_hObject and, when p_pBoundThread is given, that thread's handle
// and yield event. A bound thread that has no handle (never started) throws
// InvalidOperationException, logged under p_szClassName.
BoundWaitResult WaitBoundToThread(HANDLE p_hObject, DWORD p_dwTimeout, Thread* p_pBoundThread,
                                  const char* p_szClassName);

// Owns one acquisition of a Mutex for its lifetime.
class AutoLockMutex {
 public:
  // Null p_pMutex throws InvalidParameterException; not obtaining the mutex
  // within p_dwTimeout throws AutoLockTimeoutException; an abort of
  // p_pBoundThread throws ThreadAbortException.
  AutoLockMutex(Mutex* p_pMutex, DWORD p_dwTimeout, Thread* p_pBoundThread = nullptr);
  ~AutoLockMutex();

  AutoLockMutex(const AutoLockMutex&) = delete;
  AutoLockMutex& operator=(const AutoLockMutex&) = delete;

 private:
  Mutex* m_pMutex;
};

}  // namespace KestMT
