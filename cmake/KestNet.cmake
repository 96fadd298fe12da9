# Shared build rules: warnings, sanitizers, and the two helpers every folder uses.

# The class warnings are C++'s own; a C source (a benchmark's yardstick) gets the rest.
set(KESTNET_WARNINGS -Wall -Wextra -Wpedantic -Wshadow
    "$<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor;-Woverloaded-virtual>"
    -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
if(KESTNET_WERROR)
  list(APPEND KESTNET_WARNINGS -Werror)
endif()
# g++ 12 reports -Wmaybe-uninitialized inside the standard library (std::regex,
# std::function) once sanitizer instrumentation meets optimisation; those are
# known false positives, and the plain build still checks our own code for them.
if(NOT KESTNET_SANITIZE STREQUAL "")
  list(APPEND KESTNET_WARNINGS -Wno-maybe-uninitialized)
endif()

if(KESTNET_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTNET_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KESTNET_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KESTNET_SANITIZE must be empty, 'address' or 'thread'")
endif()

find_package(Threads REQUIRED)

# kestnet_add_library(<name> SOURCES ... [DEPS ...] [SHARED])
# Every header is included by its path from the top of the tree
# ("platform/sync/event.h"), so the top is the one include directory.
function(kestnet_add_library name)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;DEPS" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${KESTNET_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# kestnet_add_test(<name> SOURCES ... [DEPS ...] [LABELS ...])
# One GoogleTest executable; each TEST becomes its own CTest entry.
function(kestnet_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${KESTNET_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # An empty LABELS value would swallow the next property name, so labels are
  # only passed when there are some.
  set(properties TIMEOUT 300 ENVIRONMENT "KESTNET_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}"
      FIXTURES_REQUIRED kestnet_shm)
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()
