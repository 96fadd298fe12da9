#include "runtime/critical_section.h"

#include "runtime/exceptions.h"
#include "runtime/mt_log.h"

namespace KestMT {
namespace {

constexpr const char* kCriticalSectionClass = "KestMT::CriticalSection";
constexpr const char* kAutoCriticalSectionClass = "KestMT::AutoCriticalSection";

// A short spin before sleeping: the sections guard a handful of fields, so the
// owner usually leaves within a few hundred cycles.
constexpr DWORD kSpinCount = 4000;

}  // namespace

CriticalSection::CriticalSection()
    : m_initialized(InitializeCriticalSectionAndSpinCount(&m_section, kSpinCount) != FALSE) {}

CriticalSection::~CriticalSection() {
  if (m_initialized) {
    DeleteCriticalSection(&m_section);
  }
}

void CriticalSection::Enter() {
  if (!m_initialized) {
    ThrowLogged<KestBase::OutOfMemoryException>(kCriticalSectionClass);
  }
  EnterCriticalSection(&m_section);
}

void CriticalSection::Leave() {
  if (!m_initialized) {
    ThrowLogged<KestBase::OutOfMemoryException>(kCriticalSectionClass);
  }
  LeaveCriticalSection(&m_section);
}

AutoCriticalSection::AutoCriticalSection(CriticalSection* p_pCriticalSection)
    : m_pCriticalSection(p_pCriticalSection) {
  if (m_pCriticalSection == nullptr) {
    ThrowLogged<KestBase::InvalidObjectException>(kAutoCriticalSectionClass);
  }
  m_pCriticalSection->Enter();
}

AutoCriticalSection::~AutoCriticalSection() {
  try {
    m_pCriticalSection->Leave();
  } catch (...) {
    MTLog(kAutoCriticalSectionClass, 1, "%s():  Destructor exception.", "~AutoCriticalSection");
  }
}

}  // namespace KestMT
