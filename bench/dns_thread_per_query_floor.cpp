// The design floor of a thread per query (see dns_thread_per_query_floor.h).
#include "bench/dns_thread_per_query_floor.h"

#include <arpa/inet.h>
#include <linux/futex.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace kestnet::bench {
namespace {

constexpr std::uint16_t kDnsPort = 53;
constexpr int kAnswerTimeoutMs = 5000;
// What a query thread is given (KestMT::Thread::kStackSize).
constexpr std::size_t kQueryStackSize = std::size_t{1} << 20;
constexpr int kReadyPerWait = 64;

// A query for the A records of p_name with recursion desired (RFC 1035
// §4.1): the header, the name as labels, QTYPE A, QCLASS IN.
std::vector<unsigned char> AQuestion(std::uint16_t p_id, const std::string& p_name) {
  std::vector<unsigned char> message = {static_cast<unsigned char>(p_id >> 8), static_cast<unsigned char>(p_id),
                                        0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
  for (std::size_t start = 0; start <= p_name.size();) {
    const std::size_t end = std::min(p_name.find('.', start), p_name.size());
    message.push_back(static_cast<unsigned char>(end - start));
    message.insert(message.end(), p_name.begin() + static_cast<std::ptrdiff_t>(start),
                   p_name.begin() + static_cast<std::ptrdiff_t>(end));
    start = end + 1;
  }
  message.insert(message.end(), {0, 0, 1, 0, 1});
  return message;
}

// A response (QR set) to p_id without an error RCODE.
bool IsAnswerTo(std::uint16_t p_id, const unsigned char* p_pMessage, ssize_t p_length) {
  return p_length >= 12 && p_pMessage[0] == (p_id >> 8) && p_pMessage[1] == (p_id & 0xFF) &&
         (p_pMessage[2] & 0x80) != 0 && (p_pMessage[3] & 0x0F) == 0;
}

// A bare futex, which is what the platform's events come down to on a wait.
void FutexWait(std::atomic<std::uint32_t>& p_word, std::uint32_t p_expected, int p_timeoutMs) {
  const timespec timeout{p_timeoutMs / 1000, static_cast<long>(p_timeoutMs % 1000) * 1000000};
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&p_word), FUTEX_WAIT_PRIVATE, p_expected, &timeout,
          nullptr, 0);
}

void FutexWake(std::atomic<std::uint32_t>& p_word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&p_word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

struct ThreadPerQueryFloor::Query {
  ThreadPerQueryFloor* owner;
  const std::string* pName;
  std::uint16_t id;
  Clock::time_point started;
  Clock::duration* pLatency;
  // The futex word: 1 once the event thread has seen the answer readable.
  std::atomic<std::uint32_t> readable{0};
};

ThreadPerQueryFloor::ThreadPerQueryFloor(const std::string& p_server, Steps p_steps) : m_steps(p_steps) {
  inet_pton(AF_INET, p_server.c_str(), &m_server);
  if (m_steps != Steps::kEventThread) return;
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event interest{};
  interest.events = EPOLLIN;
  interest.data.ptr = nullptr;  // the one entry that is not a query
  if (m_epoll >= 0 && m_wake >= 0 && epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &interest) == 0) {
    m_eventThread = std::thread(&ThreadPerQueryFloor::RunEventThread, this);
  }
}

ThreadPerQueryFloor::~ThreadPerQueryFloor() {
  {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_iRunning == 0; });
  }
  if (m_eventThread.joinable()) {
    m_bStopping.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof(one));
    m_eventThread.join();
  }
  for (int descriptor : {m_epoll, m_wake}) {
    if (descriptor >= 0) close(descriptor);
  }
}

int ThreadPerQueryFloor::ResolveAll(const std::vector<std::string>& p_names,
                                    std::vector<Clock::duration>& p_latencies) {
  p_latencies.assign(p_names.size(), Clock::duration::zero());
  {
    std::lock_guard lock(m_lock);
    m_iExpected = static_cast<int>(p_names.size());
    m_iReported = 0;
    m_iFailed = 0;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, kQueryStackSize);
  for (std::size_t i = 0; i < p_names.size(); ++i) {
    Query& query = m_queries.emplace_back();
    query.owner = this;
    query.pName = &p_names[i];
    query.id = static_cast<std::uint16_t>(i);
    query.pLatency = &p_latencies[i];
    query.started = Clock::now();
    {
      std::lock_guard lock(m_lock);
      ++m_iRunning;
    }
    pthread_t thread;
    if (pthread_create(&thread, &attributes, &ThreadPerQueryFloor::QueryThread, &query) != 0) {
      Finish(false);
    }
  }
  pthread_attr_destroy(&attributes);
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [this] { return m_iReported == m_iExpected; });
  return m_iFailed;
}

void* ThreadPerQueryFloor::QueryThread(void* p_pQuery) {
  Query& query = *static_cast<Query*>(p_pQuery);
  ThreadPerQueryFloor& self = *query.owner;
  if (self.m_steps == Steps::kThreadOnly) {
    *query.pLatency = Clock::now() - query.started;
    self.Finish(true);
  } else {
    self.Finish(self.RunQuery(query));
  }
  return nullptr;
}

bool ThreadPerQueryFloor::RunQuery(Query& p_query) {
  const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket < 0) return false;
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(kDnsPort);
  server.sin_addr.s_addr = m_server;
  bool ok = connect(socket, reinterpret_cast<const sockaddr*>(&server), sizeof(server)) == 0;
  if (ok && m_steps == Steps::kEventThread) {
    // One-shot: the event thread reports the answer once and never touches
    // the socket again, which the query thread then reads and closes.
    epoll_event interest{};
    interest.events = EPOLLIN | EPOLLONESHOT;
    interest.data.ptr = &p_query;
    ok = epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &interest) == 0;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof(one));
  }
  const std::vector<unsigned char> question = AQuestion(p_query.id, *p_query.pName);
  ok = ok && send(socket, question.data(), question.size(), 0) == static_cast<ssize_t>(question.size());
  if (ok && m_steps == Steps::kEventThread) {
    ok = WaitForReadable(p_query);
  } else if (ok) {
    pollfd readable{socket, POLLIN, 0};
    ok = poll(&readable, 1, kAnswerTimeoutMs) == 1;
  }
  if (ok) {
    unsigned char answer[512];
    const ssize_t length = recv(socket, answer, sizeof(answer), 0);
    ok = IsAnswerTo(p_query.id, answer, length);
    if (ok) *p_query.pLatency = Clock::now() - p_query.started;
  }
  // Closing the only descriptor of the socket also takes it out of the epoll set.
  close(socket);
  return ok;
}

bool ThreadPerQueryFloor::WaitForReadable(Query& p_query) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  while (p_query.readable.load(std::memory_order_acquire) == 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    FutexWait(p_query.readable, 0, static_cast<int>(left));
  }
  return true;
}

void ThreadPerQueryFloor::RunEventThread() {
  epoll_event ready[kReadyPerWait];
  for (;;) {
    const int count = epoll_wait(m_epoll, ready, kReadyPerWait, -1);
    if (count < 0 && errno != EINTR) return;
    for (int i = 0; i < count; ++i) {
      auto* query = static_cast<Query*>(ready[i].data.ptr);
      if (query == nullptr) {
        std::uint64_t added = 0;
        [[maybe_unused]] const ssize_t drained = read(m_wake, &added, sizeof(added));
        if (m_bStopping.load()) return;
        continue;
      }
      query->readable.store(1, std::memory_order_release);
      FutexWake(query->readable);
    }
  }
}

void ThreadPerQueryFloor::Finish(bool p_bAnswered) {
  std::lock_guard lock(m_lock);
  m_iFailed += p_bAnswered ? 0 : 1;
  const bool batchDone = ++m_iReported == m_iExpected;
  const bool allEnded = --m_iRunning == 0;
  // Only the waits that can end are woken, as a listener would wake its caller.
  if (batchDone || allEnded) m_changed.notify_all();
}

}  // namespace kestnet::bench
