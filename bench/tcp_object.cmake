# The TCP client socket object: a Connect / OnConnect / Close / OnClose cycle
# through IDispatch and the hidden window, against the same cycle on a bare
# line socket; and a BlockingSocketTest of a listening port beside the bare C
# connect, poll and close it is measured against.
find_package(GTest QUIET)
kestnet_add_bench(tcp_object_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tcp_object_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/bare_connect.c
  DEPS "$<LINK_LIBRARY:WHOLE_ARCHIVE,automation>" GTest::gtest)
