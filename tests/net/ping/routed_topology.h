// A small routed network of namespaces around the calling thread's own
// (private) namespace, for echoes that cross a router:
//
//   this namespace  10.51.1.1 --veth-- 10.51.1.2  router  10.51.2.1 --veth-- 10.51.2.2  far host
//
// This namespace routes everything through the router. The router forwards,
// sends ICMP errors without rate limit, has no route for 10.51.9.0/24 (net
// unreachable) and an "unreachable" route for 10.51.3.0/24 (host
// unreachable). Each other namespace is held by a child process that only
// sleeps; the destructor ends them, which removes the namespaces and links.
#pragma once

#include <string>
#include <sys/types.h>

namespace kestnet::testing {

class RoutedTopology {
 public:
  static constexpr const char* kRouterNearAddress = "10.51.1.2";
  static constexpr const char* kFarHostAddress = "10.51.2.2";
  static constexpr const char* kNoRouteAddress = "10.51.9.9";
  static constexpr const char* kUnreachableRouteAddress = "10.51.3.3";

  RoutedTopology() = default;
  ~RoutedTopology();
  RoutedTopology(const RoutedTopology&) = delete;
  RoutedTopology& operator=(const RoutedTopology&) = delete;

  // Call from the thread that entered the private namespace. False with the
  // reason when the links cannot be made here.
  bool Build(std::string& p_error);

 private:
  pid_t m_router = -1;
  pid_t m_farHost = -1;
};

// Writes a sysctl of the calling thread's network namespace.
bool WriteNetworkSysctl(const std::string& p_relativePath, const std::string& p_value);

}  // namespace kestnet::testing
