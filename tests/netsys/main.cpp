// The netsys tests run inside the test LAN: main builds it before any thread
// exists (a thread started earlier would stay outside the client's
// namespaces). The LAN's keeper tears it down however the run ends: at the
// end of main, which reports anything left behind as a failure, or when a
// signal or a crash ends the process and closes the keeper's pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/samba_lan.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  kestnet::testing::SambaLan& lan = kestnet::testing::SambaLan::Instance();
  if (!lan.Start()) std::fprintf(stderr, "Tests of the LAN skip: %s\n", lan.SkipReason().c_str());
  const int result = RUN_ALL_TESTS();
  std::string leftBehind;
  if (!lan.Stop(leftBehind)) {
    std::fprintf(stderr, "The test LAN left behind:\n%s", leftBehind.c_str());
    return 1;
  }
  return result;
}
