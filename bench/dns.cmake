# The resolver against dnsmasq in a private network namespace.
if(TARGET net_dns AND TARGET kestnet_test_support)
  kestnet_add_bench(dns_resolve_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dns_resolve_bench.cpp
    DEPS net_dns kestnet_test_support)
endif()
