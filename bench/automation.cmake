# The automation framework: a property get through the type information, and
# the delay of a posted event from the worker's post to the sink. The probe
# object of the framework's tests is the object measured.
find_package(GTest QUIET)
kestnet_add_bench(automation_bench
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/automation_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/automation/probe_object.cpp
  DEPS "$<LINK_LIBRARY:WHOLE_ARCHIVE,automation>" GTest::gtest)
