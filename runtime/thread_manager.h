// KestThreadManager<T>: owns a set of worker threads by a text key.
//
// An engine runs one asynchronous operation per target name (a host name, a
// query key) and keeps its worker here, so that a second request for the same
// name can be refused and an abort can find the worker. The manager owns every
// thread added to it and destroys it only once it is reapable: its body has
// ended and none of its callbacks (Thread::CallbackScope) is in progress. A
// thread that leaves the map (DeleteThread, AbortThread) goes to a reap list,
// and the first manager operation after that destroys it. That lets a worker
// remove its own entry, from inside its body or from a callback on another
// thread (a socket notification reporting the result), and lets that call
// reach the manager again without its object being destroyed under it.
//
// Locks: A (m_mapLock) guards the map, B (m_reapLock) the reap list. They are
// never held together except A then B, and threads are aborted and destroyed
// outside both, so a worker's body may call the manager while another thread
// aborts it.
//
// Key is the key's text type: std::wstring (a target exactly as the script
// gave it) by default, std::string for narrow keys such as lower-cased host
// names.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/os/win_types.h"
#include "runtime/critical_section.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"
#include "runtime/thread.h"

template <typename T, typename Key = std::wstring>
class KestThreadManager {
 public:
  KestThreadManager() = default;
  // Aborts and destroys every thread still held; never throws.
  ~KestThreadManager();

  KestThreadManager(const KestThreadManager&) = delete;
  KestThreadManager& operator=(const KestThreadManager&) = delete;

  // Takes ownership of p_pThread under p_key and returns true. A key already
  // in use is the ordinary "already running" answer: false, the thread stays
  // the caller's and the existing entry is untouched. A null thread throws
  // KestBase::InvalidParameterException.
  bool TryAddThread(const Key& p_key, T* p_pThread);
  // TryAddThread for callers that treat a key in use as an error: it throws
  // KestBase::InvalidParameterException (the thread then stays the caller's).
  void AddThread(const Key& p_key, T* p_pThread);
  // The thread under p_key (still owned by the manager); an unknown key
  // throws KestBase::InvalidParameterException.
  T* GetThread(const Key& p_key);
  bool HasThread(const Key& p_key);
  // Gives up one reference to the entry; the last one moves the thread to the
  // reap list. An unknown key is ignored.
  void DropThread(const Key& p_key);
  // DropThread; an unknown key is only logged.
  void DeleteThread(const Key& p_key);
  // Aborts the thread under p_key (waiting without limit for its body to end)
  // if it is running, then gives up the reference taken for that. The entry
  // stays until DeleteThread. An unknown key is ignored.
  void AbortThread(const Key& p_key);
  // Empties the map and the reap list, aborting (without limit) every thread
  // still running, and destroys every thread once callbacks of it on other
  // threads have returned. A thread with a callback in progress on the
  // calling thread itself cannot be destroyed without pulling the object
  // from under that callback: it is logged and left (leaked).
  void DeleteAllThreads();

 private:
  struct Entry {
    T* pThread;
    bool bReleased;
    LONG lReferenceCount;
  };

  static constexpr const char* kClassName = "KestThreadManager<T>";

  // Destroys every thread on the reap list that is reapable.
  void ReapThreads();
  void DropThreadWithoutReaping(const Key& p_key);
  // Aborts a thread without limit, logging instead of throwing.
  static void AbortWithoutLimit(T* p_pThread);

  KestMT::CriticalSection m_mapLock;  // A
  std::unordered_map<Key, Entry> m_threads;
  KestMT::CriticalSection m_reapLock;  // B
  std::vector<T*> m_reapList;
};

template <typename T, typename Key>
KestThreadManager<T, Key>::~KestThreadManager() {
  try {
    DeleteAllThreads();
    bool bLeftOver = false;
    {
      KestMT::AutoCriticalSection lockA(&m_mapLock);
      bLeftOver = !m_threads.empty();
    }
    {
      KestMT::AutoCriticalSection lockB(&m_reapLock);
      bLeftOver = bLeftOver || !m_reapList.empty();
    }
    if (bLeftOver) {
      KestMT::MTLog(kClassName, 1,
                    "ThreadManager(): ERROR - You must call DeleteAllThreads before this object destructs.");
    }
  } catch (...) {
    KestMT::MTLog(kClassName, 1, "%s():  Destructor exception.", "KestThreadManager::~KestThreadManager");
  }
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::AbortWithoutLimit(T* p_pThread) {
  try {
    p_pThread->Abort(INFINITE);
  } catch (const KestBase::BaseException& e) {
    KestMT::MTLog(kClassName, 1, "%s():  Exception - %S.  Extended Data = <%s>", "AbortThread",
                  e.GetErrorName().c_str(), e.GetExtendedData().c_str());
  }
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::ReapThreads() {
  // DropThread removes an entry as soon as it is released, so the map never
  // holds released entries: only the reap list needs a pass.
  std::vector<T*> candidates;
  {
    KestMT::AutoCriticalSection lockB(&m_reapLock);
    candidates.swap(m_reapList);
  }
  std::vector<T*> stillRunning;
  for (T* pThread : candidates) {
    if (pThread->IsReapable()) {
      // Waits for the OS thread to leave ThreadWrapper and tidies the flags.
      AbortWithoutLimit(pThread);
      if (pThread->IsReapable()) {
        delete pThread;
        continue;
      }
    }
    stillRunning.push_back(pThread);
  }
  if (!stillRunning.empty()) {
    KestMT::AutoCriticalSection lockB(&m_reapLock);
    m_reapList.insert(m_reapList.end(), stillRunning.begin(), stillRunning.end());
  }
}

template <typename T, typename Key>
bool KestThreadManager<T, Key>::TryAddThread(const Key& p_key, T* p_pThread) {
  ReapThreads();
  if (p_pThread == nullptr) {
    KestMT::MTLog(kClassName, 1, "%s - Invalid argument detected for parameter %s.", "AddThread",
                  "p_pThread");
    KestMT::ThrowLogged<KestBase::InvalidParameterException>(kClassName);
  }
  KestMT::AutoCriticalSection lockA(&m_mapLock);
  return m_threads.emplace(p_key, Entry{p_pThread, false, 1}).second;
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::AddThread(const Key& p_key, T* p_pThread) {
  if (!TryAddThread(p_key, p_pThread)) {
    KestMT::MTLog(kClassName, 1, "AddThread():  ERROR - This object already has a thread by that key/name.");
    KestMT::ThrowLogged<KestBase::InvalidParameterException>(kClassName);
  }
}

template <typename T, typename Key>
T* KestThreadManager<T, Key>::GetThread(const Key& p_key) {
  ReapThreads();
  KestMT::AutoCriticalSection lockA(&m_mapLock);
  auto found = m_threads.find(p_key);
  if (found == m_threads.end()) {
    KestMT::MTLog(kClassName, 1, "GetThread():  ERROR - There is no thread by key/name.");
    KestMT::ThrowLogged<KestBase::InvalidParameterException>(kClassName);
  }
  return found->second.pThread;
}

template <typename T, typename Key>
bool KestThreadManager<T, Key>::HasThread(const Key& p_key) {
  ReapThreads();
  KestMT::AutoCriticalSection lockA(&m_mapLock);
  return m_threads.find(p_key) != m_threads.end();
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::DropThreadWithoutReaping(const Key& p_key) {
  T* pReleased = nullptr;
  {
    KestMT::AutoCriticalSection lockA(&m_mapLock);
    auto found = m_threads.find(p_key);
    if (found == m_threads.end()) {
      return;
    }
    Entry& entry = found->second;
    --entry.lReferenceCount;
    if (entry.lReferenceCount < 1) {
      entry.bReleased = true;
      pReleased = entry.pThread;
      m_threads.erase(found);
    }
  }
  if (pReleased != nullptr) {
    KestMT::AutoCriticalSection lockB(&m_reapLock);
    m_reapList.push_back(pReleased);
  }
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::DropThread(const Key& p_key) {
  ReapThreads();
  DropThreadWithoutReaping(p_key);
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::DeleteThread(const Key& p_key) {
  ReapThreads();
  {
    KestMT::AutoCriticalSection lockA(&m_mapLock);
    if (m_threads.find(p_key) == m_threads.end()) {
      KestMT::MTLog(kClassName, 2, "DeleteThread():  Warning - There is no thread by that name/key.");
      return;
    }
  }
  DropThreadWithoutReaping(p_key);
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::AbortThread(const Key& p_key) {
  ReapThreads();
  T* pThread = nullptr;
  {
    KestMT::AutoCriticalSection lockA(&m_mapLock);
    auto found = m_threads.find(p_key);
    if (found == m_threads.end()) {
      return;
    }
    // The reference keeps the entry (and the thread) alive while it is
    // aborted, even if its body deletes its own entry meanwhile.
    ++found->second.lReferenceCount;
    pThread = found->second.pThread;
  }
  if (pThread->IsRunning()) {
    AbortWithoutLimit(pThread);
  }
  DropThreadWithoutReaping(p_key);
}

template <typename T, typename Key>
void KestThreadManager<T, Key>::DeleteAllThreads() {
  std::vector<T*> threads;
  {
    KestMT::AutoCriticalSection lockA(&m_mapLock);
    threads.reserve(m_threads.size());
    for (auto& keyAndEntry : m_threads) {
      threads.push_back(keyAndEntry.second.pThread);
    }
    m_threads.clear();
  }
  {
    KestMT::AutoCriticalSection lockB(&m_reapLock);
    threads.insert(threads.end(), m_reapList.begin(), m_reapList.end());
    m_reapList.clear();
  }
  for (T* pThread : threads) {
    if (pThread->IsRunning()) {
      AbortWithoutLimit(pThread);
    }
    if (pThread->IsInCallbackOnThisThread()) {
      KestMT::MTLog(kClassName, 1,
                    "DeleteAllThreads():  ERROR - A thread is deleted from inside its own callback; it is left "
                    "undestroyed.");
      continue;
    }
    pThread->WaitForCallbacksOnOtherThreads();
    delete pThread;
  }
}
