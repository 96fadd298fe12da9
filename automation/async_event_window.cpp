#include "automation/async_event_window.h"

#include <utility>
#include <vector>

#include "runtime/log.h"

namespace KestBase {
namespace {

constexpr const wchar_t* kWindowClassName = L"KestBase::CAsyncEventMgrWnd";
constexpr const wchar_t* kWindowName = L"KestAsyncEventMgrWnd";
constexpr DWORD kPopupStyle = 0x80000000;  // WS_POPUP: never shown

// The window class, registered on first use and unregistered when the module
// unloads, so a module loaded again never meets a class whose procedure
// pointed into its previous image.
class WindowClass {
 public:
  explicit WindowClass(WNDPROC procedure) {
    WNDCLASSEXW description{};
    description.cbSize = sizeof(description);
    description.lpfnWndProc = procedure;
    description.lpszClassName = kWindowClassName;
    registered_ = RegisterClassExW(&description) != 0;
  }
  ~WindowClass() {
    if (registered_) UnregisterClassW(kWindowClassName, nullptr);
  }
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

 private:
  bool registered_ = false;
};

}  // namespace

CAsyncEventData::~CAsyncEventData() = default;

void LogInvalidEventRecord(const char* className, DWORD eventId) {
  Log(className, kLogLevelWarning,
      "HandleAsyncEventMessage() - Received an invalid CAsyncEventData pointer for async event ID [%d], ignoring.",
      static_cast<int>(eventId));
}

CAsyncEventMgrWnd::CAsyncEventMgrWnd() {
  static WindowClass windowClass(&CAsyncEventMgrWnd::WindowProcedure);
  HWND created = CreateWindowExW(0, kWindowClassName, kWindowName, kPopupStyle, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, this);
  std::lock_guard lock(m_postMutex);
  m_hWnd = created;
}

CAsyncEventMgrWnd::~CAsyncEventMgrWnd() { DestroyAsyncEventWindow(); }

BOOL CAsyncEventMgrWnd::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                             DWORD mapId) {
  if (mapId != 0 || message != kAsyncEventMessage) return FALSE;
  auto* record = reinterpret_cast<CAsyncEventData*>(lParam);
  {
    std::lock_guard lock(m_postMutex);
    // A record not on the list is not ours to touch (a message someone else
    // posted with this number).
    if (m_inFlight.erase(record) == 0) record = nullptr;
  }
  lResult = 0;
  if (record != nullptr) HandleAsyncEventMessage(static_cast<DWORD>(wParam & 0xFFFFFFFFu), record);
  return TRUE;
}

WNDPROC CAsyncEventMgrWnd::GetWindowProc() { return &CAsyncEventMgrWnd::WindowProcedure; }

void CAsyncEventMgrWnd::OnFinalMessage(HWND) {}

bool CAsyncEventMgrWnd::PostAsyncEvent(DWORD eventId, CAsyncEventData* record) {
  if (record == nullptr) return false;
  {
    std::lock_guard lock(m_postMutex);
    if (m_hWnd != nullptr) {
      try {
        m_inFlight.insert(record);
      } catch (...) {
        delete record;
        return false;
      }
      if (PostMessageW(m_hWnd, kAsyncEventMessage, eventId, reinterpret_cast<LPARAM>(record))) return true;
      m_inFlight.erase(record);
    }
  }
  delete record;
  return false;
}

void CAsyncEventMgrWnd::DestroyAsyncEventWindow() {
  HWND window = nullptr;
  std::vector<CAsyncEventData*> dropped;
  {
    std::lock_guard lock(m_postMutex);
    window = std::exchange(m_hWnd, nullptr);
    dropped.assign(m_inFlight.begin(), m_inFlight.end());
    m_inFlight.clear();
  }
  if (window != nullptr && IsWindow(window)) {
    // Unbound first: should the window outlive this call (released on a
    // thread other than its own, where it cannot be destroyed), its procedure
    // no longer reaches this object.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  for (CAsyncEventData* record : dropped) delete record;
}

bool CAsyncEventMgrWnd::AsyncEventWindowExists() const {
  std::lock_guard lock(m_postMutex);
  return m_hWnd != nullptr;
}

LRESULT CAsyncEventMgrWnd::WindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<CAsyncEventMgrWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    if (window != nullptr) window->OnFinalMessage(hWnd);
    return DefWindowProcW(hWnd, message, wParam, lParam);
  }
  LRESULT result = 0;
  if (window != nullptr && window->ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0)) return result;
  return DefWindowProcW(hWnd, message, wParam, lParam);
}

}  // namespace KestBase
