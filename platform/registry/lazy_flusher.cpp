#include "platform/registry/lazy_flusher.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/registry/hive.h"

namespace kestnet::platform::registry_store {
namespace {

// The instance in use; a forked child replaces it (see ChildAfterFork).
LazyFlusher* g_instance = nullptr;
// The parent's instance in a forked child: unusable there (its mutex may be
// held by a thread that was not copied), kept reachable on purpose.
LazyFlusher* g_abandonedInParent = nullptr;

}  // namespace

LazyFlusher& LazyFlusher::Instance() {
  static const bool registered = [] {
    g_instance = new LazyFlusher();
    std::atexit(&LazyFlusher::StopAtExit);
    pthread_atfork(&LazyFlusher::PrepareFork, &LazyFlusher::ParentAfterFork, &LazyFlusher::ChildAfterFork);
    return true;
  }();
  (void)registered;
  return *g_instance;
}

void LazyFlusher::Schedule(std::weak_ptr<Hive> hive) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopped_) {
      pending_.push_back(Pending{Clock::now() + kDelay, std::move(hive)});
      if (!running_) {
        // A thread that ran out of work has ended or is about to: joining it
        // takes no longer than its last return.
        if (thread_.joinable()) thread_.join();
        running_ = true;
        thread_ = std::thread(&LazyFlusher::Run, this);
      }
      return;
    }
  }
  Flush(hive);
}

void LazyFlusher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!pending_.empty() && !stopped_) {
    const auto earliest = std::min_element(pending_.begin(), pending_.end(),
                                           [](const Pending& a, const Pending& b) { return a.due < b.due; });
    if (Clock::now() < earliest->due) {
      wake_.wait_until(lock, earliest->due);
      continue;
    }
    std::weak_ptr<Hive> due = std::move(earliest->hive);
    pending_.erase(earliest);
    lock.unlock();
    Flush(due);
    lock.lock();
  }
  running_ = false;
}

void LazyFlusher::Stop() {
  std::vector<Pending> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    wake_.notify_all();
  }
  // Run ends at its next look at stopped_; nothing else starts it now.
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(pending_);
  }
  for (const Pending& pending : left) Flush(pending.hive);
}

void LazyFlusher::Flush(const std::weak_ptr<Hive>& hive) {
  const std::shared_ptr<Hive> open = hive.lock();
  if (!open) return;  // closed meanwhile, which flushed it
  try {
    open->Flush();
  } catch (const StoreError&) {
    // The changes stay committed; the hive's next flush tries again.
  }
}

void LazyFlusher::StopAtExit() { g_instance->Stop(); }

void LazyFlusher::PrepareFork() { g_instance->mutex_.lock(); }

void LazyFlusher::ParentAfterFork() { g_instance->mutex_.unlock(); }

void LazyFlusher::ChildAfterFork() {
  // The thread was not copied into the child, and the std::thread object
  // that names it must never be joined or destroyed here.
  g_abandonedInParent = g_instance;
  g_instance = new LazyFlusher();
}

}  // namespace kestnet::platform::registry_store
