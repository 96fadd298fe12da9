#include "platform/os/debug_output.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/os/last_error.h"
#include "platform/os/utf8.h"

namespace kestnet::platform {
namespace {

// Process-wide: the observer hook. Leaked on purpose so that lines written from
// static destructors still find it.
struct HookHolder {
  std::mutex mutex;
  std::function<void(std::string_view)> hook;
  // Whether hook is set, readable without the mutex.
  std::atomic<bool> hooked{false};
};

HookHolder& Hook() {
  static HookHolder* holder = new HookHolder();
  return *holder;
}

// One write(2) for the whole line: with O_APPEND the kernel places it at the
// end in one piece, so lines of several processes never interleave.
void WriteWhole(int fd, const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void Emit(std::string_view text) {
  std::string_view body = text;
  if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  {
    HookHolder& holder = Hook();
    std::lock_guard lock(holder.mutex);
    if (holder.hook) holder.hook(body);
  }
  const char* target = std::getenv("KESTNET_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0') return;
  std::string line(body);
  line += '\n';
  if (std::strcmp(target, "stderr") == 0) {
    WriteWhole(STDERR_FILENO, line);
  } else if (std::strcmp(target, "syslog") == 0) {
    ::syslog(LOG_USER | LOG_DEBUG, "%.*s", static_cast<int>(body.size()), body.data());
  } else {
    int fd = ::open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;  // nowhere to write: dropped, as with no debugger attached
    WriteWhole(fd, line);
    ::close(fd);
  }
}

}  // namespace

void SetDebugOutputHook(std::function<void(std::string_view)> hook) {
  HookHolder& holder = Hook();
  std::lock_guard lock(holder.mutex);
  holder.hook = std::move(hook);
  holder.hooked.store(static_cast<bool>(holder.hook), std::memory_order_release);
}

bool IsDebugOutputObserved() {
  if (Hook().hooked.load(std::memory_order_acquire)) return true;
  const char* target = std::getenv("KESTNET_DEBUG_OUTPUT");
  return target != nullptr && *target != '\0';
}

}  // namespace kestnet::platform

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  DWORD saved = GetLastError();
  kestnet::platform::Emit(lpOutputString);
  SetLastError(saved);
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  DWORD saved = GetLastError();
  kestnet::platform::Emit(kestnet::platform::Utf8FromWide(lpOutputString));
  SetLastError(saved);
}
