# Platform identification: what a version gate and a privilege question cost,
# each reading the version profile from the registry store afresh.
kestnet_add_bench(platform_identification_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform_identification_bench.cpp
  DEPS utils)
