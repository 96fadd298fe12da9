# Sequential echoes to 127.0.0.1 through the echo engine, beside iputils ping.
kestnet_add_bench(ping_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ping_bench.cpp
  DEPS net_ping kestnet_test_support)
