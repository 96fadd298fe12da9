// `kestnet log` in its own process, reading what other processes write.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/log_ring_reader.h"
#include "runtime/logger.h"
#include "tests/runtime/log_test_support.h"

namespace {

// The kestnet binary of this build tree, or empty when it was not built.
std::string KestnetBinary() {
  std::filesystem::path build;
  if (const char* dir = std::getenv("KESTNET_TEST_BINARY_DIR")) {
    build = dir;
  } else {
    std::error_code error;
    // <build>/tests/runtime/runtime_tests
    build = std::filesystem::read_symlink("/proc/self/exe", error)
                .parent_path()
                .parent_path()
                .parent_path();
  }
  const std::filesystem::path binary = build / "host" / "kestnet";
  return std::filesystem::exists(binary) ? binary.string() : std::string();
}

struct ShownEntry {
  std::string processName;
  unsigned pid = 0;
  std::string className;
  unsigned level = 0;
  std::string message;
};

// One line of `kestnet log`, or nothing when the line is not an entry.
std::optional<ShownEntry> ParseEntry(const std::string& line) {
  static const std::regex kEntry(
      "\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}  (.+)  pid (\\d+)  tid \\d+  (\\S+)  level (\\d+) "
      " (.*)");
  std::smatch match;
  if (!std::regex_match(line, match, kEntry)) return std::nullopt;
  return ShownEntry{match[1], static_cast<unsigned>(std::stoul(match[2])), match[3],
                    static_cast<unsigned>(std::stoul(match[4])), match[5]};
}

// A child process whose standard output the test reads line by line.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int pipeFds[2];
    int errorFds[2];
    if (::pipe(pipeFds) != 0) return;
    if (::pipe(errorFds) != 0) {
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::dup2(errorFds[1], STDERR_FILENO);
      for (int fd : {pipeFds[0], pipeFds[1], errorFds[0], errorFds[1]}) ::close(fd);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      std::_Exit(127);
    }
    ::close(pipeFds[1]);
    ::close(errorFds[1]);
    m_readFd = pipeFds[0];
    m_errorFd = errorFds[0];
  }
  ~ChildProcess() {
    if (m_pid > 0 && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      Wait();
    }
    if (m_readFd >= 0) ::close(m_readFd);
    if (m_errorFd >= 0) ::close(m_errorFd);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0 && m_readFd >= 0; }

  // The next line, or nothing at end of output or after timeoutMs of silence.
  std::optional<std::string> ReadLine(int timeoutMs) {
    for (;;) {
      const size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
      }
      pollfd ready{m_readFd, POLLIN, 0};
      const int polled = ::poll(&ready, 1, timeoutMs);
      if (polled < 0 && errno == EINTR) continue;
      if (polled <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t got = ::read(m_readFd, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      m_buffer.append(chunk, static_cast<size_t>(got));
    }
  }

  void Signal(int signal) { ::kill(m_pid, signal); }

  // What the child wrote to standard error; call after it ended (the little
  // it writes there fits the pipe, so it never blocks on it).
  std::string ErrorOutput() {
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(m_errorFd, chunk, sizeof chunk)) > 0) text.append(chunk, got);
    return text;
  }

  // The exit status as waitpid gives it.
  int Wait() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    return status;
  }

 private:
  pid_t m_pid = -1;
  int m_readFd = -1;
  int m_errorFd = -1;
  bool m_reaped = false;
  std::string m_buffer;
};

// What a child that ran to its end wrote and how it ended.
struct Finished {
  std::vector<std::string> lines;
  int status = -1;  // as waitpid gives it
  std::string errorOutput;
};

Finished RunToEnd(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  EXPECT_TRUE(child.Started());
  Finished finished;
  while (auto line = child.ReadLine(60000)) finished.lines.push_back(*line);
  finished.status = child.Wait();
  finished.errorOutput = child.ErrorOutput();
  return finished;
}

std::vector<std::string> ShownMessages(const std::vector<std::string>& lines) {
  std::vector<std::string> messages;
  for (const std::string& line : lines) {
    const std::optional<ShownEntry> entry = ParseEntry(line);
    messages.push_back(entry ? entry->message : "<not an entry: " + line + ">");
  }
  return messages;
}

// A process writing `count` entries "<tag> <i> <padding>" through its own
// logger once the test opens the gate.
class WriterProcess {
 public:
  // gate is a pipe: the writer starts when every write end is closed.
  WriterProcess(const std::string& tag, int count, const int (&gate)[2]) {
    m_pid = ::fork();
    if (m_pid == 0) {
      ::close(gate[1]);
      char go;
      while (::read(gate[0], &go, 1) < 0 && errno == EINTR) {
      }
      KestLog::Logger logger;
      for (int i = 0; i < count; ++i) {
        const std::string message = tag + " " + std::to_string(i) + " " + std::string(300, tag[0]);
        logger.Write("Test::Viewer", 2, message.c_str());
      }
      std::_Exit(0);
    }
  }
  pid_t Pid() const { return m_pid; }
  bool Finished() {
    int status = 0;
    return ::waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t m_pid = -1;
};

// Checks that a shown entry is whole: its message is "<tag> <i> <300 x tag[0]>".
bool IsWholeEntry(const ShownEntry& entry, std::string& tag, int& index) {
  std::istringstream in(entry.message);
  std::string padding;
  if (!(in >> tag >> index >> padding)) return false;
  return padding == std::string(300, tag[0]) && in.eof();
}

class LogViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_kestnet = KestnetBinary();
    if (m_kestnet.empty()) GTEST_SKIP() << "the kestnet host was not built in this tree";
  }
  kestnet::testing::TemporaryHome m_home;
  std::string m_kestnet;
};

TEST_F(LogViewerTest, ShowsEveryEntryOfTwoProcessesThatWroteAtOnce) {
  constexpr int kPerWriter = 200;
  KestLog::Logger holder;  // keeps the ring alive between the processes
  ASSERT_TRUE(holder.Attach());

  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  WriterProcess first("alpha", kPerWriter, gate);
  WriterProcess second("beta", kPerWriter, gate);
  ::close(gate[0]);
  ::close(gate[1]);  // both start together
  ASSERT_TRUE(first.Finished());
  ASSERT_TRUE(second.Finished());

  const Finished viewer = RunToEnd({m_kestnet, "log"});
  ASSERT_EQ(viewer.status, 0);
  const std::vector<std::string>& lines = viewer.lines;

  ASSERT_EQ(lines.size(), 2u * kPerWriter);
  std::map<std::string, int> next = {{"alpha", 0}, {"beta", 0}};
  std::map<std::string, unsigned> pidOf = {{"alpha", static_cast<unsigned>(first.Pid())},
                                           {"beta", static_cast<unsigned>(second.Pid())}};
  for (const std::string& line : lines) {
    const std::optional<ShownEntry> entry = ParseEntry(line);
    ASSERT_TRUE(entry.has_value()) << line;
    std::string tag;
    int index = -1;
    ASSERT_TRUE(IsWholeEntry(*entry, tag, index)) << line;
    ASSERT_EQ(next.count(tag), 1u) << line;
    EXPECT_EQ(index, next[tag]) << line;
    next[tag] = index + 1;
    EXPECT_EQ(entry->pid, pidOf[tag]) << line;
    EXPECT_EQ(entry->processName, "runtime_tests");
    EXPECT_EQ(entry->className, "Test::Viewer");
    EXPECT_EQ(entry->level, 2u);
  }
  EXPECT_EQ(next["alpha"], kPerWriter);
  EXPECT_EQ(next["beta"], kPerWriter);
}

TEST_F(LogViewerTest, NewestNShowsOnlyTheLastEntriesAndControlCharactersEscaped) {
  KestLog::Logger logger;
  for (int i = 0; i < 4; ++i) logger.Write("Test::Viewer", 1, ("entry " + std::to_string(i)).c_str());
  logger.Write("Test::Viewer", 2, "line one\nline two\x1b[31m");
  const Finished viewer = RunToEnd({m_kestnet, "log", "-n", "2"});
  EXPECT_EQ(viewer.status, 0);
  EXPECT_EQ(ShownMessages(viewer.lines), (std::vector<std::string>{"entry 3", "line one\\nline two\\x1b[31m"}));
}

TEST_F(LogViewerTest, WriteLogsThroughLogWithTheMessageTakenLiterally) {
  KestLog::Logger holder;
  ASSERT_TRUE(holder.Attach());
  const Finished writer = RunToEnd({m_kestnet, "log", "--write", "KestNet::Demo", "0", "100% %s %n done"});
  EXPECT_TRUE(writer.lines.empty());
  EXPECT_EQ(writer.status, 0);

  const Finished viewer = RunToEnd({m_kestnet, "log"});
  EXPECT_EQ(viewer.status, 0);
  ASSERT_EQ(viewer.lines.size(), 1u);
  const std::vector<std::string>& lines = viewer.lines;
  const std::optional<ShownEntry> entry = ParseEntry(lines[0]);
  ASSERT_TRUE(entry.has_value()) << lines[0];
  EXPECT_EQ(entry->processName, "kestnet");
  EXPECT_EQ(entry->className, "KestNet::Demo");
  EXPECT_EQ(entry->level, 0u);
  EXPECT_EQ(entry->message, "100% %s %n done");
}

TEST_F(LogViewerTest, ReloadMakesRunningWritersReadTheirSettingsAgain) {
  KestLogTest::DebugOutputCapture output;
  KestLog::Logger logger;
  logger.Write("Test::Reload", 2, "before");
  KestLogTest::SetLoggerSetting(L"EnableOutputDebugString", 1);
  logger.Write("Test::Reload", 2, "not yet");

  EXPECT_EQ(RunToEnd({m_kestnet, "log", "--reload"}).status, 0);

  logger.Write("Test::Reload", 2, "after");
  std::vector<std::string> shown;
  for (const std::string& line : output.Lines()) {
    if (line.find("[Class: Test::Reload]") != std::string::npos) shown.push_back(line);
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("[Msg: after]"), std::string::npos);
}

TEST_F(LogViewerTest, BadUsageIsRefusedWithStatus2) {
  const std::vector<std::vector<std::string>> refused = {
      {"-n", "0"},
      {"-n", "12x"},
      {"-n"},
      {"--write", "A", "1"},
      {"--write", "A", "256", "m"},
      {"--write", "", "1", "m"},
      {"--bogus"},
      {"--write", "A", "1", "m", "--follow"},
  };
  for (const std::vector<std::string>& args : refused) {
    std::vector<std::string> argv = {m_kestnet, "log"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Finished viewer = RunToEnd(argv);
    EXPECT_TRUE(viewer.lines.empty());
    EXPECT_TRUE(WIFEXITED(viewer.status) && WEXITSTATUS(viewer.status) == 2) << args[0];
    EXPECT_NE(viewer.errorOutput.find("usage: kestnet log"), std::string::npos) << args[0];
  }
}

TEST_F(LogViewerTest, ViewingOrReloadingWithoutARingSaysSoAndFails) {
  for (const char* verb : {"", "--reload"}) {
    std::vector<std::string> argv = {m_kestnet, "log"};
    if (*verb != '\0') argv.push_back(verb);
    const Finished viewer = RunToEnd(argv);
    EXPECT_TRUE(viewer.lines.empty()) << verb;
    EXPECT_TRUE(WIFEXITED(viewer.status) && WEXITSTATUS(viewer.status) == 1) << verb;
    EXPECT_EQ(viewer.errorOutput, "kestnet log: no log ring exists (no process of this scope holds one open)\n");
  }
}

TEST_F(LogViewerTest, AFollowerWithNoRingHoldsANewOneForTheProcessesItWatches) {
  ChildProcess follower({m_kestnet, "log", "--follow"});
  ASSERT_TRUE(follower.Started());
  // The follower creates the ring; wait until it exists, then log from
  // processes that come and go.
  std::unique_ptr<KestLog::LogRingReader> ring;
  for (int attempt = 0; attempt < 6000 && !ring; ++attempt) {
    ring = KestLog::LogRingReader::OpenExisting();
    if (!ring) ::usleep(10000);
  }
  ASSERT_NE(ring, nullptr);
  ring.reset();
  for (const char* message : {"first visitor", "second visitor"}) {
    EXPECT_EQ(RunToEnd({m_kestnet, "log", "--write", "Test::Visitor", "2", message}).status, 0);
  }
  for (const char* expected : {"first visitor", "second visitor"}) {
    const std::optional<std::string> line = follower.ReadLine(60000);
    ASSERT_TRUE(line.has_value());
    const std::optional<ShownEntry> entry = ParseEntry(*line);
    ASSERT_TRUE(entry.has_value()) << *line;
    EXPECT_EQ(entry->message, expected);
  }
  follower.Signal(SIGINT);
  EXPECT_EQ(follower.Wait(), 0);
  EXPECT_EQ(follower.ErrorOutput(),
            "kestnet log: no log ring exists yet; holding one open for new entries\n");
}

// A follower on a small ring that a fast writer laps: every entry is either
// shown whole or counted as overwritten, in order, none twice.
TEST_F(LogViewerTest, FollowerShowsOrCountsEveryEntryWhenTheRingWraps) {
  constexpr int kWritten = 3000;
  KestLogTest::SetLoggerSetting(L"NumberOfLogEntries", 32);
  KestLog::Logger marker;
  marker.Write("Test::Marker", 2, "start");

  ChildProcess follower({m_kestnet, "log", "--follow"});
  ASSERT_TRUE(follower.Started());
  std::optional<std::string> line = follower.ReadLine(60000);
  ASSERT_TRUE(line.has_value());
  ASSERT_NE(line->find("Test::Marker  level 2  start"), std::string::npos) << *line;

  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  WriterProcess writer("gamma", kWritten, gate);
  ::close(gate[0]);
  ::close(gate[1]);
  ASSERT_TRUE(writer.Finished());
  marker.Write("Test::Marker", 2, "end");

  static const std::regex kGap(
      "--- (\\d+) entries were overwritten before they could be shown ---");
  long accounted = 0;
  int expectedIndex = 0;
  bool sawEnd = false;
  while (!sawEnd) {
    line = follower.ReadLine(60000);
    ASSERT_TRUE(line.has_value()) << "the follower went quiet";
    std::smatch gap;
    if (std::regex_match(*line, gap, kGap)) {
      const int missed = std::stoi(gap[1]);
      accounted += missed;
      expectedIndex += missed;
      continue;
    }
    const std::optional<ShownEntry> entry = ParseEntry(*line);
    ASSERT_TRUE(entry.has_value()) << *line;
    if (entry->className == "Test::Marker") {
      EXPECT_EQ(entry->message, "end");
      sawEnd = true;
      continue;
    }
    std::string tag;
    int index = -1;
    ASSERT_TRUE(IsWholeEntry(*entry, tag, index)) << *line;
    EXPECT_EQ(index, expectedIndex) << *line;
    expectedIndex = index + 1;
    ++accounted;
  }
  EXPECT_EQ(accounted, kWritten);

  follower.Signal(SIGINT);
  const int status = follower.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
