// The design floor of a resolver that gives every query an OS thread of its
// own: what the kernel and the C library alone charge for that design, with
// none of the resolver's code, to set beside the resolver and c-ares.
//
// For each name a new detached thread (1 MiB of stack, as a query thread
// gets) does the steps of a query up to one of three extents (Steps):
//   - kThreadOnly: it reports to the batch's counter and ends;
//   - kOwnPoll: before that, it opens a UDP socket, sends a minimal question
//     for the name's A records, polls the socket for the answer, reads it,
//     checks its ID and closes the socket;
//   - kEventThread: as kOwnPoll, but the socket joins the epoll set of one
//     shared event thread, which is woken through an eventfd as a socket
//     event thread is when a socket is added to it, and which wakes the
//     query thread through a futex when the answer is readable.
// Each extent's time over the one before is what its steps cost.
//
// Ownership: the object owns the event thread and the queries' records; it
// outlives its query threads (the destructor waits for them), and the
// records outlive the event thread, which may still hold one of a query that
// gave up waiting. Locks: m_lock (a leaf) guards the batch's counts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestnet::bench {

class ThreadPerQueryFloor {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Steps { kThreadOnly, kOwnPoll, kEventThread };

  ThreadPerQueryFloor(const std::string& p_server, Steps p_steps);
  // Waits for every query thread to end, then stops the event thread.
  ~ThreadPerQueryFloor();
  ThreadPerQueryFloor(const ThreadPerQueryFloor&) = delete;
  ThreadPerQueryFloor& operator=(const ThreadPerQueryFloor&) = delete;

  // Starts a thread for every name at once and returns when all have
  // reported. p_latencies receives each name's time from its thread's start
  // to its checked answer (or, with kThreadOnly, its report), in the order
  // of p_names. The number that failed.
  int ResolveAll(const std::vector<std::string>& p_names, std::vector<Clock::duration>& p_latencies);

 private:
  struct Query;

  static void* QueryThread(void* p_pQuery);
  // The socket steps of a query thread; true when a good answer came.
  bool RunQuery(Query& p_query);
  // True when the event thread said the socket is readable before the time-out.
  static bool WaitForReadable(Query& p_query);
  void RunEventThread();
  // Counts the query's outcome and the end of its thread.
  void Finish(bool p_bAnswered);

  const Steps m_steps;
  std::uint32_t m_server = 0;  // IPv4, network order
  int m_epoll = -1;
  int m_wake = -1;  // the event thread's eventfd
  std::atomic<bool> m_bStopping{false};
  std::thread m_eventThread;
  std::deque<Query> m_queries;  // every batch's, until the event thread is gone

  std::mutex m_lock;
  std::condition_variable m_changed;
  int m_iRunning = 0;   // query threads not yet ended
  int m_iExpected = 0;  // names of the current batch
  int m_iReported = 0;
  int m_iFailed = 0;
};

}  // namespace kestnet::bench
