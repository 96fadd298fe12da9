// The hidden window that carries results from worker threads back to the
// thread that created an object.
//
// A listener callback (any thread) copies its arguments into a record derived
// from CAsyncEventData and hands it to PostAsyncEvent; the record travels as
// message 0x0401 (wParam the event id, lParam the record) and, on the
// object's own thread, HandleAsyncEventMessage fires the event and deletes the
// record.
//
// Ownership of records: PostAsyncEvent always takes the record. While it is in
// the queue the window keeps it on its list of records in flight; the window
// procedure takes it off the list and hands it to the handler, which deletes
// it. When the window is destroyed, records still in flight are deleted
// without being delivered, so an event posted after (or while) the object is
// released never fires and nothing leaks.
//
// The window belongs to the constructing thread, which must pump messages
// (an apartment-threaded thread waiting through MsgWait or the host's sleep).
#pragma once

#include <mutex>
#include <unordered_set>

#include "platform/msg/message.h"

namespace KestBase {

// Base of every event record; deleted through this destructor by the handler.
class CAsyncEventData {
 public:
  CAsyncEventData() = default;
  virtual ~CAsyncEventData();
  CAsyncEventData(const CAsyncEventData&) = delete;
  CAsyncEventData& operator=(const CAsyncEventData&) = delete;
};

// WM_USER + 1: the async event message.
inline constexpr UINT kAsyncEventMessage = 0x0401;

class CAsyncEventMgrWnd {
 public:
  // Creates the window at once, on the calling thread: no parent, empty
  // rectangle, name "KestAsyncEventMgrWnd", style WS_POPUP (not visible).
  CAsyncEventMgrWnd();
  CAsyncEventMgrWnd(const CAsyncEventMgrWnd&) = delete;
  CAsyncEventMgrWnd& operator=(const CAsyncEventMgrWnd&) = delete;

  // Handles message 0x0401 of map 0 by calling HandleAsyncEventMessage;
  // everything else is left to the default procedure.
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD mapId);
  // Destroys the window if it still exists (see DestroyAsyncEventWindow).
  virtual ~CAsyncEventMgrWnd();
  virtual WNDPROC GetWindowProc();
  virtual void OnFinalMessage(HWND hWnd);
  // Fires the event of record and deletes it; runs on the window's thread.
  virtual void HandleAsyncEventMessage(DWORD eventId, CAsyncEventData* record) = 0;

  // Any thread. Posts record with eventId while the window exists; otherwise
  // (or when the post fails) deletes it. Returns whether it was posted.
  bool PostAsyncEvent(DWORD eventId, CAsyncEventData* record);

  // Owner thread. Destroys the window and deletes the records still in
  // flight. Objects call it at final release, before their engines' state
  // goes; calling it again does nothing.
  void DestroyAsyncEventWindow();

  // Whether the window exists (any thread).
  bool AsyncEventWindowExists() const;

  HWND m_hWnd = nullptr;

 private:
  static LRESULT WindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Guards m_hWnd against posters and the records in flight. Never held
  // while the handler runs.
  mutable std::mutex m_postMutex;
  std::unordered_set<CAsyncEventData*> m_inFlight;
};

// Logs at level 1, under className, "HandleAsyncEventMessage() - Received an
// invalid CAsyncEventData pointer for async event ID [%d], ignoring."
void LogInvalidEventRecord(const char* className, DWORD eventId);

// The record of eventId as the class the handler expects, or null (logged as
// above) when it is of another class. The record is not deleted either way.
template <class Record>
Record* AsEventRecord(const char* className, DWORD eventId, CAsyncEventData* record) {
  auto* typed = dynamic_cast<Record*>(record);
  if (typed == nullptr) LogInvalidEventRecord(className, eventId);
  return typed;
}

}  // namespace KestBase
