// The registry's lazy flusher: a hive changed now is flushed (Hive::Flush) a
// short while later, as the Windows registry writes a changed hive back a few
// seconds after the change, so a burst of writes pays for one disk sync.
//
// One process-wide instance with at most one thread, started when a flush is
// scheduled and ending as soon as nothing is left to flush; no thread runs
// while no hive has unflushed changes. At process exit the thread is stopped
// and whatever it was waiting for is flushed at once; a flush scheduled after
// that is done by the caller's thread. A forked child starts with an empty
// flusher of its own (the parent's thread does not exist there).
//
// The flusher's mutex is never held while a hive is flushed or while a
// hive's own mutex is held by the same thread (Schedule is called after
// Hive::Write has released it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestnet::platform::registry_store {

class Hive;

class LazyFlusher {
 public:
  // Windows' lazy flush interval.
  static constexpr std::chrono::seconds kDelay{5};

  static LazyFlusher& Instance();

  // Flushes the hive, if it is still open then, kDelay from now.
  void Schedule(std::weak_ptr<Hive> hive);

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    Clock::time_point due;
    std::weak_ptr<Hive> hive;
  };

  LazyFlusher() = default;
  void Run();
  // At exit: ends the thread and flushes everything pending now.
  void Stop();
  static void Flush(const std::weak_ptr<Hive>& hive);
  static void StopAtExit();
  static void PrepareFork();
  static void ParentAfterFork();
  static void ChildAfterFork();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Pending> pending_;  // mutex_
  std::thread thread_;            // started and joined under mutex_
  bool running_ = false;          // mutex_: thread_ is working through pending_
  bool stopped_ = false;          // mutex_: the process is exiting
};

}  // namespace kestnet::platform::registry_store
