#include <cerrno>
#include <thread>

#include <gtest/gtest.h>

#include "platform/os/last_error.h"

TEST(LastError, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOtherThread = 12345;
  std::thread other([&] { seenByOtherThread = GetLastError(); });
  other.join();
  EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, MapsErrnoToWin32Numbers) {
  EXPECT_EQ(kestnet::platform::Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(kestnet::platform::Win32ErrorFromErrno(EEXIST), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(kestnet::platform::SetLastErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}
