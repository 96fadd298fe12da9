# The POP3 and SMTP clients against dovecot and postfix on loopback (the
# tests' mail servers), beside libcurl doing the same in the same run.
find_package(CURL REQUIRED)
kestnet_add_bench(mail_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_bench.cpp
  DEPS net_mail kestnet_test_support CURL::libcurl)
