# The script host: a property get from a script through the wrapper,
# GetIDsOfNames and Invoke; and a posted event's trip from the worker's post
# to the script's handler, pumped by WScript.Sleep.
kestnet_add_bench(host_script_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_script_bench.cpp
  DEPS host_script)
kestnet_com_host(host_script_bench)
add_dependencies(host_script_bench com_test_server host_ticker_server)
target_compile_definitions(host_script_bench PRIVATE
  KESTNET_COM_TEST_SERVER="$<TARGET_FILE:com_test_server>"
  KESTNET_TICKER_SERVER="$<TARGET_FILE:host_ticker_server>")
