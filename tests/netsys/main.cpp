// The netsys tests run inside the test LAN: main builds it before any thread
// exists (a thread started earlier would stay outside the client's
// namespaces) and tears it down however the run ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/samba_lan.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  kestnet::testing::SambaLan& lan = kestnet::testing::SambaLan::Instance();
  lan.Start();
  const int result = RUN_ALL_TESTS();
  std::string leftBehind;
  if (!lan.Stop(leftBehind)) {
    std::fprintf(stderr, "The test LAN left things behind: %s\n", leftBehind.c_str());
    return 1;
  }
  return result;
}
