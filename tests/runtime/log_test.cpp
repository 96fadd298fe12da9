// Log end to end, through the process's own logger. Each case runs in a fresh
// process (a death-test child that re-executes this binary), so the logger it
// starts belongs to that case's private home alone.
#include "runtime/log.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/last_error.h"
#include "runtime/critical_log_file.h"
#include "runtime/exceptions.h"
#include "runtime/log_ring_reader.h"
#include "tests/runtime/log_test_support.h"

namespace {

// The private home of the child process running a case: a child ends with
// _Exit, which runs no destructor, so it tidies up through this first.
KestLogTest::PrivateHome* g_childHome = nullptr;

[[noreturn]] void EndChild(int status) {
  if (g_childHome != nullptr) g_childHome->RemoveFiles();
  std::_Exit(status);
}

// Inside the child: a failed check is reported on stderr and ends the child
// with status 1, which the parent's EXPECT_EXIT shows.
void Require(bool condition, const std::string& what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what.c_str());
    std::fflush(stderr);
    EndChild(1);
  }
}

std::vector<KestLog::LogEntry> RingEntries() {
  auto reader = KestLog::LogRingReader::OpenExisting();
  Require(reader != nullptr, "the ring exists");
  return reader->ReadNewest(reader->GetEntryCount()).entries;
}

void RequireEntry(const KestLog::LogEntry& entry, const char* className, unsigned level,
                  const std::string& message) {
  Require(std::string(entry.className) == className,
          std::string("class ") + entry.className + " == " + className);
  Require(entry.level == level, "level " + std::to_string(entry.level));
  Require(std::string(entry.message) == message,
          std::string("message '") + entry.message + "' == '" + message + "'");
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    g_childHome = &m_home;
  }
  void TearDown() override { g_childHome = nullptr; }
  KestLogTest::PrivateHome m_home;
};

[[noreturn]] void FormatsTheMessageAndStoresItUnderTheCallersClassAndLevelInChild() {
  Log("KestNet::DnsResolver", 2, "%s resolved to %u address(es), %S.", "example.org", 2u,
      L"caf\u00e9");
  const auto entries = RingEntries();
  Require(entries.size() == 1, "one entry");
  RequireEntry(entries[0], "KestNet::DnsResolver", 2,
               "example.org resolved to 2 address(es), caf\xC3\xA9.");
  EndChild(0);
}

TEST_F(LogTest, FormatsTheMessageAndStoresItUnderTheCallersClassAndLevel) {
  EXPECT_EXIT(FormatsTheMessageAndStoresItUnderTheCallersClassAndLevelInChild(),
              ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void KeepsTheCallersLastErrorAndErrnoEvenWhenTheFormatIsRejectedInChild() {
  SetLastError(ERROR_ACCESS_DENIED);
  errno = EACCES;
  Log("Test::Errors", 1, "first call starts the logger: %d", 1);
  Require(GetLastError() == ERROR_ACCESS_DENIED, "last error after a good format");
  Require(errno == EACCES, "errno after a good format");

  SetLastError(ERROR_INVALID_HANDLE);
  errno = EBADF;
  const wchar_t notText[] = {0xD800, 0};  // a lone surrogate converts to nothing
  Log("Test::Errors", 1, "%S", notText);
  Require(GetLastError() == ERROR_INVALID_HANDLE, "last error after a rejected format");
  Require(errno == EBADF, "errno after a rejected format");
  EndChild(0);
}

TEST_F(LogTest, KeepsTheCallersLastErrorAndErrnoEvenWhenTheFormatIsRejected) {
  EXPECT_EXIT(KeepsTheCallersLastErrorAndErrnoEvenWhenTheFormatIsRejectedInChild(),
              ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void ARejectedFormatIsReportedAndTheEntryKeepsTheRawFormatInChild() {
  const wchar_t notText[] = {L'a', 0xD800, 0};  // a surrogate is not a character
  Log("KestNet::Pop3Client", 1, "Server said %S", notText);
  const auto entries = RingEntries();
  Require(entries.size() == 2, "two entries, got " + std::to_string(entries.size()));
  RequireEntry(entries[0], "KestLogLib", 2,
               "Invalid parameter handler invoked:  The original log text contained an "
               "invalid sequence.");
  RequireEntry(entries[1], "KestNet::Pop3Client", 1, "Server said %S");
  EndChild(0);
}

TEST_F(LogTest, ARejectedFormatIsReportedAndTheEntryKeepsTheRawFormat) {
  EXPECT_EXIT(ARejectedFormatIsReportedAndTheEntryKeepsTheRawFormatInChild(),
              ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void AnEmptyResultStoresTheFormatItselfInChild() {
  Log("Test::Empty", 3, "%s", "");
  const auto entries = RingEntries();
  Require(entries.size() == 1, "one entry");
  RequireEntry(entries[0], "Test::Empty", 3, "%s");
  EndChild(0);
}

TEST_F(LogTest, AnEmptyResultStoresTheFormatItself) {
  EXPECT_EXIT(AnEmptyResultStoresTheFormatItselfInChild(), ::testing::ExitedWithCode(0), "");
}

// A locale whose decimal point is not ".", or null when none is installed.
locale_t CommaDecimalLocale() {
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR", "nl_NL.UTF-8"}) {
    locale_t comma = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (comma != static_cast<locale_t>(nullptr)) return comma;
  }
  return static_cast<locale_t>(nullptr);
}

[[noreturn]] void FormattingIgnoresTheCallersLocaleInChild() {
  locale_t comma = CommaDecimalLocale();
  Require(comma != static_cast<locale_t>(nullptr), "a comma locale");
  locale_t previous = uselocale(comma);
  Log("Test::Locale", 2, "%.1f", 2.5);
  Require(uselocale(static_cast<locale_t>(nullptr)) == comma, "caller's locale restored");
  uselocale(previous);
  freelocale(comma);
  const auto entries = RingEntries();
  Require(entries.size() == 1, "one entry");
  RequireEntry(entries[0], "Test::Locale", 2, "2.5");
  EndChild(0);
}

TEST_F(LogTest, FormattingIgnoresTheCallersLocale) {
  locale_t comma = CommaDecimalLocale();
  if (comma == static_cast<locale_t>(nullptr)) {
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  freelocale(comma);
  EXPECT_EXIT(FormattingIgnoresTheCallersLocaleInChild(), ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void MethodBoundaryHelpersWriteTheConventionalLinesInChild() {
  SetLastError(ERROR_ACCESS_DENIED);
  KestBase::Win32ErrorException denied("share.cpp", 12);
  KestLog::LogCaughtException("KestAXLib::CShare", "Create", denied);
  KestLog::LogUnknownException("KestAXLib::CShare", "Create", "share.cpp", 99);
  KestLog::LogInvalidArgument("KestAXLib::CShare", "CShare::Create", "p_cstrwShareName");
  KestLog::LogDestructorException("KestAXLib::CShare", "~CShare");
  const auto entries = RingEntries();
  Require(entries.size() == 5, "five entries");
  RequireEntry(entries[0], "KestAXLib::CShare", 1,
               "Create():  Exception - SECURITY_ERROR.  Extended Data = <File - share.cpp, "
               "Line - 12, GetLastError = 5>");
  RequireEntry(entries[1], "KestAXLib::CShare", 4, "Create():  Exception - Unknown.");
  RequireEntry(entries[2], "KestAXLib::CShare", 0,
               "Unhandled unknown exception detected. File: share.cpp Line: 99.");
  RequireEntry(entries[3], "KestAXLib::CShare", 1,
               "CShare::Create - Invalid argument detected for parameter p_cstrwShareName.");
  RequireEntry(entries[4], "KestAXLib::CShare", 1, "~CShare():  Destructor exception.");
  EndChild(0);
}

TEST_F(LogTest, MethodBoundaryHelpersWriteTheConventionalLines) {
  EXPECT_EXIT(MethodBoundaryHelpersWriteTheConventionalLinesInChild(), ::testing::ExitedWithCode(0),
              "");
}

[[noreturn]] void AFilterTakesEffectAtOnceAndAnnouncedSettingsAreNeverSkippedInChild() {
  KestLogTest::SetLoggerSetting(L"FilterLogLevel", 2);
  Log("Test::Filter", 1, "kept %d", 1);
  Log("Test::Filter", 3, "filtered %d", 2);
  Require(RingEntries().size() == 1, "the filtered entry stays out");
  // Another party lowers the filter: the very next entry reads the new
  // settings instead of being skipped under the old ones.
  KestLogTest::SetLoggerSetting(L"FilterLogLevel", 255);
  Require(KestLog::AnnounceLogSettingsChange(), "the change is announced");
  Log("Test::Filter", 3, "after %d", 3);
  const auto entries = RingEntries();
  Require(entries.size() == 2, "two entries, got " + std::to_string(entries.size()));
  RequireEntry(entries[0], "Test::Filter", 1, "kept 1");
  RequireEntry(entries[1], "Test::Filter", 3, "after 3");
  EndChild(0);
}

TEST_F(LogTest, AFilterTakesEffectAtOnceAndAnnouncedSettingsAreNeverSkipped) {
  EXPECT_EXIT(AFilterTakesEffectAtOnceAndAnnouncedSettingsAreNeverSkippedInChild(),
              ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void AnErrorFilteredFromTheRingIsStillFormattedIntoTheCriticalFileInChild() {
  KestLogTest::SetLoggerSetting(L"FilterLogLevel", 0);
  Log("Test::Critical", 1, "first entry reads the settings");
  Log("Test::Critical", 0, "disk %s at %d%%", "full", 99);
  Require(RingEntries().empty(), "nothing in the ring");
  std::string contents;
  if (FILE* file = std::fopen(KestLog::CriticalLogFile::DefaultPath().c_str(), "r")) {
    char buffer[4096];
    const std::size_t length = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    contents.assign(buffer, length);
  }
  Require(contents.find("[Msg: disk full at 99%]") != std::string::npos, "formatted in the file: " + contents);
  Require(contents.find("first entry") == std::string::npos, "a filtered warning stays out of the file");
  EndChild(0);
}

TEST_F(LogTest, AnErrorFilteredFromTheRingIsStillFormattedIntoTheCriticalFile) {
  EXPECT_EXIT(AnErrorFilteredFromTheRingIsStillFormattedIntoTheCriticalFileInChild(),
              ::testing::ExitedWithCode(0), "");
}

TEST(FormatLogMessageTest, FormatsAnyLengthAndReportsRejection) {
  std::string text;
  auto format = [&text](const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const bool ok = KestLog::FormatLogMessage(text, fmt, args);
    va_end(args);
    return ok;
  };
  EXPECT_TRUE(format("%s-%d", std::string(3000, 'x').c_str(), 7));
  EXPECT_EQ(text, std::string(3000, 'x') + "-7");
  const wchar_t notText[] = {0xDFFF, 0};
  EXPECT_FALSE(format("%S", notText));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(format(nullptr));
}

}  // namespace
