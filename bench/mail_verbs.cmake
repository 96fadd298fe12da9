# `kestnet sendmail` and `kestnet pop3` as processes against dovecot and
# postfix on loopback, beside the curl command doing the same.
kestnet_add_bench(mail_verbs_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_verbs_bench.cpp
  DEPS net_mail kestnet_test_support)
add_dependencies(mail_verbs_bench kestnet KestNetX KestSM KestSysNet)
target_compile_definitions(mail_verbs_bench PRIVATE KESTNET_PROGRAM="$<TARGET_FILE:kestnet>")
