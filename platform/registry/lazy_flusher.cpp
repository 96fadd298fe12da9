#include "platform/registry/lazy_flusher.h"

#include <pthread.h>

#include <cstdlib>
#include <utility>

#include "platform/registry/hive.h"

namespace kestnet::platform::registry_store {

LazyFlusher& LazyFlusher::Instance() {
  // Never destroyed: hives are flushed by it up to the end of the process.
  static LazyFlusher* const instance = [] {
    auto* created = new LazyFlusher();
    std::atexit(&LazyFlusher::StopAtExit);
    pthread_atfork(&LazyFlusher::PrepareFork, &LazyFlusher::AfterFork, &LazyFlusher::AfterFork);
    return created;
  }();
  return *instance;
}

void LazyFlusher::Schedule(std::weak_ptr<Hive> hive) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!paused_) {
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
  while (!pending_.empty() && !paused_) {
    // Every entry waits the same delay, so the first one is due first. Its
    // time is copied: the queue may grow while the lock is released.
    const Clock::time_point due = pending_.front().due;
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    const std::weak_ptr<Hive> hive = std::move(pending_.front().hive);
    pending_.pop_front();
    lock.unlock();
    Flush(hive);
    lock.lock();
  }
  running_ = false;
}

void LazyFlusher::Drain() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
    wake_.notify_all();
  }
  // Run ends at its next look at paused_, and nothing starts another.
  if (thread_.joinable()) thread_.join();
  std::deque<Pending> left;
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

void LazyFlusher::StopAtExit() {
  LazyFlusher& flusher = Instance();
  std::lock_guard<std::mutex> drain(flusher.drainMutex_);
  {
    std::lock_guard<std::mutex> lock(flusher.mutex_);
    flusher.exiting_ = true;
  }
  flusher.Drain();
}

// Both locks are held across the fork, so the child's copy of the flusher is
// whole: no thread, nothing pending, both locks held by the thread that forked.
void LazyFlusher::PrepareFork() {
  LazyFlusher& flusher = Instance();
  flusher.drainMutex_.lock();
  flusher.Drain();
  flusher.mutex_.lock();
}

void LazyFlusher::AfterFork() {
  LazyFlusher& flusher = Instance();
  flusher.paused_ = flusher.exiting_;
  flusher.mutex_.unlock();
  flusher.drainMutex_.unlock();
}

}  // namespace kestnet::platform::registry_store
