// Log end to end, through the process's own logger, read back in process.
// What changes the process's logger for good (the first call that starts it,
// its filter settings) runs in a fresh process instead: a death-test child
// that re-executes this binary with a home of its own.
#include "runtime/log.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/last_error.h"
#include "runtime/critical_log_file.h"
#include "runtime/exceptions.h"
#include "runtime/log_format.h"
#include "runtime/log_ring_reader.h"
#include "tests/runtime/log_test_support.h"
#include "tests/support/log_capture.h"

namespace {

using kestnet::testing::LogCapture;
using kestnet::testing::LoggedLine;

class LogTest : public ::testing::Test {
 protected:
  kestnet::testing::TemporaryHome m_home;
};

// Inside a child: a failed check is reported on stderr and fails the child,
// which the parent's EXPECT_EXIT shows.
bool g_childFailed = false;

void Require(bool condition, const std::string& what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what.c_str());
    std::fflush(stderr);
    g_childFailed = true;
  }
}

// Runs p_body in the death-test child under a home of its own, removed again
// before the child ends with _Exit (which runs no destructor).
template <typename Body>
[[noreturn]] void RunInChild(Body p_body) {
  {
    kestnet::testing::TemporaryHome home;
    p_body();
  }
  std::_Exit(g_childFailed ? 1 : 0);
}

std::vector<LoggedLine> RingEntries() {
  std::vector<LoggedLine> lines;
  auto reader = KestLog::LogRingReader::OpenExisting();
  Require(reader != nullptr, "the ring exists");
  if (reader == nullptr) return lines;
  for (const auto& entry : reader->ReadNewest(reader->GetEntryCount()).entries) {
    lines.push_back(LoggedLine{entry.className, entry.level, entry.message});
  }
  return lines;
}

std::string Describe(const std::vector<LoggedLine>& p_lines) {
  std::string text;
  for (const auto& line : p_lines) text += "\n  " + line.className + " [" + std::to_string(line.level) + "] " + line.message;
  return text;
}

TEST_F(LogTest, FormatsTheMessageAndStoresItUnderTheCallersClassAndLevel) {
  LogCapture capture("KestNet::DnsResolver");
  Log("KestNet::DnsResolver", 2, "%s resolved to %u address(es), %S.", "example.org", 2u, L"caf\u00e9");
  EXPECT_EQ(capture.TakeLines(), (std::vector<LoggedLine>{{"KestNet::DnsResolver", 2,
                                                           "example.org resolved to 2 address(es), caf\xC3\xA9."}}));
}

TEST(LogStartTest, TheCallThatStartsTheLoggerKeepsTheCallersLastErrorAndErrno) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunInChild([] {
                SetLastError(ERROR_ACCESS_DENIED);
                errno = EACCES;
                Log("Test::Errors", 1, "first call starts the logger: %d", 1);
                Require(GetLastError() == ERROR_ACCESS_DENIED, "last error after the first call");
                Require(errno == EACCES, "errno after the first call");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(LogTest, KeepsTheCallersLastErrorAndErrnoEvenWhenTheFormatIsRejected) {
  LogCapture capture("Test::Errors");
  SetLastError(ERROR_INVALID_HANDLE);
  errno = EBADF;
  const wchar_t notText[] = {0xD800, 0};  // a lone surrogate converts to nothing
  Log("Test::Errors", 1, "%S", notText);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(errno, EBADF);
}

TEST_F(LogTest, ARejectedFormatIsReportedAndTheEntryKeepsTheRawFormat) {
  LogCapture capture(std::vector<std::string>{"KestLogLib", "KestNet::Pop3Client"});
  const wchar_t notText[] = {L'a', 0xD800, 0};  // a surrogate is not a character
  Log("KestNet::Pop3Client", 1, "Server said %S", notText);
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<LoggedLine>{{"KestLogLib", 2,
                                      "Invalid parameter handler invoked:  The original log text contained an "
                                      "invalid sequence."},
                                     {"KestNet::Pop3Client", 1, "Server said %S"}}));
}

TEST_F(LogTest, AnEmptyResultStoresTheFormatItself) {
  LogCapture capture("Test::Empty");
  Log("Test::Empty", 3, "%s", "");
  EXPECT_EQ(capture.TakeLines(), (std::vector<LoggedLine>{{"Test::Empty", 3, "%s"}}));
}

// A locale whose decimal point is not ".", or null when none is installed.
locale_t CommaDecimalLocale() {
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR", "nl_NL.UTF-8"}) {
    locale_t comma = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (comma != static_cast<locale_t>(nullptr)) return comma;
  }
  return static_cast<locale_t>(nullptr);
}

TEST_F(LogTest, FormattingIgnoresTheCallersLocale) {
  locale_t comma = CommaDecimalLocale();
  if (comma == static_cast<locale_t>(nullptr)) {
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  LogCapture capture("Test::Locale");
  locale_t previous = uselocale(comma);
  Log("Test::Locale", 2, "%.1f", 2.5);
  EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), comma) << "the caller's locale is restored";
  uselocale(previous);
  freelocale(comma);
  EXPECT_EQ(capture.TakeLines(), (std::vector<LoggedLine>{{"Test::Locale", 2, "2.5"}}));
}

TEST_F(LogTest, MethodBoundaryHelpersWriteTheConventionalLines) {
  LogCapture capture("KestAXLib::CShare");
  SetLastError(ERROR_ACCESS_DENIED);
  KestBase::Win32ErrorException denied("share.cpp", 12);
  KestLog::LogCaughtException("KestAXLib::CShare", "Create", denied);
  KestLog::LogUnknownException("KestAXLib::CShare", "Create", "share.cpp", 99);
  KestLog::LogInvalidArgument("KestAXLib::CShare", "CShare::Create", "p_cstrwShareName");
  KestLog::LogDestructorException("KestAXLib::CShare", "~CShare");
  const char* kClass = "KestAXLib::CShare";
  EXPECT_EQ(capture.TakeLines(),
            (std::vector<LoggedLine>{
                {kClass, 1,
                 "Create():  Exception - SECURITY_ERROR.  Extended Data = <File - share.cpp, Line - 12, "
                 "GetLastError = 5>"},
                {kClass, 4, "Create():  Exception - Unknown."},
                {kClass, 0, "Unhandled unknown exception detected. File: share.cpp Line: 99."},
                {kClass, 1, "CShare::Create - Invalid argument detected for parameter p_cstrwShareName."},
                {kClass, 1, "~CShare():  Destructor exception."}}));
}

// The filter is the process logger's own setting, kept for the rest of the
// process: these cases run in a child.
TEST(LogFilterTest, AFilterTakesEffectAtOnceAndAnnouncedSettingsAreNeverSkipped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunInChild([] {
                KestLogTest::SetLoggerSetting(L"FilterLogLevel", 2);
                Log("Test::Filter", 1, "kept %d", 1);
                Log("Test::Filter", 3, "filtered %d", 2);
                Require(RingEntries().size() == 1, "the filtered entry stays out");
                // Another party lowers the filter: the very next entry reads the
                // new settings instead of being skipped under the old ones.
                KestLogTest::SetLoggerSetting(L"FilterLogLevel", 255);
                Require(KestLog::AnnounceLogSettingsChange(), "the change is announced");
                Log("Test::Filter", 3, "after %d", 3);
                const auto entries = RingEntries();
                Require(entries == std::vector<LoggedLine>{{"Test::Filter", 1, "kept 1"}, {"Test::Filter", 3, "after 3"}},
                        "kept 1 and after 3, got" + Describe(entries));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LogFilterTest, AnErrorFilteredFromTheRingIsStillFormattedIntoTheCriticalFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunInChild([] {
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
                Require(contents.find("[Msg: disk full at 99%]") != std::string::npos,
                        "formatted in the file: " + contents);
                Require(contents.find("first entry") == std::string::npos, "a filtered warning stays out of the file");
              }),
              ::testing::ExitedWithCode(0), "");
}

// The message formatter does the common conversions itself; whatever it
// makes must be what the C library makes in the C.UTF-8 locale, cut to the
// buffer on a character boundary.
class BoundedMessageTest : public ::testing::Test {
 protected:
  static std::pair<bool, std::string> Ours(size_t capacity, const char* fmt, ...) {
    std::vector<char> buffer(capacity, '#');
    va_list args;
    va_start(args, fmt);
    const bool ok = KestLog::FormatBoundedMessage(buffer.data(), capacity, fmt, args);
    va_end(args);
    return {ok, buffer.data()};
  }
  static std::string Theirs(const char* fmt, ...) {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    locale_t previous = uselocale(utf8);
    char buffer[2048];
    va_list args;
    va_start(args, fmt);
    const int length = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    uselocale(previous);
    freelocale(utf8);
    return length < 0 ? "<failed>" : std::string(buffer);
  }
};

#define EXPECT_FORMATS_AS_C_LIBRARY(...)                   \
  do {                                                     \
    const auto ours = Ours(512, __VA_ARGS__);              \
    EXPECT_TRUE(ours.first);                               \
    EXPECT_EQ(ours.second, Theirs(__VA_ARGS__)) << #__VA_ARGS__; \
  } while (false)

TEST_F(BoundedMessageTest, ConversionsMatchTheCLibrary) {
  EXPECT_FORMATS_AS_C_LIBRARY("%s, Size = %lu, Line = %s", "OnReceiveLine():  WAIT", 76ul, "line");
  EXPECT_FORMATS_AS_C_LIBRARY("[%5s|%-5s|%.2s|%.*s|%s]", "ab", "ab", "abc", 1, "xyz", static_cast<char*>(nullptr));
  EXPECT_FORMATS_AS_C_LIBRARY("[%.3s|%.*s]", static_cast<char*>(nullptr), -1, "neg");
  EXPECT_FORMATS_AS_C_LIBRARY("%d %i %u %ld %lld %zu %hd %hhu", -42, 0, 4294967295u, -9000000000l,
                              -9223372036854775807ll - 1, static_cast<size_t>(7), 70000, 300);
  EXPECT_FORMATS_AS_C_LIBRARY("<0x%08.8X> %x %X %08x %-6d| %06d %.0d %.3d %5.3d", 0xBEEFu, 255u, 255u, 1u, -5, -5, 0,
                              7, -7);
  EXPECT_FORMATS_AS_C_LIBRARY("%c%3c%-3c| 100%% %p %p", 'a', 'b', 'c', static_cast<void*>(nullptr),
                              reinterpret_cast<void*>(0x1234));
  EXPECT_FORMATS_AS_C_LIBRARY("%S <%ls> %.4S %6S %S", L"größe \u20ac\U0001F600", L"", L"\u20ac\u20ac", L"ab",
                              static_cast<wchar_t*>(nullptr));
  EXPECT_FORMATS_AS_C_LIBRARY("left to the library: %+d %#x %5.2f %'d", 5, 255u, 3.14159, 1234567);
}

TEST_F(BoundedMessageTest, LongTextIsCutOnACharacterBoundaryAndNonTextFails) {
  const std::string euros = std::string(3, 'x') + "\u20ac\u20ac";  // 3 + 2 x 3 bytes
  EXPECT_EQ(Ours(8, "%s", euros.c_str()).second, "xxx\u20ac");
  EXPECT_EQ(Ours(8, "%S-%d", L"xxx\u20ac\u20ac", 1).second, "xxx\u20ac");
  EXPECT_EQ(Ours(4, "abcdef%d", 12345).second, "abc");
  const wchar_t notText[] = {0xDFFF, 0};
  EXPECT_EQ(Ours(16, "%S", notText), std::make_pair(false, std::string()));
  EXPECT_FALSE(Ours(16, nullptr).first);
}

}  // namespace
