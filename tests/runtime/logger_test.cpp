#include "runtime/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/os/last_error.h"
#include "platform/shm/file_mapping.h"
#include "platform/sync/thread.h"
#include "runtime/critical_log_file.h"
#include "runtime/event.h"
#include "runtime/log_ring_reader.h"
#include "tests/runtime/log_test_support.h"
#include "tests/support/second_account.h"

namespace {

using KestLog::LogEntry;
using KestLog::Logger;
using KestLog::LogRingHeader;
using KestLog::LogRingReader;

// The ring as another process sees it: mapped by name, read in place.
class RawRing {
 public:
  RawRing() {
    m_hMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, KestLog::kLogMappingNameW);
    if (m_hMapping == nullptr) return;
    auto* header = static_cast<LogRingHeader*>(
        MapViewOfFile(m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LogRingHeader)));
    if (header == nullptr) return;
    const std::uint32_t count = header->entryCount;
    UnmapViewOfFile(header);
    m_pHeader = static_cast<LogRingHeader*>(MapViewOfFile(
        m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(KestLog::LogRingSize(count))));
  }
  ~RawRing() {
    if (m_pHeader != nullptr) UnmapViewOfFile(m_pHeader);
    if (m_hMapping != nullptr) CloseHandle(m_hMapping);
  }
  RawRing(const RawRing&) = delete;
  RawRing& operator=(const RawRing&) = delete;

  LogRingHeader* Header() const { return m_pHeader; }
  const LogEntry& Slot(std::uint32_t index) const {
    return KestLog::LogRingEntries(m_pHeader)[index];
  }

 private:
  HANDLE m_hMapping = nullptr;
  LogRingHeader* m_pHeader = nullptr;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> LinesWithClass(const std::vector<std::string>& lines,
                                        const std::string& className) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.find("[Class: " + className + "]") != std::string::npos) found.push_back(line);
  }
  return found;
}

class LoggerTest : public ::testing::Test {
 protected:
  kestnet::testing::TemporaryHome m_home;
};

TEST_F(LoggerTest, WithNoSettingsTheRingHas512SlotsAndTheEntryIsComplete) {
  KestLogTest::DebugOutputCapture output;
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  {
    Logger logger;
    logger.Write("KestNet::Pop3Client", 2, "Connected.");
    EXPECT_EQ(logger.GetEntryCount(), 512u);
    const KestLog::LoggerSettings settings = logger.GetSettings();
    EXPECT_EQ(settings.enableOutputDebugString, 0u);
    EXPECT_EQ(settings.enableCriticalLogger, 1u);
    EXPECT_EQ(settings.filterLogLevel, 255u);

    RawRing ring;
    ASSERT_NE(ring.Header(), nullptr);
    EXPECT_EQ(ring.Header()->generation, 1u);
    EXPECT_EQ(ring.Header()->writeCounter, 1u);
    EXPECT_EQ(ring.Header()->entryCount, 512u);
    const LogEntry& entry = ring.Slot(0);
    EXPECT_STREQ(entry.processName, "runtime_tests");
    EXPECT_STREQ(entry.className, "KestNet::Pop3Client");
    EXPECT_STREQ(entry.message, "Connected.");
    EXPECT_EQ(entry.level, 2u);
    EXPECT_EQ(entry.processId, GetCurrentProcessId());
    EXPECT_EQ(entry.threadId, GetCurrentThreadId());
    EXPECT_GE(entry.time, before);
    EXPECT_LE(entry.time, static_cast<std::uint32_t>(std::time(nullptr)));
    // The fields the layout leaves unwritten carry no stale bytes.
    EXPECT_EQ(entry.unused1[0] | entry.unused1[63] | entry.unused2[0] | entry.unused2[6], 0);
  }
  EXPECT_TRUE(LinesWithClass(output.Lines(), "KestNet::Pop3Client").empty());
}

TEST_F(LoggerTest, Entry513GoesToSlot0AndTheNewest512Remain) {
  Logger logger;
  // The first entry is the longest, so that the 513th overwrites more text
  // than it brings.
  logger.Write("Test::Ring::First", 3, ("entry 0 " + std::string(300, 'x')).c_str());
  for (int i = 1; i < 513; ++i)
    logger.Write("Test::Ring", 3, ("entry " + std::to_string(i)).c_str());

  RawRing ring;
  ASSERT_NE(ring.Header(), nullptr);
  EXPECT_EQ(ring.Header()->writeCounter, 513u);
  const LogEntry& reused = ring.Slot(0);
  EXPECT_STREQ(reused.message, "entry 512");
  EXPECT_STREQ(reused.className, "Test::Ring");
  // Nothing of the overwritten entry is left behind the new texts.
  EXPECT_EQ(std::string_view(reused.message, sizeof reused.message).find_first_not_of('\0', 9),
            std::string_view::npos);
  EXPECT_EQ(std::string_view(reused.className, sizeof reused.className).find_first_not_of('\0', 10),
            std::string_view::npos);
  EXPECT_STREQ(ring.Slot(1).message, "entry 1");
  EXPECT_STREQ(ring.Slot(511).message, "entry 511");

  auto reader = LogRingReader::OpenExisting();
  ASSERT_NE(reader, nullptr);
  const KestLog::LogRingRead newest = reader->ReadNewest(1000);
  ASSERT_EQ(newest.entries.size(), 512u);
  EXPECT_EQ(newest.firstIndex, 1u);
  EXPECT_STREQ(newest.entries.front().message, "entry 1");
  EXPECT_STREQ(newest.entries.back().message, "entry 512");
}

TEST_F(LoggerTest, AProcessAskingForAnotherSizeUsesTheExistingRing) {
  KestLogTest::SetLoggerSetting(L"NumberOfLogEntries", 16);
  Logger creator;
  creator.Write("Test::Creator", 2, "created with 16 slots");
  ASSERT_EQ(creator.GetEntryCount(), 16u);

  KestLogTest::SetLoggerSetting(L"NumberOfLogEntries", 4096);
  // A second process with its own settings: it must write into the 16-slot ring.
  const pid_t child = kestnet::testing::StartChild([] {
    Logger second;
    for (int i = 0; i < 20; ++i) second.Write("Test::Second", 2, "from the second process");
    return second.GetEntryCount() == 16 ? 0 : 1;
  });
  EXPECT_EQ(kestnet::testing::WaitForChild(child), 0);

  RawRing ring;
  ASSERT_NE(ring.Header(), nullptr);
  EXPECT_EQ(ring.Header()->entryCount, 16u);
  EXPECT_EQ(ring.Header()->writeCounter, 21u);
  EXPECT_STREQ(ring.Slot(20 % 16).className, "Test::Second");
  EXPECT_EQ(ring.Slot(20 % 16).processId, static_cast<std::uint32_t>(child));
}

TEST_F(LoggerTest, UnusableSlotCountsFallBackToTheDefault) {
  for (DWORD unusable : {DWORD{0}, DWORD{0xFFFFFFFF}}) {
    SCOPED_TRACE(unusable);
    kestnet::testing::TemporaryHome home;  // a new scope: each logger creates its ring
    KestLogTest::SetLoggerSetting(L"NumberOfLogEntries", unusable);
    Logger logger;
    logger.Write("Test::Size", 2, "sized");
    EXPECT_EQ(logger.GetEntryCount(), 512u);
  }
}

// A ring whose header claims more slots than it holds cannot be mapped: the
// entry is dropped with the debugger message, nothing is thrown, and an error
// entry still reaches the critical file.
TEST_F(LoggerTest, ARingThatCannotBeMappedDropsTheEntryButNotTheCriticalCopy) {
  const std::uint64_t smallSize = KestLog::LogRingSize(4);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(smallSize), KestLog::kLogMappingNameW);
  ASSERT_NE(mapping, nullptr);
  auto* header = static_cast<LogRingHeader*>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(smallSize)));
  ASSERT_NE(header, nullptr);
  header->entryCount = 1000;
  header->generation = 1;

  KestLogTest::DebugOutputCapture output;
  {
    Logger logger;
    SetLastError(ERROR_INVALID_PARAMETER);
    logger.Write("Test::Broken", 0, "nowhere in the ring");
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(logger.Attach());
  }
  EXPECT_EQ(header->writeCounter, 0u);
  const std::vector<std::string> lines = output.Lines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "Logger::Initialize() - Failed to create log map."),
      lines.end());
  EXPECT_NE(ReadFile(KestLog::CriticalLogFile::DefaultPath()).find("nowhere in the ring"),
            std::string::npos);
  UnmapViewOfFile(header);
  CloseHandle(mapping);
}

TEST_F(LoggerTest, LongTextIsCutToItsFieldAtACharacterBoundary) {
  Logger logger;
  const std::string message600(600, 'm');
  const std::string class100(100, 'c');
  logger.Write(class100.c_str(), 2, message600.c_str());
  // 510 ASCII bytes then a two-byte character: it does not fit whole in 511.
  const std::string withAccent = std::string(510, 'a') + "\xC3\xA9" + "tail";
  logger.Write("Test::Utf8", 2, withAccent.c_str());

  RawRing ring;
  ASSERT_NE(ring.Header(), nullptr);
  EXPECT_EQ(std::string(ring.Slot(0).message), std::string(511, 'm'));
  EXPECT_EQ(std::string(ring.Slot(0).className), std::string(63, 'c'));
  EXPECT_EQ(std::string(ring.Slot(1).message), std::string(510, 'a'));
}

TEST_F(LoggerTest, FilterLevelKeepsEntriesAtOrAboveItOutOfRingAndDebugger) {
  KestLogTest::SetLoggerSetting(L"FilterLogLevel", 2);
  KestLogTest::SetLoggerSetting(L"EnableOutputDebugString", 1);
  KestLogTest::DebugOutputCapture output;
  {
    Logger logger;
    logger.Write("Test::Filter", 1, "passes");
    logger.Write("Test::Filter", 2, "filtered at the limit");
    logger.Write("Test::Filter", 4, "filtered above");

    RawRing ring;
    ASSERT_NE(ring.Header(), nullptr);
    EXPECT_EQ(ring.Header()->writeCounter, 1u);
    EXPECT_STREQ(ring.Slot(0).message, "passes");
  }
  const std::vector<std::string> lines = LinesWithClass(output.Lines(), "Test::Filter");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("[Msg: passes]"), std::string::npos);
}

TEST_F(LoggerTest, DebuggerOutputFollowsTheSettingsKeyInTheSixGroupFormat) {
  KestLogTest::SetLoggerSetting(L"EnableOutputDebugString", 1);
  KestLogTest::DebugOutputCapture output;
  {
    Logger logger;
    logger.Write("KestNet::SmtpClient", 3, "Sending MAIL FROM.");
  }
  const std::vector<std::string> lines = LinesWithClass(output.Lines(), "KestNet::SmtpClient");
  ASSERT_EQ(lines.size(), 1u);
  char ids[64];
  std::snprintf(ids, sizeof ids, "\\[PID: 0x%x\\]\\[Thread: 0x%x\\]", GetCurrentProcessId(),
                GetCurrentThreadId());
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex("\\[\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}\\]\\[Process: runtime_tests\\]" +
                 std::string(ids) +
                 "\\[Class: KestNet::SmtpClient\\]\\[Msg: Sending MAIL FROM\\.\\]\n?")))
      << lines[0];
}

TEST_F(LoggerTest, ErrorsReachTheCriticalFileUnlessItIsSwitchedOff) {
  const std::string path = KestLog::CriticalLogFile::DefaultPath();
  {
    Logger logger;
    logger.Write("Test::Critical", 0, "disk on fire");
    logger.Write("Test::Critical", 1, "only a warning");
  }
  std::string contents = ReadFile(path);
  EXPECT_NE(contents.find("[Class: Test::Critical][Msg: disk on fire]"), std::string::npos);
  EXPECT_EQ(contents.find("only a warning"), std::string::npos);

  KestLogTest::SetLoggerSetting(L"EnableCriticalLogger", 0);
  {
    Logger logger;
    logger.Write("Test::Critical", 0, "kept off disk");
  }
  EXPECT_EQ(ReadFile(path).find("kept off disk"), std::string::npos);
}

TEST_F(LoggerTest, SettingsAreReadAgainOnlyWhenTheGenerationChanges) {
  KestLogTest::DebugOutputCapture output;
  Logger logger;
  logger.Write("Test::Generation", 2, "before");
  KestLogTest::SetLoggerSetting(L"EnableOutputDebugString", 1);
  logger.Write("Test::Generation", 2, "changed key, same generation");
  EXPECT_TRUE(LinesWithClass(output.Lines(), "Test::Generation").empty());

  RawRing ring;
  ASSERT_NE(ring.Header(), nullptr);
  ring.Header()->generation += 1;  // another party announces new settings
  logger.Write("Test::Generation", 2, "after");
  const std::vector<std::string> lines = LinesWithClass(output.Lines(), "Test::Generation");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("[Msg: after]"), std::string::npos);
  EXPECT_EQ(logger.GetSettings().enableOutputDebugString, 1u);
}

TEST_F(LoggerTest, EveryActiveNotificationSlotsEventIsSetAfterAnEntry) {
  Logger logger;
  logger.Write("Test::Notify", 2, "creates the ring");

  KestMT::Event listener;
  ASSERT_TRUE(listener.Config("KestLogTest::Wake", nullptr));
  ASSERT_FALSE(listener.Wait(0));
  {
    RawRing ring;
    ASSERT_NE(ring.Header(), nullptr);
    KestLog::LogNotificationSlot& slot = ring.Header()->notificationSlots[3];
    std::memset(slot.eventName, 'x', sizeof slot.eventName);  // no NUL: still one name
    std::strcpy(slot.eventName, "KestLogTest::Wake");
    slot.active = 1;
    KestLog::LogNotificationSlot& inactive = ring.Header()->notificationSlots[4];
    std::strcpy(inactive.eventName, "KestLogTest::Inactive");
    inactive.active = 0;
    ring.Header()->generation += 1;
  }
  KestMT::Event inactiveListener;
  ASSERT_TRUE(inactiveListener.Config("KestLogTest::Inactive", nullptr));

  logger.Write("Test::Notify", 2, "wakes the listener");
  EXPECT_TRUE(listener.Wait(0));
  EXPECT_FALSE(inactiveListener.Wait(0));
}

TEST_F(LoggerTest, WritingKeepsTheCallersLastErrorAndErrno) {
  Logger logger;
  SetLastError(ERROR_ACCESS_DENIED);
  errno = ENOENT;
  logger.Write("Test::Errors", 0, "first entry starts the logger");
  logger.Write("Test::Errors", 2, "second entry");
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(errno, ENOENT);
}

class CountingSink : public KestLog::LogSink {
 public:
  void OnLogEntry(const LogEntry& entry) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.emplace_back(entry.message);
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_messages;
};

TEST_F(LoggerTest, ReaderLoopHandsEachNewEntryToTheSinksOnce) {
  Logger logger;
  logger.Write("Test::Reader", 2, "before the sink");
  CountingSink sink;
  logger.AddSink(&sink);
  ASSERT_TRUE(logger.Execute());
  logger.Write("Test::Reader", 2, "one");
  logger.Write("Test::Reader", 2, "two");
  logger.Write("Test::Reader", 2, "three");

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sink.Messages().size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  logger.Abort(INFINITE);
  logger.RemoveSink(&sink);
  EXPECT_EQ(sink.Messages(), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_FALSE(logger.IsRunning());
}

TEST_F(LoggerTest, ConcurrentWritersLoseAndTearNothing) {
  KestLogTest::SetLoggerSetting(L"NumberOfLogEntries", 1024);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  Logger logger;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&logger, t] {
      const std::string className = "Test::Writer" + std::to_string(t);
      for (int i = 0; i < kPerThread; ++i) {
        // Long messages make a torn copy visible.
        const std::string message = std::to_string(t) + ":" + std::to_string(i) + ":" +
                                    std::string(400, static_cast<char>('a' + t));
        logger.Write(className.c_str(), 2, message.c_str());
      }
    });
  }
  for (std::thread& writer : writers) writer.join();

  auto reader = LogRingReader::OpenExisting();
  ASSERT_NE(reader, nullptr);
  const KestLog::LogRingRead all = reader->ReadNewest(1024);
  ASSERT_EQ(all.entries.size(), static_cast<size_t>(kThreads * kPerThread));
  std::vector<int> nextPerThread(kThreads, 0);
  for (const LogEntry& entry : all.entries) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(entry.message, "%d:%d:", &t, &i), 2) << entry.message;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(std::string(entry.className), "Test::Writer" + std::to_string(t));
    const std::string tail = std::strchr(std::strchr(entry.message, ':') + 1, ':') + 1;
    EXPECT_EQ(tail, std::string(400, static_cast<char>('a' + t)));
    EXPECT_EQ(i, nextPerThread[t]) << "entries of one thread stay in order";
    nextPerThread[t] = i + 1;
  }
}

}  // namespace
