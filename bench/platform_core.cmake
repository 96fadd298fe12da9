# Platform core: wait and wake latency, lock costs, message throughput.
kestnet_add_bench(platform_core_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform_core_bench.cpp
  DEPS platform_msg platform_shm)
