// The comparison client: the same names through c-ares, one after another,
// against the same server, with c-ares's own cache-free query path.
#include <ares.h>
#include <sys/select.h>

#include <string>

#include "bench/dns_cares_client.h"

namespace kestnet::bench {
namespace {

void OnHost(void* p_pFailed, int p_status, int, struct hostent*) {
  if (p_status != ARES_SUCCESS) ++*static_cast<int*>(p_pFailed);
}

}  // namespace

CaresClient::CaresClient(const std::string& p_server) {
  ares_library_init(ARES_LIB_INIT_ALL);
  ares_options options{};
  options.flags = ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES;
  options.lookups = const_cast<char*>("b");  // DNS only, no hosts file
  if (ares_init_options(&m_channel, &options, ARES_OPT_FLAGS | ARES_OPT_LOOKUPS) != ARES_SUCCESS) {
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

bool CaresClient::Resolve(const std::string& p_name) {
  if (m_channel == nullptr) return false;
  int failed = 0;
  ares_gethostbyname(m_channel, p_name.c_str(), AF_INET, &OnHost, &failed);
  for (;;) {
    fd_set readers;
    fd_set writers;
    FD_ZERO(&readers);
    FD_ZERO(&writers);
    const int highest = ares_fds(m_channel, &readers, &writers);
    if (highest == 0) break;
    timeval wait{};
    timeval* pWait = ares_timeout(m_channel, nullptr, &wait);
    select(highest, &readers, &writers, nullptr, pWait);
    ares_process(m_channel, &readers, &writers);
  }
  return failed == 0;
}

}  // namespace kestnet::bench
