#include "runtime/mt_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <string>

#include "platform/os/last_error.h"
#include "platform/sync/thread.h"
#include "tests/runtime/log_test_support.h"

namespace {

TEST(MTLogTest, LineCarriesLevelTimeProcessThreadClassAndMessage) {
  KestLogTest::DebugOutputCapture output;
  KestMT::MTLog("KestMT::Event", 0, "Internel CreateEvent call failed. GetLastError = %u.", 87u);
  KestMT::MTLog("KestMT::Event", 1, "warn %s", "text");
  KestMT::MTLog("KestMT::Event", 2, "detail");
  KestMT::MTLog("KestMT::Event", 200, "any higher level");

  const std::vector<std::string> lines = output.Lines();
  ASSERT_EQ(lines.size(), 4u);
  const std::string ids = "\\[ PID: " + std::to_string(GetCurrentProcessId()) +
                          " \\] \\[ TID: " + std::to_string(GetCurrentThreadId()) + " \\] ";
  const std::string time = "\\[ \\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2} \\] ";
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex("\\[ ERROR \\]" + time + ids +
                           "\\[ KestMT-Log \\] \\[ KestMT::Event \\] \\[ Msg: Internel CreateEvent "
                           "call failed\\. GetLastError = 87\\. \\]\n?")))
      << lines[0];
  EXPECT_EQ(lines[1].rfind("[ WARN  ][ ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("[ Msg: warn text ]"), std::string::npos);
  EXPECT_EQ(lines[2].rfind("[ DEBUG ][ ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("[ DEBUG ][ ", 0), 0u) << lines[3];
}

TEST(MTLogTest, MessageIsCutToItsBufferAndTheLineStillCloses) {
  KestLogTest::DebugOutputCapture output;
  const std::string longText(5000, 'x');
  KestMT::MTLog("KestMT::Thread", 2, "%s", longText.c_str());
  const std::vector<std::string> lines = output.Lines();
  ASSERT_EQ(lines.size(), 1u);
  const size_t start = lines[0].find("[ Msg: ") + 7;
  const size_t end = lines[0].find(" ]", start);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - start, KestMT::kMTLogMessageBufferSize - 1);
}

TEST(MTLogTest, KeepsTheCallersLastErrorAndErrno) {
  KestLogTest::DebugOutputCapture output;
  SetLastError(ERROR_INVALID_HANDLE);
  errno = EBADF;
  KestMT::MTLog("KestMT::Mutex", 0, "Internel CreateMutex call failed. GetLastError = %u.", 6u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(errno, EBADF);
}

TEST(MTLogTest, SourceFileNameDropsEitherKindOfDirectory) {
  EXPECT_STREQ(KestMT::SourceFileName("a/b/thread.cpp"), "thread.cpp");
  EXPECT_STREQ(KestMT::SourceFileName(".\\Thread.cpp"), "Thread.cpp");
  EXPECT_STREQ(KestMT::SourceFileName("thread.cpp"), "thread.cpp");
  EXPECT_STREQ(KestMT::SourceFileName(nullptr), "");
}

}  // namespace
