# Records the kestnet entries of /dev/shm before the tests (MODE record) and
# fails when new ones remain after them (MODE compare): named objects live
# only while some process holds them.
file(GLOB entries LIST_DIRECTORIES true RELATIVE /dev/shm /dev/shm/kestnet-*)
if(MODE STREQUAL "record")
  file(WRITE "${STATE}" "${entries}")
  return()
endif()
file(READ "${STATE}" before)
set(left)
foreach(entry IN LISTS entries)
  if(NOT entry IN_LIST before)
    list(APPEND left "${entry}")
  endif()
endforeach()
if(left)
  list(JOIN left "\n  " text)
  message(FATAL_ERROR "the tests left named objects in /dev/shm:\n  ${text}")
endif()
