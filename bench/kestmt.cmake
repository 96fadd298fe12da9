# KestMT threads and synchronisation: lock, wake, start and abort costs.
kestnet_add_bench(kestmt_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/kestmt_bench.cpp DEPS runtime)
