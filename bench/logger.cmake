# The logger: cost of one Log call at default settings.
kestnet_add_bench(logger_bench SOURCES logger_bench.cpp DEPS runtime)
