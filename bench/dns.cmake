# The resolver against dnsmasq in a private network namespace, beside the
# design floor of a thread per query and, when libc-ares-dev is installed, a
# c-ares client doing the same in the same run.
kestnet_add_bench(dns_resolve_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dns_resolve_bench.cpp
          ${CMAKE_CURRENT_LIST_DIR}/dns_thread_per_query_floor.cpp
  DEPS net_dns kestnet_test_support)
find_library(KESTNET_CARES_LIBRARY cares)
find_path(KESTNET_CARES_INCLUDE ares.h)
if(KESTNET_CARES_LIBRARY AND KESTNET_CARES_INCLUDE)
  target_sources(dns_resolve_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/dns_cares_client.cpp)
  target_include_directories(dns_resolve_bench PRIVATE ${KESTNET_CARES_INCLUDE})
  target_link_libraries(dns_resolve_bench PRIVATE ${KESTNET_CARES_LIBRARY})
  target_compile_definitions(dns_resolve_bench PRIVATE KESTNET_BENCH_CARES=1)
endif()
