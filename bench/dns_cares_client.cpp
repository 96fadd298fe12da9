// The comparison client: the same names through c-ares, against the same
// server, with c-ares's own cache-free query path. Its channel keeps every
// query outstanding on one socket, which is how c-ares is meant to be used
// for a batch of names.
#include <ares.h>
#include <poll.h>

#include <string>
#include <vector>

#include "bench/dns_cares_client.h"

namespace kestnet::bench {
namespace {

constexpr int kReceiveBufferSize = 4 << 20;

// One query of a batch: where its outcome goes.
struct PendingName {
  CaresClient::Clock::time_point started;
  CaresClient::Clock::duration* pLatency;
  int* pFailed;
};

void OnHost(void* p_pFailed, int p_status, int, struct hostent*) {
  if (p_status != ARES_SUCCESS) ++*static_cast<int*>(p_pFailed);
}

void OnBatchHost(void* p_pPending, int p_status, int, struct hostent*) {
  auto* pending = static_cast<PendingName*>(p_pPending);
  *pending->pLatency = CaresClient::Clock::now() - pending->started;
  if (p_status != ARES_SUCCESS) ++*pending->pFailed;
}

}  // namespace

CaresClient::CaresClient(const std::string& p_server) {
  ares_library_init(ARES_LIB_INIT_ALL);
  ares_options options{};
  options.flags = ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES;
  options.lookups = const_cast<char*>("b");  // DNS only, no hosts file
  // A batch sends every query before it reads an answer; with the default
  // receive buffer of the one socket most answers would be dropped and asked
  // again after c-ares's five-second time-out.
  options.socket_receive_buffer_size = kReceiveBufferSize;
  if (ares_init_options(&m_channel, &options, ARES_OPT_FLAGS | ARES_OPT_LOOKUPS | ARES_OPT_SOCK_RCVBUF) !=
      ARES_SUCCESS) {
    m_channel = nullptr;
    return;
  }
  if (ares_set_servers_csv(m_channel, p_server.c_str()) != ARES_SUCCESS) {
    ares_destroy(m_channel);
    m_channel = nullptr;
  }
}

CaresClient::~CaresClient() {
  if (m_channel != nullptr) ares_destroy(m_channel);
  ares_library_cleanup();
}

void CaresClient::Drive() {
  // c-ares reports its sockets through ares_getsock (up to 16); poll has no
  // descriptor limit, unlike select.
  for (;;) {
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(m_channel, sockets, ARES_GETSOCK_MAXNUM);
    pollfd waits[ARES_GETSOCK_MAXNUM];
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      short events = 0;
      if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
      if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
      if (events == 0) continue;
      waits[count++] = pollfd{sockets[i], events, 0};
    }
    if (count == 0) break;
    timeval wait{};
    timeval* pWait = ares_timeout(m_channel, nullptr, &wait);
    const int timeoutMs = pWait == nullptr ? -1 : static_cast<int>(pWait->tv_sec * 1000 + pWait->tv_usec / 1000);
    poll(waits, count, timeoutMs);
    bool any = false;
    for (nfds_t i = 0; i < count; ++i) {
      if (waits[i].revents == 0) continue;
      any = true;
      const ares_socket_t readable = (waits[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0 ? waits[i].fd : ARES_SOCKET_BAD;
      const ares_socket_t writable = (waits[i].revents & POLLOUT) != 0 ? waits[i].fd : ARES_SOCKET_BAD;
      ares_process_fd(m_channel, readable, writable);
    }
    if (!any) ares_process_fd(m_channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs
  }
}

bool CaresClient::Resolve(const std::string& p_name) {
  if (m_channel == nullptr) return false;
  int failed = 0;
  ares_gethostbyname(m_channel, p_name.c_str(), AF_INET, &OnHost, &failed);
  Drive();
  return failed == 0;
}

int CaresClient::ResolveAll(const std::vector<std::string>& p_names, std::vector<Clock::duration>& p_latencies) {
  p_latencies.assign(p_names.size(), Clock::duration::zero());
  if (m_channel == nullptr) return static_cast<int>(p_names.size());
  int failed = 0;
  std::vector<PendingName> pending(p_names.size());
  for (std::size_t i = 0; i < p_names.size(); ++i) {
    pending[i] = PendingName{Clock::now(), &p_latencies[i], &failed};
    ares_gethostbyname(m_channel, p_names[i].c_str(), AF_INET, &OnBatchHost, &pending[i]);
  }
  Drive();
  return failed;
}

}  // namespace kestnet::bench
