# The registry store: the cost of the calls the libraries make most.
kestnet_add_bench(registry_bench SOURCES registry_bench.cpp DEPS platform_registry)
