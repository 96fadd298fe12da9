# The scriptable DNS object against the resolver it drives: the same 1000
# names through IDispatch and events, and directly, against dnsmasq in a
# private network namespace.
kestnet_add_bench(automation_dns_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/automation_dns_bench.cpp
  DEPS "$<LINK_LIBRARY:WHOLE_ARCHIVE,automation>" kestnet_test_support)
