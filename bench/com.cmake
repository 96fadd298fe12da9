kestnet_add_bench(com_bench SOURCES com_bench.cpp)
kestnet_com_host(com_bench)
