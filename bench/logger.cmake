# The logger: cost of one Log call at default settings.
if(TARGET runtime)
  kestnet_add_bench(logger_bench SOURCES logger_bench.cpp DEPS runtime)
endif()
