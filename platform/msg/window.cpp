#include <cwctype>
#include <map>
#include <new>
#include <unordered_map>

#include "platform/msg/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/sync/thread.h"

namespace kestnet::platform {
namespace {

constexpr ATOM kFirstClassAtom = 0xC000;  // where Windows numbers registered classes from

// Process-wide tables, leaked on purpose: windows may be posted to from static
// destructors of other libraries.
struct ClassTable {
  std::mutex mutex;
  std::map<std::wstring, std::shared_ptr<WindowClass>> byName;  // key: lower-case name
  ATOM nextAtom = kFirstClassAtom;
};

struct WindowTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;
  std::uintptr_t nextHandle = 0x20000;
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable();
  return *table;
}

WindowTable& Windows() {
  static WindowTable* table = new WindowTable();
  return *table;
}

// Class names compare without regard to case, as on Windows.
std::wstring ClassKey(const std::wstring& name) {
  std::wstring key = name;
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return key;
}

// A class named by string or by atom (MAKEINTATOM: a pointer value below 0x10000).
std::shared_ptr<WindowClass> FindClass(LPCWSTR name) {
  ClassTable& table = Classes();
  std::lock_guard lock(table.mutex);
  auto value = reinterpret_cast<std::uintptr_t>(name);
  if (value < 0x10000) {
    for (const auto& [key, windowClass] : table.byName) {
      if (windowClass->atom == value) return windowClass;
    }
    return nullptr;
  }
  auto found = table.byName.find(ClassKey(name));
  return found == table.byName.end() ? nullptr : found->second;
}

void Unregister(const std::shared_ptr<Window>& window) {
  {
    WindowTable& table = Windows();
    std::lock_guard lock(table.mutex);
    table.windows.erase(reinterpret_cast<std::uintptr_t>(window->handle));
  }
  window->alive.store(false, std::memory_order_release);
  window->windowClass->windowCount.fetch_sub(1, std::memory_order_acq_rel);
  window->queue->ForgetWindow(window->handle);
}

}  // namespace

std::shared_ptr<Window> FindLiveWindow(HWND hwnd) {
  WindowTable& table = Windows();
  std::lock_guard lock(table.mutex);
  auto found = table.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (found == table.windows.end() || !found->second->alive.load(std::memory_order_acquire)) return nullptr;
  return found->second;
}

void ForgetWindowsOfCurrentThread() {
  DWORD self = GetCurrentThreadId();
  std::vector<std::shared_ptr<Window>> mine;
  {
    WindowTable& table = Windows();
    std::lock_guard lock(table.mutex);
    for (const auto& [handle, window] : table.windows) {
      if (window->threadId == self) mine.push_back(window);
    }
  }
  for (const auto& window : mine) Unregister(window);
}

LRESULT CallProcedure(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = window->procedure.load(std::memory_order_acquire);
  return procedure != nullptr ? procedure(window->handle, message, wParam, lParam) : 0;
}

}  // namespace kestnet::platform

using namespace kestnet::platform;

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXW) || lpwcx->lpfnWndProc == nullptr ||
      lpwcx->lpszClassName == nullptr || reinterpret_cast<std::uintptr_t>(lpwcx->lpszClassName) < 0x10000 ||
      *lpwcx->lpszClassName == L'\0' || lpwcx->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  try {
    auto windowClass = std::make_shared<WindowClass>();
    windowClass->name = lpwcx->lpszClassName;
    windowClass->procedure = lpwcx->lpfnWndProc;
    windowClass->extraBytes = lpwcx->cbWndExtra;
    windowClass->instance = lpwcx->hInstance;
    ClassTable& table = Classes();
    std::lock_guard lock(table.mutex);
    std::wstring key = ClassKey(windowClass->name);
    if (table.byName.count(key) != 0) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
    if (table.nextAtom == 0xFFFF) {  // the atom space is spent
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    windowClass->atom = table.nextAtom++;
    table.byName.emplace(std::move(key), windowClass);
    return windowClass->atom;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE /*hInstance*/) {
  if (lpClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<WindowClass> windowClass = FindClass(lpClassName);
  if (!windowClass) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  ClassTable& table = Classes();
  std::lock_guard lock(table.mutex);
  if (windowClass->windowCount.load(std::memory_order_acquire) > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  table.byName.erase(ClassKey(windowClass->name));
  return TRUE;
}

HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  if (lpClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<WindowClass> windowClass;
  {
    // Counted under the class table's lock, so UnregisterClassW sees it.
    std::shared_ptr<WindowClass> found = FindClass(lpClassName);
    ClassTable& classes = Classes();
    std::lock_guard lock(classes.mutex);
    if (!found || classes.byName.count(ClassKey(found->name)) == 0) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    found->windowCount.fetch_add(1, std::memory_order_acq_rel);
    windowClass = std::move(found);
  }
  std::shared_ptr<Window> window;
  try {
    window = std::make_shared<Window>();
    window->threadId = GetCurrentThreadId();
    window->queue = CurrentQueue();
    window->windowClass = windowClass;
    window->procedure.store(windowClass->procedure);
    window->instance = hInstance;
    window->id.store(reinterpret_cast<LONG_PTR>(hMenu));
    window->extra.assign((static_cast<std::size_t>(windowClass->extraBytes) + sizeof(LONG_PTR) - 1) / sizeof(LONG_PTR),
                         0);
    WindowTable& table = Windows();
    std::lock_guard lock(table.mutex);
    window->handle = reinterpret_cast<HWND>(table.nextHandle);
    table.nextHandle += 4;
    table.windows.emplace(reinterpret_cast<std::uintptr_t>(window->handle), window);
  } catch (const std::bad_alloc&) {
    windowClass->windowCount.fetch_sub(1, std::memory_order_acq_rel);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }

  CREATESTRUCTW create{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                       static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
  auto createAddress = reinterpret_cast<LPARAM>(&create);
  if (CallProcedure(window, WM_NCCREATE, 0, createAddress) == FALSE) {
    CallProcedure(window, WM_NCDESTROY, 0, 0);
    Unregister(window);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (CallProcedure(window, WM_CREATE, 0, createAddress) == -1) {
    DestroyWindow(window->handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return window->handle;
}

BOOL DestroyWindow(HWND hWnd) {
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (window->destroying) return TRUE;  // called again from its own WM_DESTROY
  window->destroying = true;
  CallProcedure(window, WM_DESTROY, 0, 0);
  CallProcedure(window, WM_NCDESTROY, 0, 0);
  Unregister(window);
  return TRUE;
}

BOOL IsWindow(HWND hWnd) { return FindLiveWindow(hWnd) ? TRUE : FALSE; }

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (lpdwProcessId != nullptr) *lpdwProcessId = GetCurrentProcessId();
  return window->threadId;
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    default:
      return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

namespace {

// The extra-bytes slot for a non-negative index, or nullptr.
LONG_PTR* ExtraSlot(const std::shared_ptr<Window>& window, int index) {
  if (index < 0 || index % static_cast<int>(sizeof(LONG_PTR)) != 0) return nullptr;
  auto slot = static_cast<std::size_t>(index) / sizeof(LONG_PTR);
  return slot < window->extra.size() ? &window->extra[slot] : nullptr;
}

}  // namespace

LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  // A previous value of 0 is told from failure by a last error of 0.
  SetLastError(ERROR_SUCCESS);
  switch (nIndex) {
    case GWLP_USERDATA:
      return window->userData.exchange(dwNewLong);
    case GWLP_WNDPROC:
      if (dwNewLong == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      return reinterpret_cast<LONG_PTR>(window->procedure.exchange(reinterpret_cast<WNDPROC>(dwNewLong)));
    case GWLP_ID:
      return window->id.exchange(dwNewLong);
    default:
      if (LONG_PTR* slot = ExtraSlot(window, nIndex); slot != nullptr && window->threadId == GetCurrentThreadId()) {
        LONG_PTR previous = *slot;
        *slot = dwNewLong;
        return previous;
      }
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) {
  std::shared_ptr<Window> window = FindLiveWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (nIndex) {
    case GWLP_USERDATA:
      return window->userData.load();
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(window->procedure.load());
    case GWLP_ID:
      return window->id.load();
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(window->instance);
    default:
      if (LONG_PTR* slot = ExtraSlot(window, nIndex); slot != nullptr && window->threadId == GetCurrentThreadId()) {
        return *slot;
      }
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}
