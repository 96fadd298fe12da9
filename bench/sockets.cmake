# Line socket throughput and connect/close rate on loopback.
kestnet_add_bench(sockets_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sockets_line_throughput.cpp
  DEPS net_sockets)
