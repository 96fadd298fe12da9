// The registry's lazy flusher: a hive changed now is flushed (Hive::Flush) a
// short while later, as the Windows registry writes a changed hive back a few
// seconds after the change, so a burst of writes pays for one disk sync.
//
// One process-wide instance with at most one thread, started when a flush is
// scheduled and ending as soon as nothing is left to flush; no thread runs
// while no hive has unflushed changes. Before a fork, and at process exit,
// the thread is ended and whatever it waited for is flushed at once, so a
// child starts with nothing it lacks (and the parent is not made
// multi-threaded by us at a fork); after exit has begun a flush scheduled is
// done on the caller's thread.
//
// Lock order: drainMutex_ before mutex_. Neither is held while a hive is
// flushed (a hive's own mutex is taken then), and Schedule is called after
// Hive::Write has released the hive's mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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
  // Ends the thread and flushes what it waited for on the caller's thread;
  // drainMutex_ held. Leaves paused_ set.
  void Drain();
  static void Flush(const std::weak_ptr<Hive>& hive);
  static void StopAtExit();
  static void PrepareFork();
  static void AfterFork();

  std::mutex drainMutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> pending_;   // mutex_, in the order they are due
  std::thread thread_;            // mutex_ to start; joined under drainMutex_ once paused_
  bool running_ = false;          // mutex_: thread_ is working through pending_
  bool paused_ = false;           // mutex_: no thread may run (draining, forking or exiting)
  bool exiting_ = false;          // mutex_: the process is exiting
};

}  // namespace kestnet::platform::registry_store
