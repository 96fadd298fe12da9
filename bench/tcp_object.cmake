# The TCP client socket object: a Connect / OnConnect / Close / OnClose cycle
# through IDispatch and the hidden window, against the same cycle on a bare
# line socket; and a BlockingSocketTest of a listening port.
find_package(GTest QUIET)
kestnet_add_bench(tcp_object_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tcp_object_bench.cpp
  DEPS "$<LINK_LIBRARY:WHOLE_ARCHIVE,automation>" GTest::gtest)
