// KestMT::CriticalSection and its scoped lock, AutoCriticalSection.
//
// A critical section is the in-process, recursive lock every KestMT object uses
// to guard its own fields: the owning thread may enter it again, and must leave
// it as often as it entered. It cannot be waited on with a time-out or bound to
// a thread's abort; use KestMT::Mutex for that.
#pragma once

#include "platform/sync/critical_section.h"

namespace KestMT {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();

  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Both throw KestBase::OutOfMemoryException when the section could not be
  // created, so that a failed section never silently guards nothing.
  void Enter();
  void Leave();

  // False when creating the OS section failed.
  bool IsInitialized() const { return m_initialized; }

 private:
  bool m_initialized;
  CRITICAL_SECTION m_section;
};

// Enters the section in its constructor and leaves it in its destructor.
class AutoCriticalSection {
 public:
  // A null section throws KestBase::InvalidObjectException; a section whose
  // creation failed throws KestBase::OutOfMemoryException from Enter.
  explicit AutoCriticalSection(CriticalSection* p_pCriticalSection);
  ~AutoCriticalSection();

  AutoCriticalSection(const AutoCriticalSection&) = delete;
  AutoCriticalSection& operator=(const AutoCriticalSection&) = delete;

 private:
  CriticalSection* m_pCriticalSection;
};

}  // namespace KestMT
